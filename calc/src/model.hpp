#pragma once
// The shared model: the guarded arithmetic, the per-base recipe and the steps every base runs.

#include <array>
#include <cmath>
#include <limits>
#include <span>

#include "pelmora/calc/arg.hpp"
#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/failure.hpp"

namespace pelmora::calc::detail {

// --- Guarded arithmetic ------------------------------------------------------------------
// Every operation checks its own result: a result that is infinite or not a number ends the
// call. A finite non-zero dividend over a zero divisor is a division by zero; every other such
// result is an overflow. Underflow and inexact results pass. `what` names the step's quantity.

[[noreturn]] void overflow(const char* what);
[[noreturn]] void division_fault(double dividend, double divisor, const char* what);

inline bool finite(double v) noexcept { return std::fabs(v) <= std::numeric_limits<double>::max(); }

inline double checked(double r, const char* what) {
    if (!finite(r)) [[unlikely]]
        overflow(what);
    return r;
}
inline double add(double a, double b, const char* what) { return checked(a + b, what); }
inline double sub(double a, double b, const char* what) { return checked(a - b, what); }
inline double mul(double a, double b, const char* what) { return checked(a * b, what); }
inline double div(double a, double b, const char* what) {
    const double r = a / b;
    if (!finite(r)) [[unlikely]]
        division_fault(a, b, what);
    return r;
}

/// The bases' weight term, ((a x - b) x + c) x in x (the weight less the base's centre), each
/// step checked as the weight term.
inline double cubic_weight_term(double x, double a, double b, double c) {
    constexpr const char* wt = "weight term";
    return mul(add(mul(sub(mul(a, x, wt), b, wt), x, wt), c, wt), x, wt);
}
/// The linear height term slope x (ht - centre), each step checked as the height term (the
/// United Kingdom's, New Zealand's and Australia's).
inline double linear_height_term(Arg& ht, double slope, double centre) {
    constexpr const char* hgt = "height term";
    return mul(slope, sub(ht.read_number("ht"), centre, hgt), hgt);
}

// --- What a base contributes ----------------------------------------------------------------

/// A base's ethnic-group table: the rows compared with `eth` come first, in code order; an
/// optional catch-all row ("Other") after them carries the default term. Without one the
/// default term is 0.
struct EthnicTable {
    std::span<const EthnicGroup> rows;
    std::size_t compared;  ///< how many leading rows are compared with eth

    [[nodiscard]] double default_term() const noexcept { return compared < rows.size() ? rows[compared].term : 0.0; }
};

/// The base's own recipe: the weight term and the height term from the clamped booking
/// weight, reading (and for Sweden writing) `ht` as the base's recipe says.
using WeightHeightTerms = void (*)(Evaluation& ev, double weight, Arg& ht);

struct BaseModel {
    Base base;
    WeightHeightTerms weight_and_height;  ///< the weight and height terms
    double sex_term;                      ///< + for code 1, - for any other value
    EthnicTable ethnic;                   ///< the ethnic terms and their default
    std::array<double, 5> parity;         ///< codes 0..3, then the term of any other value
    double constant;                      ///< term-weight constant
    double spread;                        ///< spread coefficient
};

extern const BaseModel united_kingdom;
extern const BaseModel sweden;
extern const BaseModel new_zealand;
extern const BaseModel australia;

const BaseModel& model_of(Base base) noexcept;

/// The whole calculation with a base's recipe: missing-input test, weight band, term weight,
/// weeks, gestation proportion, optimal weight, spread, z and centile integral. Throws Failure.
Evaluation run(const BaseModel& model, Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par);

/// The calculation up to z into `ev` (or ev.missing): everything but the centile integral.
/// Throws Failure; `ev` then holds what was computed before it.
void run_to_z(const BaseModel& model, Evaluation& ev, Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth,
              Arg& par);

/// The missing-input test aside, the steps up to the term weight into `ev`: the weight band, the
/// base's weight and height terms (Sweden centres `ht` here), the sex, ethnic and parity terms
/// and their sum. Throws Failure.
void term_weight(const BaseModel& model, Evaluation& ev, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par);

/// The gestation proportion at g weeks. Throws Failure.
double gestation_proportion(double g);

/// ev.optimal_weight and ev.spread from ev.term_weight and ev.proportion. Throws Failure.
void optimal_and_spread(const BaseModel& model, Evaluation& ev);

/// The centile integral before its sum: the step, how many slices are summed, and whether the
/// centile is mirrored. The slices' areas are those of slice_areas(step, slices, ...); their
/// sum, taken in slice order from +0, is what finish_integral completes.
struct Integral {
    double step;
    std::size_t slices;
    bool mirrored;
};

/// Plans the integral for z; |z| above 1000 is integrated as if it were 1000. Throws Failure.
Integral plan_integral(double z);

/// The centile in percent from the slices' sum: one half added, mirrored for a negative z,
/// times 100. Throws Failure.
double finish_integral(const Integral& integral, double sum);

/// The centile integral: the centile in percent for z, by slice_count midpoint slices.
double centile_of(double z);

}  // namespace pelmora::calc::detail
