// The slices of the centile integral formed four and eight at a time: the vector exps must give
// exactly the platform exp's bits, and the slices' areas and sums exactly those of the
// one-at-a-time loop.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <vector>

#include "calc_test_support.hpp"
#include "slices.hpp"
#include "vector_exp.hpp"

namespace pelmora::calc::detail {
namespace {

using test::bits;
using test::XorShift;

// The vector widths that run here, with their exps.
struct Width {
    Lanes lanes;
    void (*exp)(const double*, double*);
};
std::vector<Width> vector_widths() {
    std::vector<Width> widths;
    if (widest_lanes() >= Lanes::four) widths.push_back({Lanes::four, vector_exp4});
    if (widest_lanes() >= Lanes::eight) widths.push_back({Lanes::eight, vector_exp8});
    return widths;
}

// Runs the arguments through a vector exp, a whole vector at a time, and counts results whose
// bits differ from std::exp's, naming the first few.
int mismatches(const Width& width, const std::vector<double>& args) {
    const auto n = static_cast<std::size_t>(width.lanes);
    int bad = 0;
    for (std::size_t k = 0; k + n <= args.size(); k += n) {
        std::array<double, 8> y{};
        width.exp(&args[k], y.data());
        for (std::size_t j = 0; j < n; ++j) {
            const double want = std::exp(args[k + j]);
            if (bits(y[j]) != bits(want) && ++bad <= 5) {
                ADD_FAILURE() << std::hexfloat << n << " lanes: exp(" << args[k + j] << ") gave " << y[j]
                              << ", std::exp " << want;
            }
        }
    }
    return bad;
}

TEST(VectorExp, RunsWhereThePlatformExpIsTheFmaBuild) {
#if defined(__GLIBC__) && defined(__x86_64__)
    __builtin_cpu_init();
    if (!(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))) GTEST_SKIP() << "no AVX2 and FMA here";
    // On such a CPU glibc runs the build of exp the copies follow; a failing self-check here
    // means the slices silently fall back to a slower way.
    EXPECT_TRUE(vector_exp_available());
    const bool avx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    EXPECT_EQ(vector_exp8_available(), avx512);
    EXPECT_EQ(widest_lanes(), avx512 ? Lanes::eight : Lanes::four);
#else
    EXPECT_FALSE(vector_exp_available());
    EXPECT_FALSE(vector_exp8_available());
    EXPECT_EQ(widest_lanes(), Lanes::one);
#endif
}

TEST(VectorExp, GivesStdExpBitsForEveryArgument) {
    if (vector_widths().empty()) GTEST_SKIP() << "the vector exp does not run here";
    XorShift rng;
    const double min = std::numeric_limits<double>::denorm_min();
    std::vector<double> args = {
        // The ends of the fast range, either side, and what lies beyond them.
        0x1p-54,
        std::nextafter(0x1p-54, 0.0),
        -0x1p-54,
        -std::nextafter(0x1p-54, 0.0),
        512.0,
        std::nextafter(512.0, 0.0),
        -512.0,
        -std::nextafter(512.0, 0.0),
        0.0,
        -0.0,
        min,
        -min,
        1e-300,
        -1e-300,
        -708.4,
        -745.1,
        -745.2,
        709.7,
        // Halfway points of the reduction, where the rounding of k turns.
        std::log(2.0) / 256,
        -std::log(2.0) / 256,
        3 * std::log(2.0) / 256,
        -0.5,
        -1.0,
        -2.0,
    };
    // Uniform over where the slices' arguments fall, and beyond, either sign.
    for (int k = 0; k < 1'000'000; ++k) args.push_back((rng.unit() - 0.9) * 800.0);
    // Uniform in the exponent, so that small arguments are as well represented as large.
    for (int k = 0; k < 1'000'000; ++k) {
        const double m = std::ldexp(1.0 + rng.unit(), static_cast<int>(rng.next() % 70) - 60);
        args.push_back(rng.next() & 1 ? m : -m);
    }
    // The arguments the slices actually see: -m*m/2 at midpoints for some z, falling from lane
    // to lane (whole vectors of them, for the eight lanes' shared table lookup).
    while (args.size() % 8 != 0) args.push_back(-1.0);
    for (int k = 0; k < 200; ++k) {
        const double h = rng.unit() * 0.045;
        for (double i = 1; i <= 1000; ++i) {
            const double m = i * h - h / 2.0;
            args.push_back(-m * m / 2.0);
        }
    }
    for (const Width& width : vector_widths()) {
        EXPECT_EQ(mismatches(width, args), 0) << static_cast<int>(width.lanes) << " lanes, of " << args.size();
    }
}

TEST(Slices, EveryWidthMatchesOneAtATime) {
    struct Case {
        double z;
        std::size_t n;
    };
    // Full and cut slice counts, counts that leave a partial vector, steps so small the first
    // arguments drop below the fast range, and steps wide enough to reach past it.
    const Case cases[] = {{0.0, slice_count},
                          {1e-300, slice_count},
                          {1e-17, slice_count},
                          {3e-9, slice_count},
                          {0.001, slice_count},
                          {1.0, slice_count},
                          {2.0, slice_count},
                          {2.5, slice_count},
                          {-0.0, 5},
                          {5.3, 1},
                          {5.3, 2},
                          {5.3, 3},
                          {5.3, 9},
                          {37.5, slice_count},
                          {38.6, slice_count},
                          {40.04, 1000},
                          {100.0, 402},
                          {999.9999999999999, 42},
                          {1000.0, 42},
                          {1000.0, slice_count}};
    constexpr std::size_t count = std::size(cases);
    const auto step = [&](std::size_t c) { return std::fabs(cases[c % count].z) / 1000.0; };
    const auto one_at_a_time = [](double h, std::size_t n, double* area) {
        slice_areas(Lanes::one, h, n, area);
        double s = 0;
        for (std::size_t k = 0; k < n; ++k) s = area[k] + s;
        return s;
    };
    for (const Width& width : vector_widths()) {
        const auto lanes = static_cast<std::size_t>(width.lanes);
        for (std::size_t c = 0; c < count; ++c) {
            const Case& cs = cases[c];
            SCOPED_TRACE(testing::Message() << lanes << " lanes, z " << cs.z << ", " << cs.n << " slices");
            std::array<double, max_slices> one{};
            std::array<double, max_slices> wide{};
            const double sum = one_at_a_time(step(c), cs.n, one.data());
            slice_areas(width.lanes, step(c), cs.n, wide.data());
            for (std::size_t k = 0; k < cs.n; ++k) ASSERT_EQ(bits(wide[k]), bits(one[k])) << "slice " << k + 1;
            EXPECT_EQ(bits(slice_sum(width.lanes, step(c), cs.n)), bits(sum));

            // Side by side with the steps of the cases that follow, on this case's slice count.
            double h[8];
            double sums[8];
            for (std::size_t j = 0; j < lanes; ++j) h[j] = step(c + j);
            slice_sums(width.lanes, h, cs.n, sums);
            for (std::size_t j = 0; j < lanes; ++j) {
                EXPECT_EQ(bits(sums[j]), bits(one_at_a_time(h[j], cs.n, one.data()))) << "lane " << j;
            }
            // And with steps a few units in the last place to a few parts in a thousand above
            // this case's, as the engine groups its rows (the lanes then share the exp's table).
            for (std::size_t j = 0; j < lanes; ++j) {
                const double apart = step(c) * (1.0 + static_cast<double>(j) * 1e-3);
                h[j] = j == 0 ? step(c) : j < 4 ? std::nextafter(h[j - 1], 1.0) : std::min(1.0, apart);
            }
            slice_sums(width.lanes, h, cs.n, sums);
            for (std::size_t j = 0; j < lanes; ++j) {
                EXPECT_EQ(bits(sums[j]), bits(one_at_a_time(h[j], cs.n, one.data()))) << "close lane " << j;
            }
        }
    }
}

TEST(Slices, LimitLanesNarrowsTheWayChosen) {
    for (const Lanes most : {Lanes::one, Lanes::four, Lanes::eight}) {
        limit_lanes(most);
        EXPECT_EQ(lanes(), std::min(most, widest_lanes()));
    }
}

}  // namespace
}  // namespace pelmora::calc::detail
