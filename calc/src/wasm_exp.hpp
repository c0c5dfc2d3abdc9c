#pragma once
// Two exps at once in WebAssembly SIMD (128 bits), giving the bits of the module's std::exp.
//
// The WebAssembly build's std::exp is glibc's algorithm fused as glibc's FMA build fuses it
// (web/src/glibc_exp.cpp). Three copies give its bits:
// - exp2_fused, where the engine has relaxed SIMD and its f64x2.relaxed_madd fuses (the module
//   built with -mrelaxed-simd, and a check at first use): the same fused steps, nothing to check;
// - exp2_at_end, the copy used without it: every step unfused, and one check at the end that the
//   fused steps could not have rounded the result otherwise;
// - exp2, the same unfused steps checked one at a time, for the pairs exp2_at_end cannot vouch
//   for. Each fused step a * b + c is formed unfused, round(round(a * b) + c), and the exact
//   residual of the addition (TwoSum) shows whether the product's own rounding, at most 2^-53 of
//   it, could have moved the sum across a rounding boundary; where it could not, the unfused sum
//   is the fused one. A lane where some step is not vouched for (about one argument in a
//   hundred), or whose argument lies outside 2^-54 <= |x| < 512, takes std::exp alone: the bits
//   are std::exp's in every case. Each step's check is as small as its operands allow: where the
//   addend always dominates the product, its residual takes two operations, not five
//   (Fast2Sum), and where the product is bounded, its rounding is bounded by a constant.
// wasm_exp_available() confirms once that the copy the slices use and the std::exp linked agree.

#if defined(__wasm_simd128__)
#define PELMORA_WASM_EXP 1

#include <wasm_simd128.h>

#include <cmath>
#include <cstdint>

namespace pelmora::calc::detail {

/// True when the two-lane copy gives the linked std::exp's bits on a spread of arguments.
bool wasm_exp_available() noexcept;

/// True when the slices use exp2_fused: the module has relaxed SIMD and the engine's
/// multiply-add passed the first-use check.
bool wasm_exp_fused() noexcept;

/// The two-lane exp the slices use, of x[0], x[1], for the first-use check and the tests.
void wasm_exp2(const double* x, double* y) noexcept;

namespace wasm_exp {

// The C library's table and constants of exp (musl's src/math/exp_data.h, from Arm's Optimized
// Routines), the ones glibc's exp has.
struct Data {
    double inv_ln2_n;
    double shift;
    double neg_ln2_hi_n;
    double neg_ln2_lo_n;
    double poly[4];
    double exp2_shift;
    double exp2_poly[5];
    std::uint64_t tab[2 * 128];
};
extern "C" const Data __exp_data;

// The constants as vectors. They are read once per loop from volatile storage, so that the
// compiler keeps them in locals instead of rebuilding each one at every use (a v128.const costs
// the engine several instructions).
struct Constants {
    v128_t exponent_mask, below_one, half_ulp, minus_half, tiny, large;
    v128_t inv_ln2_n, shift, neg_ln2_hi_n, neg_ln2_lo_n, c2, c3, c4, c5;
    v128_t kd_room, r_error, a_error, c_room, tmp_error, tmp_room;
};

inline Constants constants() noexcept {
    static volatile std::uint64_t mask = 0x7ff0000000000000u;
    static volatile double numbers[11] = {0x1.fffffffffffffp-1, 0x1p-53, -0.5,    0x1p-54,           512.0,   0.5 - 0x1p-36,
                                          0x1p-81,              0x1p-64, 0x1p-58 - 0x1p-68, 0x1p-90, 0x1.4p-59};
    const Data& d = __exp_data;
    const auto f = [](double v) { return wasm_f64x2_splat(v); };
    return {wasm_i64x2_splat(static_cast<std::int64_t>(mask)),
            f(numbers[0]),
            f(numbers[1]),
            f(numbers[2]),
            f(numbers[3]),
            f(numbers[4]),
            f(d.inv_ln2_n),
            f(d.shift),
            f(d.neg_ln2_hi_n),
            f(d.neg_ln2_lo_n),
            f(d.poly[0]),
            f(d.poly[1]),
            f(d.poly[2]),
            f(d.poly[3]),
            f(numbers[5]),
            f(numbers[6]),
            f(numbers[7]),
            f(numbers[8]),
            f(numbers[9]),
            f(numbers[10])};
}

// Each fused step a * b + c below is formed unfused: p = round(a * b), s = round(p + c), and
// t = p + c - s exactly (TwoSum; Fast2Sum, two operations, where |c| >= |p| always). The fused
// result is round(s + t + e) with e = a * b - p, |e| <= 2^-53 |p|, which is s when |t| + |e| is
// below half the gap from s to its nearer neighbour. `sure` keeps the lanes where that holds.
// The bounds on |p| and on the sums' size come from the fast range 2^-54 <= |x| < 512 and from
// |r| <= 0.00271 (ln2/256 and a little), which hold in every lane that is still sure.

// Half the gap from s to its nearer neighbour, or less: the exponent of round(|s| (1 - 2^-53)),
// which is s's own, but the one below when s is a power of two, times 2^-53. Zero and subnormal
// sums give 0 (never sure); an infinite or NaN sum makes t NaN (never sure).
[[gnu::always_inline]] inline v128_t half_gap(const Constants& k, v128_t s) noexcept {
    return wasm_f64x2_mul(wasm_v128_and(wasm_f64x2_mul(s, k.below_one), k.exponent_mask), k.half_ulp);
}

[[gnu::always_inline]] inline v128_t two_sum_error(v128_t p, v128_t c, v128_t s) noexcept {
    const v128_t bv = wasm_f64x2_sub(s, p);
    return wasm_f64x2_add(wasm_f64x2_sub(p, wasm_f64x2_sub(s, bv)), wasm_f64x2_sub(c, bv));
}

// round(a * b + c) for any sizes, e bounded by |p| 2^-53.
[[gnu::always_inline]] inline v128_t fused(const Constants& k, v128_t a, v128_t b, v128_t c, v128_t& sure) noexcept {
    const v128_t p = wasm_f64x2_mul(a, b);
    const v128_t s = wasm_f64x2_add(p, c);
    const v128_t t = two_sum_error(p, c, s);
    const v128_t bound = wasm_f64x2_add(wasm_f64x2_abs(t), wasm_f64x2_mul(wasm_f64x2_abs(p), k.half_ulp));
    sure = wasm_v128_and(sure, wasm_f64x2_lt(bound, half_gap(k, s)));
    return s;
}

// The same with |e| at most `error` in every sure lane, t formed by Fast2Sum, exact when
// |c| >= |p|. Where c may be the smaller, `error` is also at least 2^-52 times the bound on |p|:
// then |s| < 2 |p| and half s's gap is below `error`, so such a lane is never sure.
[[gnu::always_inline]] inline v128_t fused_within(const Constants& k, v128_t a, v128_t b, v128_t c, v128_t error,
                                                  v128_t& sure) noexcept {
    const v128_t p = wasm_f64x2_mul(a, b);
    const v128_t s = wasm_f64x2_add(p, c);
    const v128_t t = wasm_f64x2_sub(p, wasm_f64x2_sub(s, c));
    sure = wasm_v128_and(sure, wasm_f64x2_lt(wasm_f64x2_add(wasm_f64x2_abs(t), error), half_gap(k, s)));
    return s;
}

// The table's entries for ki's low seven bits in each lane: tail, and scale with ki's high bits
// added to its exponent. Each entry is a pair (tail, scale).
[[gnu::always_inline]] inline void look_up(v128_t ki, v128_t& tail, v128_t& scale) noexcept {
    const std::uint64_t* tab = __exp_data.tab;
    const v128_t pair0 = wasm_v128_load(tab + 2 * (static_cast<std::uint64_t>(wasm_i64x2_extract_lane(ki, 0)) % 128));
    const v128_t pair1 = wasm_v128_load(tab + 2 * (static_cast<std::uint64_t>(wasm_i64x2_extract_lane(ki, 1)) % 128));
    tail = wasm_i64x2_shuffle(pair0, pair1, 0, 2);
    scale = wasm_i64x2_add(wasm_i64x2_shuffle(pair0, pair1, 1, 3), wasm_i64x2_shl(ki, 45));
}

// The lanes in exp's fast range 2^-54 <= |x| < 512 (all of them where the caller knows it).
template <bool in_range>
[[gnu::always_inline]] inline v128_t in_fast_range(const Constants& k, v128_t x) noexcept {
    if constexpr (in_range) return wasm_i64x2_splat(-1);
    const v128_t mag = wasm_f64x2_abs(x);
    return wasm_v128_and(wasm_f64x2_ge(mag, k.tiny), wasm_f64x2_lt(mag, k.large));
}

// kd = round(x InvLn2N + Shift) - Shift unfused, and ki its sum's bits, clearing `sure` where the
// fused sum could round otherwise: |p| < 2^17, so |e| <= 2^-36, and the sum lies in [2^52, 2^53),
// whose gaps are 1; s - Shift is exact and is the kd wanted next.
[[gnu::always_inline]] inline v128_t unfused_kd(const Constants& k, v128_t x, v128_t& ki, v128_t& sure) noexcept {
    const v128_t p = wasm_f64x2_mul(x, k.inv_ln2_n);
    ki = wasm_f64x2_add(p, k.shift);
    const v128_t kd = wasm_f64x2_sub(ki, k.shift);
    sure = wasm_v128_and(sure, wasm_f64x2_lt(wasm_f64x2_abs(wasm_f64x2_sub(p, kd)), k.kd_room));
    return kd;
}

// Two exps; lanes the unfused evaluation cannot vouch for, or outside the fast range, are
// std::exp's. `in_range`: the caller knows that both arguments lie in the fast range.
template <bool in_range = false>
[[gnu::always_inline]] inline v128_t exp2(const Constants& k, v128_t x) noexcept {
    v128_t sure = in_fast_range<in_range>(k, x);
    v128_t ki;
    const v128_t kd = unfused_kd(k, x, ki, sure);
    // The high part of ln2/128 ends in zero bits: kd times it is exact, fusing changes nothing.
    // |kd| <= 94548, so |kd NegLn2loN| < 1.22e-9, |e| < 2^-82 and 2^-52 |p| < 2^-81.
    v128_t r = wasm_f64x2_add(wasm_f64x2_mul(kd, k.neg_ln2_hi_n), x);
    r = fused_within(k, kd, k.neg_ln2_lo_n, r, k.r_error, sure);
    v128_t tail, scale;
    look_up(ki, tail, scale);
    // C2 + r C3: |r C3| < 4.52e-4, |e| < 2^-64.
    const v128_t a = fused_within(k, r, k.c3, k.c2, k.a_error, sure);
    const v128_t b = wasm_f64x2_add(r, tail);
    const v128_t r2 = wasm_f64x2_mul(r, r);
    // C4 + r C5: |r C5| < 2.26e-5, |e| < 2^-68, and the sum lies in [2^-5, 2^-4), whose half gap
    // is 2^-58.
    const v128_t pc = wasm_f64x2_mul(r, k.c5);
    const v128_t c = wasm_f64x2_add(pc, k.c4);
    sure = wasm_v128_and(sure, wasm_f64x2_lt(wasm_f64x2_abs(wasm_f64x2_sub(pc, wasm_f64x2_sub(c, k.c4))), k.c_room));
    const v128_t dd = fused(k, a, r2, b, sure);
    const v128_t r4 = wasm_f64x2_mul(r2, r2);
    // r^4 c: below 2.25e-12, |e| < 2^-91 and 2^-52 |p| < 2^-90.
    const v128_t tmp = fused_within(k, r4, c, dd, k.tmp_error, sure);
    // scale + scale tmp, with |tmp| < 1 so that scale dominates.
    const v128_t py = wasm_f64x2_mul(scale, tmp);
    const v128_t y = wasm_f64x2_add(py, scale);
    const v128_t ty = wasm_f64x2_sub(py, wasm_f64x2_sub(y, scale));
    const v128_t bound = wasm_f64x2_add(wasm_f64x2_abs(ty), wasm_f64x2_mul(wasm_f64x2_abs(py), k.half_ulp));
    sure = wasm_v128_and(sure, wasm_f64x2_lt(bound, half_gap(k, y)));
    if (wasm_i32x4_all_true(sure)) [[likely]]
        return y;
    const double y0 =
        wasm_i64x2_extract_lane(sure, 0) ? wasm_f64x2_extract_lane(y, 0) : std::exp(wasm_f64x2_extract_lane(x, 0));
    const double y1 =
        wasm_i64x2_extract_lane(sure, 1) ? wasm_f64x2_extract_lane(y, 1) : std::exp(wasm_f64x2_extract_lane(x, 1));
    return wasm_f64x2_make(y0, y1);
}

/// exp2 out of line, for the pairs the copies below leave to it.
v128_t exp2_checked(const Constants& k, v128_t x) noexcept;

// Two exps, every step unfused, vouched for by one check at the end instead of one at each
// fused step. With kd the same as the fused kd and |r| <= 0.00271, the unfused steps stay near
// the fused ones: r differs by at most one place of its last bit (2^-61), and so does b; a by
// 2^-53 and c by 2^-57, whose products with r2 and r4 stay below 2^-69; dd and tmp each round
// once more (2^-61 each). So |tmp - fused tmp| <= 1.0025 * 2^-59, and scale + scale tmp is known
// to within scale (1.0025 * 2^-59 + 0.00272 * 2^-53), below scale * 1.25 * 2^-59 (`tmp_room`).
// Where y and its exact residual lie further than that from a rounding boundary, y is the fused
// result. About one lane in forty is not vouched for: its pair takes exp2's step-by-step checks.
template <bool in_range = false>
[[gnu::always_inline]] inline v128_t exp2_at_end(const Constants& k, v128_t x) noexcept {
    v128_t sure = in_fast_range<in_range>(k, x);
    v128_t ki;
    const v128_t kd = unfused_kd(k, x, ki, sure);
    v128_t r = wasm_f64x2_add(wasm_f64x2_mul(kd, k.neg_ln2_hi_n), x);
    r = wasm_f64x2_add(wasm_f64x2_mul(kd, k.neg_ln2_lo_n), r);
    v128_t tail, scale;
    look_up(ki, tail, scale);
    const v128_t a = wasm_f64x2_add(wasm_f64x2_mul(r, k.c3), k.c2);
    const v128_t b = wasm_f64x2_add(r, tail);
    const v128_t r2 = wasm_f64x2_mul(r, r);
    const v128_t c = wasm_f64x2_add(wasm_f64x2_mul(r, k.c5), k.c4);
    const v128_t dd = wasm_f64x2_add(wasm_f64x2_mul(a, r2), b);
    const v128_t r4 = wasm_f64x2_mul(r2, r2);
    const v128_t tmp = wasm_f64x2_add(wasm_f64x2_mul(r4, c), dd);
    const v128_t py = wasm_f64x2_mul(scale, tmp);
    const v128_t y = wasm_f64x2_add(py, scale);
    const v128_t ty = wasm_f64x2_sub(py, wasm_f64x2_sub(y, scale));
    const v128_t bound = wasm_f64x2_add(wasm_f64x2_abs(ty), wasm_f64x2_mul(scale, k.tmp_room));
    sure = wasm_v128_and(sure, wasm_f64x2_lt(bound, half_gap(k, y)));
    if (wasm_i32x4_all_true(sure)) [[likely]]
        return y;
    return exp2_checked(k, x);
}

#if defined(__wasm_relaxed_simd__)
#define PELMORA_WASM_RELAXED_EXP 1

// round(a * b + c) where the engine fuses its relaxed multiply-add, which the first-use check
// confirms. Debian's LLVM 14 writes this builtin under the relaxed SIMD proposal's early encoding
// (0xfd 0xcf 0x01); web/build.sh rewrites each into the standard's f64x2.relaxed_madd
// (0xfd 0x87 0x02), which takes the same three operands in the same order as a * b + c.
[[gnu::always_inline]] inline v128_t madd(v128_t a, v128_t b, v128_t c) noexcept {
    return __builtin_wasm_fma_f64x2(a, b, c);
}

// Two exps with glibc's fused steps fused: nothing to vouch for.
template <bool in_range = false>
[[gnu::always_inline]] inline v128_t exp2_fused(const Constants& k, v128_t x) noexcept {
    const v128_t ki = madd(x, k.inv_ln2_n, k.shift);
    const v128_t kd = wasm_f64x2_sub(ki, k.shift);
    v128_t r = wasm_f64x2_add(wasm_f64x2_mul(kd, k.neg_ln2_hi_n), x);
    r = madd(kd, k.neg_ln2_lo_n, r);
    v128_t tail, scale;
    look_up(ki, tail, scale);
    const v128_t a = madd(r, k.c3, k.c2);
    const v128_t b = wasm_f64x2_add(r, tail);
    const v128_t r2 = wasm_f64x2_mul(r, r);
    const v128_t c = madd(r, k.c5, k.c4);
    const v128_t dd = madd(a, r2, b);
    const v128_t r4 = wasm_f64x2_mul(r2, r2);
    const v128_t tmp = madd(r4, c, dd);
    const v128_t y = madd(scale, tmp, scale);
    if (wasm_i32x4_all_true(in_fast_range<in_range>(k, x))) [[likely]]
        return y;
    return exp2_checked(k, x);
}
#endif

}  // namespace wasm_exp
}  // namespace pelmora::calc::detail

#endif  // __wasm_simd128__
