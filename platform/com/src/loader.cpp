// The component runtime: finds a class in the registry, loads its library, asks it for the
// class object, and unloads libraries that say they may go. Also the module functions.

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "pelmora_com_api.h"
#include "registry_text.hpp"
#include "text.hpp"

using pelmora::com::guid_text;
using pelmora::com::read_text;
using pelmora::com::to_utf16;
using pelmora::com::to_utf8;

namespace {

struct Loader {
    std::mutex mutex;
    std::map<std::string, void*> libraries;  // path -> dlopen handle, one per library
};

Loader& loader() {
    static Loader l;
    return l;
}

// The library registered for a class, loaded once. S_OK, REGDB_E_CLASSNOTREG or ERROR_MOD_NOT_FOUND.
HRESULT class_library(REFCLSID rclsid, void*& handle) noexcept {
    try {
        std::u16string path;
        if (!read_text(u"CLSID\\" + guid_text(rclsid) + u"\\InprocServer32", path) || path.empty())
            return REGDB_E_CLASSNOTREG;
        const std::string file = to_utf8(path);
        auto& l = loader();
        std::lock_guard lock(l.mutex);
        auto it = l.libraries.find(file);
        if (it != l.libraries.end()) {
            handle = it->second;
            return S_OK;
        }
        handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return HRESULT_FROM_WIN32(126L);  // ERROR_MOD_NOT_FOUND
        try {
            l.libraries[file] = handle;
        } catch (...) {
            dlclose(handle);
            throw;
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

STDAPI CoInitialize(LPVOID) { return S_OK; }
STDAPI CoInitializeEx(LPVOID, DWORD) { return S_OK; }
STDAPI_(void) CoUninitialize() {}
STDAPI OleInitialize(LPVOID) { return S_OK; }
STDAPI_(void) OleUninitialize() {}

STDAPI CoGetClassObject(REFCLSID rclsid, DWORD context, LPVOID, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    void* handle = nullptr;
    const HRESULT hr = class_library(rclsid, handle);
    if (FAILED(hr)) return hr;
    auto* get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
    if (!get) return CO_E_ERRORINDLL;
    return get(rclsid, riid, ppv);
}

STDAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return hr;
}

STDAPI CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid) {
    if (!clsid) return E_INVALIDARG;
    *clsid = GUID_NULL;
    if (!progid) return E_INVALIDARG;
    try {
        std::u16string text;
        if (!read_text(std::u16string(progid) + u"\\CLSID", text)) return CO_E_CLASSSTRING;
        return SUCCEEDED(CLSIDFromString(text.c_str(), clsid)) ? S_OK : CO_E_CLASSSTRING;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    std::u16string text;
    try {
        if (!read_text(u"CLSID\\" + guid_text(clsid) + u"\\ProgID", text)) return REGDB_E_CLASSNOTREG;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!*out) return E_OUTOFMEMORY;
    std::copy(text.begin(), text.end(), *out);
    (*out)[text.size()] = 0;
    return S_OK;
}

STDAPI_(void) CoFreeUnusedLibraries() {
    auto& l = loader();
    std::lock_guard lock(l.mutex);
    for (auto it = l.libraries.begin(); it != l.libraries.end();) {
        auto* can = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(it->second, "DllCanUnloadNow"));
        if (can && can() == S_OK) {
            dlclose(it->second);
            it = l.libraries.erase(it);
        } else {
            ++it;
        }
    }
}

STDAPI_(void) CoFreeUnusedLibrariesEx(DWORD, DWORD) { CoFreeUnusedLibraries(); }

// ---- Modules ------------------------------------------------------------------------------
// A module handle is the load address of a shared object (or of the executable).

WINBASEAPI BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* out) {
    if (!out) return FALSE;
    *out = nullptr;
    if (!(flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) return FALSE;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(name), &info) || !info.dli_fbase) return FALSE;
    *out = static_cast<HMODULE>(info.dli_fbase);
    return TRUE;
}

WINBASEAPI DWORD GetModuleFileNameW(HMODULE module, LPWSTR out, DWORD size) try {
    if (!out || !size) return 0;
    std::string path;
    if (!module) {
        char buf[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0) return 0;
        path.assign(buf, static_cast<std::size_t>(n));
    } else {
        Dl_info info{};
        if (!dladdr(module, &info) || !info.dli_fname) return 0;
        char buf[PATH_MAX];
        path = realpath(info.dli_fname, buf) ? buf : info.dli_fname;
    }
    const std::u16string w = to_utf16(path);
    const DWORD n = static_cast<DWORD>(w.size()) < size ? static_cast<DWORD>(w.size()) : size - 1;
    std::copy(w.begin(), w.begin() + n, out);
    out[n] = 0;
    return static_cast<DWORD>(w.size()) < size ? n : size;
} catch (...) {
    return 0;  // out of memory
}
