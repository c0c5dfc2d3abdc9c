#include "pelmora/form/layout.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>

namespace pelmora::form {

const EthnicRule& ethnic_rule(calc::Base base) noexcept {
    for (const EthnicRule& r : ethnic_rules)
        if (r.base == base) return r;
    return ethnic_rules.front();  // unreachable: every base has a rule
}

std::vector<std::string_view> startup_ethnic_items() {
    std::vector<std::string_view> out;
    for (const calc::EthnicGroup& g : calc::ethnic_groups(calc::Base::united_kingdom)) out.push_back(g.text);
    return out;
}

std::vector<std::string_view> ethnic_items(calc::Base base) {
    const EthnicRule& rule = ethnic_rule(base);
    std::vector<std::string_view> out;
    for (const calc::EthnicGroup& g : calc::ethnic_groups(base)) out.push_back(g.text);
    const std::string_view reference = reference_group(base);
    const auto rank = [&](std::string_view t) {
        if (rule.reference_first && t == reference) return 0;
        if (t == other_group) return 2;
        return 1;
    };
    std::stable_sort(out.begin(), out.end(), [&](std::string_view a, std::string_view b) {
        const int ra = rank(a);
        const int rb = rank(b);
        return ra != rb ? ra < rb : a < b;
    });
    return out;
}

std::string_view reference_group(calc::Base base) noexcept {
    for (const calc::EthnicGroup& g : calc::ethnic_groups(base))
        if (g.code == 1) return g.text;
    return {};
}

std::optional<std::int16_t> ethnic_code(calc::Base base, std::string_view text) noexcept {
    for (const calc::EthnicGroup& g : calc::ethnic_groups(base))
        if (g.text == text) return g.code;
    return std::nullopt;
}

std::optional<calc::Base> base_named(std::string_view text) noexcept {
    for (const calc::Base b : base_items)
        if (calc::base_name(b) == text) return b;
    return std::nullopt;
}

namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

double leading_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    // Copy the number's characters into a form std::from_chars reads (no sign, 'e' exponent).
    std::string number;
    std::size_t digits = 0;
    while (i < text.size() && is_digit(text[i])) {
        number += text[i++];
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && is_digit(text[i])) {
            number += text[i++];
            ++digits;
        }
    }
    if (digits == 0) return 0.0;
    bool tiny_exponent = false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            tiny_exponent = text[j] == '-';
            exponent += text[j++];
        }
        const std::size_t exponent_start = j;
        while (j < text.size() && is_digit(text[j])) exponent += text[j++];
        if (j > exponent_start) number += exponent;  // an exponent without digits is not part of the number
        else tiny_exponent = false;
    }

    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (!tiny_exponent) throw forms::RuntimeError(6, "Overflow");
        value = 0.0;  // too small for a double: underflow is no fault
    }
    return negative ? -value : value;
}

std::string result_caption(double centile) {
    double shown = std::floor(centile + 0.5);
    if (!std::isfinite(shown)) throw forms::RuntimeError(6, "Overflow");
    if (shown == 0) shown = 0;  // never "-0"
    char buf[400];              // enough for the digits of any finite double
    const int n = std::snprintf(buf, sizeof buf, "%.0f", shown);
    return {buf, static_cast<std::size_t>(n)};
}

std::string decimal_text(int n) {
    char buf[16];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
    return {buf, end};
}

}  // namespace pelmora::form
