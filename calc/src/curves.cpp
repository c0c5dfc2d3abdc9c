#include "pelmora/calc/curves.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "model.hpp"

namespace pelmora::calc {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

[[noreturn]] void bad_request(const std::string& what) { throw Failure(Error::invalid_argument, what); }

std::string number_text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

void check_centile(double centile) {
    if (!centile_in_range(centile)) bad_request("centile " + number_text(centile) + " is not between 0 and 100");
}

// A mother's model up to the term weight, computed once; then her optimal weight and spread on
// any day, by the calculators' own steps. The day's gestation is divided by 7 as the calculators
// store it back into gest, and read from there.
class Pregnancy {
public:
    /// False when an input is missing (nothing computed). Throws Failure.
    bool start(Base base, double wt, double ht, double sex, double eth, double par) {
        model_ = &detail::model_of(base);
        for (const double v : {wt, ht, sex, eth, par}) {
            if (std::isnan(v)) return false;
        }
        Arg a_wt = Arg::r8(wt), a_ht = Arg::r8(ht), a_sex = Arg::r8(sex), a_eth = Arg::r8(eth), a_par = Arg::r8(par);
        detail::term_weight(*model_, ev_, a_wt, a_ht, a_sex, a_eth, a_par);
        return true;
    }

    /// The optimal weight and the spread at `gest` days. Throws Failure.
    void day(double gest) {
        ev_.weeks = detail::div(gest, 7.0, "gest");
        ev_.proportion = detail::gestation_proportion(ev_.weeks);
        detail::optimal_and_spread(*model_, ev_);
        // With a spread of 0 every weight is the optimal weight, and the calculator fails on it
        // forming z (0/0), as it fails on any birth weight then.
        if (ev_.spread == 0.0) (void)detail::div(detail::sub(ev_.optimal_weight, ev_.optimal_weight, "z"), 0.0, "z");
    }

    /// The weight at z on the current day. Throws Failure.
    [[nodiscard]] double weight(double z) const {
        return detail::add(ev_.optimal_weight, detail::mul(z, ev_.spread, "weight"), "weight");
    }

private:
    const detail::BaseModel* model_ = nullptr;
    Evaluation ev_;
};

bool known_base(std::uint8_t base) noexcept { return base <= static_cast<std::uint8_t>(Base::australia); }

// The z of each distinct centile of a column, found once each.
class ZTable {
public:
    explicit ZTable(const std::vector<double>& centiles) : p_(centiles) {
        std::sort(p_.begin(), p_.end());
        p_.erase(std::unique(p_.begin(), p_.end()), p_.end());
        z_.reserve(p_.size());
        for (const double p : p_) z_.push_back(z_at_centile(p));
    }
    [[nodiscard]] double operator()(double p) const {
        return z_[static_cast<std::size_t>(std::lower_bound(p_.begin(), p_.end(), p) - p_.begin())];
    }

private:
    std::vector<double> p_, z_;
};

void record(std::size_t row, const Failure& f, int* error, std::vector<RowFailure>* failures) {
    if (error) error[row] = f.number();
    if (failures) failures->push_back({row, f.number(), f.what()});
}

std::vector<double> z_of(std::span<const double> centiles) {
    std::vector<double> z(centiles.size());
    for (std::size_t c = 0; c < centiles.size(); ++c) z[c] = z_at_centile(centiles[c]);
    return z;
}

// One mother's curves into out[c * days.count() + d]; NaN when an input is missing. Throws
// Failure.
void fill_curves(const Mother& mother, const std::vector<double>& z, DayRange days, double* out) {
    const std::size_t n_days = days.count();
    Pregnancy p;
    if (!p.start(mother.base, mother.wt, mother.ht, mother.sex, mother.eth, mother.par)) {
        std::fill(out, out + z.size() * n_days, nan);
        return;
    }
    for (std::size_t d = 0; d < n_days; ++d) {
        p.day(static_cast<double>(days.first) + static_cast<double>(d));
        for (std::size_t c = 0; c < z.size(); ++c) out[c * n_days + d] = p.weight(z[c]);
    }
}

}  // namespace

bool centile_in_range(double centile) noexcept { return centile > 0.0 && centile < 100.0; }

double z_at_centile(double centile) {
    check_centile(centile);
    if (centile == 50.0) return 0.0;  // z = 0 gives exactly 50

    // Newton's method on the integral itself, kept inside a bracket that always holds the
    // answer: the integral is below 0 at z = -10 and above 100 at z = +10 (it passes 0 and 100
    // by about 0.0000055). Where a step would leave the bracket, or the slope is too flat to
    // trust, the bracket is halved instead. The z whose centile came closest is kept.
    double lo = -10.0, hi = 10.0;
    double z = 0.0;
    double f = 50.0 - centile;
    double best_z = z, best_f = std::fabs(f);
    for (int k = 0; k < 400 && f != 0.0; ++k) {
        if (f < 0) {
            lo = z;
        } else {
            hi = z;
        }
        // The integral's slope in percent per unit z: its slices cover 0 to 1.001 z.
        const double slope = 100.0 * 1.001 * std::exp(-0.5 * (1.001 * z) * (1.001 * z)) / 2.506628;
        double next = z - f / slope;
        if (!(next > lo && next < hi)) next = lo + (hi - lo) / 2;
        if (next == z || next <= lo || next >= hi) break;  // no double left between
        z = next;
        f = detail::centile_of(z) - centile;
        if (std::fabs(f) < best_f) {
            best_z = z;
            best_f = std::fabs(f);
        }
    }
    // Far inside the tolerance the calculator's result promises; anything else is a fault here.
    if (!(best_f <= 1e-10)) throw Failure(Error::internal_error, "no z for centile " + number_text(centile));
    return best_z;
}

double weight_at_centile(const Mother& mother, double gest, double centile) {
    const double z = z_at_centile(centile);
    Pregnancy p;
    if (!p.start(mother.base, mother.wt, mother.ht, mother.sex, mother.eth, mother.par) || std::isnan(gest)) return nan;
    p.day(gest);
    return p.weight(z);
}

void weights_at_centile(const Rows& rows, Column<double> centile, double* weight, int* error,
                        std::vector<RowFailure>* failures) {
    std::vector<double> wanted;
    wanted.reserve(rows.count);
    for (std::size_t i = 0; i < rows.count; ++i) {
        if (centile_in_range(centile[i])) wanted.push_back(centile[i]);
    }
    const ZTable z(wanted);
    for (std::size_t i = 0; i < rows.count; ++i) {
        weight[i] = nan;
        if (error) error[i] = 0;
        try {
            if (!known_base(rows.base[i])) bad_request("base");
            check_centile(centile[i]);
            Pregnancy p;
            if (!p.start(static_cast<Base>(rows.base[i]), rows.wt[i], rows.ht[i], rows.sex[i], rows.eth[i],
                         rows.par[i]) ||
                std::isnan(rows.gest[i])) {
                continue;
            }
            p.day(rows.gest[i]);
            weight[i] = p.weight(z(centile[i]));
        } catch (const Failure& f) {
            record(i, f, error, failures);
        }
    }
}

void check_curve_request(std::span<const double> centiles, DayRange days) {
    if (centiles.empty()) bad_request("no centiles");
    for (const double c : centiles) check_centile(c);
    if (days.first < 0 || days.last > max_gestation_days) {
        bad_request("gestation " + std::to_string(days.first) + " to " + std::to_string(days.last) +
                    " days is outside 0 to " + std::to_string(max_gestation_days));
    }
    if (days.first > days.last) {
        bad_request("gestation from " + std::to_string(days.first) + " to " + std::to_string(days.last) +
                    " days: the range is inverted, so empty");
    }
}

Curves curves(const Mother& mother, std::span<const double> centiles, DayRange days) {
    check_curve_request(centiles, days);
    Curves c{.days = days, .centiles = {centiles.begin(), centiles.end()}, .weights = {}};
    c.weights.resize(centiles.size() * days.count());
    fill_curves(mother, z_of(centiles), days, c.weights.data());
    return c;
}

void curves_rows(const Rows& mothers, std::span<const double> centiles, DayRange days, double* weights, int* error,
                 std::vector<RowFailure>* failures) {
    check_curve_request(centiles, days);
    const std::vector<double> z = z_of(centiles);
    const std::size_t per_mother = centiles.size() * days.count();
    for (std::size_t m = 0; m < mothers.count; ++m) {
        double* out = weights + m * per_mother;
        if (error) error[m] = 0;
        try {
            if (!known_base(mothers.base[m])) bad_request("base");
            const Mother mother{.base = static_cast<Base>(mothers.base[m]),
                                .wt = mothers.wt[m],
                                .ht = mothers.ht[m],
                                .sex = mothers.sex[m],
                                .eth = mothers.eth[m],
                                .par = mothers.par[m]};
            fill_curves(mother, z, days, out);
        } catch (const Failure& f) {
            std::fill(out, out + per_mother, nan);
            record(m, f, error, failures);
        }
    }
}

}  // namespace pelmora::calc
