// The registry's Windows API (RegCreateKeyExW and the rest) over the tree in memory
// (registry_tree.hpp), and PelmoraRegistryReset.

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pelmora_com_api.h"
#include "pelmora_com_host.h"
#include "registry_tree.hpp"
#include "text.hpp"

using namespace pelmora::com;

Registry& pelmora::com::registry() {
    static Registry r;
    return r;
}

namespace {

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

// Runs an entry point's body on the key the handle `h` names, guarded and under the registry's
// lock: ERROR_INVALID_HANDLE when `h` names no open key, ERROR_KEY_DELETED when its key is gone.
template <class F>
LONG on_key(HKEY h, F&& body) noexcept {
    return guarded([&]() -> LONG {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        std::shared_ptr<Key> k = r.resolve(h);
        if (!k) return ERROR_INVALID_HANDLE;
        if (k->deleted) return ERROR_KEY_DELETED;
        return body(std::move(k));
    });
}

}  // namespace

WINADVAPI LONG RegCreateKeyExW(HKEY hKey, LPCWSTR sub, DWORD, LPWSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*,
                               PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    return on_key(hKey, [&](std::shared_ptr<Key> k) -> LONG {
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
        *result = registry().open(k);
        return ERROR_SUCCESS;
    });
}

WINADVAPI LONG RegOpenKeyExW(HKEY hKey, LPCWSTR sub, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    return on_key(hKey, [&](std::shared_ptr<Key> k) -> LONG {
        for (const auto& part : split_path(sub)) {
            auto it = k->children.find(lower(part));
            if (it == k->children.end()) return ERROR_FILE_NOT_FOUND;
            k = it->second;
        }
        *result = registry().open(k);
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
    if (!data && cb) return ERROR_INVALID_PARAMETER;
    return on_key(hKey, [&](std::shared_ptr<Key> k) -> LONG {
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
    return on_key(hKey, [&](std::shared_ptr<Key> k) -> LONG {
        const Value* v = k->find_value(view(name));
        if (!v) return ERROR_FILE_NOT_FOUND;
        if (type) *type = v->type;
        return copy_out(v->data, data, cb);
    });
}

WINADVAPI LONG RegEnumKeyExW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD, LPWSTR cls,
                             LPDWORD cchClass, PFILETIME lastWrite) {
    if (!name || !cchName) return ERROR_INVALID_PARAMETER;
    return on_key(hKey, [&](std::shared_ptr<Key> k) -> LONG {
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
    if (!name || !cchName) return ERROR_INVALID_PARAMETER;
    return on_key(hKey, [&](std::shared_ptr<Key> k) -> LONG {
        if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
        const Value& v = k->values[index];
        if (copy_name(v.name, name, cchName) != ERROR_SUCCESS) return ERROR_MORE_DATA;
        if (type) *type = v.type;
        return copy_out(v.data, data, cb);
    });
}

WINADVAPI LONG RegDeleteValueW(HKEY hKey, LPCWSTR name) {
    return on_key(hKey, [&](std::shared_ptr<Key> k) -> LONG {
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
    return on_key(hKey, [&](std::shared_ptr<Key> k) -> LONG {
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

STDAPI_(void) PelmoraRegistryReset() {
    try {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        r.reset();
    } catch (...) {
        // out of memory: the registry stays as it was
    }
}
