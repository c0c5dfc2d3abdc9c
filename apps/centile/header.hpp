#pragma once
// The CSV batch's header: where each input column is, or why the header is unusable.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "columns.hpp"

namespace pelmora::centile {

struct Header {
    std::vector<std::string> names;                         ///< every column, as named
    std::array<std::size_t, input_columns.size()> index{};  ///< where each input column is
};

/// Reads the header record (without its line end; a UTF-8 byte-order mark is skipped). Returns
/// an empty text and fills `header`, or the reason the header is unusable.
std::string read_header(std::string_view record, Header& header);

/// The header of the output: every input column, then the result columns.
std::string output_header(const Header& header, bool with_class);

}  // namespace pelmora::centile
