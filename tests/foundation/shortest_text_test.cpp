// shortest_text against std::to_chars, character for character: over the doubles it works out
// itself (2^-10 <= |v| < 2^52), at their edges, and beyond them, where it hands v on.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "pelmora/number_text.hpp"

namespace {

std::string ours(double v, std::size_t room = 64) {
    char buf[64];
    const auto r = pelmora::shortest_text(buf, buf + room, v);
    return r.ec == std::errc{} ? std::string(buf, r.ptr) : "error";
}

std::string theirs(double v, std::size_t room = 64) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + room, v);
    return r.ec == std::errc{} ? std::string(buf, r.ptr) : "error";
}

double from_bits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

TEST(ShortestText, WritesWhatToCharsWrites) {
    std::mt19937_64 random(20261208);
    long differ = 0, checked = 0;
    const auto check = [&](double v) {
        ++checked;
        if (ours(v) != theirs(v) && ++differ <= 10) ADD_FAILURE() << std::hexfloat << v << ": " << ours(v) << " not " << theirs(v);
    };
    // Every binary exponent from below the range to above it, random mantissas, both signs.
    for (int k = 0; k < 2'000'000; ++k) {
        const std::uint64_t exponent = 1075 - 70 + random() % 80;
        check(from_bits((random() & ((std::uint64_t{1} << 52) - 1)) | exponent << 52 | (random() & std::uint64_t{1} << 63)));
    }
    // Short decimals and integers (trailing zeros, a notation's tie), their neighbours, the edges of
    // each binade (the least double, whose interval is narrower below), and the range's own edges.
    for (int k = 0; k < 200'000; ++k) {
        const double d = static_cast<double>(random() % 100'000'000) / std::pow(10.0, static_cast<double>(random() % 22));
        for (const double v : {d, std::nextafter(d, 0.0), std::nextafter(d, 1e300), static_cast<double>(random() % 10'000'000'000'000'000),
                               static_cast<double>(random() % 100'000) * std::pow(10.0, static_cast<double>(random() % 12))}) {
            check(v);
        }
    }
    for (int e = -80; e < 60; ++e) {
        const double p = std::ldexp(1.0, e);
        for (const double v : {p, std::nextafter(p, 0.0), std::nextafter(p, 1e300), -p}) check(v);
    }
    for (const double v : {0.0, -0.0, 1e-300, 5e-324, 0.1, 0.3, 2.5, 100.0, 1e15, 123456.0, 1e16, 4503599627370495.5,
                           std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        check(v);
    }
    EXPECT_EQ(differ, 0) << "of " << checked;
}

TEST(ShortestText, ARoomTooSmallFailsAsToCharsDoes) {
    for (const double v : {40.142857142857146, -0.0025266335328399947, 3677.2031141247808, 1e-7}) {
        for (std::size_t room = 0; room <= 24; ++room) EXPECT_EQ(ours(v, room), theirs(v, room)) << v << " in " << room;
    }
}

}  // namespace
