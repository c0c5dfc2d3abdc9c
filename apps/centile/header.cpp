#include "header.hpp"

#include <algorithm>

#include "csv.hpp"

namespace pelmora::centile {

std::string read_header(std::string_view record, Header& header, bool with_class) {
    record = without_cr(record);
    if (record.substr(0, 3) == "\xEF\xBB\xBF") record.remove_prefix(3);  // UTF-8 mark
    if (!split_record(record, header.names)) return "unterminated quoted field in the CSV header";
    const auto& names = header.names;
    std::string missing;
    std::string all;
    for (std::size_t k = 0; k < input_columns.size(); ++k) {
        const std::string_view column = input_columns[k];
        all += all.empty() ? "" : ",";
        all += column;
        const auto n = std::count(names.begin(), names.end(), column);
        if (n > 1) return "the CSV header names the column " + std::string(column) + " more than once";
        if (n == 0) {
            missing += missing.empty() ? "" : ", ";
            missing += column;
        }
        header.index[k] = static_cast<std::size_t>(std::find(names.begin(), names.end(), column) - names.begin());
    }
    if (!missing.empty()) return "the CSV header lacks the column(s) " + missing + " (it needs " + all + ")";
    for (std::size_t k = 0; k < result_columns.size(); ++k) {
        if (static_cast<ResultColumn>(k) == ResultColumn::size_class && !with_class) continue;
        if (std::find(names.begin(), names.end(), result_columns[k]) != names.end()) {
            return "the CSV header names the column " + std::string(result_columns[k]) +
                   ", which the output adds; rename it";
        }
    }
    header.input_of.assign(names.size(), Header::passthrough);
    for (std::size_t k = 0; k < input_columns.size(); ++k)
        header.input_of[header.index[k]] = static_cast<std::uint8_t>(k);
    return {};
}

std::string output_header(const Header& header, bool with_class) {
    std::string line;
    for (const std::string& n : header.names) {
        append_field(line, n);
        line.push_back(',');
    }
    for (std::size_t k = 0; k < result_columns.size(); ++k) {
        if (static_cast<ResultColumn>(k) == ResultColumn::size_class && !with_class) continue;
        line.append(result_columns[k]);
        line.push_back(',');
    }
    line.back() = '\r';
    line.push_back('\n');
    return line;
}

}  // namespace pelmora::centile
