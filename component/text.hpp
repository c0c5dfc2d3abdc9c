#pragma once
// Automation text (UTF-16 BSTRs) to and from the calculators' text (UTF-8).

#include <string>
#include <string_view>

#include "com.hpp"
#include "pelmora/text/utf.hpp"

namespace pelmora::component {

using OleString = std::basic_string<OLECHAR>;
using OleStringView = std::basic_string_view<OLECHAR>;

/// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
inline std::string to_utf8(OleStringView s) { return text::to_utf8(s); }
/// UTF-16 of UTF-8 text; a malformed sequence becomes U+FFFD.
inline OleString to_ole(std::string_view s) { return text::from_utf8<OLECHAR>(s); }
/// The whole of a BSTR (embedded zeros included); an absent BSTR is the empty text.
inline OleStringView view_of(BSTR s) { return s ? OleStringView(s, SysStringLen(s)) : OleStringView(); }
/// Equal ignoring the case of ASCII letters, as automation names compare.
bool same_name(OleStringView a, OleStringView b) noexcept;
/// A compile-time ASCII text as OLE text.
OleString ole(std::string_view ascii);

}  // namespace pelmora::component
