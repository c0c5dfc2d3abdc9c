#include "text.hpp"

namespace pelmora::component {

bool same_name(OleStringView a, OleStringView b) noexcept {
    if (a.size() != b.size()) return false;
    auto fold = [](OLECHAR c) { return (c >= 'A' && c <= 'Z') ? static_cast<OLECHAR>(c + ('a' - 'A')) : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

OleString ole(std::string_view ascii) {
    OleString out;
    for (char c : ascii) out += static_cast<OLECHAR>(c);
    return out;
}

}  // namespace pelmora::component
