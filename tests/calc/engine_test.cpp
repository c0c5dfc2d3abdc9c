// The batch engine against the one-row calculators: every quantity's bits, every failure's
// number and message, on many generated rows, on one, two and three threads, and in every way
// of forming the slices this machine has (std::exp alone, four and eight lanes).

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "calc_test_support.hpp"
#include "pelmora/calc/engine.hpp"
#include "slices.hpp"

namespace pelmora::calc {
namespace {

using test::bits;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct Row {
    std::uint8_t base;
    std::array<double, 7> in;  // bwt, gest, wt, ht, sex, eth, par
};

// Plausible rows with, now and then, a birth weight far out (|z| beyond 40, where the sum stops
// early, and beyond 1000, where the integral is clamped), z exactly 0, codes outside the tables
// or between codes, a missing input, and inputs that make the calculators fail.
std::vector<Row> generated_rows(std::size_t n) {
    test::XorShift rng;
    std::vector<Row> rows;
    rows.reserve(n + 8);
    for (std::size_t i = 0; i < n; ++i) {
        Row r{static_cast<std::uint8_t>(rng.next() % 4), {}};
        const double weeks = 24 + rng.unit() * 20;
        r.in = {500 + rng.unit() * 5000, std::floor(weeks * 7),       35 + rng.unit() * 110,     140 + rng.unit() * 60,
                double(rng.next() % 3),  double(rng.next() % 30) - 1, double(rng.next() % 7) - 1};
        switch (rng.next() % 40) {
        case 0: r.in[0] = 3e5 + rng.unit() * 1e5; break;                      // |z| in the hundreds: early stop
        case 1: r.in[0] = -1e7 * (1 + rng.unit()); break;                     // |z| beyond 1000: clamped
        case 2: r.in[static_cast<std::size_t>(rng.next() % 7)] = nan; break;  // a missing input
        case 3: r.in[5] = 2.5; break;                                         // equals no code
        case 4: r.in[3] = 1e200; break;                                       // Overflow (weight band)
        case 5: r.in[1] = inf; break;                                         // Overflow (gest)
        case 6: r.in[0] = -inf; break;                                        // Overflow (z)
        case 7: r.in[1] = 1e300; break;                                       // Overflow (gestation proportion)
        case 8: r.in[2] = inf; break;
        case 9: r.in[0] = 1e-300; break;
        default: break;
        }
        rows.push_back(r);
    }
    // A term weight of exactly 0 makes the spread 0: division by zero, or 0/0 with bwt 0.
    rows.push_back({0, {3500, 280, 64, -262.0722324625068, 1, 5, 0}});
    rows.push_back({0, {0, 280, 64, -262.0722324625068, 1, 5, 0}});
    rows.push_back({1, {3500, 280, 65, 1e100, 1, 1, 0}});  // Sweden: fails after the centring
    rows.push_back({4, {3500, 280, 64, 163, 1, 1, 0}});    // no such base
    return rows;
}

struct Expected {
    bool missing = false;
    int error = 0;
    std::string message;
    Evaluation ev;
    double ht_after = nan;
};

Expected one_row(const Row& r) {
    std::array<Arg, 7> a;
    for (std::size_t k = 0; k < 7; ++k) a[k] = std::isnan(r.in[k]) ? Arg() : Arg::r8(r.in[k]);
    Expected e;
    if (r.base > 3) {
        e.error = error_number(Error::invalid_argument);
        e.message = "Invalid procedure call or argument (base)";
        return e;
    }
    try {
        e.ev = evaluate(static_cast<Base>(r.base), a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
        e.missing = e.ev.missing;
        e.ht_after = a[3].as_r8();
    } catch (const Failure& f) {
        e.error = f.number();
        e.message = f.what();
    }
    return e;
}

TEST(Engine, GivesTheCalculatorsBitsAndFailuresOnEveryRow) {
    const std::vector<Row> rows = generated_rows(30000);
    std::vector<std::uint8_t> base(rows.size());
    std::array<std::vector<double>, 7> in;
    for (auto& column : in) column.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        base[i] = rows[i].base;
        for (std::size_t k = 0; k < 7; ++k) in[k][i] = rows[i].in[k];
    }
    Rows batch = contiguous_rows(base, in);

    // The calculators with std::exp one slice at a time: what every way must give.
    struct Widest {
        ~Widest() { detail::limit_lanes(detail::Lanes::eight); }
    } restore;
    detail::limit_lanes(detail::Lanes::one);
    std::vector<Expected> expected;
    expected.reserve(rows.size());
    std::size_t failed = 0, missing = 0, early = 0, clamped = 0;
    for (const Row& r : rows) {
        expected.push_back(one_row(r));
        const Expected& e = expected.back();
        failed += e.error != 0;
        missing += e.missing;
        early += e.error == 0 && !e.missing && std::fabs(e.ev.z) > 40;
        clamped += e.error == 0 && !e.missing && std::fabs(e.ev.z) > 1000;
    }
    // The generated rows reach every road through the engine.
    EXPECT_GT(failed, 1000u);
    EXPECT_GT(missing, 500u);
    EXPECT_GT(early, 500u);
    EXPECT_GT(clamped, 500u);

    for (const detail::Lanes lanes : {detail::Lanes::one, detail::Lanes::four, detail::Lanes::eight}) {
        if (lanes > detail::widest_lanes()) continue;
        detail::limit_lanes(lanes);
        SCOPED_TRACE(testing::Message() << static_cast<int>(lanes) << " lanes");
        for (const unsigned threads : {1u, 2u, 3u}) {
            SCOPED_TRACE(threads);
            std::array<std::vector<double>, quantity_count> values;
            std::vector<int> error(rows.size(), -1);
            std::vector<SizeClass> size_class(rows.size());
            std::vector<RowFailure> failures;
            Results results;
            for (std::size_t q = 0; q < quantity_count; ++q) {
                values[q].assign(rows.size(), 0.0);
                results.values[q] = values[q].data();
            }
            results.error = error.data();
            results.size_class = size_class.data();
            results.failures = &failures;
            evaluate_rows(batch, results, threads);

            std::size_t next_failure = 0;
            for (std::size_t i = 0; i < rows.size(); ++i) {
                const Expected& e = expected[i];
                SCOPED_TRACE(i);
                ASSERT_EQ(error[i], e.error);
                if (e.error != 0) {
                    ASSERT_LT(next_failure, failures.size());
                    EXPECT_EQ(failures[next_failure].row, i);
                    EXPECT_EQ(failures[next_failure].number, e.error);
                    EXPECT_EQ(failures[next_failure].message, e.message);
                    ++next_failure;
                }
                if (e.error != 0 || e.missing) {
                    for (std::size_t q = 0; q < quantity_count; ++q) ASSERT_TRUE(std::isnan(values[q][i])) << q;
                    EXPECT_EQ(size_class[i], SizeClass::none);
                    continue;
                }
                const Evaluation& ev = e.ev;
                const std::array<double, quantity_count> want{
                    ev.centile,     ev.z,          ev.optimal_weight, ev.weight,      ev.weight_term,
                    ev.height_term, ev.sex_term,   ev.ethnic_term,    ev.parity_term, ev.term_weight,
                    ev.weeks,       ev.proportion, ev.spread,         e.ht_after};
                for (std::size_t q = 0; q < quantity_count; ++q) ASSERT_EQ(bits(values[q][i]), bits(want[q])) << q;
                EXPECT_EQ(size_class[i], classify(ev.centile));
            }
            EXPECT_EQ(next_failure, failures.size());

            // Asked for the first failures only, the batch keeps those, whichever thread met them.
            std::vector<RowFailure> first;
            results.failures = &first;
            results.failure_limit = 3;
            evaluate_rows(batch, results, threads);
            ASSERT_EQ(first.size(), 3u);
            for (std::size_t k = 0; k < first.size(); ++k) {
                EXPECT_EQ(first[k].row, failures[k].row);
                EXPECT_EQ(first[k].message, failures[k].message);
            }
        }
    }
}

TEST(Engine, AStrideOfZeroRepeatsOneValue) {
    const std::uint8_t nz = 2;
    const double bwt[] = {3500, 3000, 2600, 4200};
    const double gest = 280, wt = 70, ht = 165, sex = 1, eth = 1, par = 0;
    Rows batch{.count = 4,
               .base = {&nz, 0},
               .bwt = {bwt, 1},
               .gest = {&gest, 0},
               .wt = {&wt, 0},
               .ht = {&ht, 0},
               .sex = {&sex, 0},
               .eth = {&eth, 0},
               .par = {&par, 0}};
    double centile[4];
    Results results;
    results[Quantity::centile] = centile;
    evaluate_rows(batch, results);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(bits(centile[i]), bits(one_row({nz, {bwt[i], gest, wt, ht, sex, eth, par}}).ev.centile));
    }
}

TEST(Classify, ByThresholdsWithTheBoundsThemselvesAga) {
    const struct {
        double centile;
        Thresholds t;
        SizeClass want;
    } cases[] = {
        {9.999, {}, SizeClass::sga},    {10, {}, SizeClass::aga},        {90, {}, SizeClass::aga},
        {90.001, {}, SizeClass::lga},   {-0.000001, {}, SizeClass::sga}, {100.0000055, {}, SizeClass::lga},
        {nan, {}, SizeClass::none},     {4, {5, 95}, SizeClass::sga},    {96, {5, 95}, SizeClass::lga},
        {50, {50, 50}, SizeClass::aga},
    };
    for (const auto& c : cases) EXPECT_EQ(classify(c.centile, c.t), c.want) << c.centile;
    EXPECT_STREQ(class_text(SizeClass::sga), "SGA");
    EXPECT_STREQ(class_text(SizeClass::none), "");
}

}  // namespace
}  // namespace pelmora::calc
