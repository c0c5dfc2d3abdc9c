#pragma once
// The four customised birth-weight centile calculators and their per-base tables.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "pelmora/calc/arg.hpp"
#include "pelmora/calc/failure.hpp"

namespace pelmora::calc {

/// The reference populations ("custom bases"); a base's value is its code everywhere (the C
/// interface, the Python module, the engine's base column).
enum class Base : std::uint8_t { united_kingdom, sweden, new_zealand, australia };

/// The one list of the bases, in code order: each base's own text as the form's base list shows
/// it and its short tag.
struct BaseEntry {
    Base base;
    std::string_view name;
    std::string_view tag;
};
inline constexpr std::array<BaseEntry, 4> base_table{{
    {Base::united_kingdom, "United Kingdom", "uk"},
    {Base::sweden, "Sweden", "swe"},
    {Base::new_zealand, "New Zealand", "nz"},
    {Base::australia, "Australia", "au"},
}};
inline constexpr std::size_t base_count = base_table.size();

/// True when `code` is a base's code (0 to base_count - 1).
[[nodiscard]] constexpr bool is_base_code(long long code) noexcept {
    return code >= 0 && static_cast<unsigned long long>(code) < base_count;
}

/// "United Kingdom", "Sweden", "New Zealand", "Australia".
[[nodiscard]] constexpr std::string_view base_name(Base base) noexcept {
    return base_table[static_cast<std::size_t>(base)].name;
}
/// Short tag: "uk", "swe", "nz", "au".
[[nodiscard]] constexpr std::string_view base_tag(Base base) noexcept {
    return base_table[static_cast<std::size_t>(base)].tag;
}
/// By exact name or tag; nullopt for anything else.
[[nodiscard]] std::optional<Base> base_from_text(std::string_view text) noexcept;

/// One row of a base's ethnic-group table. Rows are in code order; the catch-all "Other"
/// row (where the base has one) carries the base's default term.
struct EthnicGroup {
    std::int16_t code;
    std::string_view text;
    double term;
};
[[nodiscard]] std::span<const EthnicGroup> ethnic_groups(Base base) noexcept;

/// Parity texts of the parity list, index = code 0..4.
[[nodiscard]] std::span<const std::string_view> parity_texts() noexcept;

/// The sex list's texts and the codes they stand for (the calculators take 1 for male and any
/// other value for female), in the list's order.
struct SexText {
    std::string_view text;
    int code;
};
inline constexpr std::array<SexText, 2> sex_texts{{{"Male", 1}, {"Female", 0}}};

/// The intermediate values of one evaluation. Quantities not reached (a missing input, or those
/// after a failure) are NaN, as in the batch engine and the C interface.
inline constexpr double not_reached = std::numeric_limits<double>::quiet_NaN();
struct Evaluation {
    Arg result;                   ///< the centile as a double, or text of length zero when an input is missing
    bool missing = false;         ///< true when an input was missing
    double weight = not_reached;  ///< booking weight after the weight band
    double weight_term = not_reached;
    double height_term = not_reached;
    double sex_term = not_reached;
    double ethnic_term = not_reached;
    double parity_term = not_reached;
    double term_weight = not_reached;
    double weeks = not_reached;  ///< gestation as stored back into gest
    double proportion = not_reached;
    double optimal_weight = not_reached;
    double spread = not_reached;
    double z = not_reached;
    double centile = not_reached;  ///< the result as a double
};

/// Runs the whole calculation for `base`, keeping every intermediate value. Writes back into gest (and, for Sweden, ht) exactly as
/// the calculators do; writes made before a failure stay. Throws Failure.
Evaluation evaluate(Base base, Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par);

/// The four public calculators: the centile as a double, or text of length zero. Throw Failure.
Arg custcentukn(Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par);
Arg custcentswe(Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par);
Arg custcentnz(Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par);
Arg custcentau(Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par);

}  // namespace pelmora::calc
