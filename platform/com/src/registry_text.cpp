#include "registry_text.hpp"

namespace pelmora::com {

std::u16string guid_text(REFGUID g) {
    OLECHAR buf[39];
    StringFromGUID2(g, buf, 39);
    return buf;
}

bool read_text(const std::u16string& path, std::u16string& out, LPCWSTR name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    struct Close {
        HKEY k;
        ~Close() { RegCloseKey(k); }
    } close{key};
    DWORD type = 0, cb = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &cb) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::u16string buf(cb / sizeof(WCHAR) + 1, u'\0');
    DWORD got = static_cast<DWORD>(buf.size() * sizeof(WCHAR));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf.data()), &got) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    buf.resize(got / sizeof(WCHAR));
    if (const auto end = buf.find(u'\0'); end != std::u16string::npos) buf.resize(end);
    out = std::move(buf);
    return true;
}

bool write_text(const std::u16string& path, std::u16string_view value, LPCWSTR name) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const std::u16string v(value);
    const bool ok = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                                   static_cast<DWORD>((v.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

}  // namespace pelmora::com
