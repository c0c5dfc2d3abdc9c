#pragma once
// RFC 4180 records: splitting a record into fields and writing fields back.

#include <string>
#include <string_view>
#include <vector>

namespace pelmora::centile {

/// Splits one record (without its line end) into `fields`. Quoted fields may hold commas,
/// line breaks and doubled quotes. Lenient where the RFC is strict: text after a closing quote
/// is kept, a quote inside an unquoted field is an ordinary character. Returns false when a
/// quoted field is not closed.
bool split_record(std::string_view record, std::vector<std::string>& fields);
/// The same, keeping at most `keep` fields in `fields`; `count` receives how many the record
/// holds. A record of millions of empty fields then costs no memory for the fields beyond `keep`.
bool split_record(std::string_view record, std::vector<std::string>& fields, std::size_t keep, std::size_t& count);

/// Appends `field` to `out`, quoted (with doubled quotes) only when it holds a comma, a quote,
/// a carriage return or a line feed.
void append_field(std::string& out, std::string_view field);

/// Appends the shortest text that reads back as the same double.
void append_number(std::string& out, double v);

/// Shortest text that reads back as the same double.
std::string format_number(double v);

/// Finds the end of the first complete record in `data`: the index of its line feed outside
/// quotes, or npos when the record is not complete yet.
std::size_t find_record_end(std::string_view data) noexcept;

/// Drops a carriage return that ends a record.
inline std::string_view without_cr(std::string_view record) noexcept {
    if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
    return record;
}

}  // namespace pelmora::centile
