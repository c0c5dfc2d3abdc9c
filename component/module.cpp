#include "module.hpp"

#include <atomic>
#include <new>
#include <vector>

namespace pelmora::component {
namespace {

std::atomic<long> objects{0};
std::atomic<long> locks{0};

struct Cache {
    ITypeLib* library = nullptr;
    std::array<MethodInfo, method_count> methods;
    Cache() = default;
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;
    ~Cache() {
        if (library) library->Release();
    }
};

// Built on first use and kept until the library is unloaded.
struct CacheSlot {
    std::atomic<Cache*> cache{nullptr};
    ~CacheSlot() { delete cache.load(); }
} slot;

// Reads `_Pelmora`'s vtable view: one function per method, at its vtable position.
bool read_methods(ITypeLib* lib, std::array<MethodInfo, method_count>& out) {
    ITypeInfo* dispatch = nullptr;
    if (FAILED(lib->GetTypeInfoOfGuid(IID__Pelmora, &dispatch))) return false;
    ITypeInfo* vtable = nullptr;
    HREFTYPE href = 0;
    bool ok = SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &href)) &&
              SUCCEEDED(dispatch->GetRefTypeInfo(href, &vtable));
    dispatch->Release();
    if (!ok) return false;
    TYPEATTR* attr = nullptr;
    ok = SUCCEEDED(vtable->GetTypeAttr(&attr));
    const UINT count = ok ? attr->cFuncs : 0;
    if (attr) vtable->ReleaseTypeAttr(attr);
    std::array<bool, method_count> seen{};
    for (UINT i = 0; ok && i < count; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(vtable->GetFuncDesc(i, &f))) {
            ok = false;
            break;
        }
        const long slot_index = f->oVft / static_cast<long>(sizeof(void*)) - 7;  // after IDispatch's seven
        const MEMBERID memid = f->memid;
        const bool shape = f->cParams == static_cast<SHORT>(param_count + 1) && slot_index >= 0 &&
                           slot_index < static_cast<long>(method_count);
        vtable->ReleaseFuncDesc(f);
        if (!shape || seen[static_cast<std::size_t>(slot_index)]) {
            ok = false;
            break;
        }
        const auto m = static_cast<std::size_t>(slot_index);
        seen[m] = true;
        BSTR names[param_count + 2] = {};
        UINT got = 0;
        ok = SUCCEEDED(vtable->GetNames(memid, names, param_count + 2, &got)) && got >= param_count + 1;
        if (ok) {
            out[m].dispid = memid;
            out[m].name = OleString(view_of(names[0]));
            for (std::size_t p = 0; p < param_count; ++p) out[m].params[p] = OleString(view_of(names[p + 1]));
        }
        for (BSTR& n : names) SysFreeString(n);
    }
    vtable->Release();
    for (bool s : seen) ok = ok && s;
    return ok;
}

Cache* cache() noexcept {
    if (Cache* c = slot.cache.load()) return c;
    try {
        auto* fresh = new Cache;
        const OleString path = module_path();
        if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &fresh->library)) ||
            !read_methods(fresh->library, fresh->methods)) {
            delete fresh;
            return nullptr;
        }
        Cache* expected = nullptr;
        if (!slot.cache.compare_exchange_strong(expected, fresh)) {
            delete fresh;  // another thread was first
            return expected;
        }
        return fresh;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

void object_created() noexcept { ++objects; }
void object_destroyed() noexcept { --objects; }
void lock_server(bool lock) noexcept {
    if (lock) ++locks;
    else --locks;
}
bool can_unload() noexcept { return objects.load() == 0 && locks.load() == 0; }

OleString module_path() {
    static const int anchor = 0;
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&anchor), &self))
        return {};
    std::vector<OLECHAR> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(self, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return OleString(buf.data(), n);
        if (buf.size() >= 32768) return {};
        buf.resize(buf.size() * 2);
    }
}

HRESULT type_library(ITypeLib** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    Cache* c = cache();
    if (!c) return TYPE_E_CANTLOADLIBRARY;
    c->library->AddRef();
    *out = c->library;
    return S_OK;
}

HRESULT type_info(REFGUID guid, ITypeInfo** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    ITypeLib* lib = nullptr;
    HRESULT hr = type_library(&lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(guid, out);
    lib->Release();
    if (FAILED(hr) && *out) {
        (*out)->Release();
        *out = nullptr;
    }
    return hr;
}

const std::array<MethodInfo, method_count>* methods() noexcept {
    Cache* c = cache();
    return c ? &c->methods : nullptr;
}

}  // namespace pelmora::component
