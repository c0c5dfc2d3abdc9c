#include "slices.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <type_traits>

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

// The slice numbers 1 to max_slices as doubles, loaded rather than counted (i = i + 1 gives the
// same whole numbers).
struct SliceNumbers {
    alignas(64) double i[max_slices];
};
inline constexpr SliceNumbers slice_numbers = [] {
    SliceNumbers n{};
    for (std::size_t k = 0; k < max_slices; ++k) n.i[k] = static_cast<double>(k + 1);
    return n;
}();

// The areas of the slices numbered i (1, 2, ...) in each lane, with the operations of areas_one:
// -m * m / 2 as (-m * m) * 0.5, which rounds the same as the division by 2. Where every argument
// lies in exp's fast range (`fast`), m * m is a normal number and so is its half, which is then
// exact: taking one off the exponent field halves it, and exp4<true> negates it inside.
template <bool fast>
PELMORA_TARGET_AVX2 inline __m256d areas4(__m256d i, __m256d h, __m256d half) noexcept {
    const __m256d m = _mm256_sub_pd(_mm256_mul_pd(i, h), half);
    __m256d e;
    if constexpr (fast) {
        const __m256i mm = _mm256_castpd_si256(_mm256_mul_pd(m, m));
        e = glibc_exp::exp4<true>(_mm256_castsi256_pd(_mm256_sub_epi64(mm, _mm256_set1_epi64x(1LL << 52))));
    } else {
        const __m256d neg_m = _mm256_xor_pd(m, _mm256_set1_pd(-0.0));
        e = exp4_any(_mm256_mul_pd(_mm256_mul_pd(neg_m, m), _mm256_set1_pd(0.5)));
    }
    return _mm256_mul_pd(_mm256_div_pd(e, _mm256_set1_pd(2.506628)), h);
}

// True when, in every lane, the arguments of slices `first` to `last` all lie in exp's fast
// range (as in_fast_range8 below).
PELMORA_TARGET_AVX2 inline __m256d magnitude4(double i, __m256d h, __m256d half) noexcept {
    const __m256d m = _mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(i), h), half);
    return _mm256_mul_pd(_mm256_mul_pd(m, m), _mm256_set1_pd(0.5));
}
PELMORA_TARGET_AVX2 inline bool in_fast_range4(__m256d h, __m256d half, double first, double last) noexcept {
    const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(magnitude4(first, h, half), _mm256_set1_pd(0x1p-54), _CMP_GE_OQ),
                                         _mm256_cmp_pd(magnitude4(last, h, half), _mm256_set1_pd(512.0), _CMP_LT_OQ));
    return _mm256_movemask_pd(inside) == 0xF;
}

// The areas of the slices numbered i in each lane, as areas4 forms them. Where every argument
// lies in exp's fast range (`fast`), m * m is a normal number and so is its half, which is then
// exact: taking one off the exponent field halves it, and exp8<true> negates it inside.
template <bool fast>
PELMORA_TARGET_AVX512 inline __m512d areas8(__m512d i, __m512d h, __m512d half) noexcept {
    const __m512d m = _mm512_sub_pd(_mm512_mul_pd(i, h), half);
    __m512d e;
    if constexpr (fast) {
        const __m512i mm = _mm512_castpd_si512(_mm512_mul_pd(m, m));
        e = glibc_exp::exp8<true>(_mm512_castsi512_pd(_mm512_sub_epi64(mm, _mm512_set1_epi64(1LL << 52))));
    } else {
        const __m512d neg_m = _mm512_xor_pd(m, _mm512_set1_pd(-0.0));
        e = exp8_any(_mm512_mul_pd(_mm512_mul_pd(neg_m, m), _mm512_set1_pd(0.5)));
    }
    return _mm512_mul_pd(_mm512_div_pd(e, _mm512_set1_pd(2.506628)), h);
}

// True when, in every lane, the arguments of slices `first` to `last` all lie in exp's fast
// range. Their magnitudes m * m / 2 grow with the slice number (i * h, m and its square are
// rounded monotone functions of i), so the first slice and the last tell.
PELMORA_TARGET_AVX512 inline __m512d magnitude8(double i, __m512d h, __m512d half) noexcept {
    const __m512d m = _mm512_sub_pd(_mm512_mul_pd(_mm512_set1_pd(i), h), half);
    return _mm512_mul_pd(_mm512_mul_pd(m, m), _mm512_set1_pd(0.5));
}
PELMORA_TARGET_AVX512 inline bool in_fast_range8(__m512d h, __m512d half, double first, double last) noexcept {
    return (_mm512_cmp_pd_mask(magnitude8(first, h, half), _mm512_set1_pd(0x1p-54), _CMP_GE_OQ) &
            _mm512_cmp_pd_mask(magnitude8(last, h, half), _mm512_set1_pd(512.0), _CMP_LT_OQ)) == 0xFF;
}

// The number of slices formed for n: whole vectors of eight.
constexpr std::size_t whole_eights(std::size_t n) noexcept { return (n + 7) / 8 * 8; }

template <bool fast>
PELMORA_TARGET_AVX2 void areas_four(double h, std::size_t n, double* area) noexcept {
    const __m256d hv = _mm256_set1_pd(h);
    const __m256d half = _mm256_set1_pd(h / 2.0);
    for (std::size_t k = 0; k < n; k += 4) {
        _mm256_storeu_pd(area + k, areas4<fast>(_mm256_load_pd(slice_numbers.i + k), hv, half));
    }
}

PELMORA_TARGET_AVX2 void areas_four(double h, std::size_t n, double* area) noexcept {
    const __m256d hv = _mm256_set1_pd(h);
    if (n > 0 && in_fast_range4(hv, _mm256_set1_pd(h / 2.0), 1.0, static_cast<double>((n + 3) / 4 * 4))) {
        return areas_four<true>(h, n, area);
    }
    areas_four<false>(h, n, area);
}

template <bool fast>
PELMORA_TARGET_AVX512 void areas_eight(double h, std::size_t n, double* area) noexcept {
    const __m512d hv = _mm512_set1_pd(h);
    const __m512d half = _mm512_set1_pd(h / 2.0);
    for (std::size_t k = 0; k < n; k += 8) {
        _mm512_storeu_pd(area + k, areas8<fast>(_mm512_load_pd(slice_numbers.i + k), hv, half));
    }
}

PELMORA_TARGET_AVX512 void areas_eight(double h, std::size_t n, double* area) noexcept {
    const __m512d hv = _mm512_set1_pd(h);
    if (n > 0 && in_fast_range8(hv, _mm512_set1_pd(h / 2.0), 1.0, static_cast<double>(whole_eights(n)))) {
        return areas_eight<true>(h, n, area);
    }
    areas_eight<false>(h, n, area);
}

// One integral: each group's areas are formed and then added one by one. The additions wait
// for each other, the groups' areas do not, so the CPU forms the next groups while it adds.
template <bool fast>
PELMORA_TARGET_AVX2 double sum_four(double h, std::size_t n) noexcept {
    const __m256d hv = _mm256_set1_pd(h);
    const __m256d half = _mm256_set1_pd(h / 2.0);
    alignas(32) double area[4];
    double s = 0;
    for (std::size_t k = 0; k < n; k += 4) {
        _mm256_store_pd(area, areas4<fast>(_mm256_load_pd(slice_numbers.i + k), hv, half));
        const std::size_t count = std::min<std::size_t>(4, n - k);
        for (std::size_t j = 0; j < count; ++j) s = area[j] + s;
    }
    return s;
}

PELMORA_TARGET_AVX2 double sum_four(double h, std::size_t n) noexcept {
    if (n > 0 &&
        in_fast_range4(_mm256_set1_pd(h), _mm256_set1_pd(h / 2.0), 1.0, static_cast<double>((n + 3) / 4 * 4))) {
        return sum_four<true>(h, n);
    }
    return sum_four<false>(h, n);
}

// Forms the areas of the next `count` slices (rounded up to whole vectors) into `area`.
template <bool fast>
PELMORA_TARGET_AVX512 inline void form_eight(double* area, std::size_t count, std::size_t& formed, __m512d h,
                                             __m512d half) noexcept {
    for (std::size_t k = 0; k < count; k += 8) {
        _mm512_store_pd(area + k, areas8<fast>(_mm512_load_pd(slice_numbers.i + formed + k), h, half));
    }
    formed += count;
}

// The areas are formed a chunk of 64 slices ahead of the sum, the forming of the next chunk
// interleaved with the additions of this one: the additions then read areas that were stored
// long before, and the vector work fills the time each addition waits for the one before.
template <bool fast>
PELMORA_TARGET_AVX512 double sum_eight(double h, std::size_t n) noexcept {
    constexpr std::size_t chunk = 64;
    const __m512d hv = _mm512_set1_pd(h);
    const __m512d half = _mm512_set1_pd(h / 2.0);
    alignas(64) double area[2][chunk];
    std::size_t formed = 0;
    form_eight<fast>(area[0], std::min(chunk, n), formed, hv, half);
    std::size_t summed = 0;
    double s = 0;
    for (std::size_t cur = 0; summed < n; cur ^= 1) {
        const double* a = area[cur];
        double* next_area = area[cur ^ 1];
        const std::size_t count = formed - summed;
        const std::size_t next = std::min(chunk, n - formed);
        summed = formed;
        if (count == chunk && next == chunk) {
            for (std::size_t k = 0; k < chunk; k += 8) {
                _mm512_store_pd(next_area + k, areas8<fast>(_mm512_load_pd(slice_numbers.i + formed + k), hv, half));
                for (std::size_t j = k; j < k + 8; ++j) s = a[j] + s;
            }
            formed += chunk;
        } else {
            form_eight<fast>(next_area, next, formed, hv, half);
            for (std::size_t j = 0; j < count; ++j) s = a[j] + s;
        }
    }
    return s;
}

PELMORA_TARGET_AVX512 double sum_eight(double h, std::size_t n) noexcept {
    if (n > 0 &&
        in_fast_range8(_mm512_set1_pd(h), _mm512_set1_pd(h / 2.0), 1.0, static_cast<double>(whole_eights(n)))) {
        return sum_eight<true>(h, n);
    }
    return sum_eight<false>(h, n);
}

// Four integrals, lane j on integral j's slice k.
template <bool fast>
PELMORA_TARGET_AVX2 void sums_four(__m256d h, __m256d half, std::size_t n, double* sum) noexcept {
    __m256d s = _mm256_setzero_pd();
    for (std::size_t k = 0; k < n; ++k) s = _mm256_add_pd(areas4<fast>(_mm256_set1_pd(slice_numbers.i[k]), h, half), s);
    _mm256_storeu_pd(sum, s);
}

PELMORA_TARGET_AVX2 void sums_four(const double* h, std::size_t n, double* sum) noexcept {
    const __m256d hv = _mm256_loadu_pd(h);
    const __m256d half = _mm256_div_pd(hv, _mm256_set1_pd(2.0));
    if (n > 0 && in_fast_range4(hv, half, 1.0, static_cast<double>(n))) return sums_four<true>(hv, half, n, sum);
    sums_four<false>(hv, half, n, sum);
}

// Eight integrals, lane j on integral j's slice k, as four are summed. The exp's table lookup is
// shared across the lanes where their arguments lie close, which is where the steps are close:
// integrals sorted by step and taken eight at a time mostly are.
template <bool fast>
PELMORA_TARGET_AVX512 void sums_eight(__m512d h, __m512d half, std::size_t n, double* sum) noexcept {
    __m512d s = _mm512_setzero_pd();
    for (std::size_t k = 0; k < n; ++k) s = _mm512_add_pd(areas8<fast>(_mm512_set1_pd(slice_numbers.i[k]), h, half), s);
    _mm512_storeu_pd(sum, s);
}

PELMORA_TARGET_AVX512 void sums_eight(const double* h, std::size_t n, double* sum) noexcept {
    const __m512d hv = _mm512_loadu_pd(h);
    const __m512d half = _mm512_div_pd(hv, _mm512_set1_pd(2.0));
    if (n > 0 && in_fast_range8(hv, half, 1.0, static_cast<double>(n))) return sums_eight<true>(hv, half, n, sum);
    sums_eight<false>(hv, half, n, sum);
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

// The copies of exp the slices can use (wasm_exp.hpp).
enum class Copy : std::uint8_t { at_end, fused };

template <Copy copy, bool in_range = false>
[[gnu::always_inline]] inline v128_t exp2_by(const Constants& k, v128_t x) noexcept {
#ifdef PELMORA_WASM_RELAXED_EXP
    if constexpr (copy == Copy::fused) return wasm_exp::exp2_fused<in_range>(k, x);
#endif
    return wasm_exp::exp2_at_end<in_range>(k, x);
}

// The arguments of exp for slices i in each lane, with the operations of areas_one: -m * m / 2
// as (m * m) * -0.5, which rounds the same.
inline v128_t exp_arguments2(const Constants& k, v128_t i, v128_t h, v128_t half) noexcept {
    const v128_t m = wasm_f64x2_sub(wasm_f64x2_mul(i, h), half);
    return wasm_f64x2_mul(wasm_f64x2_mul(m, m), k.minus_half);
}

// The areas of slices i in each lane, with the operations of areas_one.
template <Copy copy, bool in_range = false>
inline v128_t areas2(const Constants& k, v128_t i, v128_t h, v128_t half) noexcept {
    const v128_t e = exp2_by<copy, in_range>(k, exp_arguments2(k, i, h, half));
    return wasm_f64x2_mul(wasm_f64x2_div(e, wasm_f64x2_splat(2.506628)), h);
}

// True when, in both lanes, the arguments of slices 1 to n all lie in exp's fast range: their
// magnitudes grow with the slice number, so the first slice and the last tell.
inline bool in_fast_range2(const Constants& k, v128_t h, v128_t half, std::size_t n) noexcept {
    const v128_t first = wasm_f64x2_abs(exp_arguments2(k, wasm_f64x2_splat(1.0), h, half));
    const v128_t last = wasm_f64x2_abs(exp_arguments2(k, wasm_f64x2_splat(static_cast<double>(n)), h, half));
    return n > 0 && wasm_i32x4_all_true(wasm_v128_and(wasm_f64x2_ge(first, k.tiny), wasm_f64x2_lt(last, k.large)));
}

template <Copy copy>
void areas_two(double h, std::size_t n, double* area) noexcept {
    const Constants c = wasm_exp::constants();
    const v128_t hv = wasm_f64x2_splat(h);
    const v128_t half = wasm_f64x2_splat(h / 2.0);
    v128_t i = wasm_f64x2_make(1.0, 2.0);
    for (std::size_t k = 0; k < n; k += 2) {
        wasm_v128_store(area + k, areas2<copy>(c, i, hv, half));
        i = wasm_f64x2_add(i, wasm_f64x2_splat(2.0));
    }
}

template <Copy copy>
double sum_two(double h, std::size_t n) noexcept {
    const Constants c = wasm_exp::constants();
    const v128_t hv = wasm_f64x2_splat(h);
    const v128_t half = wasm_f64x2_splat(h / 2.0);
    v128_t i = wasm_f64x2_make(1.0, 2.0);
    double s = 0;
    for (std::size_t k = 0; k < n; k += 2) {
        const v128_t a = areas2<copy>(c, i, hv, half);
        s = wasm_f64x2_extract_lane(a, 0) + s;
        if (k + 1 < n) s = wasm_f64x2_extract_lane(a, 1) + s;
        i = wasm_f64x2_add(i, wasm_f64x2_splat(2.0));
    }
    return s;
}

// Two integrals, lane j on integral j's slice k.
template <Copy copy, bool in_range>
v128_t sums_two(const Constants& c, v128_t hv, v128_t half, std::size_t n) noexcept {
    v128_t i = wasm_f64x2_splat(0.0);
    v128_t s = wasm_f64x2_splat(0.0);
    for (std::size_t k = 0; k < n; ++k) {
        i = wasm_f64x2_add(i, wasm_f64x2_splat(1.0));
        s = wasm_f64x2_add(areas2<copy, in_range>(c, i, hv, half), s);
    }
    return s;
}

template <Copy copy>
void sums_two(const double* h, std::size_t n, double* sum) noexcept {
    const Constants c = wasm_exp::constants();
    const v128_t hv = wasm_f64x2_make(h[0], h[1]);
    const v128_t half = wasm_f64x2_div(hv, wasm_f64x2_splat(2.0));
    wasm_v128_store(sum, in_fast_range2(c, hv, half, n) ? sums_two<copy, true>(c, hv, half, n)
                                                        : sums_two<copy, false>(c, hv, half, n));
}

// A spread over exp's whole range and beyond its fast range's ends, either sign; a std::exp that
// does not fuse as glibc's FMA build does, or an engine whose relaxed multiply-add does not fuse,
// differs from the copy on a few of them.
template <Copy copy>
bool copy_matches_std_exp() noexcept {
    const Constants c = wasm_exp::constants();
    bool same = true;
    const auto check = [&](double x0, double x1) {
        double y[2];
        wasm_v128_store(y, exp2_by<copy>(c, wasm_f64x2_make(x0, x1)));
        same = same && __builtin_bit_cast(std::uint64_t, y[0]) == __builtin_bit_cast(std::uint64_t, std::exp(x0)) &&
               __builtin_bit_cast(std::uint64_t, y[1]) == __builtin_bit_cast(std::uint64_t, std::exp(x1));
    };
    for (int k = 0; k < 4096; ++k) {
        const double unit = std::fmod(k * 0.6180339887498949, 1.0);
        const double t = k % 4 == 0 ? std::ldexp(unit, -60 + k % 70) : (unit - 0.75) * 700.0;
        check(t, -t);
    }
    return same;
}

}  // namespace

v128_t wasm_exp::exp2_checked(const Constants& k, v128_t x) noexcept { return exp2(k, x); }

bool wasm_exp_fused() noexcept {
#ifdef PELMORA_WASM_RELAXED_EXP
    static const bool fused = copy_matches_std_exp<Copy::fused>();
    return fused;
#else
    return false;
#endif
}

bool wasm_exp_available() noexcept {
    static const bool available = wasm_exp_fused() || copy_matches_std_exp<Copy::at_end>();
    return available;
}

namespace {

// f(copy) with the copy of exp the slices use, as a constant (only at_end without relaxed SIMD).
template <class F>
decltype(auto) with_copy(F f) noexcept {
#ifdef PELMORA_WASM_RELAXED_EXP
    if (wasm_exp_fused()) return f(std::integral_constant<Copy, Copy::fused>{});
#endif
    return f(std::integral_constant<Copy, Copy::at_end>{});
}

}  // namespace

void wasm_exp2(const double* x, double* y) noexcept {
    const Constants c = wasm_exp::constants();
    const v128_t v = wasm_v128_load(x);
    wasm_v128_store(y, with_copy([&](auto copy) { return exp2_by<copy.value>(c, v); }));
}

void slice_areas(Lanes width, double h, std::size_t n, double* area) noexcept {
    if (width != Lanes::two) return areas_one(h, n, area);
    with_copy([&](auto copy) { areas_two<copy.value>(h, n, area); });
}
double slice_sum(Lanes width, double h, std::size_t n) noexcept {
    if (width != Lanes::two) return sum_one(h, n);
    return with_copy([&](auto copy) { return sum_two<copy.value>(h, n); });
}
void slice_sums(Lanes width, const double* h, std::size_t n, double* sum) noexcept {
    if (width != Lanes::two) return sums_one(h, static_cast<std::size_t>(width), n, sum);
    with_copy([&](auto copy) { sums_two<copy.value>(h, n, sum); });
}

#else  // no vector copy of this platform's exp: widest_lanes() is Lanes::one

void slice_areas(Lanes, double h, std::size_t n, double* area) noexcept { areas_one(h, n, area); }
double slice_sum(Lanes, double h, std::size_t n) noexcept { return sum_one(h, n); }
void slice_sums(Lanes width, const double* h, std::size_t n, double* sum) noexcept {
    sums_one(h, static_cast<std::size_t>(width), n, sum);
}

#endif

}  // namespace pelmora::calc::detail
