// A host built against the installed package: registers the installed control's library as
// regsvr32 would, creates Pelmora.Pelmora and calls custcentnz by name through IDispatch.
#include <dlfcn.h>

#include <cmath>
#include <cstdio>

#include "pelmora_idl.h"

namespace {

int fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "host_consumer: %s (0x%08X)\n", what, static_cast<unsigned>(hr));
    return 1;
}

}  // namespace

int main() {
    void* lib = dlopen(PELMORA_COMPONENT, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return fail(dlerror(), E_FAIL);
    auto* reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
    HRESULT hr = reg != nullptr ? reg() : E_FAIL;
    dlclose(lib);
    if (FAILED(hr)) return fail("DllRegisterServer", hr);

    hr = CoInitialize(nullptr);
    if (FAILED(hr)) return fail("CoInitialize", hr);
    CLSID clsid;
    hr = CLSIDFromProgID(u"Pelmora.Pelmora", &clsid);
    if (FAILED(hr)) return fail("CLSIDFromProgID", hr);
    IDispatch* control = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&control));
    if (FAILED(hr)) return fail("CoCreateInstance", hr);

    LPOLESTR name = const_cast<LPOLESTR>(u"custcentnz");
    DISPID id = 0;
    hr = control->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
    if (FAILED(hr)) return fail("GetIDsOfNames", hr);
    const double inputs[7] = {3500, 280, 70, 165, 1, 1, 0};
    VARIANT args[7];
    for (int i = 0; i < 7; ++i) {
        VariantInit(&args[i]);
        V_VT(&args[i]) = VT_R8;
        V_R8(&args[i]) = inputs[6 - i];  // arguments go last first
    }
    DISPPARAMS params{args, nullptr, 7, 0};
    VARIANT result;
    VariantInit(&result);
    hr = control->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    control->Release();
    CoUninitialize();
    if (FAILED(hr)) return fail("Invoke", hr);
    if (V_VT(&result) != VT_R8 || std::fabs(V_R8(&result) - 40.8892) > 5e-5) return fail("unexpected centile", E_FAIL);
    std::printf("host_consumer: custcentnz %.6g\n", V_R8(&result));
    return 0;
}
