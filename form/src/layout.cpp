#include "pelmora/form/layout.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>

#include "pelmora/number_text.hpp"

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

double leading_number(std::string_view text) {
    const std::optional<double> value = pelmora::number_in_text(text, pelmora::leading_syntax);
    if (!value) return 0.0;  // no number at the start
    if (std::isinf(*value)) throw forms::RuntimeError(Error::overflow);
    return *value;
}

std::string result_caption(double centile) {
    double shown = std::floor(centile + 0.5);
    if (!std::isfinite(shown)) throw forms::RuntimeError(Error::overflow);
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
