#pragma once
// std::from_chars for double where the C++ library lacks it (emscripten's libc++ 14 has only the
// integer overloads). Included before every source of the WebAssembly build (-include).
//
// The number reader hands it only text it has already checked against its grammar (digits, at
// most one full stop, an optional exponent, no sign), so strtod consumes exactly that text; musl's
// strtod rounds correctly, as from_chars does. A value too large or too small for a double is
// result_out_of_range, which the reader turns into infinity or zero.

#include <charconv>

#if defined(__EMSCRIPTEN__) && defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 170000

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>

namespace std {

inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format = chars_format::general) {
    const std::string text(first, last);  // strtod needs the end marked
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    const std::size_t used = static_cast<std::size_t>(end - text.c_str());
    if (used == 0) return {first, errc::invalid_argument};
    bool nonzero_digit = false;
    for (std::size_t k = 0; k < used && text[k] != 'e' && text[k] != 'E'; ++k)
        nonzero_digit = nonzero_digit || (text[k] >= '1' && text[k] <= '9');
    if (std::isinf(v) || (v == 0 && nonzero_digit)) return {first + used, errc::result_out_of_range};
    value = v;
    return {first + used, errc{}};
}

}  // namespace std

#endif
