#pragma once
// The CSV batch's header: where each input column is, or why the header is unusable.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "columns.hpp"

namespace pelmora::centile {

struct Header {
    std::vector<std::string> names;                         ///< every column, as named
    std::array<std::size_t, input_columns.size()> index{};  ///< where each input column is
    std::vector<std::uint8_t> input_of;                     ///< per column: its input column, or `passthrough`
    static constexpr std::uint8_t passthrough = 0xff;
};

/// Reads the header record (without its line end; a UTF-8 byte-order mark is skipped). Returns
/// an empty text and fills `header`, or the reason the header is unusable (a column the output
/// adds, `class` only `with_class`, may not be named: the output would name it twice).
std::string read_header(std::string_view record, Header& header, bool with_class = false);

/// The header of the output: every input column, then the result columns.
std::string output_header(const Header& header, bool with_class);

}  // namespace pelmora::centile
