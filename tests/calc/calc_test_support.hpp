#pragma once
// Helpers shared by the calculator tests: the form's way of calling (references to doubles and
// 16-bit integers) and comparison to the digits a worked example gives.

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "model.hpp"
#include "pelmora/calc/calculators.hpp"

namespace pelmora::calc::test {

/// A double's bits, for comparisons that tell -0 from 0 and one rounding from the next.
inline std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

/// A small deterministic generator (xorshift64) for sweeps that must be the same every run.
struct XorShift {
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    /// Uniform in [0, 1), from the top 53 bits.
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
};

struct Inputs {
    double bwt, gest, wt, ht;
    std::int16_t sex, eth, par;
};

/// The caller's seven variables and references to them, as the form passes them.
struct FormCall {
    explicit FormCall(const Inputs& in)
        : bwt(in.bwt), gest(in.gest), wt(in.wt), ht(in.ht), sex(in.sex), eth(in.eth), par(in.par) {}

    Evaluation run(Base base) {
        std::array<Arg, 7> a{Arg::ref(&bwt), Arg::ref(&gest), Arg::ref(&wt), Arg::ref(&ht),
                             Arg::ref(&sex), Arg::ref(&eth),  Arg::ref(&par)};
        return evaluate(base, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    }

    double bwt, gest, wt, ht;
    std::int16_t sex, eth, par;
};

inline Evaluation run(Base base, std::array<Arg, 7>& a) {
    return evaluate(base, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
}

/// The centile integral, in percent, for a given z.
inline double centile_for_z(double z) { return detail::centile_of(z); }

/// Passes when `actual` rounds to `expected` in the last place `expected` is written to.
inline ::testing::AssertionResult ShowsDigits(double actual, std::string_view expected) {
    const auto dot = expected.find('.');
    const int places = dot == std::string_view::npos ? 0 : static_cast<int>(expected.size() - dot - 1);
    const double want = std::stod(std::string(expected));
    const double tolerance = 0.5 * std::pow(10.0, -places) * (1 + 1e-9);
    if (std::fabs(actual - want) <= tolerance) return ::testing::AssertionSuccess();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", actual);
    return ::testing::AssertionFailure() << buf << " does not show as " << expected;
}

}  // namespace pelmora::calc::test
