// The C interface's batch against its single rows: every row of pelmora_evaluate_batch must be,
// bit for bit, what pelmora_evaluate gives for that row alone (value, error number, class).
// Input: one byte of threads, then rows of 29 bytes: a base byte and seven inputs, each four
// bytes of a little-endian int32 divided by 16 (so codes, weights and heights all occur), the
// largest int32 standing for NaN (a missing input) and the smallest for infinity.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "pelmora/centile.h"

namespace {

constexpr std::size_t row_bytes = 1 + 7 * 4;

double value_at(const std::uint8_t* p) {
    std::uint32_t u = 0;
    for (int k = 3; k >= 0; --k) u = (u << 8) | p[k];
    std::int32_t i = 0;
    std::memcpy(&i, &u, sizeof i);
    if (i == std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<double>::quiet_NaN();
    if (i == std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<double>::infinity();
    return i / 16.0;
}

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned threads = data[0] % 3;
    const std::size_t n = (size - 1) / row_bytes;
    std::vector<int> base(n);
    std::vector<double> in[7];
    for (auto& column : in) column.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* row = data + 1 + i * row_bytes;
        base[i] = static_cast<int>(row[0] % 6) - (row[0] % 6 == 5 ? 6 : 0);  // 0..4, and -1
        for (std::size_t k = 0; k < 7; ++k) in[k][i] = value_at(row + 1 + 4 * k);
    }
    std::vector<double> centile(n), z(n), optimal(n);
    std::vector<int> error(n);
    std::vector<signed char> size_class(n);
    const pelmora_columns columns = {sizeof(pelmora_columns),
                                     base.data(),
                                     0,
                                     in[0].data(),
                                     in[1].data(),
                                     in[2].data(),
                                     in[3].data(),
                                     in[4].data(),
                                     in[5].data(),
                                     in[6].data()};
    pelmora_outputs out = {sizeof(pelmora_outputs), centile.data(),    z.data(),         optimal.data(), error.data(),
                           size_class.data(),       PELMORA_SGA_BELOW, PELMORA_LGA_ABOVE};
    if (pelmora_evaluate_batch(n, &columns, &out, threads) != 0) std::abort();
    for (std::size_t i = 0; i < n; ++i) {
        const pelmora_inputs one = {
            sizeof(pelmora_inputs), in[0][i], in[1][i], in[2][i], in[3][i], in[4][i], in[5][i], in[6][i]};
        pelmora_evaluation ev = PELMORA_EVALUATION_INIT;
        const int status = pelmora_evaluate(base[i], &one, &ev);
        if (status != error[i] || ev.error != error[i] || !same(ev.centile, centile[i]) || !same(ev.z, z[i]) ||
            !same(ev.optimal_weight, optimal[i]) ||
            size_class[i] !=
                static_cast<signed char>(pelmora_classify(ev.centile, PELMORA_SGA_BELOW, PELMORA_LGA_ABOVE))) {
            std::abort();
        }
    }
    return 0;
}
