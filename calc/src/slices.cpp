#include "slices.hpp"

#include <cmath>

#include "vector_exp.hpp"

namespace pelmora::calc::detail {

void slice_areas_scalar(double h, std::size_t n, double* area) noexcept {
    const double half = h / 2.0;
    double i = 0;
    for (std::size_t k = 0; k < n; ++k) {
        i = i + 1.0;
        const double m = i * h - half;
        area[k] = (std::exp(-m * m / 2.0) / 2.506628) * h;
    }
}

#ifdef PELMORA_VECTOR_EXP

using glibc_exp::exp4_any;

__attribute__((target("avx2,fma"))) void slice_areas_vector(double h, std::size_t n, double* area) noexcept {
    const __m256d hv = _mm256_set1_pd(h);
    const __m256d half = _mm256_set1_pd(h / 2.0);
    __m256d i = _mm256_setr_pd(1.0, 2.0, 3.0, 4.0);
    for (std::size_t k = 0; k < n; k += 4) {
        const __m256d m = _mm256_sub_pd(_mm256_mul_pd(i, hv), half);
        // -m * m / 2: halving by a multiply by 0.5 rounds the same as dividing by 2.
        const __m256d neg_m = _mm256_xor_pd(m, _mm256_set1_pd(-0.0));
        const __m256d e = exp4_any(_mm256_mul_pd(_mm256_mul_pd(neg_m, m), _mm256_set1_pd(0.5)));
        _mm256_storeu_pd(area + k, _mm256_mul_pd(_mm256_div_pd(e, _mm256_set1_pd(2.506628)), hv));
        i = _mm256_add_pd(i, _mm256_set1_pd(4.0));
    }
}

void slice_areas(double h, std::size_t n, double* area) noexcept {
    if (vector_exp_available()) {
        slice_areas_vector(h, n, area);
    } else {
        slice_areas_scalar(h, n, area);
    }
}

#else  // no vector copy of this platform's exp

void slice_areas_vector(double h, std::size_t n, double* area) noexcept { slice_areas_scalar(h, n, area); }
void slice_areas(double h, std::size_t n, double* area) noexcept { slice_areas_scalar(h, n, area); }

#endif

}  // namespace pelmora::calc::detail
