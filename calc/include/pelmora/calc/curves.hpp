#pragma once
// The other way round: the birth weight at a given centile, and centile curves across gestation
// for one pregnancy.
//
// A centile depends on a row's inputs only through z = (bwt - optimal weight) / spread, so the z
// of a centile is found once, on the calculators' own 1001-slice integral (not the exact normal),
// and every weight is optimal weight + z * spread, with the optimal weight and the spread computed
// by the calculators' own steps. Fed back to the calculator, such a weight gives its centile
// within 1e-9 centile points.

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/engine.hpp"

namespace pelmora::calc {

/// A centile a weight can be asked for lies strictly between 0 and 100 (the integral passes 0
/// and 100 only by about 0.0000055, where no weight is meaningful).
[[nodiscard]] bool centile_in_range(double centile) noexcept;

/// The z whose centile, by the calculators' integral, is `centile` (within 1e-9 centile points,
/// rising with the centile). Throws Failure (invalid_argument) for a centile out of range or NaN.
[[nodiscard]] double z_at_centile(double centile);

/// The mother and baby of a pregnancy: everything but the birth weight and the gestation. Codes
/// are numbers, compared as the calculators compare them; NaN is a missing input.
struct Mother {
    Base base = Base::united_kingdom;
    double wt = 0;   ///< booking weight, kg
    double ht = 0;   ///< height, cm
    double sex = 0;  ///< 1 male, any other value female
    double eth = 0;  ///< the base's ethnic code
    double par = 0;  ///< parity code
};

/// The birth weight in grams at `centile` for a baby of `gest` days: NaN when an input is
/// missing. Throws Failure for a centile out of range and wherever the calculator would fail.
[[nodiscard]] double weight_at_centile(const Mother& mother, double gest, double centile);

/// Weights at centiles for many rows: row i's inputs from `rows` (its bwt unused) and its
/// centile centile[i]. A row with a centile out of range (or an unknown base) fails with
/// Error::invalid_argument; a row whose calculation fails carries the calculator's failure; a
/// row with a missing input gets NaN and no error. `error` and `failures` may be null.
void weights_at_centile(const Rows& rows, Column<double> centile, double* weight, int* error = nullptr,
                        std::vector<RowFailure>* failures = nullptr);

/// Whole days of gestation, first to last inclusive.
struct DayRange {
    int first = 24 * 7;  ///< 24+0 weeks
    int last = 42 * 7;   ///< 42+0 weeks
    [[nodiscard]] std::size_t count() const noexcept { return static_cast<std::size_t>(last - first + 1); }
};

/// The latest gestation a curve may reach: 50+0 weeks.
inline constexpr int max_gestation_days = 50 * 7;

/// The usual centiles of a chart.
inline constexpr std::array<double, 3> usual_centiles{10.0, 50.0, 90.0};

/// Throws Failure (invalid_argument) unless 0 <= first <= last <= max_gestation_days, and
/// unless there is at least one centile and each is in range.
void check_curve_request(std::span<const double> centiles, DayRange days);

/// One pregnancy's centile curves: weights[c * days.count() + d] is the weight at centiles[c]
/// on day days.first + d.
struct Curves {
    DayRange days;
    std::vector<double> centiles;
    std::vector<double> weights;

    [[nodiscard]] double at(std::size_t c, int day) const {
        return weights[c * days.count() + static_cast<std::size_t>(day - days.first)];
    }
};

/// The curves of one mother: NaN weights when an input is missing. Throws Failure for a bad
/// request (check_curve_request) and where the calculator would fail for this mother.
[[nodiscard]] Curves curves(const Mother& mother, std::span<const double> centiles = usual_centiles,
                            DayRange days = {});

/// Curves for many mothers: row m's inputs from `mothers` (bwt and gest unused); its weights go
/// to weights[(m * centiles.size() + c) * days.count() + d]. A mother whose calculation fails
/// gets NaN weights and her error; one with a missing input NaN weights and no error. `error`
/// and `failures` may be null. Throws Failure for a bad request, before computing anything.
void curves_rows(const Rows& mothers, std::span<const double> centiles, DayRange days, double* weights,
                 int* error = nullptr, std::vector<RowFailure>* failures = nullptr);

}  // namespace pelmora::calc
