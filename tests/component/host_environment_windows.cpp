// The test host's platform on Windows: the real registry, LoadLibraryW, std::thread.

#include <thread>

#include "host_environment.hpp"

#ifndef PELMORA_COMPONENT_PATH_W
#error "PELMORA_COMPONENT_PATH_W: the DLL's full Windows path, as a wide string literal"
#endif

namespace host {

void start() {}

OleString component_path() { return PELMORA_COMPONENT_PATH_W; }

void* load_library(const OleString& path) { return reinterpret_cast<void*>(LoadLibraryW(path.c_str())); }

void* exported(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void free_library(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

bool is_loaded(const OleString& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

std::string registry_snapshot() { return {}; }

void run_concurrently(const std::function<void()>& a, const std::function<void()>& b)
{
    auto with_com = [](const std::function<void()>& f) {
        return [&f] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            f();
            CoUninitialize();
        };
    };
    std::thread ta(with_com(a));
    std::thread tb(with_com(b));
    ta.join();
    tb.join();
}

}  // namespace host
