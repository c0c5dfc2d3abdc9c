// The registry: a tree of keys with typed values, held in memory by the process, with the
// Windows API's shape. A host may save it to a file and load it again.

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pelmora_com_api.h"
#include "pelmora_com_host.h"
#include "text.hpp"

using pelmora::com::lower;
using pelmora::com::to_utf16;
using pelmora::com::to_utf8;
using pelmora::com::view;

namespace {

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::u16string name;
    std::map<std::u16string, std::shared_ptr<Key>> children;  // by lower-case name
    std::vector<Value> values;
    bool deleted = false;

    Value* find_value(std::u16string_view n) {
        for (auto& v : values)
            if (pelmora::com::equal_nocase(v.name, n)) return &v;
        return nullptr;
    }
};

struct Handle {
    std::shared_ptr<Key> key;
};

struct Registry {
    std::recursive_mutex mutex;
    std::map<ULONG_PTR, std::shared_ptr<Key>> roots;
    std::set<Handle*> handles;

    Registry() { reset(); }
    ~Registry() {
        for (Handle* h : handles) delete h;
    }

    // The fresh roots are built first: running out of memory leaves the registry as it was.
    void reset() {
        static constexpr const char16_t* names[] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE",
                                                    u"HKEY_USERS"};
        const HKEY ids[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
        std::map<ULONG_PTR, std::shared_ptr<Key>> fresh;
        for (int i = 0; i < 4; ++i) {
            auto k = std::make_shared<Key>();
            k->name = names[i];
            fresh[reinterpret_cast<ULONG_PTR>(ids[i])] = k;
        }
        // A fresh system already has these.
        for (const char16_t* n : {u"CLSID", u"Interface", u"TypeLib"}) {
            auto k = std::make_shared<Key>();
            k->name = n;
            fresh[reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT)]->children[lower(n)] = k;
        }
        for (auto& [id, root] : roots) mark_deleted(*root);
        roots.swap(fresh);
    }

    static void mark_deleted(Key& k) {
        k.deleted = true;
        for (auto& [n, c] : k.children) mark_deleted(*c);
    }

    std::shared_ptr<Key> resolve(HKEY h) {
        const auto id = reinterpret_cast<ULONG_PTR>(h);
        if (auto it = roots.find(id); it != roots.end()) return it->second;
        auto* handle = reinterpret_cast<Handle*>(h);
        if (!handles.count(handle)) return nullptr;
        return handle->key;
    }

    HKEY open(std::shared_ptr<Key> k) {
        auto h = std::make_unique<Handle>(Handle{std::move(k)});
        handles.insert(h.get());
        return reinterpret_cast<HKEY>(h.release());
    }
};

Registry& registry() {
    static Registry r;
    return r;
}

std::vector<std::u16string> split_path(LPCWSTR path) {
    std::vector<std::u16string> parts;
    std::u16string cur;
    for (char16_t c : view(path)) {
        if (c == u'\\') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

// Copies an enumerated name into a caller's buffer: it must fit with its terminator, and the
// count becomes the name's length without it.
LONG copy_name(const std::u16string& n, LPWSTR out, LPDWORD cch) {
    if (*cch <= n.size()) return ERROR_MORE_DATA;
    std::copy(n.begin(), n.end(), out);
    out[n.size()] = 0;
    *cch = static_cast<DWORD>(n.size());
    return ERROR_SUCCESS;
}

// Copies data into a caller's buffer with the API's size protocol.
LONG copy_out(const std::vector<BYTE>& data, LPBYTE out, LPDWORD cb) {
    if (!cb) return out ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(data.size());
    if (!out) {
        *cb = size;
        return ERROR_SUCCESS;
    }
    if (*cb < size) {
        *cb = size;
        return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(out, data.data(), size);
    *cb = size;
    return ERROR_SUCCESS;
}

// Runs an entry point's body: running out of memory is a failure, never an exception.
template <class F>
LONG guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

WINADVAPI LONG RegCreateKeyExW(HKEY hKey, LPCWSTR sub, DWORD, LPWSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*,
                               PHKEY result, LPDWORD disposition) {
    return guarded([&]() -> LONG {
        if (!result) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto k = r.resolve(hKey);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        DWORD disp = REG_OPENED_EXISTING_KEY;
        for (const auto& part : split_path(sub)) {
            const std::u16string folded = lower(part);
            auto it = k->children.find(folded);
            if (it == k->children.end()) {
                auto fresh = std::make_shared<Key>();
                fresh->name = part;
                it = k->children.emplace(folded, std::move(fresh)).first;
                disp = REG_CREATED_NEW_KEY;
            }
            k = it->second;
        }
        if (disposition) *disposition = disp;
        *result = r.open(k);
        return ERROR_SUCCESS;
    });
}

WINADVAPI LONG RegOpenKeyExW(HKEY hKey, LPCWSTR sub, DWORD, REGSAM, PHKEY result) {
    return guarded([&]() -> LONG {
        if (!result) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto k = r.resolve(hKey);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        for (const auto& part : split_path(sub)) {
            auto it = k->children.find(lower(part));
            if (it == k->children.end()) return ERROR_FILE_NOT_FOUND;
            k = it->second;
        }
        *result = r.open(k);
        return ERROR_SUCCESS;
    });
}

WINADVAPI LONG RegCloseKey(HKEY hKey) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.roots.count(reinterpret_cast<ULONG_PTR>(hKey))) return ERROR_SUCCESS;
    auto* h = reinterpret_cast<Handle*>(hKey);
    if (!r.handles.erase(h)) return ERROR_INVALID_HANDLE;
    delete h;
    return ERROR_SUCCESS;
}

WINADVAPI LONG RegSetValueExW(HKEY hKey, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD cb) {
    return guarded([&]() -> LONG {
        if (!data && cb) return ERROR_INVALID_PARAMETER;
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto k = r.resolve(hKey);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        Value* v = k->find_value(view(name));
        if (!v) {
            k->values.push_back(Value{std::u16string(view(name)), type, {}});
            v = &k->values.back();
        }
        v->type = type;
        v->data.assign(data, data + cb);
        return ERROR_SUCCESS;
    });
}

WINADVAPI LONG RegQueryValueExW(HKEY hKey, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cb) {
    return guarded([&]() -> LONG {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto k = r.resolve(hKey);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        const Value* v = k->find_value(view(name));
        if (!v) return ERROR_FILE_NOT_FOUND;
        if (type) *type = v->type;
        return copy_out(v->data, data, cb);
    });
}

WINADVAPI LONG RegEnumKeyExW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD, LPWSTR cls,
                             LPDWORD cchClass, PFILETIME lastWrite) {
    return guarded([&]() -> LONG {
        if (!name || !cchName) return ERROR_INVALID_PARAMETER;
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto k = r.resolve(hKey);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        if (index >= k->children.size()) return ERROR_NO_MORE_ITEMS;
        auto it = k->children.begin();
        std::advance(it, index);
        if (copy_name(it->second->name, name, cchName) != ERROR_SUCCESS) return ERROR_MORE_DATA;
        if (cls && cchClass && *cchClass) *cls = 0;
        if (cchClass) *cchClass = 0;
        if (lastWrite) *lastWrite = FILETIME{};
        return ERROR_SUCCESS;
    });
}

WINADVAPI LONG RegEnumValueW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD, LPDWORD type, LPBYTE data,
                             LPDWORD cb) {
    return guarded([&]() -> LONG {
        if (!name || !cchName) return ERROR_INVALID_PARAMETER;
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto k = r.resolve(hKey);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
        const Value& v = k->values[index];
        if (copy_name(v.name, name, cchName) != ERROR_SUCCESS) return ERROR_MORE_DATA;
        if (type) *type = v.type;
        return copy_out(v.data, data, cb);
    });
}

WINADVAPI LONG RegDeleteValueW(HKEY hKey, LPCWSTR name) {
    return guarded([&]() -> LONG {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto k = r.resolve(hKey);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        auto it = std::find_if(k->values.begin(), k->values.end(),
                               [&](const Value& v) { return pelmora::com::equal_nocase(v.name, view(name)); });
        if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
        k->values.erase(it);
        return ERROR_SUCCESS;
    });
}

// Deletes the named subkey (and with `tree` everything below it); without `tree` the key
// must have no subkeys. An empty name with `tree` empties the key itself.
static LONG delete_key(HKEY hKey, LPCWSTR sub, bool tree) {
    return guarded([&]() -> LONG {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto k = r.resolve(hKey);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        const auto parts = split_path(sub);
        if (parts.empty()) {
            if (!tree) return ERROR_ACCESS_DENIED;
            for (auto& [n, c] : k->children) Registry::mark_deleted(*c);
            k->children.clear();
            k->values.clear();
            return ERROR_SUCCESS;
        }
        std::shared_ptr<Key> parent = k;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            auto it = parent->children.find(lower(parts[i]));
            if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
            parent = it->second;
        }
        auto it = parent->children.find(lower(parts.back()));
        if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
        if (!tree && !it->second->children.empty()) return ERROR_ACCESS_DENIED;
        Registry::mark_deleted(*it->second);
        parent->children.erase(it);
        return ERROR_SUCCESS;
    });
}

WINADVAPI LONG RegDeleteKeyW(HKEY hKey, LPCWSTR sub) {
    if (!sub) return ERROR_INVALID_PARAMETER;
    return delete_key(hKey, sub, false);
}

WINADVAPI LONG RegDeleteTreeW(HKEY hKey, LPCWSTR sub) { return delete_key(hKey, sub, true); }

// ---- The registry file ---------------------------------------------------------------------
// Text, one line per key ("K" and the escaped path below its root) or value ("V", the escaped
// name or "@" for the default value, the type, the data in hex), values following their key.
// A file is outside input: anything malformed refuses the whole file.

namespace {

// As deep as a Windows registry tree may be; the tree is walked recursively.
constexpr std::size_t deepest_key = 512;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two hex digits at s[i], s[i + 1] (which must exist).
int hex_byte(const std::string& s, std::size_t i) {
    const int hi = hex_digit(s[i]), lo = hex_digit(s[i + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

std::string escape(std::u16string_view s) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : to_utf8(s)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 0x20 && c < 0x7F && c != '%' && c != '\\' && c != '@') {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool unescape(const std::string& s, std::u16string& out) {
    std::string bytes;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            bytes += s[i];
            continue;
        }
        if (s.size() - i < 3) return false;
        const int v = hex_byte(s, i + 1);
        if (v < 0) return false;
        bytes += static_cast<char>(v);
        i += 2;
    }
    out = to_utf16(bytes);
    return true;
}

const char* root_tag(ULONG_PTR id) {
    if (id == reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT)) return "HKCR";
    if (id == reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_USER)) return "HKCU";
    if (id == reinterpret_cast<ULONG_PTR>(HKEY_LOCAL_MACHINE)) return "HKLM";
    return "HKU";
}

void save_key(std::ostream& out, const std::string& path, const Key& k) {
    out << "K " << path << '\n';
    for (const auto& v : k.values) {
        out << "V " << (v.name.empty() ? std::string("@") : escape(v.name)) << ' ' << v.type << ' ';
        static constexpr char hex[] = "0123456789abcdef";
        for (BYTE b : v.data) out << hex[b >> 4] << hex[b & 15];
        out << (v.data.empty() ? "-" : "") << '\n';
    }
    for (const auto& [n, c] : k.children) save_key(out, path + '\\' + escape(c->name), *c);
}

}  // namespace

STDAPI PelmoraRegistrySave(const char* path) try {
    if (!path) return E_INVALIDARG;
    auto& r = registry();
    std::ostringstream text;
    {
        std::lock_guard lock(r.mutex);
        text << "PELMORA-REGISTRY 1\n";
        for (const auto& [id, root] : r.roots) save_key(text, root_tag(id), *root);
    }
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text.str();
    f.close();
    return f ? S_OK : E_FAIL;
} catch (...) {
    return E_OUTOFMEMORY;
}

STDAPI PelmoraRegistryLoad(const char* path) try {
    if (!path) return E_INVALIDARG;
    std::ifstream f(path, std::ios::binary);
    if (!f) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::string line;
    if (!std::getline(f, line) || line != "PELMORA-REGISTRY 1") return E_FAIL;
    // Parse into a fresh set of roots first, so a malformed file changes nothing.
    std::map<std::string, std::shared_ptr<Key>> roots;
    for (const char* tag : {"HKCR", "HKCU", "HKLM", "HKU"}) roots[tag] = std::make_shared<Key>();
    std::shared_ptr<Key> current;
    while (std::getline(f, line)) {
        if (line.empty()) continue;
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "K") {
            std::string p;
            in >> p;
            std::vector<std::string> parts;
            std::size_t start = 0;
            for (std::size_t i = 0; i <= p.size(); ++i) {
                if (i == p.size() || p[i] == '\\') {
                    parts.push_back(p.substr(start, i - start));
                    start = i + 1;
                }
            }
            auto it = roots.find(parts[0]);
            if (it == roots.end() || parts.size() - 1 > deepest_key) return E_FAIL;
            current = it->second;
            for (std::size_t i = 1; i < parts.size(); ++i) {
                std::u16string n;
                if (parts[i].empty() || !unescape(parts[i], n)) return E_FAIL;
                auto& slot = current->children[lower(n)];
                if (!slot) {
                    slot = std::make_shared<Key>();
                    slot->name = n;
                }
                current = slot;
            }
        } else if (kind == "V") {
            std::string n, hexdata;
            DWORD type = 0;
            if (!current || !(in >> n >> type >> hexdata)) return E_FAIL;
            Value v;
            if (n != "@" && !unescape(n, v.name)) return E_FAIL;
            v.type = type;
            if (hexdata != "-") {
                if (hexdata.size() % 2) return E_FAIL;
                v.data.reserve(hexdata.size() / 2);
                for (std::size_t i = 0; i < hexdata.size(); i += 2) {
                    const int b = hex_byte(hexdata, i);
                    if (b < 0) return E_FAIL;
                    v.data.push_back(static_cast<BYTE>(b));
                }
            }
            current->values.push_back(std::move(v));
        } else {
            return E_FAIL;
        }
    }
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& [id, root] : r.roots) Registry::mark_deleted(*root);
    const std::pair<HKEY, const char*> ids[] = {
        {HKEY_CLASSES_ROOT, "HKCR"}, {HKEY_CURRENT_USER, "HKCU"}, {HKEY_LOCAL_MACHINE, "HKLM"}, {HKEY_USERS, "HKU"}};
    for (const auto& [h, tag] : ids) r.roots[reinterpret_cast<ULONG_PTR>(h)] = roots[tag];
    return S_OK;
} catch (...) {
    return E_OUTOFMEMORY;
}

STDAPI_(void) PelmoraRegistryReset() {
    try {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        r.reset();
    } catch (...) {
        // out of memory: the registry stays as it was
    }
}
