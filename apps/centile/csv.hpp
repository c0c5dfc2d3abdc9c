#pragma once
// RFC 4180 records: splitting a record into fields and writing fields back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::centile {

/// Calls `field(i, text, start)` for each field of one record (without its line end), in order,
/// with the field's text unquoted and where the field starts in `record`; the text lives until the next call (a field with doubled quotes or
/// text after its closing quote is put together in `scratch`). A quote opens a quoted field only
/// as the field's first character: elsewhere it is an ordinary character, and text after a
/// closing quote is kept. Returns the number of fields, or npos when a quoted field is not closed
/// (`field` has then been called for the fields before it).
template <class Field>
std::size_t each_field(std::string_view record, std::string& scratch, Field&& field);

/// Splits one record (without its line end) into `fields`, as each_field reads it. Returns false
/// when a quoted field is not closed.
bool split_record(std::string_view record, std::vector<std::string>& fields);
/// The same, keeping at most `keep` fields in `fields`; `count` receives how many the record
/// holds. A record of millions of empty fields then costs no memory for the fields beyond `keep`.
bool split_record(std::string_view record, std::vector<std::string>& fields, std::size_t keep, std::size_t& count);

/// The commas of a record (without its line end) that holds no quote, carriage return or line feed,
/// whose fields are then the text between them: their count, at most `most`, with where each is
/// in `at` (room for most + 8); npos for any other record. The record is read eight bytes at a
/// time, whole words up to `readable` (at or past its end).
std::size_t plain_commas(std::string_view record, const char* readable, std::uint32_t* at, std::size_t most) noexcept;

/// Whether `text` holds any of `chars` (a few characters: each is looked for on its own).
bool holds_any(std::string_view text, std::string_view chars) noexcept;

/// Appends `field` to `out`, quoted (with doubled quotes) only when it holds a comma, a quote,
/// a carriage return or a line feed.
void append_field(std::string& out, std::string_view field);

/// Room for the longest text of a double.
inline constexpr std::size_t number_room = 32;

/// Writes the shortest text that reads back as the same double at `first` (with room for
/// `number_room` characters); returns its end.
char* put_number(char* first, double v) noexcept;

/// Appends the shortest text that reads back as the same double.
void append_number(std::string& out, double v);

/// put_number for a column whose values repeat (weeks from whole days, a height class): the
/// texts of recent values are kept, and a value seen again is copied rather than formatted.
class RepeatedNumbers {
public:
    /// As put_number; all `number_room` characters from `first` may be written.
    char* put(char* first, double v) noexcept {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        Entry& e = entries_[static_cast<std::size_t>((bits * 0x9e3779b97f4a7c15u) >> 56)];
        if (e.size == 0 || e.bits != bits) {
            e.bits = bits;
            e.size = static_cast<std::uint8_t>(put_number(e.text, v) - e.text);
        }
        std::memcpy(first, e.text, number_room);
        return first + e.size;
    }

private:
    struct Entry {
        std::uint64_t bits = 0;
        std::uint8_t size = 0;  // 0: empty
        char text[number_room] = {};
    };
    std::array<Entry, 256> entries_{};
};

/// Shortest text that reads back as the same double.
std::string format_number(double v);

/// Finds the end of the first complete record in `data` (which starts at a record's start): the
/// index of its line end `eol` (a line feed, or a carriage return in a file whose lines end so)
/// outside quoted fields, or npos when the record is not complete yet.
std::size_t find_record_end(std::string_view data, char eol = '\n') noexcept;

/// Drops a carriage return that ends a record.
inline std::string_view without_cr(std::string_view record) noexcept {
    if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
    return record;
}

/// The first comma in `record` from `i` (at most its size) on, or npos. Short fields, the
/// common case, are looked through here; a long one by find.
inline std::size_t next_comma(std::string_view record, std::size_t i) noexcept {
    const std::size_t stop = record.size() - i > 16 ? i + 16 : record.size();
    for (; i < stop; ++i) {
        if (record[i] == ',') return i;
    }
    return i < record.size() ? record.find(',', i) : std::string_view::npos;
}

template <class Field>
std::size_t each_field(std::string_view record, std::string& scratch, Field&& field) {
    constexpr std::size_t none = std::string_view::npos;
    const std::size_t n = record.size();
    std::size_t i = 0;
    for (std::size_t index = 0;; ++index) {
        std::string_view text;
        std::size_t comma = 0;
        const std::size_t start = i;
        if (i < n && record[i] == '"') {
            // Quoted: up to the closing quote, a doubled quote standing for one.
            const std::size_t open = ++i;
            bool copied = false;
            for (;;) {
                const std::size_t q = record.find('"', i);
                if (q == none) return none;
                if (q + 1 < n && record[q + 1] == '"') {
                    if (!copied) scratch.assign(record.substr(open, q + 1 - open));
                    if (copied) scratch.append(record.substr(i, q + 1 - i));
                    copied = true;
                    i = q + 2;
                    continue;
                }
                if (copied) scratch.append(record.substr(i, q - i));
                comma = next_comma(record, q + 1);
                const std::size_t end = comma == none ? n : comma;
                if (end > q + 1) {  // text after the closing quote belongs to the field
                    if (!copied) scratch.assign(record.substr(open, q - open));
                    scratch.append(record.substr(q + 1, end - q - 1));
                    copied = true;
                }
                text = copied ? std::string_view(scratch) : record.substr(open, q - open);
                break;
            }
        } else {
            comma = next_comma(record, i);
            text = record.substr(i, (comma == none ? n : comma) - i);
        }
        field(index, text, start);
        if (comma == none) return index + 1;
        i = comma + 1;
    }
}

}  // namespace pelmora::centile
