#pragma once
// The CSV batch's rows: records in, output rows out, computed by the batch engine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "csv.hpp"
#include "header.hpp"
#include "pelmora/calc/engine.hpp"

namespace pelmora::centile {

struct RowOptions {
    bool classify = false;  ///< add the class column
    calc::Thresholds thresholds;
};

/// Turns records into output rows; one per worker thread, reusing its buffers.
class RowComputer {
public:
    RowComputer(const Header& header, const RowOptions& options) : header_(header), options_(options) {}

    /// Appends the output rows of the records of `chunk` (each ending at the matching `ends`
    /// entry, its line feed included) to `out`, in order. Returns false when some row failed.
    bool compute(std::string_view chunk, const std::vector<std::size_t>& ends, std::string& out);

private:
    // One record of the chunk, as far as it has been read. Only the input fields are kept; the
    // others pass through from the record's text when the row is written, so a record of many
    // columns costs no more than its text.
    struct Record {
        std::string_view text;                                      // without its line end
        std::array<std::string_view, input_columns.size()> inputs;  // by input column
        std::array<std::string, input_columns.size()> copies;       // an input put together from its parts
        bool aligned = false;                                       // its fields are the header's columns
        bool unquoted = false;  // no quote, carriage return or line feed: the fields are as written
        std::string error;      // a record-level fault: its field count, an unknown base
        bool blank = false;
        bool plain = false;  // every input field empty or a finite number: the engine takes it
    };

    void read(std::string_view text, Record& r, std::size_t row);
    // The fields of a record of plain fields, found a word at a time; false for any other.
    bool read_plain(std::string_view text, Record& r);
    // The record's fields as the header's columns, then the comma before the results.
    void echo(const Record& r, std::string& out) const;
    void write(const Record& r, std::size_t row, std::string& out) const;
    bool write_by_calculator(const Record& r, std::string& out) const;

    const Header& header_;
    const RowOptions& options_;
    mutable std::string scratch_;     // a field put together from its parts
    const char* readable_ = nullptr;  // the end of the chunk being read
    std::vector<std::uint32_t> commas_;
    mutable RepeatedNumbers weeks_text_;
    mutable RepeatedNumbers ht_text_;
    std::vector<Record> records_;
    // The engine's columns for this chunk: row k of the engine is record engine_record_[k].
    std::vector<std::uint8_t> base_;
    std::array<std::vector<double>, 7> inputs_;
    std::array<std::vector<double>, 5> results_;  // centile, z, optimal weight, weeks, ht after
    std::vector<int> errors_;
    std::vector<std::size_t> engine_row_;  // per record: its engine row, or npos
};

}  // namespace pelmora::centile
