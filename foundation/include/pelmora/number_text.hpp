#pragma once
// Numbers in text: the one reader behind every conversion of text to a number (calculator
// arguments, the form's lists, the COM layer's variant conversions, the command line), the one
// rounding of a double to an integer, and the shortest text of a double where it is written by
// the million.

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace pelmora {

/// Which texts read as a number. Every syntax reads, after optional blanks (spaces and tabs), an
/// optional sign, digits with an optional full stop and digits, and an optional exponent (E or e,
/// an optional sign and digits); the options widen that.
struct NumberSyntax {
    bool leading_part = false;  ///< the number at the start of the text; the rest is ignored
    bool bare_point = false;    ///< digits on one side of the full stop suffice ("5.", ".5")
    bool d_exponent = false;    ///< D or d marks the exponent as E or e does
};

/// Calculator arguments: the whole text, blanks around it allowed; "5." and ".5" do not read.
inline constexpr NumberSyntax argument_syntax{};
/// The form's leading-number conversion: the number the text starts with, "5." and ".5" included,
/// an E or a D exponent; an exponent without digits is not part of the number.
inline constexpr NumberSyntax leading_syntax{.leading_part = true, .bare_point = true, .d_exponent = true};
/// OLE Automation's conversion of text to a double (VariantChangeType): the whole text, blanks
/// around it allowed, "5." and ".5" included.
inline constexpr NumberSyntax automation_syntax{.bare_point = true};

/// Reads the number in `text` by `syntax`. The value is the correctly rounded nearest double;
/// beyond the largest double it is infinity, below the smallest 0 (each with the text's sign).
/// nullopt when the text does not read as a number (in a leading syntax: does not start with
/// one). Allocates only for a D exponent (may then throw std::bad_alloc); never throws otherwise.
[[nodiscard]] std::optional<double> number_in_text(std::string_view text, NumberSyntax syntax = argument_syntax);

/// The bytes of w that equal c, each marked by its top bit (no other bit is set): text looked at
/// eight characters at a time.
[[nodiscard]] constexpr std::uint64_t bytes_equal(std::uint64_t w, unsigned char c) noexcept {
    constexpr std::uint64_t low7 = 0x7f7f7f7f7f7f7f7f;
    const std::uint64_t t = w ^ (0x0101010101010101 * c);
    return ~(((t & low7) + low7) | t | low7);
}

namespace detail {
// The powers of ten that are exact doubles.
inline constexpr double exact_powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
}  // namespace detail

/// number_in_text(text) for the commonest texts, one to eight digits with at most one full stop
/// between two of them, without looking at the characters one by one: true with the same value,
/// or false when `text` is not such a text (which says nothing of whether it reads as a number).
/// Reads the eight bytes at text.data(), which must all be readable whatever text's size.
[[nodiscard]] inline bool short_decimal(std::string_view text, double& v) noexcept {
    if constexpr (std::endian::native != std::endian::little) {
        return false;
    } else {
        const std::size_t size = text.size();
        if (size - 1 >= 8) return false;  // empty, or longer than eight
        std::uint64_t w = 0;
        std::memcpy(&w, text.data(), 8);
        // The text in the top bytes, its first character in the lowest of them; zero digits below.
        const auto below = static_cast<unsigned>(8 * (8 - size));
        const std::uint64_t text_bytes = ~std::uint64_t{0} << below;
        w = (w << below) | (0x3030303030303030 & ~text_bytes);
        // A full stop is taken out by moving the characters before it up one byte.
        const std::uint64_t stop = bytes_equal(w, '.');
        int decimals = 0;
        if (stop != 0) {
            const int at = std::countr_zero(stop) / 8;  // its byte
            if ((stop & (stop - 1)) != 0 || at == 7 || 8 * at == static_cast<int>(below)) return false;
            const std::uint64_t from_stop = ~std::uint64_t{0} << (8 * at);
            w = (w & (from_stop << 8)) | ((w << 8) & ~(from_stop << 8)) | 0x30;
            decimals = 7 - at;
        }
        // Eight digits? Then their value, pairs, fours and the eight put together in all lanes.
        if (((w & 0xf0f0f0f0f0f0f0f0) | (((w + 0x0606060606060606) & 0xf0f0f0f0f0f0f0f0) >> 4)) != 0x3333333333333333) {
            return false;
        }
        w = (w & 0x0f0f0f0f0f0f0f0f) * 2561 >> 8;
        w = (w & 0x00ff00ff00ff00ff) * 6553601 >> 16;
        w = (w & 0x0000ffff0000ffff) * 42949672960001 >> 32;
        // (a whole number is its own quotient by one: no division to wait for)
        v = decimals == 0 ? static_cast<double>(w) : static_cast<double>(w) / detail::exact_powers[decimals];
        return true;
    }
}

/// std::to_chars(first, last, v): the shortest text that reads back as v, fixed or scientific
/// notation, whichever is shorter. The same characters, written in under half the time for the
/// doubles of 2^-10 <= |v| < 2^52 (where the platform has 128-bit integers), which may leave
/// other characters in the first 24 of [first, last) beyond the text.
[[nodiscard]] std::to_chars_result shortest_text(char* first, char* last, double v) noexcept;

/// Rounds to the nearest integer, ties to even, whatever the current rounding mode: automation's
/// rounding of a double stored into an integer. NaN and infinities come back unchanged.
[[nodiscard]] double round_half_even(double v) noexcept;

}  // namespace pelmora
