#include "csv.hpp"

#include <charconv>
#include <cstring>

namespace pelmora::centile {

bool split_record(std::string_view record, std::vector<std::string>& fields, std::size_t keep, std::size_t& count) {
    // A field kept from an earlier, very long record gives its room back rather than holding it
    // for the rest of the run.
    constexpr std::size_t roomy = std::size_t{1} << 20;
    std::size_t used = 0;
    count = 0;
    auto next = [&]() -> std::string* {
        ++count;
        if (used == keep) return nullptr;  // counted, not kept
        if (used == fields.size()) fields.emplace_back();
        std::string& f = fields[used++];
        if (f.capacity() > roomy) std::string().swap(f);
        f.clear();
        return &f;
    };
    const auto append = [](std::string* field, std::string_view part) {
        if (field != nullptr) field->append(part);
    };
    std::size_t i = 0;
    const std::size_t n = record.size();
    for (;;) {
        std::string* field = next();
        if (i < n && record[i] == '"') {
            ++i;
            for (;;) {
                const std::size_t q = record.find('"', i);
                if (q == std::string_view::npos) {
                    fields.resize(used);
                    return false;
                }
                append(field, record.substr(i, q - i));
                if (q + 1 < n && record[q + 1] == '"') {
                    append(field, "\"");
                    i = q + 2;
                } else {
                    i = q + 1;
                    break;
                }
            }
        }
        const std::size_t comma = record.find(',', i);
        const std::size_t end = comma == std::string_view::npos ? n : comma;
        append(field, record.substr(i, end - i));
        if (comma == std::string_view::npos) break;
        i = comma + 1;
    }
    fields.resize(used);
    return true;
}

bool split_record(std::string_view record, std::vector<std::string>& fields) {
    std::size_t count = 0;
    return split_record(record, fields, std::string_view::npos, count);
}

void append_field(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
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

void append_number(std::string& out, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

std::string format_number(double v) {
    std::string s;
    append_number(s, v);
    return s;
}

std::size_t find_record_end(std::string_view data) noexcept {
    bool quoted = false;
    const char* p = data.data();
    const char* const end = p + data.size();
    while (p < end) {
        if (!quoted) {
            // Outside quotes only a quote or a line feed matters.
            const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            const char* stop = nl ? static_cast<const char*>(nl) : end;
            const void* qt = std::memchr(p, '"', static_cast<std::size_t>(stop - p));
            if (!qt) {
                if (!nl) return std::string_view::npos;
                return static_cast<std::size_t>(stop - data.data());
            }
            p = static_cast<const char*>(qt) + 1;
            quoted = true;
        } else {
            const void* qt = std::memchr(p, '"', static_cast<std::size_t>(end - p));
            if (!qt) return std::string_view::npos;
            p = static_cast<const char*>(qt) + 1;
            quoted = false;  // a doubled quote reopens at once
        }
    }
    return std::string_view::npos;
}

}  // namespace pelmora::centile
