#pragma once
// A vector copy of glibc's exp: four or eight exps at once that give std::exp's bits where
// glibc's exp is the one loaded.
//
// Where it comes from. The algorithm and every constant are those of the exp of the GNU C Library
// from version 2.28 on (sysdeps/ieee754/dbl-64/e_exp.c with its table and coefficients in
// e_exp_data.c), which glibc took from Arm's Optimized Routines (Szabolcs Nagy, 2018): for
// 2^-54 <= |x| < 512, a reduction x = k ln2/128 + r, a table of 2^(k/128) as a scale and a
// tail, a degree-5 polynomial in r and a scaling. On an x86-64 CPU with AVX2 and FMA glibc runs
// its FMA build of that code (__exp_fma), whose compiler fused its multiply-adds in fixed places;
// the copy fuses exactly those. The places, the table and the constants were read off the
// machine code and data of the libm of glibc 2.36 (Debian 12) and checked against it bit for bit
// over millions of arguments (tests/calc/slices_test.cpp). The NOTICE file at the top of the
// repository records the debt.
//
// Why it is trusted only after a check. A different glibc, or the plain build glibc picks on a
// CPU without FMA, rounds some arguments differently; vector_exp_available() compares the copy
// with the std::exp actually loaded, once, on arguments where the FMA and plain builds disagree,
// and everything falls back to std::exp one argument at a time when they differ. The eight-lane
// copy (AVX-512) performs the same operations and is checked the same way before it is used.

#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__GLIBC__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PELMORA_VECTOR_EXP 1
// GCC 12's AVX-512 intrinsics start from "undefined" vectors that its own uninitialised-use
// warnings flag once they are inlined (fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
// The instruction sets of the four- and eight-lane code, per function, so that the rest of the
// build runs on any x86-64 CPU and the choice is made at run time.
#define PELMORA_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define PELMORA_TARGET_AVX512 __attribute__((target("avx2,fma,avx512f,avx512dq,avx512vl")))
#endif

namespace pelmora::calc::detail {

/// True when the vector exp runs here and gives std::exp's bits: glibc on an x86-64 CPU with
/// AVX2 and FMA (where glibc itself runs its FMA variant of exp), confirmed once by comparing
/// the two on arguments where the FMA and plain variants of that exp disagree.
bool vector_exp_available() noexcept;

/// True when vector_exp_available() is and the eight-lane copy runs here too (a CPU and an OS
/// with AVX-512 F, DQ and VL) and gives std::exp's bits on the same check.
bool vector_exp8_available() noexcept;

/// The vector exp of four arguments, for the first-use check and the tests. Gives std::exp's
/// bits when vector_exp_available() is true; std::exp itself where there is no vector copy.
void vector_exp4(const double* x, double* y) noexcept;

/// The same for eight arguments through the eight-lane copy; only callable where the CPU has
/// AVX-512 F, DQ and VL (std::exp itself where there is no vector copy).
void vector_exp8(const double* x, double* y) noexcept;

#ifdef PELMORA_VECTOR_EXP

namespace glibc_exp {

constexpr double from_bits(std::uint64_t u) noexcept { return __builtin_bit_cast(double, u); }

// glibc's exp constants: 128/ln2, -ln2/128 split in a high part (with trailing zero bits, so
// k * high is exact) and a low part, the rounding shift 1.5 * 2^52, and the polynomial's
// coefficients of r^2 to r^5.
inline constexpr double inv_ln2_n = from_bits(0x40671547652b82feu);
inline constexpr double neg_ln2_hi_n = from_bits(0xbf762e42fefa0000u);
inline constexpr double neg_ln2_lo_n = from_bits(0xbd0cf79abc9e3b3au);
inline constexpr double c2 = from_bits(0x3fdffffffffffdbdu);
inline constexpr double c3 = from_bits(0x3fc555555555543cu);
inline constexpr double c4 = from_bits(0x3fa55555cf172b91u);
inline constexpr double c5 = from_bits(0x3f81111167a4d017u);
inline constexpr double shift = from_bits(0x4338000000000000u);

// For k = 0..127: the bits of the tail t[k] and of the scale s[k] with 2^(k/128) ~ s[k](1 + t[k]),
// the scale's bits less k << 45 so that adding the reduced argument's integer bits << 45 gives
// 2^(j/128) for any j.
alignas(64) inline constexpr std::uint64_t exp_table[256] = {
    0x0000000000000000, 0x3ff0000000000000, 0x3c9b3b4f1a88bf6e, 0x3feff63da9fb3335, 0xbc7160139cd8dc5d,
    0x3fefec9a3e778061, 0xbc905e7a108766d1, 0x3fefe315e86e7f85, 0x3c8cd2523567f613, 0x3fefd9b0d3158574,
    0xbc8bce8023f98efa, 0x3fefd06b29ddf6de, 0x3c60f74e61e6c861, 0x3fefc74518759bc8, 0x3c90a3e45b33d399,
    0x3fefbe3ecac6f383, 0x3c979aa65d837b6d, 0x3fefb5586cf9890f, 0x3c8eb51a92fdeffc, 0x3fefac922b7247f7,
    0x3c3ebe3d702f9cd1, 0x3fefa3ec32d3d1a2, 0xbc6a033489906e0b, 0x3fef9b66affed31b, 0xbc9556522a2fbd0e,
    0x3fef9301d0125b51, 0xbc5080ef8c4eea55, 0x3fef8abdc06c31cc, 0xbc91c923b9d5f416, 0x3fef829aaea92de0,
    0x3c80d3e3e95c55af, 0x3fef7a98c8a58e51, 0xbc801b15eaa59348, 0x3fef72b83c7d517b, 0xbc8f1ff055de323d,
    0x3fef6af9388c8dea, 0x3c8b898c3f1353bf, 0x3fef635beb6fcb75, 0xbc96d99c7611eb26, 0x3fef5be084045cd4,
    0x3c9aecf73e3a2f60, 0x3fef54873168b9aa, 0xbc8fe782cb86389d, 0x3fef4d5022fcd91d, 0x3c8a6f4144a6c38d,
    0x3fef463b88628cd6, 0x3c807a05b0e4047d, 0x3fef3f49917ddc96, 0x3c968efde3a8a894, 0x3fef387a6e756238,
    0x3c875e18f274487d, 0x3fef31ce4fb2a63f, 0x3c80472b981fe7f2, 0x3fef2b4565e27cdd, 0xbc96b87b3f71085e,
    0x3fef24dfe1f56381, 0x3c82f7e16d09ab31, 0x3fef1e9df51fdee1, 0xbc3d219b1a6fbffa, 0x3fef187fd0dad990,
    0x3c8b3782720c0ab4, 0x3fef1285a6e4030b, 0x3c6e149289cecb8f, 0x3fef0cafa93e2f56, 0x3c834d754db0abb6,
    0x3fef06fe0a31b715, 0x3c864201e2ac744c, 0x3fef0170fc4cd831, 0x3c8fdd395dd3f84a, 0x3feefc08b26416ff,
    0xbc86a3803b8e5b04, 0x3feef6c55f929ff1, 0xbc924aedcc4b5068, 0x3feef1a7373aa9cb, 0xbc9907f81b512d8e,
    0x3feeecae6d05d866, 0xbc71d1e83e9436d2, 0x3feee7db34e59ff7, 0xbc991919b3ce1b15, 0x3feee32dc313a8e5,
    0x3c859f48a72a4c6d, 0x3feedea64c123422, 0xbc9312607a28698a, 0x3feeda4504ac801c, 0xbc58a78f4817895b,
    0x3feed60a21f72e2a, 0xbc7c2c9b67499a1b, 0x3feed1f5d950a897, 0x3c4363ed60c2ac11, 0x3feece086061892d,
    0x3c9666093b0664ef, 0x3feeca41ed1d0057, 0x3c6ecce1daa10379, 0x3feec6a2b5c13cd0, 0x3c93ff8e3f0f1230,
    0x3feec32af0d7d3de, 0x3c7690cebb7aafb0, 0x3feebfdad5362a27, 0x3c931dbdeb54e077, 0x3feebcb299fddd0d,
    0xbc8f94340071a38e, 0x3feeb9b2769d2ca7, 0xbc87deccdc93a349, 0x3feeb6daa2cf6642, 0xbc78dec6bd0f385f,
    0x3feeb42b569d4f82, 0xbc861246ec7b5cf6, 0x3feeb1a4ca5d920f, 0x3c93350518fdd78e, 0x3feeaf4736b527da,
    0x3c7b98b72f8a9b05, 0x3feead12d497c7fd, 0x3c9063e1e21c5409, 0x3feeab07dd485429, 0x3c34c7855019c6ea,
    0x3feea9268a5946b7, 0x3c9432e62b64c035, 0x3feea76f15ad2148, 0xbc8ce44a6199769f, 0x3feea5e1b976dc09,
    0xbc8c33c53bef4da8, 0x3feea47eb03a5585, 0xbc845378892be9ae, 0x3feea34634ccc320, 0xbc93cedd78565858,
    0x3feea23882552225, 0x3c5710aa807e1964, 0x3feea155d44ca973, 0xbc93b3efbf5e2228, 0x3feea09e667f3bcd,
    0xbc6a12ad8734b982, 0x3feea012750bdabf, 0xbc6367efb86da9ee, 0x3fee9fb23c651a2f, 0xbc80dc3d54e08851,
    0x3fee9f7df9519484, 0xbc781f647e5a3ecf, 0x3fee9f75e8ec5f74, 0xbc86ee4ac08b7db0, 0x3fee9f9a48a58174,
    0xbc8619321e55e68a, 0x3fee9feb564267c9, 0x3c909ccb5e09d4d3, 0x3feea0694fde5d3f, 0xbc7b32dcb94da51d,
    0x3feea11473eb0187, 0x3c94ecfd5467c06b, 0x3feea1ed0130c132, 0x3c65ebe1abd66c55, 0x3feea2f336cf4e62,
    0xbc88a1c52fb3cf42, 0x3feea427543e1a12, 0xbc9369b6f13b3734, 0x3feea589994cce13, 0xbc805e843a19ff1e,
    0x3feea71a4623c7ad, 0xbc94d450d872576e, 0x3feea8d99b4492ed, 0x3c90ad675b0e8a00, 0x3feeaac7d98a6699,
    0x3c8db72fc1f0eab4, 0x3feeace5422aa0db, 0xbc65b6609cc5e7ff, 0x3feeaf3216b5448c, 0x3c7bf68359f35f44,
    0x3feeb1ae99157736, 0xbc93091fa71e3d83, 0x3feeb45b0b91ffc6, 0xbc5da9b88b6c1e29, 0x3feeb737b0cdc5e5,
    0xbc6c23f97c90b959, 0x3feeba44cbc8520f, 0xbc92434322f4f9aa, 0x3feebd829fde4e50, 0xbc85ca6cd7668e4b,
    0x3feec0f170ca07ba, 0x3c71affc2b91ce27, 0x3feec49182a3f090, 0x3c6dd235e10a73bb, 0x3feec86319e32323,
    0xbc87c50422622263, 0x3feecc667b5de565, 0x3c8b1c86e3e231d5, 0x3feed09bec4a2d33, 0xbc91bbd1d3bcbb15,
    0x3feed503b23e255d, 0x3c90cc319cee31d2, 0x3feed99e1330b358, 0x3c8469846e735ab3, 0x3feede6b5579fdbf,
    0xbc82dfcd978e9db4, 0x3feee36bbfd3f37a, 0x3c8c1a7792cb3387, 0x3feee89f995ad3ad, 0xbc907b8f4ad1d9fa,
    0x3feeee07298db666, 0xbc55c3d956dcaeba, 0x3feef3a2b84f15fb, 0xbc90a40e3da6f640, 0x3feef9728de5593a,
    0xbc68d6f438ad9334, 0x3feeff76f2fb5e47, 0xbc91eee26b588a35, 0x3fef05b030a1064a, 0x3c74ffd70a5fddcd,
    0x3fef0c1e904bc1d2, 0xbc91bdfbfa9298ac, 0x3fef12c25bd71e09, 0x3c736eae30af0cb3, 0x3fef199bdd85529c,
    0x3c8ee3325c9ffd94, 0x3fef20ab5fffd07a, 0x3c84e08fd10959ac, 0x3fef27f12e57d14b, 0x3c63cdaf384e1a67,
    0x3fef2f6d9406e7b5, 0x3c676b2c6c921968, 0x3fef3720dcef9069, 0xbc808a1883ccb5d2, 0x3fef3f0b555dc3fa,
    0xbc8fad5d3ffffa6f, 0x3fef472d4a07897c, 0xbc900dae3875a949, 0x3fef4f87080d89f2, 0x3c74a385a63d07a7,
    0x3fef5818dcfba487, 0xbc82919e2040220f, 0x3fef60e316c98398, 0x3c8e5a50d5c192ac, 0x3fef69e603db3285,
    0x3c843a59ac016b4b, 0x3fef7321f301b460, 0xbc82d52107b43e1f, 0x3fef7c97337b9b5f, 0xbc892ab93b470dc9,
    0x3fef864614f5a129, 0x3c74b604603a88d3, 0x3fef902ee78b3ff6, 0x3c83c5ec519d7271, 0x3fef9a51fbc74c83,
    0xbc8ff7128fd391f0, 0x3fefa4afa2a490da, 0xbc8dae98e223747d, 0x3fefaf482d8e67f1, 0x3c8ec3bc41aa2008,
    0x3fefba1bee615a27, 0x3c842b94c3a9eb32, 0x3fefc52b376bba97, 0x3c8a64a931d185ee, 0x3fefd0765b6e4540,
    0xbc8e37bae43be3ed, 0x3fefdbfdad9cbe14, 0x3c77893b4d91cd9d, 0x3fefe7c1819e90d8, 0x3c5305c14160cc89,
    0x3feff3c22b8f71f1,
};

// Four exps, for arguments with 2^-54 <= |x| < 512. With `negated`, the exps of -x: the negation
// is folded into the two fused operations that read the argument (a fused -a*b + c and a*b - c
// round exactly as a*b + c with the argument negated), so the bits are those of exp4(-x).
template <bool negated = false>
PELMORA_TARGET_AVX2 inline __m256d exp4(__m256d x) noexcept {
    // x = k ln2/128 + r with k an integer and |r| <= ln2/256.
    __m256d kd = negated ? _mm256_fnmadd_pd(x, _mm256_set1_pd(inv_ln2_n), _mm256_set1_pd(shift))
                         : _mm256_fmadd_pd(x, _mm256_set1_pd(inv_ln2_n), _mm256_set1_pd(shift));
    const __m256i ki = _mm256_castpd_si256(kd);
    kd = _mm256_sub_pd(kd, _mm256_set1_pd(shift));
    __m256d r = negated ? _mm256_fmsub_pd(kd, _mm256_set1_pd(neg_ln2_hi_n), x)
                        : _mm256_fmadd_pd(kd, _mm256_set1_pd(neg_ln2_hi_n), x);
    r = _mm256_fmadd_pd(kd, _mm256_set1_pd(neg_ln2_lo_n), r);

    // 2^(k/128) = scale (1 + tail), from the table and k's bits. Each lane's (tail, scale) pair
    // is one 16-byte load; two gathers cost more.
    alignas(32) std::uint64_t k[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(k), ki);
    const auto pair = [](std::uint64_t kj) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(exp_table + 2 * (kj & 127)));
    };
    const __m256i lanes02 = _mm256_setr_m128i(pair(k[0]), pair(k[2]));  // tail0 scale0 tail2 scale2
    const __m256i lanes13 = _mm256_setr_m128i(pair(k[1]), pair(k[3]));  // tail1 scale1 tail3 scale3
    const __m256i top = _mm256_slli_epi64(ki, 45);
    const __m256d tail = _mm256_castsi256_pd(_mm256_unpacklo_epi64(lanes02, lanes13));
    const __m256d scale = _mm256_castsi256_pd(_mm256_add_epi64(_mm256_unpackhi_epi64(lanes02, lanes13), top));

    // exp(x) = scale + scale (tail + r + r^2 (c2 + r c3) + r^4 (c4 + r c5)), fused as glibc's
    // FMA build fuses it.
    const __m256d a = _mm256_fmadd_pd(r, _mm256_set1_pd(c3), _mm256_set1_pd(c2));
    const __m256d b = _mm256_add_pd(r, tail);
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d c = _mm256_fmadd_pd(r, _mm256_set1_pd(c5), _mm256_set1_pd(c4));
    const __m256d d = _mm256_fmadd_pd(a, r2, b);
    const __m256d r4 = _mm256_mul_pd(r2, r2);
    const __m256d tmp = _mm256_fmadd_pd(r4, c, d);
    return _mm256_fmadd_pd(scale, tmp, scale);
}

// Four exps of any finite arguments: those outside the fast range go to std::exp.
PELMORA_TARGET_AVX2 inline __m256d exp4_any(__m256d x) noexcept {
    const __m256d y = exp4(x);
    const __m256d mag = _mm256_andnot_pd(_mm256_set1_pd(-0.0), x);
    const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(mag, _mm256_set1_pd(0x1p-54), _CMP_GE_OQ),
                                         _mm256_cmp_pd(mag, _mm256_set1_pd(512.0), _CMP_LT_OQ));
    const int lanes = _mm256_movemask_pd(inside);
    if (lanes == 0xF) [[likely]]
        return y;
    alignas(32) double xs[4];
    alignas(32) double ys[4];
    _mm256_store_pd(xs, x);
    _mm256_store_pd(ys, y);
    for (int j = 0; j < 4; ++j) {
        if ((lanes >> j & 1) == 0) ys[j] = std::exp(xs[j]);
    }
    return _mm256_load_pd(ys);
}

// The table's tails and scales apart, each with its last 16 entries repeated in front (entry i
// is table entry (i - 16) mod 128), so that the 16 entries ending at any index lie together for
// a two-register permute.
struct SplitTable {
    alignas(64) std::uint64_t tail[144];
    alignas(64) std::uint64_t scale[144];
};
inline constexpr SplitTable split_table = [] {
    SplitTable t{};
    for (std::size_t i = 0; i < 144; ++i) {
        const std::size_t j = (i + 112) % 128;
        t.tail[i] = exp_table[2 * j];
        t.scale[i] = exp_table[2 * j + 1];
    }
    return t;
}();

// Eight exps, for arguments with 2^-54 <= |x| < 512: exp4's operations on eight lanes, `negated`
// as there.
template <bool negated = false>
PELMORA_TARGET_AVX512 inline __m512d exp8(__m512d x) noexcept {
    __m512d kd = negated ? _mm512_fnmadd_pd(x, _mm512_set1_pd(inv_ln2_n), _mm512_set1_pd(shift))
                         : _mm512_fmadd_pd(x, _mm512_set1_pd(inv_ln2_n), _mm512_set1_pd(shift));
    const __m512i ki = _mm512_castpd_si512(kd);
    kd = _mm512_sub_pd(kd, _mm512_set1_pd(shift));
    __m512d r = negated ? _mm512_fmsub_pd(kd, _mm512_set1_pd(neg_ln2_hi_n), x)
                        : _mm512_fmadd_pd(kd, _mm512_set1_pd(neg_ln2_hi_n), x);
    r = _mm512_fmadd_pd(kd, _mm512_set1_pd(neg_ln2_lo_n), r);

    // The table entries. ki's low bits are k (all lanes share the shift's exponent, so their
    // differences are those of k). Where every lane's k lies among the 16 ending at lane 0's,
    // as along the slices of one integral (the arguments fall from slice to slice, k by a few
    // at most) or across integrals of nearly the same step at one slice, one permute of 16
    // entries serves all eight lanes; otherwise each lane loads its own (tail, scale) pair,
    // which costs about twice as much. Gathers cost more still.
    __m512i tail;
    __m512i scale_bits;
    // `at` is each lane's place among those 16 (k - k0 + 15), and the test that it lies in 0..15
    // is the test that every lane's k does.
    const auto k0 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm512_castsi512_si128(ki)));
    const __m512i at = _mm512_sub_epi64(ki, _mm512_set1_epi64(static_cast<long long>(k0 - 15)));
    if (_mm512_cmple_epu64_mask(at, _mm512_set1_epi64(15)) == 0xFF) [[likely]] {
        const std::size_t first = (k0 & 127) + 1;  // where entry k0 - 15 lies in the split table
        tail = _mm512_permutex2var_epi64(_mm512_loadu_si512(split_table.tail + first), at,
                                         _mm512_loadu_si512(split_table.tail + first + 8));
        scale_bits = _mm512_permutex2var_epi64(_mm512_loadu_si512(split_table.scale + first), at,
                                               _mm512_loadu_si512(split_table.scale + first + 8));
    } else {
        alignas(64) std::uint64_t k[8];
        _mm512_store_si512(k, ki);
        const auto pair = [&k](int j) {
            return _mm_load_si128(reinterpret_cast<const __m128i*>(exp_table + 2 * (k[j] & 127)));
        };
        // Lanes 0, 2, 4, 6 and lanes 1, 3, 5, 7, each as (tail, scale) pairs.
        __m512i even = _mm512_castsi128_si512(pair(0));
        __m512i odd = _mm512_castsi128_si512(pair(1));
        for (int j = 1; j < 4; ++j) {
            const auto lanes = static_cast<__mmask8>(3 << (2 * j));
            even = _mm512_mask_broadcast_i64x2(even, lanes, pair(2 * j));
            odd = _mm512_mask_broadcast_i64x2(odd, lanes, pair(2 * j + 1));
        }
        tail = _mm512_unpacklo_epi64(even, odd);
        scale_bits = _mm512_unpackhi_epi64(even, odd);
    }
    const __m512d scale = _mm512_castsi512_pd(_mm512_add_epi64(scale_bits, _mm512_slli_epi64(ki, 45)));

    const __m512d a = _mm512_fmadd_pd(r, _mm512_set1_pd(c3), _mm512_set1_pd(c2));
    const __m512d b = _mm512_add_pd(r, _mm512_castsi512_pd(tail));
    const __m512d r2 = _mm512_mul_pd(r, r);
    const __m512d c = _mm512_fmadd_pd(r, _mm512_set1_pd(c5), _mm512_set1_pd(c4));
    const __m512d d = _mm512_fmadd_pd(a, r2, b);
    const __m512d r4 = _mm512_mul_pd(r2, r2);
    const __m512d tmp = _mm512_fmadd_pd(r4, c, d);
    return _mm512_fmadd_pd(scale, tmp, scale);
}

// Eight exps of any finite arguments: those outside the fast range go to std::exp.
PELMORA_TARGET_AVX512 inline __m512d exp8_any(__m512d x) noexcept {
    const __m512d y = exp8(x);
    const __m512d mag = _mm512_andnot_pd(_mm512_set1_pd(-0.0), x);
    const __mmask8 inside = _mm512_cmp_pd_mask(mag, _mm512_set1_pd(0x1p-54), _CMP_GE_OQ) &
                            _mm512_cmp_pd_mask(mag, _mm512_set1_pd(512.0), _CMP_LT_OQ);
    if (inside == 0xFF) [[likely]]
        return y;
    alignas(64) double xs[8];
    alignas(64) double ys[8];
    _mm512_store_pd(xs, x);
    _mm512_store_pd(ys, y);
    for (int j = 0; j < 8; ++j) {
        if ((inside >> j & 1) == 0) ys[j] = std::exp(xs[j]);
    }
    return _mm512_load_pd(ys);
}

}  // namespace glibc_exp

#endif  // PELMORA_VECTOR_EXP

}  // namespace pelmora::calc::detail
