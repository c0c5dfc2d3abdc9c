#include "pelmora/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

namespace pelmora {
namespace {

bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }
bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

constexpr std::uint64_t exact_integers = std::uint64_t{1} << 53;  // every integer up to it is a double

}  // namespace

std::optional<double> number_in_text(std::string_view text, NumberSyntax syntax) {
    // Digits alone with at most one full stop, the commonest text by far, in one pass: the
    // integer n of all the digits over 10 to the number of decimals, when both are exact doubles
    // (the quotient is then correctly rounded, as below).
    if (text.size() <= 19) {
        std::uint64_t n = 0;
        std::size_t point = text.size();
        std::size_t k = 0;
        for (; k < text.size(); ++k) {
            const unsigned d = static_cast<unsigned char>(text[k]) - unsigned{'0'};
            if (d < 10) {
                n = n * 10 + d;
            } else if (text[k] == '.' && point == text.size()) {
                point = k;
            } else {
                break;
            }
        }
        const bool point_ok =
            point == text.size() || (syntax.bare_point ? text.size() > 1 : point != 0 && point + 1 != text.size());
        if (k == text.size() && k != 0 && point_ok && n <= exact_integers) {
            const std::size_t decimals = point == text.size() ? 0 : text.size() - point - 1;
            return static_cast<double>(n) / detail::exact_powers[decimals];
        }
    }

    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t body = i;

    // The decimal exponent of the leading non-zero digit, needed only to tell overflow from
    // underflow when the value is out of range.
    std::int64_t lead = 0;
    bool seen_nonzero = false;
    std::size_t digits = 0;
    const std::size_t int_start = i;
    while (i < text.size() && is_digit(text[i])) {
        if (!seen_nonzero && text[i] != '0') {
            seen_nonzero = true;
            lead = 0;
        } else if (seen_nonzero) {
            ++lead;
        }
        ++i;
    }
    const std::size_t int_end = i;
    digits += i - int_start;
    if (digits == 0 && !syntax.bare_point) return std::nullopt;
    std::size_t frac_start = i;
    if (i < text.size() && text[i] == '.') {
        frac_start = ++i;
        std::int64_t pos = 0;
        while (i < text.size() && is_digit(text[i])) {
            --pos;
            if (!seen_nonzero && text[i] != '0') {
                seen_nonzero = true;
                lead = pos;
            }
            ++i;
        }
        digits += i - frac_start;
        if (i == frac_start && !syntax.bare_point) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    const std::size_t mantissa_end = i;
    const std::size_t frac_digits = mantissa_end - frac_start;

    std::int64_t exponent = 0;
    bool d_marked = false;
    if (i < text.size() &&
        (text[i] == 'e' || text[i] == 'E' || (syntax.d_exponent && (text[i] == 'd' || text[i] == 'D')))) {
        d_marked = text[i] == 'd' || text[i] == 'D';
        std::size_t j = i + 1;
        bool exp_negative = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exp_negative = text[j++] == '-';
        const std::size_t exp_start = j;
        while (j < text.size() && is_digit(text[j])) {
            // Beyond any text's length the exponent alone decides; stop growing it there.
            if (exponent < 100'000'000'000'000'000) exponent = exponent * 10 + (text[j] - '0');
            ++j;
        }
        if (j > exp_start) {
            i = j;
            if (exp_negative) exponent = -exponent;
        } else if (!syntax.leading_part) {
            return std::nullopt;  // an exponent marker without digits
        } else {
            exponent = 0;  // not part of the number
            d_marked = false;
        }
    }
    if (!syntax.leading_part) {
        std::size_t end = i;
        while (end < text.size() && is_blank(text[end])) ++end;
        if (end != text.size()) return std::nullopt;
    }
    const std::size_t number_end = i;

    // Whole numbers of up to 15 digits, the commonest text by far, are exact doubles.
    if (number_end == int_end && int_end - int_start <= 15) {
        std::uint64_t n = 0;
        for (std::size_t k = int_start; k < int_end; ++k) n = n * 10 + static_cast<std::uint64_t>(text[k] - '0');
        const double whole = static_cast<double>(n);
        return negative ? -whole : whole;
    }

    // Up to 19 digits forming an integer n of at most 2^53 with a decimal exponent e of at most
    // 22 either way: n and 10^|e| are exact doubles, so one multiplication or division rounds
    // the value correctly, as std::from_chars would.
    if (digits <= 19) {
        std::uint64_t n = 0;
        for (std::size_t k = int_start; k < int_end; ++k) n = n * 10 + static_cast<std::uint64_t>(text[k] - '0');
        for (std::size_t k = frac_start; k < mantissa_end; ++k) n = n * 10 + static_cast<std::uint64_t>(text[k] - '0');
        const std::int64_t e = exponent - static_cast<std::int64_t>(frac_digits);
        if (n <= exact_integers && e >= -22 && e <= 22) {
            const double m = static_cast<double>(n);
            const double v = e < 0 ? m / detail::exact_powers[-e] : m * detail::exact_powers[e];
            return negative ? -v : v;
        }
    }

    // std::from_chars reads the same grammar (without the sign), correctly rounded; a D exponent
    // is given to it as an E.
    double v = 0;
    std::from_chars_result r{};
    if (d_marked) {
        std::string copy(text.substr(body, number_end - body));
        copy[mantissa_end - body] = 'e';
        r = std::from_chars(copy.data(), copy.data() + copy.size(), v, std::chars_format::general);
        if (r.ec == std::errc{} && r.ptr != copy.data() + copy.size()) return std::nullopt;
    } else {
        const char* last = text.data() + number_end;
        r = std::from_chars(text.data() + body, last, v, std::chars_format::general);
        if (r.ec == std::errc{} && r.ptr != last) return std::nullopt;
    }
    if (r.ec == std::errc::result_out_of_range) {
        v = lead + exponent >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (r.ec != std::errc{}) {
        return std::nullopt;
    }
    return negative ? -v : v;
}

double round_half_even(double v) noexcept {
    if (!std::isfinite(v)) return v;
    double r = std::floor(v);
    const double frac = v - r;  // exact: the fractional part of a double is a double
    if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
    return r;
}

}  // namespace pelmora
