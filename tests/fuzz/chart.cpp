// The chart from untrusted text: each line of the input is a point as the command line, the
// Python module, R and the web element take it ("GEST:GRAMS[:LABEL]"), the first line may instead
// be a date for the row of dates. A point is either read or refused with std::invalid_argument, a
// chart either drawn or refused with calc::Failure; anything else is a finding, and so is a chart
// that is not well-formed UTF-8 free of the control characters XML 1.0 forbids (a browser would
// refuse the whole picture).

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "pelmora/calc/failure.hpp"
#include "pelmora/chart/chart.hpp"

namespace {

// Well-formed UTF-8 after the Unicode standard's table of byte ranges, without surrogates,
// U+FFFE/U+FFFF or C0 controls but tab, line feed and carriage return.
bool is_xml_text(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
        const auto in = [&](std::size_t k, unsigned lo, unsigned hi) {
            return i + k < s.size() && b(k) >= lo && b(k) <= hi;
        };
        const unsigned c = b(0);
        std::size_t n = 0;
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
            n = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = in(1, 0x80, 0xBF) ? 2 : 0;
        } else if (c == 0xE0) {
            n = in(1, 0xA0, 0xBF) && in(2, 0x80, 0xBF) ? 3 : 0;
        } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
            n = in(1, 0x80, 0xBF) && in(2, 0x80, 0xBF) ? 3 : 0;
            if (n && c == 0xEF && b(1) == 0xBF && (b(2) == 0xBE || b(2) == 0xBF)) return false;
        } else if (c == 0xED) {
            n = in(1, 0x80, 0x9F) && in(2, 0x80, 0xBF) ? 3 : 0;
        } else if (c == 0xF0) {
            n = in(1, 0x90, 0xBF) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
        } else if (c >= 0xF1 && c <= 0xF3) {
            n = in(1, 0x80, 0xBF) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
        } else if (c == 0xF4) {
            n = in(1, 0x80, 0x8F) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
        }
        if (n == 0) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace chart = pelmora::chart;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    chart::Chart c;
    c.mother = {pelmora::calc::Base::new_zealand, 58, 161, 2, 1, 1};
    std::size_t at = 0;
    for (bool first = true; at <= input.size() && c.points.size() < 12; first = false) {
        auto end = input.find('\n', at);
        if (end == std::string_view::npos) end = input.size();
        const std::string_view line = input.substr(at, end - at);
        at = end + 1;
        if (first && line.size() == 10 && line[4] == '-') {
            c.edd = chart::parse_date(line);
            continue;
        }
        try {
            c.points.push_back(chart::parse_point(line));
        } catch (const std::invalid_argument&) {
        }
    }
    std::string svg;
    try {
        svg = chart::svg(c);
    } catch (const pelmora::calc::Failure&) {
        return 0;
    }
    if (!is_xml_text(svg)) __builtin_trap();
    return 0;
}
