#pragma once
// std::to_chars for double where the C++ library lacks it (emscripten's libc++ 13 has only the
// integer overloads), giving the bytes the native library gives: the shortest text that reads
// back as the value, fixed or scientific whichever is shorter (fixed on a tie; a whole number
// in its exact digits), and fixed with a given number of places. Included before every source of
// the WebAssembly build (-include).
//
// musl's printf writes the exact decimal value correctly rounded and its strtod reads correctly
// rounded, as to_chars and from_chars do. Checked against libstdc++'s to_chars on a million values.

#include <charconv>

#if defined(__EMSCRIPTEN__) && defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 14000

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace std {

namespace pelmora_detail {
inline to_chars_result put(char* first, char* last, const std::string& text) {
    if (static_cast<std::size_t>(last - first) < text.size()) return {last, errc::value_too_large};
    std::memcpy(first, text.data(), text.size());
    return {first + text.size(), errc{}};
}
}  // namespace pelmora_detail

inline to_chars_result to_chars(char* first, char* last, double value, chars_format format, int precision) {
    if (format != chars_format::fixed) return {first, errc::invalid_argument};  // only fixed is needed here
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", precision < 0 ? 6 : precision, value);
    return pelmora_detail::put(first, last, buf);
}

inline to_chars_result to_chars(char* first, char* last, double value) {
    const std::string sign = std::signbit(value) ? "-" : "";
    if (std::isnan(value)) return pelmora_detail::put(first, last, sign + "nan");
    if (std::isinf(value)) return pelmora_detail::put(first, last, sign + "inf");
    if (value == 0) return pelmora_detail::put(first, last, sign + "0");
    // The fewest significant digits d (and the exponent of the first) that read back as the value:
    // the correctly rounded ones, or, where the value's interval is uneven (just above a power of
    // two), the next ones toward the wider side.
    const double magnitude = std::fabs(value);
    std::string d;
    int exponent = 0;
    for (int count = 1; count <= 17 && d.empty(); ++count) {
        char sci[40];
        std::snprintf(sci, sizeof sci, "%.*e", count - 1, magnitude);
        const char* e = std::strchr(static_cast<const char*>(sci), 'e');
        std::string rounded(1, sci[0]);
        if (sci[1] == '.') rounded.append(static_cast<const char*>(sci) + 2, e);
        const int at = std::atoi(e + 1);
        const unsigned long long m = std::stoull(rounded);
        for (const unsigned long long candidate : {m, m - 1, m + 1}) {
            const std::string digits = std::to_string(candidate);
            if (digits.size() != rounded.size()) continue;
            if (std::strtod((digits + "e" + std::to_string(at - count + 1)).c_str(), nullptr) == magnitude) {
                d = digits;
                exponent = at;
                break;
            }
        }
    }
    std::string scientific = d.substr(0, 1);
    if (d.size() > 1) scientific += "." + d.substr(1);
    const int size = exponent < 0 ? -exponent : exponent;
    scientific += std::string("e") + (exponent < 0 ? "-" : "+") + (size < 10 ? "0" : "") + std::to_string(size);
    std::string fixed;
    const int whole = exponent + 1;  // digits before the full stop
    if (whole <= 0) {
        fixed = "0." + std::string(static_cast<std::size_t>(-whole), '0') + d;
    } else if (static_cast<std::size_t>(whole) >= d.size()) {
        // A whole number is written with its exact digits, as printf's %.0f writes it.
        char digits[400];
        std::snprintf(digits, sizeof digits, "%.0f", std::fabs(value));
        fixed = digits;
    } else {
        fixed = d.substr(0, static_cast<std::size_t>(whole)) + "." + d.substr(static_cast<std::size_t>(whole));
    }
    return pelmora_detail::put(first, last, sign + (fixed.size() <= scientific.size() ? fixed : scientific));
}

}  // namespace std

#endif
