#pragma once
// UTF-8 <-> UTF-16 for any 16-bit code unit type (char16_t on Linux, wchar_t as OLECHAR on
// Windows). Malformed input never fails: each bad sequence becomes U+FFFD.

#include <cstddef>
#include <string>
#include <string_view>

namespace pelmora::text {

/// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
template <class Ch>
std::string to_utf8(std::basic_string_view<Ch> s) {
    static_assert(sizeof(Ch) == 2, "UTF-16 code units");
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = static_cast<char16_t>(s[i]);
        const char32_t next = i + 1 < s.size() ? static_cast<char16_t>(s[i + 1]) : 0;
        if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

/// UTF-16 of UTF-8 text; a malformed, overlong or surrogate sequence becomes U+FFFD.
template <class Ch>
std::basic_string<Ch> from_utf8(std::string_view s) {
    static_assert(sizeof(Ch) == 2, "UTF-16 code units");
    std::basic_string<Ch> out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        char32_t c = 0xFFFD;
        if (n == 1) {
            c = b;
        } else if (n == 0 || i + n > s.size()) {
            n = 1;
        } else {
            c = b & (0x7Fu >> n);
            for (std::size_t k = 1; k < n; ++k) {
                const auto cb = static_cast<unsigned char>(s[i + k]);
                if ((cb & 0xC0) != 0x80) {
                    c = 0xFFFD;
                    n = k;
                    break;
                }
                c = (c << 6) | (cb & 0x3Fu);
            }
            constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            if (c != 0xFFFD && (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) c = 0xFFFD;
        }
        i += n;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<Ch>(0xD800 + (c >> 10));
            out += static_cast<Ch>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<Ch>(c);
        }
    }
    return out;
}

}  // namespace pelmora::text
