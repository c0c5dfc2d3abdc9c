#include "csv.hpp"

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
