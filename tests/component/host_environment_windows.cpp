// The test host's platform on Windows: the real registry and LoadLibraryW.

#include "host_environment.hpp"

namespace host {

void start() {}

// The DLL the suite runs against: the one registered before it starts (or the path given at
// build time as PELMORA_COMPONENT_PATH_W).
OleString component_path() {
#ifdef PELMORA_COMPONENT_PATH_W
    return PELMORA_COMPONENT_PATH_W;
#else
    static const OleString registered = [] {
        const OleString key = to_ole("CLSID\\") + guid_text(CLSID_Pelmora) + to_ole("\\InprocServer32");
        OLECHAR buf[MAX_PATH * 4] = {};
        LONG cb = static_cast<LONG>(sizeof buf - sizeof(OLECHAR));
        if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), buf, &cb) != ERROR_SUCCESS) return OleString();
        return OleString(buf);
    }();
    return registered;
#endif
}

void* load_library(const OleString& path) { return reinterpret_cast<void*>(LoadLibraryW(path.c_str())); }

void* exported(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void free_library(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

bool is_loaded(const OleString& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

std::string registry_snapshot() { return {}; }

}  // namespace host
