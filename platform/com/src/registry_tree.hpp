#pragma once
// The registry's tree in memory: keys with typed values below four roots, and the open handles,
// behind one lock. The Windows API over it is registry.cpp; the file a host saves it to and
// loads it from is registry_file.cpp.

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "pelmora_com_api.h"
#include "text.hpp"

namespace pelmora::com {

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
    std::map<ULONG_PTR, std::shared_ptr<Key>> roots;  // by the root's HKEY
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

/// The process's one registry.
Registry& registry();

}  // namespace pelmora::com
