#pragma once
// std::from_chars for double where the C++ library lacks it (emscripten's libc++ 13 has only the
// integer overloads). Included before every source of the WebAssembly build (-include).
//
// It reads what from_chars reads (the chart's point reader hands it text as a person typed it) and
// gives strtod exactly that text; musl's strtod rounds correctly, as from_chars does. A value too
// large or too small for a double is result_out_of_range, which the number reader turns into
// infinity or zero.

#include <charconv>

#if defined(__EMSCRIPTEN__) && defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 170000

#include <cerrno>
#include <cmath>
#include <cctype>
#include <cstdlib>
#include <string>
#include <system_error>

namespace std {

inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format = chars_format::general) {
    // What from_chars reads: an optional minus, then "inf", "infinity" or "nan" in any case, or
    // digits with at most one full stop and an optional exponent; no blanks, plus or hex. strtod
    // is then given exactly that text.
    const char* p = first;
    if (p != last && *p == '-') ++p;
    auto word = [&](const char* w) {
        std::size_t n = 0;
        while (w[n] && p + n != last && (p[n] | 0x20) == w[n]) ++n;
        return w[n] == '\0' ? n : 0;
    };
    const char* end = p;
    if (const std::size_t n = word("infinity") ? 8 : word("inf") ? 3 : word("nan") ? 3 : 0) {
        end = p + n;
    } else {
        bool digits = false;
        while (end != last && *end >= '0' && *end <= '9') ++end, digits = true;
        if (end != last && *end == '.') {
            ++end;
            while (end != last && *end >= '0' && *end <= '9') ++end, digits = true;
        }
        if (!digits) return {first, errc::invalid_argument};
        if (end != last && (*end == 'e' || *end == 'E')) {
            const char* x = end + 1;
            if (x != last && (*x == '+' || *x == '-')) ++x;
            if (x != last && *x >= '0' && *x <= '9') {
                while (x != last && *x >= '0' && *x <= '9') ++x;
                end = x;
            }
        }
    }
    const std::string text(first, end);  // strtod needs the end marked
    errno = 0;
    const double v = std::strtod(text.c_str(), nullptr);
    bool nonzero_digit = false;
    for (std::size_t k = 0; k < text.size() && text[k] != 'e' && text[k] != 'E'; ++k)
        nonzero_digit = nonzero_digit || (text[k] >= '1' && text[k] <= '9');
    if ((std::isinf(v) && std::isdigit(static_cast<unsigned char>(*p))) || (v == 0 && nonzero_digit))
        return {end, errc::result_out_of_range};
    value = v;
    return {end, errc{}};
}

}  // namespace std

#endif
