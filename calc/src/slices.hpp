#pragma once
// The slices of the centile integral: the area of each midpoint slice, before they are summed.

#include <cstddef>

namespace pelmora::calc::detail {

/// Room for the most slices one call asks for (1001), rounded up to whole groups of four.
inline constexpr std::size_t max_slices = 1004;

/// area[k] = (exp(-m * m / 2) / 2.506628) * h with m = (k + 1) * h - h / 2, for k < n, each
/// operation rounded as written and exp being the platform's std::exp, bit for bit. Needs
/// 0 <= h <= 1, n <= 1001 and `area` room for max_slices values. Chooses the fastest way.
void slice_areas(double h, std::size_t n, double* area) noexcept;

/// The same, one slice at a time through std::exp.
void slice_areas_scalar(double h, std::size_t n, double* area) noexcept;

/// The same, four slices at a time through the vector copy of glibc's exp (vector_exp.hpp). Only
/// callable when vector_exp_available() is true.
void slice_areas_vector(double h, std::size_t n, double* area) noexcept;

/// Four integrals side by side, one in each lane of a vector: for j < 4, sum[j] is the sum, in
/// slice order from +0, of the areas of the first n slices of step h[j], bit for bit what
/// slice_areas and a sum in slice order give. Each lane adds its own areas one after the other;
/// the lanes' chains are independent, so four rows cost about what one does. Needs
/// 0 <= h[j] <= 1, n <= 1001. Uses the vector exp when vector_exp_available() is true, std::exp
/// one slice at a time otherwise.
void slice_sums4(const double* h, std::size_t n, double* sum) noexcept;

}  // namespace pelmora::calc::detail
