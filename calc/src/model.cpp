#include "model.hpp"
#include "slices.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace pelmora::calc {
namespace detail {

void overflow(const char* what) { throw Failure(Error::overflow, what); }

void division_fault(double dividend, double divisor, const char* what) {
    const bool by_zero = divisor == 0.0 && dividend != 0.0 && finite(dividend);
    throw Failure(by_zero ? Error::division_by_zero : Error::overflow, what);
}

namespace {

double ethnic_term(const EthnicTable& table, const Arg& eth) {
    // The chain of equality tests reads eth once; the first equal code wins.
    if (const auto v = eth.code_value("eth")) {
        for (std::size_t k = 0; k < table.compared; ++k) {
            if (*v == static_cast<double>(table.rows[k].code)) return table.rows[k].term;
        }
    }
    return table.default_term();
}

double parity_term(const std::array<double, 5>& terms, const Arg& par) {
    if (const auto v = par.code_value("par")) {
        for (std::size_t code = 0; code < 4; ++code) {
            if (*v == static_cast<double>(code)) return terms[code];
        }
    }
    return terms[4];
}

}  // namespace

Integral plan_integral(double z) {
    constexpr const char* what = "centile integral";
    const bool mirrored = z < 0;  // a z of exactly 0 (or -0) is not mirrored
    if (mirrored) z = -z;
    // Slices wider than the density would miss it and fall back towards 50: beyond 1000 the
    // area is complete to the last digit anyway, so integrate as if |z| were 1000.
    if (z > 1000.0) z = 1000.0;
    const double h = div(z, 1000.0, what);

    // Every operation of the slices is guarded without a test inside the loop. For h >= 0 each
    // quantity of a slice grows with i (rounding is monotone): i*h, m = i*h - h/2 >= h/2, m*m
    // and -m*m/2 are largest in magnitude in the last slice, so they are finite in every slice
    // when they are finite there, which is checked first. exp of a finite t <= 0 lies in [0, 1]
    // and the divisor is a non-zero constant, so each slice is finite and >= 0; the sum never
    // falls, and once infinite it stays so, which finish_integral sees.
    const double last_m = sub(mul(static_cast<double>(slice_count), h, what), h / 2.0, what);
    (void)mul(-last_m, last_m, what);

    // Slices whose midpoint lies 40 or more standard deviations out add exactly +0 (the
    // density underflows to 0 from about 38.6 on), so the sum stops before them; it is bit
    // for bit the same. Only a step wider than 0.04 (|z| above 40) gets that far.
    double slices = static_cast<double>(slice_count);
    if (h > 0.04) slices = std::min(slices, std::floor(40.0 / h) + 2.0);
    return {.step = h, .slices = static_cast<std::size_t>(slices), .mirrored = mirrored};
}

double finish_integral(const Integral& integral, double sum) {
    constexpr const char* what = "centile integral";
    (void)checked(sum, what);
    double p = add(sum, 0.5, what);
    if (integral.mirrored) p = sub(1.0, p, what);
    return mul(p, 100.0, "centile");
}

double centile_of(double z) {
    const Integral integral = plan_integral(z);
    // Each slice's area, (exp(-m * m / 2) / 2.506628) * h at its midpoint m = i * h - h / 2,
    // depends on i alone, so the areas are formed several at a time, ahead of the sum, which
    // takes them in slice order, as the loop adds them.
    return finish_integral(integral, slice_sum(lanes(), integral.step, integral.slices));
}

Evaluation run(const BaseModel& model, Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par) {
    Evaluation ev;
    run_to_z(model, ev, bwt, gest, wt, ht, sex, eth, par);
    if (ev.missing) return ev;

    // The centile integral, in percent.
    ev.centile = centile_of(ev.z);
    ev.result = Arg::r8(ev.centile);
    return ev;
}

void run_to_z(const BaseModel& model, Evaluation& ev, Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth,
              Arg& par) {
    // The missing-input test: all seven are tested, in order, none skipped.
    const std::array<bool, 7> missing{bwt.is_missing(), gest.is_missing(), wt.is_missing(), ht.is_missing(),
                                      sex.is_missing(), eth.is_missing(),  par.is_missing()};
    bool any = false;
    for (const bool m : missing) any = any || m;
    if (any) {
        ev.missing = true;
        ev.result = Arg::text(std::string());
        return;
    }

    term_weight(model, ev, wt, ht, sex, eth, par);

    // The weeks: the days become weeks in the caller's gest.
    if (gest.is_null()) {
        gest.store_null("gest");  // Null divided by 7 is Null
    } else {
        gest.store(div(gest.read_number("gest"), 7.0, "gest"), "gest");
    }

    // The gestation proportion, from gest as stored.
    const double g = gest.read_number("gest");
    ev.weeks = g;
    ev.proportion = gestation_proportion(g);

    // The optimal weight, its spread and z.
    optimal_and_spread(model, ev);
    const double b = bwt.read_number("bwt");
    ev.z = div(sub(b, ev.optimal_weight, "z"), ev.spread, "z");
}

void term_weight(const BaseModel& model, Evaluation& ev, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par) {
    // The weight band: the booking weight clamped between BMI 19.96 and 29.9 for the height.
    constexpr const char* band = "weight band";
    double w = wt.read_number("wt");
    const double h1 = ht.read_number("ht");
    const double lower = div(mul(19.96, mul(h1, h1, band), band), 10000.0, band);
    const double h2 = ht.read_number("ht");
    const double upper = div(mul(29.9, mul(h2, h2, band), band), 10000.0, band);
    if (w < lower) w = lower;
    if (w > upper) w = upper;
    ev.weight = w;

    // The term weight: the base's weight and height terms, then the sex, ethnic and parity terms.
    model.weight_and_height(ev, w, ht);
    ev.sex_term = sex.equals_code(1, "sex") ? model.sex_term : -model.sex_term;
    ev.ethnic_term = ethnic_term(model.ethnic, eth);
    ev.parity_term = parity_term(model.parity, par);
    constexpr const char* tw = "term weight";
    ev.term_weight = add(
        add(add(add(add(ev.weight_term, model.constant, tw), ev.height_term, tw), ev.sex_term, tw), ev.ethnic_term, tw),
        ev.parity_term, tw);
}

double gestation_proportion(double g) {
    constexpr const char* gp = "gestation proportion";
    return add(2.991, mul(g, add(-0.3185, mul(g, add(0.01094, mul(g, -0.0001055, gp), gp), gp), gp), gp), gp);
}

void optimal_and_spread(const BaseModel& model, Evaluation& ev) {
    ev.optimal_weight = mul(ev.proportion, ev.term_weight, "optimal weight");
    ev.spread = mul(ev.optimal_weight, model.spread, "spread");
}

const BaseModel& model_of(Base base) noexcept {
    static constexpr std::array<const BaseModel*, base_count> models{&united_kingdom, &sweden, &new_zealand,
                                                                     &australia};
    return *models[static_cast<std::size_t>(base)];
}

}  // namespace detail

namespace {

constexpr std::array<std::string_view, 5> parity_list{"0", "1", "2", "3", "4 or more"};

// The table's order is the codes' order.
constexpr bool table_in_code_order() {
    for (std::size_t i = 0; i < base_count; ++i) {
        if (static_cast<std::size_t>(base_table[i].base) != i) return false;
    }
    return true;
}
static_assert(table_in_code_order());

}  // namespace

std::optional<Base> base_from_text(std::string_view text) noexcept {
    for (const BaseEntry& b : base_table) {
        if (text == b.name || text == b.tag) return b.base;
    }
    return std::nullopt;
}

std::span<const EthnicGroup> ethnic_groups(Base base) noexcept { return detail::model_of(base).ethnic.rows; }

std::span<const std::string_view> parity_texts() noexcept { return parity_list; }

Evaluation evaluate(Base base, Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par) {
    return detail::run(detail::model_of(base), bwt, gest, wt, ht, sex, eth, par);
}

// The four calculators: one base each, the centile alone.
Arg custcentukn(Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par) {
    return evaluate(Base::united_kingdom, bwt, gest, wt, ht, sex, eth, par).result;
}
Arg custcentswe(Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par) {
    return evaluate(Base::sweden, bwt, gest, wt, ht, sex, eth, par).result;
}
Arg custcentnz(Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par) {
    return evaluate(Base::new_zealand, bwt, gest, wt, ht, sex, eth, par).result;
}
Arg custcentau(Arg& bwt, Arg& gest, Arg& wt, Arg& ht, Arg& sex, Arg& eth, Arg& par) {
    return evaluate(Base::australia, bwt, gest, wt, ht, sex, eth, par).result;
}

}  // namespace pelmora::calc
