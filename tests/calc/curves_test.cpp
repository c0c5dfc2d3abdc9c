// Weights at centiles and centile curves, fed back through the batch engine (the calculators'
// own results): each weight must give its centile within 1e-9 centile points.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "calc_test_support.hpp"
#include "pelmora/calc/curves.hpp"

namespace pelmora::calc {
namespace {

using test::bits;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Feeds (base, weight, day, mother) rows to the engine and returns their centiles.
struct FeedBack {
    std::vector<std::uint8_t> base;
    std::array<std::vector<double>, 7> in;

    void add(const Mother& m, double bwt, double gest) {
        base.push_back(static_cast<std::uint8_t>(m.base));
        const double v[7] = {bwt, gest, m.wt, m.ht, m.sex, m.eth, m.par};
        for (std::size_t k = 0; k < 7; ++k) in[k].push_back(v[k]);
    }
    std::vector<double> centiles() const {
        std::vector<double> c(base.size());
        Results r;
        r[Quantity::centile] = c.data();
        evaluate_rows(contiguous_rows(base, in), r);
        return c;
    }
};

std::vector<Mother> generated_mothers(std::size_t n) {
    test::XorShift rng;
    std::vector<Mother> mothers;
    for (std::size_t i = 0; i < n; ++i) {
        mothers.push_back({.base = static_cast<Base>(i % 4),
                           .wt = 35 + rng.unit() * 110,
                           .ht = 140 + rng.unit() * 60,
                           .sex = double(rng.next() % 3),
                           .eth = double(rng.next() % 30) - 1,
                           .par = double(rng.next() % 7) - 1});
    }
    return mothers;
}

TEST(Curves, EveryPointFedBackGivesItsCentile) {
    const std::vector<Mother> mothers = generated_mothers(2000);
    const std::array<double, 3> centiles{10, 90, 97};
    const DayRange days{};  // 24+0 to 42+0 weeks
    FeedBack fb;
    std::vector<double> wanted;
    for (const Mother& m : mothers) {
        const Curves c = curves(m, centiles, days);
        for (std::size_t k = 0; k < centiles.size(); ++k) {
            for (int day = days.first; day <= days.last; ++day) {
                fb.add(m, c.at(k, day), day);
                wanted.push_back(centiles[k]);
            }
        }
    }
    const std::vector<double> got = fb.centiles();
    double worst = 0;
    for (std::size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::fabs(got[i] - wanted[i]));
    EXPECT_LE(worst, 1e-9);
}

TEST(WeightAtCentile, EveryTenthOfACentileOnEveryBaseRisesAndFeedsBack) {
    std::vector<double> p;
    for (int k = 1; k <= 999; ++k) p.push_back(k / 10.0);
    for (const double tail : {1e-6, 0.001, 0.01, 99.99, 99.999, 99.999999}) p.push_back(tail);
    std::sort(p.begin(), p.end());
    for (const Mother& m : generated_mothers(8)) {
        FeedBack fb;
        std::vector<double> prev(7, -inf);  // per gestation
        for (const double c : p) {
            for (const double gest : {161.0, 231.0, 280.0, 300.0}) fb.add(m, weight_at_centile(m, gest, c), gest);
        }
        const std::vector<double> got = fb.centiles();
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i], p[i / 4], 1e-9) << "base " << int(m.base) << " gest " << fb.in[1][i];
            EXPECT_GT(fb.in[0][i], prev[i % 4]) << "weights rise with the centile";
            prev[i % 4] = fb.in[0][i];
        }
    }
}

TEST(WeightAtCentile, TheFiftiethIsTheOptimalWeightBitForBit) {
    // z = 0 exactly: the weight is the calculators' own optimal weight, whatever their order of
    // arithmetic, and a birth weight of exactly it gives exactly 50.
    for (const Mother& m : generated_mothers(64)) {
        test::FormCall call({0, 259, m.wt, m.ht, static_cast<std::int16_t>(m.sex), static_cast<std::int16_t>(m.eth),
                             static_cast<std::int16_t>(m.par)});
        const double w = weight_at_centile(m, 259, 50);
        EXPECT_EQ(bits(w), bits(call.run(m.base).optimal_weight));
        EXPECT_EQ(curves(m, std::array{50.0}, {259, 259}).weights.front(), w);
    }
}

TEST(WeightAtCentile, MissingInputsAndFailures) {
    const Mother m{.base = Base::sweden, .wt = 65, .ht = 165, .sex = 1, .eth = 1, .par = 0};
    struct Case {
        Mother m;
        double gest, centile;
        int error;  // 0: a missing weight
    };
    Mother no_height = m, huge_height = m;
    no_height.ht = nan;
    huge_height.ht = 1e200;
    const Case cases[] = {
        {m, 280, 0, 5},          {m, 280, 100, 5},         {m, 280, -3, 5},
        {m, 280, nan, 5},        {m, 280, inf, 5},         {m, nan, 10, 0},
        {no_height, 280, 10, 0}, {no_height, 280, 100, 5}, {huge_height, 280, 10, 6},
        {m, 1e300, 10, 6},       {m, inf, 10, 6},
    };
    std::vector<std::uint8_t> base;
    std::array<std::vector<double>, 7> in;
    std::vector<double> centile;
    for (const Case& c : cases) {
        base.push_back(static_cast<std::uint8_t>(c.m.base));
        const double v[7] = {nan, c.gest, c.m.wt, c.m.ht, c.m.sex, c.m.eth, c.m.par};
        for (std::size_t k = 0; k < 7; ++k) in[k].push_back(v[k]);
        centile.push_back(c.centile);
        if (c.error == 0) {
            EXPECT_TRUE(std::isnan(weight_at_centile(c.m, c.gest, c.centile)));
        } else {
            try {
                (void)weight_at_centile(c.m, c.gest, c.centile);
                ADD_FAILURE() << "no failure for centile " << c.centile;
            } catch (const Failure& f) {
                EXPECT_EQ(f.number(), c.error) << f.what();
            }
        }
    }
    base.push_back(9);  // no such base
    for (auto& column : in) column.push_back(column.front());
    centile.push_back(50);

    std::vector<double> w(base.size());
    std::vector<int> error(base.size());
    std::vector<RowFailure> failures;
    weights_at_centile(contiguous_rows(base, in), {centile.data(), 1}, w.data(), error.data(), &failures);
    std::size_t failed = 0;
    for (std::size_t i = 0; i < base.size(); ++i) {
        const int want = i < std::size(cases) ? cases[i].error : 5;
        EXPECT_EQ(error[i], want) << "row " << i;
        EXPECT_TRUE(std::isnan(w[i]));
        if (want) {
            EXPECT_EQ(failures.at(failed++).row, i);
        }
    }
    EXPECT_EQ(failed, failures.size());
}

TEST(Curves, BadRequestsAreRefusedBeforeAnythingIsComputed) {
    const Mother m{};
    const std::array<double, 1> ten{10};
    const std::array<double, 2> bad{10, 100};
    struct Case {
        std::span<const double> centiles;
        DayRange days;
    };
    const Case cases[] = {
        {ten, {280, 279}}, {ten, {-1, 10}}, {ten, {168, max_gestation_days + 1}}, {{}, {168, 294}}, {bad, {168, 294}}};
    for (const Case& c : cases) {
        try {
            (void)curves(m, c.centiles, c.days);
            ADD_FAILURE() << c.days.first << ".." << c.days.last;
        } catch (const Failure& f) {
            EXPECT_EQ(f.kind(), Error::invalid_argument) << f.what();
        }
    }
    // A mother with a missing input gets NaN curves; one whose calculation fails, her failure.
    const Mother missing{.base = Base::australia, .wt = nan, .ht = 160, .sex = 1, .eth = 1, .par = 0};
    for (const double w : curves(missing).weights) EXPECT_TRUE(std::isnan(w));
    Mother failing = missing;
    failing.wt = 60;
    failing.ht = 1e200;
    EXPECT_THROW((void)curves(failing), Failure);
}

}  // namespace
}  // namespace pelmora::calc
