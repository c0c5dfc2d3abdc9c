#include "control.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

// This file defines the type library's identifiers (IID__Pelmora) for the tests.
#include <initguid.h>

#include "pelmora_idl.h"

#ifndef PELMORA_TEST_LIBRARY
#error "PELMORA_TEST_LIBRARY must name the control's library"
#endif

namespace pelmora::test {
namespace {

std::string hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw std::runtime_error(std::string(what) + " failed: " + hex(hr));
}

// Once per process, as regsvr32 would: load the library and let it register itself.
void register_library() {
    static const HRESULT registered = [] {
        void* lib = dlopen(PELMORA_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return CO_E_DLLNOTFOUND;
        auto* reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
        const HRESULT hr = reg != nullptr ? reg() : CO_E_ERRORINDLL;
        dlclose(lib);
        return hr;
    }();
    check(registered, "DllRegisterServer of " PELMORA_TEST_LIBRARY);
}

}  // namespace

Control::Control() {
    register_library();
    CLSID clsid{};
    check(CLSIDFromProgID(u"Pelmora.Pelmora", &clsid), "CLSIDFromProgID(Pelmora.Pelmora)");
    IClassFactory* factory = nullptr;
    check(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
          "CoGetClassObject");
    IDispatch* dispatch = nullptr;
    const HRESULT hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    factory->Release();
    check(hr, "IClassFactory::CreateInstance");
    const HRESULT hr2 = dispatch->QueryInterface(IID__Pelmora, reinterpret_cast<void**>(&pelmora_));
    dispatch->Release();
    check(hr2, "QueryInterface(_Pelmora)");
}

Control::~Control() {
    if (pelmora_ != nullptr) pelmora_->Release();
}

void* Control::window() const {
    IOleWindow* w = nullptr;
    check(pelmora_->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&w)), "QueryInterface(IOleWindow)");
    HWND hwnd = nullptr;
    const HRESULT hr = w->GetWindow(&hwnd);
    w->Release();
    check(hr, "IOleWindow::GetWindow");
    return hwnd;
}

forms::Surface* Control::surface() const {
    if (forms::qt_toolkit() != nullptr) return nullptr;
    auto* c = static_cast<forms::Control*>(window());
    return c != nullptr ? c->as_surface() : nullptr;
}

}  // namespace pelmora::test
