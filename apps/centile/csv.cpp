#include "csv.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "pelmora/number_text.hpp"

namespace pelmora::centile {

bool split_record(std::string_view record, std::vector<std::string>& fields, std::size_t keep, std::size_t& count) {
    // A field kept from an earlier, very long record gives its room back rather than holding it
    // for the rest of the run.
    constexpr std::size_t roomy = std::size_t{1} << 20;
    std::size_t used = 0;
    std::string scratch;
    count = each_field(record, scratch, [&](std::size_t, std::string_view text, std::size_t) {
        if (used == keep) return;  // counted, not kept
        if (used == fields.size()) fields.emplace_back();
        std::string& f = fields[used++];
        if (f.capacity() > roomy && text.size() <= roomy) std::string().swap(f);
        f.assign(text);
    });
    fields.resize(used);
    if (count == std::string_view::npos) {
        count = used;
        return false;
    }
    return true;
}

bool split_record(std::string_view record, std::vector<std::string>& fields) {
    std::size_t count = 0;
    return split_record(record, fields, std::string_view::npos, count);
}

std::size_t plain_commas(std::string_view record, const char* readable, std::uint32_t* at, std::size_t most) noexcept {
    const char* const p = record.data();
    const std::size_t n = record.size();
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; i += 8) {
        std::uint64_t w = 0;
        const std::size_t left = n - i;
        if (readable - (p + i) >= 8) {
            std::memcpy(&w, p + i, 8);
            if (left < 8) w &= (std::uint64_t{1} << (8 * left)) - 1;  // past the record: zeros
        } else {
            std::memcpy(&w, p + i, std::min<std::size_t>(left, 8));
        }
        if ((bytes_equal(w, '"') | bytes_equal(w, '\r') | bytes_equal(w, '\n')) != 0) return std::string_view::npos;
        // Four entries whatever the count, so that how many there are decides no branch; a word
        // of more than four commas (fields of one character or none) takes the rest.
        std::uint64_t commas = bytes_equal(w, ',');
        const auto put = [&] {
            // (the top bit set stands in for no comma, without a branch on it)
            const auto bit = static_cast<std::size_t>(std::countr_zero(commas | std::uint64_t{1} << 63));
            at[count] = static_cast<std::uint32_t>(i + bit / 8);
            count += commas != 0 ? 1 : 0;
            commas &= commas - 1;
        };
        put();
        put();
        put();
        put();
        while (commas != 0) put();
        if (count > most) return std::string_view::npos;
    }
    return count;
}

bool holds_any(std::string_view text, std::string_view chars) noexcept {
    for (const char c : chars) {
        if (!text.empty() && std::memchr(text.data(), c, text.size()) != nullptr) return true;
    }
    return false;
}

void append_field(std::string& out, std::string_view field) {
    if (!holds_any(field, ",\"\r\n")) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (const char c : field) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

char* put_number(char* first, double v) noexcept { return shortest_text(first, first + number_room, v).ptr; }

void append_number(std::string& out, double v) {
    char buf[number_room];
    out.append(buf, put_number(buf, v));
}

std::string format_number(double v) {
    std::string s;
    append_number(s, v);
    return s;
}

std::size_t find_record_end(std::string_view data, char eol) noexcept {
    const char* const begin = data.data();
    const char* const end = begin + data.size();
    const char* p = begin;
    for (;;) {
        // Outside quotes: the line end, or a quote that opens a field (any other is an ordinary
        // character of its field).
        const void* nl = std::memchr(p, eol, static_cast<std::size_t>(end - p));
        const char* const stop = nl ? static_cast<const char*>(nl) : end;
        const char* open = nullptr;
        for (const char* q = p; q < stop;) {
            const void* qt = std::memchr(q, '"', static_cast<std::size_t>(stop - q));
            if (!qt) break;
            const char* const at = static_cast<const char*>(qt);
            if (at == begin || at[-1] == ',') {
                open = at;
                break;
            }
            q = at + 1;
        }
        if (!open) return nl ? static_cast<std::size_t>(stop - begin) : std::string_view::npos;
        // Inside quotes: up to the closing quote; a doubled quote stays inside.
        p = open + 1;
        for (;;) {
            const void* qt = std::memchr(p, '"', static_cast<std::size_t>(end - p));
            if (!qt) return std::string_view::npos;
            p = static_cast<const char*>(qt) + 1;
            if (p == end) return std::string_view::npos;  // a doubled quote, or the close?
            if (*p != '"') break;
            ++p;
        }
    }
}

}  // namespace pelmora::centile
