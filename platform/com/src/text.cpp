#include "text.hpp"

namespace pelmora::com {

static char16_t fold(char16_t c) noexcept { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool equal_nocase(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::u16string lower(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) c = fold(c);
    return out;
}

BSTR make_bstr(std::u16string_view s) noexcept { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

}  // namespace pelmora::com
