// Writes the validation table (validation/centiles.csv) to standard output: the worked examples,
// then generated cases over all four bases, codes at and beyond the tables' edges, both ends of
// the weight band, z far out (where the integral stops early, and beyond 1000, where it is
// clamped), missing inputs and failing rows. Every number is in the shortest form that reads
// back as the same double; the results are the batch engine's. Deterministic: running it again
// gives the same bytes.

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pelmora/calc/engine.hpp"

namespace {

namespace calc = pelmora::calc;
constexpr double missing = std::numeric_limits<double>::quiet_NaN();

struct Case {
    std::string name;
    int base;
    std::array<double, 7> in;  // bwt, gest, wt, ht, sex, eth, par
};

std::string number(double v) {
    if (std::isnan(v)) return {};
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// The worked examples of the four bases and a few variants that single out one rule each.
std::vector<Case> worked_examples() {
    return {
        {"uk A", 0, {3500, 280, 64, 163, 1, 1, 0}},
        {"uk B", 0, {3000, 266, 80, 150, 0, 2, 2}},
        {"uk C", 0, {2500, 259, 45, 170, 0, 6, 4}},
        {"uk A wt 30", 0, {3500, 280, 30, 163, 1, 1, 0}},
        {"uk A wt 100", 0, {3500, 280, 100, 163, 1, 1, 0}},
        {"uk A eth 10 par 4", 0, {3500, 280, 64, 163, 1, 10, 4}},
        {"swe A", 1, {3500, 280, 65, 165, 1, 1, 0}},
        {"swe B", 1, {3200, 273, 40, 170, 0, 7, 5}},
        {"swe C", 1, {2800, 259, 95, 158, 1, 26, 4}},
        {"swe A again", 1, {3500, 40, 65, -2, 1, 1, 0}},
        {"nz A", 2, {3500, 280, 70, 165, 1, 1, 0}},
        {"nz B", 2, {3000, 266, 60, 160, 2, 4, 1}},
        {"nz C", 2, {2600, 259, 45, 170, 0, 3, 4}},
        {"nz D", 2, {4200, 287, 120, 155, 1, 7, 2}},
        {"au A", 3, {3500, 280, 64, 163, 1, 1, 0}},
        {"au B", 3, {3000, 266, 80, 150, 0, 2, 2}},
        {"au C", 3, {2500, 259, 45, 170, 0, 4, 4}},
        {"au D", 3, {4000, 287, 70, 165, 1, 3, 3}},
        {"au A eth 5 par 4", 3, {3500, 280, 64, 163, 1, 5, 4}},
        {"z 0: bwt at the optimal weight", 0, {3515.013500000005, 280, 64, 163, 1, 1, 0}},
        {"z 50000", 0, {3515.0135 + 50000 * 384.19097555, 280, 64, 163, 1, 1, 0}},
        {"spread 0: division by zero", 0, {3500, 280, 64, -262.0722324625068, 1, 5, 0}},
        {"spread 0 and bwt 0: overflow", 0, {0, 280, 64, -262.0722324625068, 1, 5, 0}},
        {"ht squared overflows", 0, {3500, 280, 64, 1e200, 1, 1, 0}},
        {"weeks overflow the proportion", 0, {3500, 1e300, 64, 163, 1, 1, 0}},
        {"swe: fails after the centring", 1, {3500, 280, 65, 1e100, 1, 1, 0}},
        {"missing bwt", 2, {missing, 280, 70, 165, 1, 1, 0}},
        {"missing par", 3, {3500, 280, 64, 163, 1, 1, missing}},
    };
}

struct XorShift {
    std::uint64_t state = 0x2545F4914F6CDD1Du;
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
};

// Generated cases: inputs with few digits, so that every face reads the very same doubles.
std::vector<Case> generated(std::size_t count) {
    static constexpr int ethnic_rows[] = {10, 27, 7, 4};  // table size of each base, its catch-all included
    XorShift rng;
    std::vector<Case> cases;
    for (std::size_t i = 0; i < count; ++i) {
        Case c;
        c.base = static_cast<int>(i % 4);
        const double weeks = 24 + static_cast<double>(rng.below(20));
        const double typical = 3500 * (2.991 + weeks * (-0.3185 + weeks * (0.01094 + weeks * -0.0001055)));
        const double spread =
            (static_cast<double>(rng.below(1000) + rng.below(1000) + rng.below(1000)) / 1500 - 1) * 0.5;
        c.in = {std::round(typical * (1 + spread)),
                weeks * 7 + static_cast<double>(rng.below(7)),
                35 + static_cast<double>(rng.below(1100)) / 10,
                140 + static_cast<double>(rng.below(600)) / 10,
                static_cast<double>(rng.below(4)) - 1,
                static_cast<double>(rng.below(static_cast<std::uint64_t>(ethnic_rows[c.base]) + 3)) - 1,
                static_cast<double>(rng.below(8)) - 1};
        c.name = "generated";
        switch (rng.below(25)) {
        case 0:
            c.in[0] = 50000 + static_cast<double>(rng.below(100000));
            c.name = "z beyond 40";
            break;
        case 1:
            c.in[0] = -1e7 - static_cast<double>(rng.below(1000000));
            c.name = "z beyond 1000";
            break;
        case 2:
            c.in[5] = 2.5;
            c.name = "eth between codes";
            break;
        case 3:
            c.in[2] = 20 + static_cast<double>(rng.below(20));
            c.name = "weight raised to the band";
            break;
        case 4:
            c.in[2] = 120 + static_cast<double>(rng.below(100));
            c.name = "weight lowered to the band";
            break;
        case 5:
            c.in[static_cast<std::size_t>(rng.below(7))] = missing;
            c.name = "a missing input";
            break;
        case 6:
            c.in[3] = 1e200;
            c.name = "ht squared overflows";
            break;
        case 7:
            c.in[1] = 0;
            c.name = "gest 0";
            break;
        default: break;
        }
        cases.push_back(c);
    }
    return cases;
}

}  // namespace

int main() {
    std::vector<Case> cases = worked_examples();
    for (auto& c : generated(4000)) cases.push_back(std::move(c));

    const std::size_t n = cases.size();
    std::vector<std::uint8_t> base(n);
    std::array<std::vector<double>, 7> in;
    for (auto& column : in) column.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        base[i] = static_cast<std::uint8_t>(cases[i].base);
        for (std::size_t k = 0; k < 7; ++k) in[k][i] = cases[i].in[k];
    }
    const calc::Rows rows = calc::contiguous_rows(base, in);
    std::vector<double> centile(n), z(n), optimal(n);
    std::vector<int> error(n);
    std::vector<calc::RowFailure> failures;
    calc::Results results;
    results[calc::Quantity::centile] = centile.data();
    results[calc::Quantity::z] = z.data();
    results[calc::Quantity::optimal_weight] = optimal.data();
    results.error = error.data();
    results.failures = &failures;
    calc::evaluate_rows(rows, results, 1);

    std::vector<std::string> message(n);
    for (const auto& f : failures) message[f.row] = f.message;
    std::string out = "case,name,base,bwt,gest,wt,ht,sex,eth,par,centile,z,optimal_weight,error,message\n";
    for (std::size_t i = 0; i < n; ++i) {
        out += std::to_string(i + 1) + ',' + cases[i].name + ',' +
               std::string(calc::base_tag(static_cast<calc::Base>(cases[i].base)));
        for (const double v : cases[i].in) out += ',' + number(v);
        out += ',' + number(centile[i]) + ',' + number(z[i]) + ',' + number(optimal[i]) + ',';
        if (error[i] != 0) out += std::to_string(error[i]);
        out += ',' + message[i] + '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
