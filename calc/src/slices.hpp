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

}  // namespace pelmora::calc::detail
