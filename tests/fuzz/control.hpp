#pragma once
// The control as a host gets it: its library registered (as regsvr32 would) and Pelmora created
// through the component runtime, once per process.

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "pelmora_idl.h"

namespace pelmora::fuzz {

inline IDispatch* control() {
    static IDispatch* const made = [] {
        void* lib = dlopen(PELMORA_COMPONENT_PATH, RTLD_NOW | RTLD_LOCAL);
        using Register = HRESULT (*)();
        auto* reg = lib ? reinterpret_cast<Register>(dlsym(lib, "DllRegisterServer")) : nullptr;
        CLSID clsid{};
        IDispatch* d = nullptr;
        if (!reg || FAILED(reg()) || FAILED(CLSIDFromProgID(u"Pelmora.Pelmora", &clsid)) ||
            FAILED(
                CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d)))) {
            std::fprintf(stderr, "fuzz: cannot create Pelmora from %s\n", PELMORA_COMPONENT_PATH);
            std::abort();
        }
        return d;
    }();
    return made;
}

}  // namespace pelmora::fuzz
