// The vector exp's first-use check: the copy is trusted only where it gives the loaded std::exp's
// bits.

#include "vector_exp.hpp"

#include <cstddef>
#include <cstring>

namespace pelmora::calc::detail {

#ifdef PELMORA_VECTOR_EXP

using glibc_exp::exp4_any;
using glibc_exp::exp8_any;

namespace {

// Arguments where glibc's FMA and plain builds of exp give different bits, found by comparing
// the two: the copy passes on them only if the FMA build is the one loaded.
constexpr double telling_arguments[] = {
    -0x1.3dfcb97a8bf8ap+5, -0x1.745581c290115p+5, -0x1.695b4071c69dcp+4, -0x1.692fdad4d8cbcp+4, -0x1.5dd57a960a77cp-1,
    -0x1.c3ff6ea6610aep+5, -0x1.80f044adb3ad8p+5, -0x1.e9f9177d3912ep+0, -0x1.81560164034c2p+2, -0x1.449a915706c16p+1,
    -0x1.33cbc3f2baebap+5, -0x1.79ea9a25de2c2p+5, -0x1.57ec0a59146a5p+5, -0x1.2f8c30f411bf7p+5, -0x1.fc95453811a44p+4,
    -0x1.acbc2b0e2a0ddp+5, -0x1.cf76095511dffp+3, -0x1.35d05ea271f97p+4, -0x1.4298938faf0f9p+5, -0x1.e12e0db58b712p+1,
    -0x1.40e3e564e5b7p+5,  -0x1.b1440fe66a49p+5,  -0x1.7bf60023220bfp+3, -0x1.9fc8b399b906ap+3,
};

bool same_bits(double a, double b) noexcept { return std::memcmp(&a, &b, sizeof a) == 0; }

// Compares a vector exp of `width` lanes with std::exp on the telling arguments and on a spread
// over the whole fast range and both sides of its ends, either sign; then on runs of arguments
// that fall a little from lane to lane, as the slices' do, for the eight-lane copy's shared
// table lookup.
template <std::size_t width>
bool copy_matches_std_exp(void (*vector_exp)(const double*, double*)) noexcept {
    double x[width];
    double y[width];
    std::size_t filled = 0;
    bool same = true;
    const auto check = [&](double arg) {
        x[filled++] = arg;
        if (filled < width) return;
        vector_exp(x, y);
        for (std::size_t j = 0; j < width; ++j) same = same && same_bits(y[j], std::exp(x[j]));
        filled = 0;
    };
    for (const double t : telling_arguments) check(t);
    // The fractional parts of k times the golden ratio fill [0, 1) evenly.
    for (int k = 0; k < 2048; ++k) {
        const double unit = std::fmod(k * 0.6180339887498949, 1.0);
        const double t = k % 4 == 0 ? std::ldexp(unit, -60 + k % 70) : (unit - 0.75) * 700.0;
        check(k % 2 == 0 ? t : -t);
    }
    for (const double t : telling_arguments) {
        for (std::size_t j = 0; j < width; ++j) check(t - static_cast<double>(j) * 0x1p-9);
    }
    return same;
}

}  // namespace

bool vector_exp_available() noexcept {
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && copy_matches_std_exp<4>(vector_exp4);
    }();
    return available;
}

bool vector_exp8_available() noexcept {
    static const bool available = [] {
        __builtin_cpu_init();
        return vector_exp_available() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl") && copy_matches_std_exp<8>(vector_exp8);
    }();
    return available;
}

PELMORA_TARGET_AVX2 void vector_exp4(const double* x, double* y) noexcept {
    _mm256_storeu_pd(y, exp4_any(_mm256_loadu_pd(x)));
}

PELMORA_TARGET_AVX512 void vector_exp8(const double* x, double* y) noexcept {
    _mm512_storeu_pd(y, exp8_any(_mm512_loadu_pd(x)));
}

#else  // no vector copy of this platform's exp

bool vector_exp_available() noexcept { return false; }
bool vector_exp8_available() noexcept { return false; }
void vector_exp4(const double* x, double* y) noexcept {
    for (int j = 0; j < 4; ++j) y[j] = std::exp(x[j]);
}
void vector_exp8(const double* x, double* y) noexcept {
    for (int j = 0; j < 8; ++j) y[j] = std::exp(x[j]);
}

#endif

}  // namespace pelmora::calc::detail
