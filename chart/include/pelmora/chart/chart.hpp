#pragma once
// The customised growth chart of one pregnancy: the weights at the chosen centiles across
// gestation for this mother and baby, with the measured weights (ultrasound estimates, the birth
// weight) plotted and listed with their centiles. One SVG, A4 landscape, text as text, the same
// bytes for the same input, nothing external (no font file, image or script).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmora/calc/curves.hpp"

namespace pelmora::chart {

/// A measured weight: its gestation in days, grams, and a label ("EFW", "birth", ...).
struct Point {
    int gest = 0;
    double weight = 0;
    std::string label;
};

/// True for the label that marks the birth weight: "birth", in any case.
[[nodiscard]] bool is_birth(std::string_view label) noexcept;

/// A calendar date.
struct Date {
    int year = 0, month = 0, day = 0;
};

struct Chart {
    calc::Mother mother;
    std::vector<double> centiles{calc::usual_centiles.begin(), calc::usual_centiles.end()};
    calc::DayRange days;  ///< the x axis
    std::vector<Point> points;
    std::optional<Date> edd;  ///< expected date of delivery (40+0 weeks): a row of dates below the weeks
};

/// The chart as SVG text. The 10th and 90th centile lines are solid, the 50th dashed, the band
/// between the 10th and 90th shaded, any other centile dotted. Throws calc::Failure for a bad
/// request (calc::check_curve_request; a point outside 0 to 350 days or not above 0 g) and where
/// the calculators fail for this mother.
[[nodiscard]] std::string svg(const Chart& chart);

/// The user units (CSS pixels at 96 per inch) of the page: A4 landscape, 297 x 210 mm.
inline constexpr double page_width = 1122.52;
inline constexpr double page_height = 793.7;

/// A gestation as days ("231") or completed weeks and days ("33+0"); nullopt when it is neither
/// or not a whole number of days from 0 to calc::max_gestation_days.
[[nodiscard]] std::optional<int> parse_gestation(std::string_view text);
/// "GEST:GRAMS" or "GEST:GRAMS:LABEL" (the label may hold further colons); throws
/// std::invalid_argument saying what is wrong.
[[nodiscard]] Point parse_point(std::string_view text);
/// "YYYY-MM-DD", a real date; nullopt otherwise.
[[nodiscard]] std::optional<Date> parse_date(std::string_view text);

}  // namespace pelmora::chart
