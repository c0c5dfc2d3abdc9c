#pragma once
// The slices of the centile integral: the area of each midpoint slice, and their sums.

#include <cstddef>
#include <cstdint>

namespace pelmora::calc::detail {

/// The slices of the whole integral: the most one call asks for.
inline constexpr std::size_t slice_count = 1001;
/// Room for slice_count slices, rounded up to whole groups of eight.
inline constexpr std::size_t max_slices = (slice_count + 7) / 8 * 8;

/// The ways of forming the slices: one at a time through std::exp, or two, four or eight at a
/// time through the vector copies of glibc's exp (wasm_exp.hpp, vector_exp.hpp). Every way gives
/// the same bits.
enum class Lanes : std::uint8_t {
    one = 1,    ///< std::exp
    two = 2,    ///< WebAssembly SIMD
    four = 4,   ///< AVX2 and FMA
    eight = 8,  ///< AVX-512
};

/// The widest way that runs here and passes its first-use check.
Lanes widest_lanes() noexcept;

/// The way the calculators and the engine use: widest_lanes(), unless limit_lanes narrowed it.
Lanes lanes() noexcept;

/// Makes lanes() the narrower of `most` and widest_lanes(), so that each way can be tested and
/// timed on a machine that has a wider one. limit_lanes(Lanes::eight) undoes it.
void limit_lanes(Lanes most) noexcept;

/// area[k] = (exp(-m * m / 2) / 2.506628) * h with m = (k + 1) * h - h / 2, for k < n, each
/// operation rounded as written and exp being the platform's std::exp, bit for bit. Needs
/// 0 <= h <= 1, n <= slice_count, `area` room for max_slices values and `width` no wider than
/// widest_lanes().
void slice_areas(Lanes width, double h, std::size_t n, double* area) noexcept;

/// The same areas summed in slice order from +0 (s = area[k] + s), bit for bit; the areas of
/// later slices are formed while the earlier ones are added. Same needs, without `area`.
double slice_sum(Lanes width, double h, std::size_t n) noexcept;

/// Several integrals side by side: for j < width, sum[j] is slice_sum(width, h[j], n). The
/// integrals' chains of additions are independent, so several rows cost little more than
/// one; eight lanes cost least where the steps are close (sorted), which lets them share the
/// exp's table lookup. Same needs.
void slice_sums(Lanes width, const double* h, std::size_t n, double* sum) noexcept;

}  // namespace pelmora::calc::detail
