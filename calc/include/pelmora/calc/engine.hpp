#pragma once
// The batch engine: many rows of numbers through the calculators, with the calculators' own
// results and failures, bit for bit, several rows at a time and on several threads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/errors.hpp"

namespace pelmora::calc {

/// One input column: row i's value is data[i * stride]; a stride of 0 repeats one value.
template <class T>
struct Column {
    const T* data = nullptr;
    std::ptrdiff_t stride = 1;

    [[nodiscard]] T operator[](std::size_t row) const noexcept {
        return data[static_cast<std::ptrdiff_t>(row) * stride];
    }
};

/// The rows of a batch. Each input is a number, the codes too (compared by value as the
/// calculators compare them: 2.0 equals code 2, 2.5 equals no code); NaN is a missing input,
/// as text of length zero is for the control. `base` holds a Base's value per row.
struct Rows {
    std::size_t count = 0;
    Column<std::uint8_t> base;
    Column<double> bwt, gest, wt, ht, sex, eth, par;
};

/// Rows over columns held one after the other: a base per row, and the seven inputs in the
/// calculators' order (bwt, gest, wt, ht, sex, eth, par), each as long as `base`.
[[nodiscard]] inline Rows contiguous_rows(const std::vector<std::uint8_t>& base,
                                          const std::array<std::vector<double>, 7>& in) noexcept {
    return {.count = base.size(),
            .base = {base.data(), 1},
            .bwt = {in[0].data(), 1},
            .gest = {in[1].data(), 1},
            .wt = {in[2].data(), 1},
            .ht = {in[3].data(), 1},
            .sex = {in[4].data(), 1},
            .eth = {in[5].data(), 1},
            .par = {in[6].data(), 1}};
}

/// What a batch can give per row. A row whose base value names no base fails with
/// Error::invalid_argument. Quantities a row does not reach (a missing input, a failure)
/// are NaN.
enum class Quantity : std::uint8_t {
    centile,         ///< the result, in percent
    z,               ///< (bwt - optimal weight) / spread
    optimal_weight,  ///< term weight times gestation proportion
    weight,          ///< booking weight after the weight band
    weight_term,
    height_term,
    sex_term,
    ethnic_term,
    parity_term,
    term_weight,
    weeks,       ///< gestation as the calculator stores it back into gest
    proportion,  ///< gestation proportion
    spread,
    ht_after,  ///< ht as the call leaves it: the centred height for Sweden, ht itself otherwise
};
/// The quantities' names, in the order of Quantity (the Python module's, the CSV's columns').
inline constexpr auto quantity_names = std::to_array<const char*>(
    {"centile", "z", "optimal_weight", "weight", "weight_term", "height_term", "sex_term", "ethnic_term", "parity_term",
     "term_weight", "weeks", "proportion", "spread", "ht_after"});
inline constexpr std::size_t quantity_count = quantity_names.size();
static_assert(static_cast<std::size_t>(Quantity::ht_after) + 1 == quantity_count, "a name for every quantity");

/// The quantity's name as the faces spell it ("centile", "z", "optimal_weight", ...: the
/// enumerator's own name); "" for a value past the last.
[[nodiscard]] const char* quantity_name(Quantity q) noexcept;

/// Birth-weight classes by centile.
enum class SizeClass : std::int8_t {
    none = 0,  ///< no centile (a missing input or a failure)
    sga = 1,   ///< small for gestational age: below the lower threshold
    aga = 2,   ///< appropriate: neither
    lga = 3,   ///< large for gestational age: above the upper threshold
};

struct Thresholds {
    double sga_below = 10.0;  ///< a centile below this is SGA
    double lga_above = 90.0;  ///< a centile above this is LGA
};

/// SGA below t.sga_below, LGA above t.lga_above, AGA otherwise; none for NaN.
[[nodiscard]] SizeClass classify(double centile, const Thresholds& t = {}) noexcept;
/// The classes' texts, indexed by SizeClass: "" for none, then "SGA", "AGA", "LGA".
inline constexpr std::array<const char*, 4> class_texts{"", "SGA", "AGA", "LGA"};
/// "SGA", "AGA", "LGA", or "" for none.
[[nodiscard]] const char* class_text(SizeClass c) noexcept;

/// A failed row: its index, the runtime error number and the message the calculator's Failure
/// gives (e.g. "Overflow (weight band)").
struct RowFailure {
    std::size_t row;
    int number;
    std::string message;
};

/// Where a batch puts its results; every pointer may be null (not wanted), else has room for
/// Rows::count values.
struct Results {
    std::array<double*, quantity_count> values{};  ///< indexed by Quantity
    int* error = nullptr;                          ///< 0, or the row's runtime error number
    SizeClass* size_class = nullptr;               ///< by `thresholds`
    Thresholds thresholds;
    std::vector<RowFailure>* failures = nullptr;  ///< the failed rows, in row order
    /// How many of the first failed rows `failures` receives (the others are only counted in
    /// `error`); a message is kept only for those.
    std::size_t failure_limit = static_cast<std::size_t>(-1);

    double*& operator[](Quantity q) noexcept { return values[static_cast<std::size_t>(q)]; }
};

/// Computes every row; each row's values and failure are exactly those of calc::evaluate with
/// the row's numbers as doubles. `threads` 0 uses every core; small batches stay on the calling
/// thread. Allocates only the threads, a list per thread of the rows that wait for their
/// integral (at most 2048), and the failure list (as far as `failures` and `failure_limit`
/// ask); throws only std::bad_alloc and std::system_error (no thread could be started).
void evaluate_rows(const Rows& rows, Results& results, unsigned threads = 0);

}  // namespace pelmora::calc
