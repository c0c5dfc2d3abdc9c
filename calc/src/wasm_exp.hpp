#pragma once
// Two exps at once in WebAssembly SIMD (128 bits), giving the bits of the module's std::exp.
//
// The WebAssembly build's std::exp is glibc's algorithm fused as glibc's FMA build fuses it
// (web/src/glibc_exp.cpp), and WebAssembly has no fused multiply-add. Each fused step a * b + c
// is formed unfused, round(round(a * b) + c), and the exact residual of the addition (TwoSum)
// shows whether the product's own rounding, at most 2^-53 of it, could have moved the sum across
// a rounding boundary; where it could not, the unfused sum is the fused one. A lane where some
// step is not vouched for (about one argument in a hundred), or whose argument lies outside
// 2^-54 <= |x| < 512, takes std::exp alone: the bits are std::exp's in every case.
// wasm_exp_available() confirms once that this copy and the std::exp linked agree.

#if defined(__wasm_simd128__)
#define PELMORA_WASM_EXP 1

#include <wasm_simd128.h>

#include <cmath>
#include <cstdint>

namespace pelmora::calc::detail {

/// True when the two-lane copy gives the linked std::exp's bits on a spread of arguments.
bool wasm_exp_available() noexcept;

/// The two-lane exp of x[0], x[1], for the first-use check and the tests.
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
    v128_t exponent_mask, mantissa_mask, zero, half_ulp, half, slack, tiny, large;
    v128_t inv_ln2_n, shift, neg_ln2_hi_n, neg_ln2_lo_n, c2, c3, c4, c5;
};

inline Constants constants() noexcept {
    static volatile std::uint64_t masks[2] = {0x7ff0000000000000u, 0x000fffffffffffffu};
    static volatile double numbers[6] = {0.0, 0x1p-53, 0.5, 0x1p-52, 0x1p-54, 512.0};
    const Data& d = __exp_data;
    const auto m = [](std::uint64_t u) { return wasm_i64x2_splat(static_cast<std::int64_t>(u)); };
    return {m(masks[0]),
            m(masks[1]),
            wasm_f64x2_splat(numbers[0]),
            wasm_f64x2_splat(numbers[1]),
            wasm_f64x2_splat(numbers[2]),
            wasm_f64x2_splat(numbers[3]),
            wasm_f64x2_splat(numbers[4]),
            wasm_f64x2_splat(numbers[5]),
            wasm_f64x2_splat(d.inv_ln2_n),
            wasm_f64x2_splat(d.shift),
            wasm_f64x2_splat(d.neg_ln2_hi_n),
            wasm_f64x2_splat(d.neg_ln2_lo_n),
            wasm_f64x2_splat(d.poly[0]),
            wasm_f64x2_splat(d.poly[1]),
            wasm_f64x2_splat(d.poly[2]),
            wasm_f64x2_splat(d.poly[3])};
}

// round(a * b + c) where the unfused sum can vouch for it; `unsure` gains the lanes where it
// cannot. |a * b - p| <= 2^-53 |p| and s's neighbours lie at least half an ulp of s away (the
// lower one a quarter when s is a power of two); zero, subnormal, infinite and NaN sums are
// never vouched for.
inline v128_t fused(const Constants& k, v128_t a, v128_t b, v128_t c, v128_t& unsure) noexcept {
    const v128_t p = wasm_f64x2_mul(a, b);
    const v128_t s = wasm_f64x2_add(p, c);
    const v128_t bv = wasm_f64x2_sub(s, p);
    const v128_t t = wasm_f64x2_add(wasm_f64x2_sub(p, wasm_f64x2_sub(s, bv)), wasm_f64x2_sub(c, bv));
    const v128_t exponent = wasm_v128_and(s, k.exponent_mask);
    const v128_t mantissa = wasm_v128_and(s, k.mantissa_mask);
    v128_t half_gap = wasm_f64x2_mul(exponent, k.half_ulp);
    half_gap = wasm_v128_bitselect(wasm_f64x2_mul(half_gap, k.half), half_gap, wasm_i64x2_eq(mantissa, k.zero));
    const v128_t bound = wasm_f64x2_add(wasm_f64x2_abs(t), wasm_f64x2_mul(wasm_f64x2_abs(p), k.slack));
    const v128_t ordinary = wasm_v128_and(wasm_i64x2_ne(exponent, k.zero), wasm_i64x2_ne(exponent, k.exponent_mask));
    unsure = wasm_v128_or(unsure, wasm_v128_not(wasm_v128_and(ordinary, wasm_f64x2_lt(bound, half_gap))));
    return s;
}

// Two exps; lanes the unfused evaluation cannot vouch for, or outside the fast range, are
// std::exp's.
inline v128_t exp2(const Constants& k, v128_t x) noexcept {
    const v128_t mag = wasm_f64x2_abs(x);
    v128_t unsure = wasm_v128_not(wasm_v128_and(wasm_f64x2_ge(mag, k.tiny), wasm_f64x2_lt(mag, k.large)));
    v128_t kd = fused(k, x, k.inv_ln2_n, k.shift, unsure);
    const v128_t ki = kd;
    kd = wasm_f64x2_sub(kd, k.shift);
    // The high part of ln2/128 ends in zero bits: kd times it is exact, fusing changes nothing.
    v128_t r = wasm_f64x2_add(wasm_f64x2_mul(kd, k.neg_ln2_hi_n), x);
    r = fused(k, kd, k.neg_ln2_lo_n, r, unsure);
    const std::uint64_t* tab = __exp_data.tab;
    const v128_t pair0 = wasm_v128_load(tab + 2 * (static_cast<std::uint64_t>(wasm_i64x2_extract_lane(ki, 0)) % 128));
    const v128_t pair1 = wasm_v128_load(tab + 2 * (static_cast<std::uint64_t>(wasm_i64x2_extract_lane(ki, 1)) % 128));
    const v128_t tail = wasm_i64x2_shuffle(pair0, pair1, 0, 2);  // each pair is (tail, scale)
    const v128_t scale = wasm_i64x2_add(wasm_i64x2_shuffle(pair0, pair1, 1, 3), wasm_i64x2_shl(ki, 45));
    const v128_t a = fused(k, r, k.c3, k.c2, unsure);
    const v128_t b = wasm_f64x2_add(r, tail);
    const v128_t r2 = wasm_f64x2_mul(r, r);
    const v128_t c = fused(k, r, k.c5, k.c4, unsure);
    const v128_t dd = fused(k, a, r2, b, unsure);
    const v128_t r4 = wasm_f64x2_mul(r2, r2);
    const v128_t tmp = fused(k, r4, c, dd, unsure);
    const v128_t y = fused(k, scale, tmp, scale, unsure);
    if (!wasm_v128_any_true(unsure)) [[likely]]
        return y;
    const double y0 =
        wasm_i64x2_extract_lane(unsure, 0) ? std::exp(wasm_f64x2_extract_lane(x, 0)) : wasm_f64x2_extract_lane(y, 0);
    const double y1 =
        wasm_i64x2_extract_lane(unsure, 1) ? std::exp(wasm_f64x2_extract_lane(x, 1)) : wasm_f64x2_extract_lane(y, 1);
    return wasm_f64x2_make(y0, y1);
}

}  // namespace wasm_exp
}  // namespace pelmora::calc::detail

#endif  // __wasm_simd128__
