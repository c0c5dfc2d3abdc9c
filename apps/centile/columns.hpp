#pragma once
// The CSV batch's columns: the inputs its header must name, and the results each row gets.

#include <array>
#include <cstddef>
#include <string_view>

namespace pelmora::centile {

/// The columns the header must name, each once, in any order.
inline constexpr std::array<std::string_view, 8> input_columns{"base", "bwt", "gest", "wt", "ht", "sex", "eth", "par"};

/// The columns added to every row, in this order; `class` only with --classify.
enum class ResultColumn : std::size_t { centile, gest_out, ht_out, z, optimal_weight, size_class, error };
inline constexpr std::array<std::string_view, 7> result_columns{"centile",        "gest_out", "ht_out", "z",
                                                                "optimal_weight", "class",    "error"};

}  // namespace pelmora::centile
