#pragma once
// The control's face as data: every control with its place, captions, colours, alignment and tab
// index; the contents of the lists and their first choices; the per-base rules of the ethnic list.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/forms/toolkit.hpp"

namespace pelmora::form {

enum class Kind : std::uint8_t { list, label, frame };

/// One control of the face. Geometry is in twips relative to `container` ("" is the surface).
struct ControlRow {
    std::string_view name;
    Kind kind;
    std::string_view container;
    std::string_view caption;  ///< labels only
    forms::Rect rect;
    int tab_index;
    forms::Colour background;
    forms::Colour text;
    forms::Alignment alignment;
};

inline constexpr std::string_view surface_name = "UserControl";
inline constexpr forms::Rect surface_rect{0, 0, 7065, 2985};
inline constexpr forms::Colour surface_background = forms::Colour::window_background();

namespace detail {
using forms::Alignment;
using forms::Colour;
inline constexpr Colour list_back = Colour::rgb(192, 192, 255);
inline constexpr Colour black = Colour::rgb(0, 0, 0);
inline constexpr Colour window = Colour::window_background();
inline constexpr Colour window_text = Colour::window_text();
inline constexpr Colour plain = Colour::toolkit_default();
}  // namespace detail

/// The whole face; a container comes before the controls it holds.
inline constexpr std::array<ControlRow, 21> control_table{{
    // name            kind          container  caption                  left  top   width height tab  background        text                 alignment
    {"Combobase",
     Kind::list,
     "",
     "",
     {3000, 120, 2175, 315},
     11,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Combobwt",
     Kind::list,
     "",
     "",
     {4800, 1215, 1095, 315},
     10,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Combogd",
     Kind::list,
     "",
     "",
     {6120, 735, 615, 315},
     9,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Combogw",
     Kind::list,
     "",
     "",
     {4800, 735, 735, 315},
     8,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Combowt",
     Kind::list,
     "",
     "",
     {2040, 1215, 1095, 315},
     7,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Comboht",
     Kind::list,
     "",
     "",
     {2040, 735, 1095, 315},
     6,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Combopar",
     Kind::list,
     "",
     "",
     {2040, 2175, 1095, 315},
     5,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Comboeth",
     Kind::list,
     "",
     "",
     {2040, 1695, 1455, 315},
     4,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Combosex",
     Kind::list,
     "",
     "",
     {4800, 1695, 1095, 315},
     3,
     detail::list_back,
     detail::black,
     detail::Alignment::left},
    {"Frame1", Kind::frame, "", "", {4320, 2100, 2535, 615}, 0, detail::window, detail::plain, detail::Alignment::left},
    {"output_label",
     Kind::label,
     "Frame1",
     "Output",
     {1780, 240, 495, 255},
     2,
     forms::Colour::rgb(255, 192, 192),
     detail::black,
     detail::Alignment::centre},
    {"Label8",
     Kind::label,
     "Frame1",
     "Customised centile =",
     {240, 270, 1575, 255},
     1,
     detail::window,
     detail::plain,
     detail::Alignment::left},
    {"Label9",
     Kind::label,
     "",
     "Custom base",
     {1080, 165, 1815, 255},
     20,
     detail::window,
     detail::window_text,
     detail::Alignment::right},
    {"Label2b",
     Kind::label,
     "",
     "Days",
     {5520, 780, 495, 255},
     19,
     detail::window,
     detail::plain,
     detail::Alignment::right},
    {"Label1",
     Kind::label,
     "",
     "Birthweight (g)",
     {3480, 1260, 1215, 255},
     18,
     detail::window,
     detail::plain,
     detail::Alignment::right},
    {"Label2",
     Kind::label,
     "",
     "Gestation:  Weeks",
     {3120, 780, 1575, 255},
     17,
     detail::window,
     detail::plain,
     detail::Alignment::right},
    {"Label3",
     Kind::label,
     "",
     "Booking weight (kg)",
     {360, 1260, 1575, 255},
     16,
     detail::window,
     detail::window_text,
     detail::Alignment::right},
    {"Label4",
     Kind::label,
     "",
     "Maternal height (cm)",
     {360, 780, 1575, 255},
     15,
     detail::window,
     detail::window_text,
     detail::Alignment::right},
    {"Label5",
     Kind::label,
     "",
     "Sex",
     {3480, 1740, 1215, 255},
     14,
     detail::window,
     detail::plain,
     detail::Alignment::right},
    {"Label6",
     Kind::label,
     "",
     "Ethnic group",
     {720, 1740, 1215, 255},
     13,
     detail::window,
     detail::window_text,
     detail::Alignment::right},
    {"Label7",
     Kind::label,
     "",
     "Parity at booking",
     {720, 2220, 1215, 255},
     12,
     detail::window,
     detail::window_text,
     detail::Alignment::right},
}};

/// A numeric list: first, first + step, ... up to last, as plain decimal text.
struct NumberRange {
    int first;
    int last;
    int step;
};

/// The numeric lists, filled in this order at start-up, with the number picked at the end.
struct NumericList {
    std::string_view name;
    NumberRange range;
    int picked;
};
inline constexpr std::array<NumericList, 5> numeric_lists{{
    {"Comboht", {140, 200, 1}, 165},
    {"Combowt", {30, 150, 1}, 65},
    {"Combogw", {20, 44, 1}, 40},
    {"Combogd", {0, 6, 1}, 0},
    {"Combobwt", {400, 5000, 50}, 3500},
}};

/// The birth-weight list's last item, which stands for 5500 g.
inline constexpr std::string_view over_5000 = "Over 5000";
inline constexpr double over_5000_grams = 5500;

inline constexpr std::string_view male = calc::sex_texts[0].text;
inline constexpr std::array<std::string_view, 2> sex_items{male, calc::sex_texts[1].text};
inline constexpr std::string_view sex_picked = calc::sex_texts[1].text;

/// The base list, alphabetical.
inline constexpr std::array<calc::Base, 4> base_items{calc::Base::australia, calc::Base::new_zealand,
                                                      calc::Base::sweden, calc::Base::united_kingdom};
inline constexpr calc::Base base_picked = calc::Base::united_kingdom;

/// The catch-all group's text in the calculators' tables.
inline constexpr std::string_view other_group = "Other";

/// How the ethnic list behaves for one base.
struct EthnicRule {
    calc::Base base;
    /// A text the base's table does not know takes the catch-all group's code (else the code
    /// stays what it was).
    bool unmatched_takes_other;
    /// The base's list starts with its reference group (code 1) before the alphabetical rest.
    bool reference_first;
};
inline constexpr std::array<EthnicRule, 4> ethnic_rules{{
    {calc::Base::united_kingdom, true, false},
    {calc::Base::sweden, false, true},
    {calc::Base::new_zealand, false, false},
    {calc::Base::australia, false, false},
}};
[[nodiscard]] const EthnicRule& ethnic_rule(calc::Base base) noexcept;

/// The ethnic list at start-up: the United Kingdom's groups in code order.
[[nodiscard]] std::vector<std::string_view> startup_ethnic_items();
/// The ethnic list after picking `base`: alphabetical (byte order), "Other" last where the base
/// has it, Sweden's reference group first.
[[nodiscard]] std::vector<std::string_view> ethnic_items(calc::Base base);
/// The group picked after a base switch (and at start-up): the base's reference group, code 1.
[[nodiscard]] std::string_view reference_group(calc::Base base) noexcept;
/// The code of `text` in the base's own table; nothing when the table does not hold it.
[[nodiscard]] std::optional<std::int16_t> ethnic_code(calc::Base base, std::string_view text) noexcept;
/// The base whose name is exactly `text` (case-sensitive, whole text; tags do not count).
[[nodiscard]] std::optional<calc::Base> base_named(std::string_view text) noexcept;

/// The leading number of a text: optional blanks, an optional sign, digits with an optional full
/// stop and digits, an optional exponent; 0 when the text does not start with a number. Whatever
/// the locale, the full stop is the decimal point. Throws forms::RuntimeError (Error::overflow) when
/// the number is too large for a double.
[[nodiscard]] double leading_number(std::string_view text);

/// What output_label shows for a centile: floor(centile + 0.5) as plain decimal digits, no
/// separator, no decimals ("41", "0", "100"). Throws forms::RuntimeError (Error::overflow) when that
/// is no finite number.
[[nodiscard]] std::string result_caption(double centile);

/// A whole number as plain decimal text ("140", "0").
[[nodiscard]] std::string decimal_text(int n);

}  // namespace pelmora::form
