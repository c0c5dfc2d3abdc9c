#pragma once
// UTF-8 <-> UTF-16 for the layer's own use (paths, the registry file, the type library's names).

#include <string>
#include <string_view>

#include "pelmora_com_api.h"
#include "pelmora/text/utf.hpp"

namespace pelmora::com {

inline std::string to_utf8(std::u16string_view s) { return text::to_utf8(s); }
inline std::u16string to_utf16(std::string_view s) { return text::from_utf8<char16_t>(s); }
inline std::u16string_view view(LPCOLESTR s) { return s ? std::u16string_view(s) : std::u16string_view(); }
/// Case-insensitive comparison as the registry and name look-ups do it (ASCII letters fold).
bool equal_nocase(std::u16string_view a, std::u16string_view b) noexcept;
std::u16string lower(std::u16string_view s);
/// A BSTR holding `s` (nullptr when out of memory).
BSTR make_bstr(std::u16string_view s) noexcept;

}  // namespace pelmora::com
