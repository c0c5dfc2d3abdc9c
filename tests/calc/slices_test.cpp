// The slices of the centile integral formed four at a time: the vector exp must give exactly the
// platform exp's bits, and the slice areas exactly those of the one-at-a-time loop.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "calc_test_support.hpp"
#include "slices.hpp"
#include "vector_exp.hpp"

namespace pelmora::calc::detail {
namespace {

using test::bits;
using test::XorShift;

// Runs the arguments through the vector exp four at a time and counts results whose bits differ
// from std::exp's, naming the first few.
int mismatches(const std::vector<double>& args) {
    int bad = 0;
    for (std::size_t k = 0; k + 4 <= args.size(); k += 4) {
        std::array<double, 4> y{};
        vector_exp4(&args[k], y.data());
        for (std::size_t j = 0; j < 4; ++j) {
            const double want = std::exp(args[k + j]);
            if (bits(y[j]) != bits(want) && ++bad <= 5) {
                ADD_FAILURE() << std::hexfloat << "exp(" << args[k + j] << ") gave " << y[j] << ", std::exp " << want;
            }
        }
    }
    return bad;
}

TEST(VectorExp, RunsWhereThePlatformExpIsTheFmaBuild) {
#if defined(__GLIBC__) && defined(__x86_64__)
    __builtin_cpu_init();
    if (!(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))) GTEST_SKIP() << "no AVX2 and FMA here";
    // On such a CPU glibc runs the build of exp the copy follows; a failing self-check here
    // means the slices silently fall back to the slow loop.
    EXPECT_TRUE(vector_exp_available());
#else
    EXPECT_FALSE(vector_exp_available());
#endif
}

TEST(VectorExp, GivesStdExpBitsForEveryArgument) {
    if (!vector_exp_available()) GTEST_SKIP() << "the vector exp does not run here";
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
    // The arguments the slices actually see: -m*m/2 at midpoints for some z.
    for (int k = 0; k < 200; ++k) {
        const double h = rng.unit() * 0.045;
        for (double i = 1; i <= 1000; ++i) {
            const double m = i * h - h / 2.0;
            args.push_back(-m * m / 2.0);
        }
    }
    while (args.size() % 4 != 0) args.push_back(-1.0);
    EXPECT_EQ(mismatches(args), 0) << "of " << args.size();
}

TEST(SliceAreas, FourAtATimeMatchOneAtATime) {
    struct Case {
        double z;
        std::size_t n;
    };
    // Full and cut slice counts, counts that leave a partial group of four, steps so small the
    // first arguments drop below the fast range, and steps wide enough to reach past it.
    const Case cases[] = {{0.0, 1001},
                          {1e-300, 1001},
                          {1e-17, 1001},
                          {3e-9, 1001},
                          {0.001, 1001},
                          {1.0, 1001},
                          {2.0, 1001},
                          {2.5, 1001},
                          {-0.0, 5},
                          {5.3, 1},
                          {5.3, 2},
                          {5.3, 3},
                          {37.5, 1001},
                          {38.6, 1001},
                          {40.04, 1000},
                          {100.0, 402},
                          {999.9999999999999, 42},
                          {1000.0, 42},
                          {1000.0, 1001}};
    for (const Case& c : cases) {
        const double h = std::fabs(c.z) / 1000.0;
        std::array<double, max_slices> one{};
        std::array<double, max_slices> four{};
        slice_areas_scalar(h, c.n, one.data());
        slice_areas(h, c.n, four.data());
        for (std::size_t k = 0; k < c.n; ++k) {
            ASSERT_EQ(bits(four[k]), bits(one[k])) << "z " << c.z << " slice " << k + 1;
        }
    }
}

}  // namespace
}  // namespace pelmora::calc::detail
