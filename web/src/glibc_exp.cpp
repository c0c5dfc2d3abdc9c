// exp for the WebAssembly build, giving the bits of the exp the native build runs: glibc's, in the
// FMA build glibc picks on an x86-64 CPU with AVX2 and FMA (see calc/src/vector_exp.hpp).
//
// The C library of the WebAssembly build (emscripten's musl) has the same algorithm and the same
// constants (both are Arm's Optimized Routines, 2018), but WebAssembly has no fused multiply-add,
// so it rounds every product of the evaluation where glibc's FMA build fuses it: about 1 argument
// in 2000 gets a different last bit, enough to move a centile's last bit now and then. Defining
// exp here replaces musl's for the whole module (std::exp included).
//
// Each fused step a * b + c is formed as round(round(a * b) + c), and the residual of the addition
// (TwoSum, exact) shows whether the product's own rounding, at most half an ulp of it, could have
// moved the sum across a rounding boundary. When it could not, the result is the fused one; when
// it could (about 1 argument in 100), the whole evaluation is done again with std::fma, exact and
// slower. The reduction's high part is exact without fusing (|k| < 2^17 and ln2/128's high part
// ends in 17 zero bits).
//
// Arguments of magnitude 512 and more, rare, take the exact route at once, with glibc's
// adjustments of the scale; there its FMA build fuses the last multiply-add for a large result
// but not for a small one (found by comparing the two; the web tests compare them again).

#include <cmath>
#include <cstdint>

extern "C" {
// musl's table and constants for exp (src/math/exp_data.h), the ones glibc has.
struct exp_data {
    double invln2N;
    double shift;
    double negln2hiN;
    double negln2loN;
    double poly[4];
    double exp2_shift;
    double exp2_poly[5];
    std::uint64_t tab[2 * 128];
};
extern const exp_data __exp_data;
}

namespace {

constexpr int table_bits = 7;
constexpr std::uint64_t n = 1u << table_bits;

double as_double(std::uint64_t u) noexcept { return __builtin_bit_cast(double, u); }
std::uint64_t as_bits(double d) noexcept { return __builtin_bit_cast(std::uint64_t, d); }
std::uint32_t top12(double x) noexcept { return static_cast<std::uint32_t>(as_bits(x) >> 52); }

// round(a * b + c) as a fused multiply-add gives it, when the unfused sum can vouch for it;
// `sure` turns false when it cannot.
inline double fused(double a, double b, double c, bool& sure) noexcept {
    const double p = a * b;
    const double s = p + c;
    const double bv = s - p;
    const double t = (p - (s - bv)) + (c - bv);  // p + c - s, exactly
    // |a * b - p| <= 2^-53 |p|; s's nearest neighbours are at least half an ulp of s away, and
    // the lower one only a quarter when s is a power of two.
    const std::uint64_t bits = as_bits(s) & 0x7fffffffffffffffu;
    const std::uint64_t exponent = bits & 0x7ff0000000000000u;
    if (exponent == 0 || exponent == 0x7ff0000000000000u) {
        sure = false;  // zero, subnormal, infinite or NaN: no shortcut
        return s;
    }
    double half_gap = as_double(exponent) * 0x1p-53;
    if ((bits & 0x000fffffffffffffu) == 0) half_gap *= 0.5;
    if (!(std::fabs(t) + std::fabs(p) * 0x1p-52 < half_gap)) sure = false;
    return s;
}

struct Exact {
    double operator()(double a, double b, double c, bool&) const noexcept { return std::fma(a, b, c); }
};
struct Checked {
    double operator()(double a, double b, double c, bool& sure) const noexcept { return fused(a, b, c, sure); }
};

// The reduction and the polynomial of glibc's exp, with its multiply-adds fused where its FMA
// build fuses them: exp(x) = scale (1 + tmp), scale's bits in `sbits`, k in `ki`.
struct Reduced {
    double tmp;
    std::uint64_t sbits;
    std::uint64_t ki;
};

template <class Fma>
inline Reduced reduce(double x, bool& sure) noexcept {
    const exp_data& d = __exp_data;
    const Fma fma;
    double kd = fma(x, d.invln2N, d.shift, sure);
    const std::uint64_t ki = as_bits(kd);
    kd -= d.shift;
    double r = kd * d.negln2hiN + x;  // exact product: fusing changes nothing
    r = fma(kd, d.negln2loN, r, sure);
    const std::uint64_t idx = 2 * (ki % n);
    const std::uint64_t top = ki << (52 - table_bits);
    const double tail = as_double(d.tab[idx]);
    const double a = fma(r, d.poly[1], d.poly[0], sure);
    const double b = r + tail;
    const double r2 = r * r;
    const double c = fma(r, d.poly[3], d.poly[2], sure);
    const double dd = fma(a, r2, b, sure);
    const double r4 = r2 * r2;
    return {fma(r4, c, dd, sure), d.tab[idx + 1] + top, ki};
}

// 2^-54 <= |x| < 512.
template <class Fma>
inline double exp_inside(double x, bool& sure) noexcept {
    const Reduced z = reduce<Fma>(x, sure);
    const double scale = as_double(z.sbits);
    return Fma()(scale, z.tmp, scale, sure);
}

// 512 <= |x| < 1024, where the scale's exponent needs adjusting.
double exp_large(double x) noexcept {
    bool sure = true;
    const Reduced z = reduce<Exact>(x, sure);
    if ((z.ki & 0x80000000) == 0) {
        const double scale = as_double(z.sbits - (1009ull << 52));
        return 0x1p1009 * std::fma(scale, z.tmp, scale);
    }
    const double scale = as_double(z.sbits + (1022ull << 52));
    double y = scale + scale * z.tmp;
    if (y < 1.0) {
        double lo = scale - y + scale * z.tmp;
        const double hi = 1.0 + y;
        lo = 1.0 - hi + y + lo;
        y = (hi + lo) - 1.0;
        if (y == 0.0) y = 0.0;
    }
    return 0x1p-1022 * y;
}

}  // namespace

extern "C" double exp(double x) {
    const std::uint32_t abstop = top12(x) & 0x7ff;
    if (abstop - top12(0x1p-54) >= top12(512.0) - top12(0x1p-54)) [[unlikely]] {
        if (abstop < top12(0x1p-54)) return 1.0 + x;
        if (abstop >= top12(1024.0)) {
            if (as_bits(x) == as_bits(-INFINITY)) return 0.0;
            if (abstop >= top12(INFINITY)) return 1.0 + x;
            return (as_bits(x) >> 63) ? 0x1p-767 * 0x1p-767 : 0x1p769 * 0x1p769;  // underflow, overflow
        }
        return exp_large(x);
    }
    bool sure = true;
    const double y = exp_inside<Checked>(x, sure);
    if (sure) [[likely]]
        return y;
    return exp_inside<Exact>(x, sure);
}

/// For the tests: this module's exp.
extern "C" __attribute__((used, visibility("default"))) double pelmora_web_exp(double x) { return exp(x); }
