#include "slices.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "vector_exp.hpp"
#include "wasm_exp.hpp"

namespace pelmora::calc::detail {
namespace {

std::atomic<Lanes> lane_limit{Lanes::eight};

void areas_one(double h, std::size_t n, double* area) noexcept {
    const double half = h / 2.0;
    double i = 0;
    for (std::size_t k = 0; k < n; ++k) {
        i = i + 1.0;
        const double m = i * h - half;
        area[k] = (std::exp(-m * m / 2.0) / 2.506628) * h;
    }
}

double sum_one(double h, std::size_t n) noexcept {
    const double half = h / 2.0;
    double i = 0;
    double s = 0;
    for (std::size_t k = 0; k < n; ++k) {
        i = i + 1.0;
        const double m = i * h - half;
        s = (std::exp(-m * m / 2.0) / 2.506628) * h + s;
    }
    return s;
}

void sums_one(const double* h, std::size_t count, std::size_t n, double* sum) noexcept {
    for (std::size_t j = 0; j < count; ++j) sum[j] = sum_one(h[j], n);
}

}  // namespace

Lanes widest_lanes() noexcept {
#ifdef PELMORA_WASM_EXP
    static const Lanes widest = wasm_exp_available() ? Lanes::two : Lanes::one;
#else
    static const Lanes widest = vector_exp8_available()  ? Lanes::eight
                                : vector_exp_available() ? Lanes::four
                                                         : Lanes::one;
#endif
    return widest;
}

Lanes lanes() noexcept { return std::min(widest_lanes(), lane_limit.load(std::memory_order_relaxed)); }

void limit_lanes(Lanes most) noexcept { lane_limit.store(most, std::memory_order_relaxed); }

#ifdef PELMORA_VECTOR_EXP

namespace {

using glibc_exp::exp4_any;
using glibc_exp::exp8_any;

// The areas of the slices numbered i (1, 2, ...) in each lane, with the operations of areas_one:
// -m * m / 2 as (-m * m) * 0.5, which rounds the same as the division by 2.
PELMORA_TARGET_AVX2 inline __m256d areas4(__m256d i, __m256d h, __m256d half) noexcept {
    const __m256d m = _mm256_sub_pd(_mm256_mul_pd(i, h), half);
    const __m256d neg_m = _mm256_xor_pd(m, _mm256_set1_pd(-0.0));
    const __m256d e = exp4_any(_mm256_mul_pd(_mm256_mul_pd(neg_m, m), _mm256_set1_pd(0.5)));
    return _mm256_mul_pd(_mm256_div_pd(e, _mm256_set1_pd(2.506628)), h);
}

PELMORA_TARGET_AVX512 inline __m512d areas8(__m512d i, __m512d h, __m512d half) noexcept {
    const __m512d m = _mm512_sub_pd(_mm512_mul_pd(i, h), half);
    const __m512d neg_m = _mm512_xor_pd(m, _mm512_set1_pd(-0.0));
    const __m512d e = exp8_any(_mm512_mul_pd(_mm512_mul_pd(neg_m, m), _mm512_set1_pd(0.5)));
    return _mm512_mul_pd(_mm512_div_pd(e, _mm512_set1_pd(2.506628)), h);
}

PELMORA_TARGET_AVX2 void areas_four(double h, std::size_t n, double* area) noexcept {
    const __m256d hv = _mm256_set1_pd(h);
    const __m256d half = _mm256_set1_pd(h / 2.0);
    __m256d i = _mm256_setr_pd(1.0, 2.0, 3.0, 4.0);
    for (std::size_t k = 0; k < n; k += 4) {
        _mm256_storeu_pd(area + k, areas4(i, hv, half));
        i = _mm256_add_pd(i, _mm256_set1_pd(4.0));
    }
}

PELMORA_TARGET_AVX512 void areas_eight(double h, std::size_t n, double* area) noexcept {
    const __m512d hv = _mm512_set1_pd(h);
    const __m512d half = _mm512_set1_pd(h / 2.0);
    __m512d i = _mm512_setr_pd(1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0);
    for (std::size_t k = 0; k < n; k += 8) {
        _mm512_storeu_pd(area + k, areas8(i, hv, half));
        i = _mm512_add_pd(i, _mm512_set1_pd(8.0));
    }
}

// One integral: each group's areas are formed and then added one by one. The additions wait
// for each other, the groups' areas do not, so the CPU forms the next groups while it adds.
PELMORA_TARGET_AVX2 double sum_four(double h, std::size_t n) noexcept {
    const __m256d hv = _mm256_set1_pd(h);
    const __m256d half = _mm256_set1_pd(h / 2.0);
    __m256d i = _mm256_setr_pd(1.0, 2.0, 3.0, 4.0);
    alignas(32) double area[4];
    double s = 0;
    for (std::size_t k = 0; k < n; k += 4) {
        _mm256_store_pd(area, areas4(i, hv, half));
        const std::size_t count = std::min<std::size_t>(4, n - k);
        for (std::size_t j = 0; j < count; ++j) s = area[j] + s;
        i = _mm256_add_pd(i, _mm256_set1_pd(4.0));
    }
    return s;
}

// Forms the areas of the next `count` slices (rounded up to whole vectors) into `area`.
PELMORA_TARGET_AVX512 inline void form_eight(double* area, std::size_t count, __m512d& i, __m512d h,
                                             __m512d half) noexcept {
    for (std::size_t k = 0; k < count; k += 8) {
        _mm512_store_pd(area + k, areas8(i, h, half));
        i = _mm512_add_pd(i, _mm512_set1_pd(8.0));
    }
}

// The areas are formed a chunk of 64 slices ahead of the sum, the forming of the next chunk
// interleaved with the additions of this one: the additions then read areas that were stored
// long before, and the vector work fills the time each addition waits for the one before.
PELMORA_TARGET_AVX512 double sum_eight(double h, std::size_t n) noexcept {
    constexpr std::size_t chunk = 64;
    const __m512d hv = _mm512_set1_pd(h);
    const __m512d half = _mm512_set1_pd(h / 2.0);
    __m512d i = _mm512_setr_pd(1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0);
    alignas(64) double area[2][chunk];
    std::size_t formed = std::min(chunk, n);
    form_eight(area[0], formed, i, hv, half);
    std::size_t summed = 0;
    double s = 0;
    for (std::size_t cur = 0; summed < n; cur ^= 1) {
        const double* a = area[cur];
        double* next_area = area[cur ^ 1];
        const std::size_t count = formed - summed;
        const std::size_t next = std::min(chunk, n - formed);
        if (count == chunk && next == chunk) {
            for (std::size_t k = 0; k < chunk; k += 8) {
                _mm512_store_pd(next_area + k, areas8(i, hv, half));
                i = _mm512_add_pd(i, _mm512_set1_pd(8.0));
                for (std::size_t j = k; j < k + 8; ++j) s = a[j] + s;
            }
        } else {
            form_eight(next_area, next, i, hv, half);
            for (std::size_t j = 0; j < count; ++j) s = a[j] + s;
        }
        summed = formed;
        formed += next;
    }
    return s;
}

// Four integrals, lane j on integral j's slice k.
PELMORA_TARGET_AVX2 void sums_four(const double* h, std::size_t n, double* sum) noexcept {
    const __m256d hv = _mm256_loadu_pd(h);
    const __m256d half = _mm256_div_pd(hv, _mm256_set1_pd(2.0));
    __m256d i = _mm256_setzero_pd();
    __m256d s = _mm256_setzero_pd();
    for (std::size_t k = 0; k < n; ++k) {
        i = _mm256_add_pd(i, _mm256_set1_pd(1.0));
        s = _mm256_add_pd(areas4(i, hv, half), s);
    }
    _mm256_storeu_pd(sum, s);
}

// Row j of the eight vectors becomes lane j of each: v[k][j] = before[j][k].
PELMORA_TARGET_AVX512 inline void transpose8(__m512d* v) noexcept {
    __m512d t[8];
    for (int j = 0; j < 8; j += 2) {
        t[j] = _mm512_unpacklo_pd(v[j], v[j + 1]);      // a0 b0 a2 b2 a4 b4 a6 b6
        t[j + 1] = _mm512_unpackhi_pd(v[j], v[j + 1]);  // a1 b1 a3 b3 a5 b5 a7 b7
    }
    __m512d u[8];
    for (int j = 0; j < 8; j += 4) {
        u[j] = _mm512_shuffle_f64x2(t[j], t[j + 2], 0x88);      // a0 b0 a4 b4 c0 d0 c4 d4
        u[j + 1] = _mm512_shuffle_f64x2(t[j], t[j + 2], 0xdd);  // a2 b2 a6 b6 c2 d2 c6 d6
        u[j + 2] = _mm512_shuffle_f64x2(t[j + 1], t[j + 3], 0x88);
        u[j + 3] = _mm512_shuffle_f64x2(t[j + 1], t[j + 3], 0xdd);
    }
    v[0] = _mm512_shuffle_f64x2(u[0], u[4], 0x88);
    v[4] = _mm512_shuffle_f64x2(u[0], u[4], 0xdd);
    v[2] = _mm512_shuffle_f64x2(u[1], u[5], 0x88);
    v[6] = _mm512_shuffle_f64x2(u[1], u[5], 0xdd);
    v[1] = _mm512_shuffle_f64x2(u[2], u[6], 0x88);
    v[5] = _mm512_shuffle_f64x2(u[2], u[6], 0xdd);
    v[3] = _mm512_shuffle_f64x2(u[3], u[7], 0x88);
    v[7] = _mm512_shuffle_f64x2(u[3], u[7], 0xdd);
}

// Eight integrals. Each integral's areas are formed eight slices at a time, as for one integral
// (neighbouring slices share the exp's table lookup), then turned so that lane j holds integral
// j's slice, and added slice by slice.
PELMORA_TARGET_AVX512 void sums_eight(const double* h, std::size_t n, double* sum) noexcept {
    __m512d hv[8];
    __m512d half[8];
    for (std::size_t j = 0; j < 8; ++j) {
        hv[j] = _mm512_set1_pd(h[j]);
        half[j] = _mm512_set1_pd(h[j] / 2.0);
    }
    __m512d i = _mm512_setr_pd(1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0);
    __m512d s = _mm512_setzero_pd();
    for (std::size_t k = 0; k < n; k += 8) {
        __m512d v[8];
        for (std::size_t j = 0; j < 8; ++j) v[j] = areas8(i, hv[j], half[j]);
        transpose8(v);
        const std::size_t count = std::min<std::size_t>(8, n - k);
        for (std::size_t j = 0; j < count; ++j) s = _mm512_add_pd(v[j], s);
        i = _mm512_add_pd(i, _mm512_set1_pd(8.0));
    }
    _mm512_storeu_pd(sum, s);
}

}  // namespace

void slice_areas(Lanes width, double h, std::size_t n, double* area) noexcept {
    switch (width) {
    case Lanes::eight: return areas_eight(h, n, area);
    case Lanes::four: return areas_four(h, n, area);
    case Lanes::two:
    case Lanes::one: break;
    }
    areas_one(h, n, area);
}

double slice_sum(Lanes width, double h, std::size_t n) noexcept {
    switch (width) {
    case Lanes::eight: return sum_eight(h, n);
    case Lanes::four: return sum_four(h, n);
    case Lanes::two:
    case Lanes::one: break;
    }
    return sum_one(h, n);
}

void slice_sums(Lanes width, const double* h, std::size_t n, double* sum) noexcept {
    switch (width) {
    case Lanes::eight: return sums_eight(h, n, sum);
    case Lanes::four: return sums_four(h, n, sum);
    case Lanes::two:
    case Lanes::one: break;
    }
    sums_one(h, 1, n, sum);
}

#elif defined(PELMORA_WASM_EXP)

namespace {

using wasm_exp::Constants;
using wasm_exp::exp2;

// The areas of slices i in each lane, with the operations of areas_one.
inline v128_t areas2(const Constants& k, v128_t i, v128_t h, v128_t half) noexcept {
    const v128_t m = wasm_f64x2_sub(wasm_f64x2_mul(i, h), half);
    const v128_t e = exp2(k, wasm_f64x2_mul(wasm_f64x2_mul(wasm_f64x2_neg(m), m), k.half));
    return wasm_f64x2_mul(wasm_f64x2_div(e, wasm_f64x2_splat(2.506628)), h);
}

void areas_two(double h, std::size_t n, double* area) noexcept {
    const Constants c = wasm_exp::constants();
    const v128_t hv = wasm_f64x2_splat(h);
    const v128_t half = wasm_f64x2_splat(h / 2.0);
    v128_t i = wasm_f64x2_make(1.0, 2.0);
    for (std::size_t k = 0; k < n; k += 2) {
        wasm_v128_store(area + k, areas2(c, i, hv, half));
        i = wasm_f64x2_add(i, wasm_f64x2_splat(2.0));
    }
}

double sum_two(double h, std::size_t n) noexcept {
    const Constants c = wasm_exp::constants();
    const v128_t hv = wasm_f64x2_splat(h);
    const v128_t half = wasm_f64x2_splat(h / 2.0);
    v128_t i = wasm_f64x2_make(1.0, 2.0);
    double s = 0;
    for (std::size_t k = 0; k < n; k += 2) {
        const v128_t a = areas2(c, i, hv, half);
        s = wasm_f64x2_extract_lane(a, 0) + s;
        if (k + 1 < n) s = wasm_f64x2_extract_lane(a, 1) + s;
        i = wasm_f64x2_add(i, wasm_f64x2_splat(2.0));
    }
    return s;
}

// Two integrals, lane j on integral j's slice k.
void sums_two(const double* h, std::size_t n, double* sum) noexcept {
    const Constants c = wasm_exp::constants();
    const v128_t hv = wasm_f64x2_make(h[0], h[1]);
    const v128_t half = wasm_f64x2_div(hv, wasm_f64x2_splat(2.0));
    v128_t i = wasm_f64x2_splat(0.0);
    v128_t s = wasm_f64x2_splat(0.0);
    for (std::size_t k = 0; k < n; ++k) {
        i = wasm_f64x2_add(i, wasm_f64x2_splat(1.0));
        s = wasm_f64x2_add(areas2(c, i, hv, half), s);
    }
    wasm_v128_store(sum, s);
}

// A spread over exp's whole range and beyond its fast range's ends, either sign; a std::exp that
// does not fuse as glibc's FMA build does differs from the copy on a few of them.
bool copy_matches_std_exp() noexcept {
    bool same = true;
    const auto check = [&same](double x0, double x1) {
        const double x[2] = {x0, x1};
        double y[2];
        wasm_exp2(x, y);
        for (int j = 0; j < 2; ++j) {
            same = same && __builtin_bit_cast(std::uint64_t, y[j]) == __builtin_bit_cast(std::uint64_t, std::exp(x[j]));
        }
    };
    for (int k = 0; k < 4096; ++k) {
        const double unit = std::fmod(k * 0.6180339887498949, 1.0);
        const double t = k % 4 == 0 ? std::ldexp(unit, -60 + k % 70) : (unit - 0.75) * 700.0;
        check(t, -t);
    }
    return same;
}

}  // namespace

bool wasm_exp_available() noexcept {
    static const bool available = copy_matches_std_exp();
    return available;
}

void wasm_exp2(const double* x, double* y) noexcept {
    wasm_v128_store(y, exp2(wasm_exp::constants(), wasm_v128_load(x)));
}

void slice_areas(Lanes width, double h, std::size_t n, double* area) noexcept {
    if (width == Lanes::two) return areas_two(h, n, area);
    areas_one(h, n, area);
}
double slice_sum(Lanes width, double h, std::size_t n) noexcept {
    return width == Lanes::two ? sum_two(h, n) : sum_one(h, n);
}
void slice_sums(Lanes width, const double* h, std::size_t n, double* sum) noexcept {
    if (width == Lanes::two) return sums_two(h, n, sum);
    sums_one(h, static_cast<std::size_t>(width), n, sum);
}

#else  // no vector copy of this platform's exp: widest_lanes() is Lanes::one

void slice_areas(Lanes, double h, std::size_t n, double* area) noexcept { areas_one(h, n, area); }
double slice_sum(Lanes, double h, std::size_t n) noexcept { return sum_one(h, n); }
void slice_sums(Lanes width, const double* h, std::size_t n, double* sum) noexcept {
    sums_one(h, static_cast<std::size_t>(width), n, sum);
}

#endif

}  // namespace pelmora::calc::detail
