// Pelmora without registration: this program's application manifest (regfree_client.exe.manifest,
// beside the .exe) depends on the assembly Pelmora.Control, whose manifest (Pelmora.Control.manifest, from
// the x64 or x86 folder) lists the class, its ProgIDs and its type library. Windows activates the
// control from those, so nothing needs to be registered and no administrator rights are needed.
// The program's folder holds:
//   regfree_client.exe  regfree_client.exe.manifest  pelmora.dll  Pelmora.Control.manifest
// (pelmora.dll and its manifest of the program's own bitness).
//
//   mingw-w64:  x86_64-w64-mingw32-g++ -I../../include regfree_client.cpp ../../include/pelmora_i.c
//                 -lole32 -loleaut32 -luuid -static -o regfree_client.exe   (i686-w64-mingw32-g++ for x86)
//   MSVC:       cl /EHsc /I..\..\include regfree_client.cpp ..\..\include\pelmora_i.c ole32.lib oleaut32.lib
//
// The control is created twice: by its CLSID, then called early bound through _Pelmora; and by its
// ProgID, then called late bound by name through IDispatch, as a script host would.
#include <windows.h>

#include <cstdio>

#include "pelmora.h"

namespace {

const wchar_t* const methods[] = {L"custcentukn", L"custcentswe", L"custcentnz", L"custcentau"};

// The inputs of one call, as variants: birth weight 3500 g at 280 days, the mother 64 kg and
// 163 cm, a boy (1), the base's first ethnic group (1), parity 0.
void inputs(VARIANT (&args)[7]) {
    const double numbers[] = {3500, 280, 64, 163};
    const SHORT codes[] = {1, 1, 0};
    for (int i = 0; i < 7; ++i) {
        VariantInit(&args[i]);
        if (i < 4) {
            args[i].vt = VT_R8;
            args[i].dblVal = numbers[i];
        } else {
            args[i].vt = VT_I2;
            args[i].iVal = codes[i - 4];
        }
    }
}

bool show(const char* how, const wchar_t* name, HRESULT hr, const VARIANT& result) {
    if (FAILED(hr) || result.vt != VT_R8) {
        std::printf("%s %ls failed: 0x%08lx\n", how, name, static_cast<unsigned long>(hr));
        return false;
    }
    std::printf("%s %ls %.17g\n", how, name, result.dblVal);
    return true;
}

// By CLSID, early bound.
int by_clsid() {
    _Pelmora* p = nullptr;
    HRESULT hr =
        CoCreateInstance(CLSID_Pelmora, nullptr, CLSCTX_INPROC_SERVER, IID__Pelmora, reinterpret_cast<void**>(&p));
    std::printf("CoCreateInstance(CLSID_Pelmora): 0x%08lx\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 4;
    using Method = HRESULT (STDMETHODCALLTYPE _Pelmora::*)(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*,
                                                           VARIANT*, VARIANT*);
    const Method calls[] = {&_Pelmora::custcentukn, &_Pelmora::custcentswe, &_Pelmora::custcentnz,
                            &_Pelmora::custcentau};
    int failures = 0;
    for (int m = 0; m < 4; ++m) {
        VARIANT a[7], result;
        inputs(a);
        VariantInit(&result);
        hr = (p->*calls[m])(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &result);
        failures += !show("clsid", methods[m], hr, result);
        VariantClear(&result);
    }
    p->Release();
    return failures;
}

// By ProgID, late bound: each method by name, the seven arguments by reference.
int by_progid() {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"Pelmora.Pelmora", &clsid);
    std::printf("CLSIDFromProgID(\"Pelmora.Pelmora\"): 0x%08lx\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 4;
    IDispatch* d = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d));
    if (FAILED(hr)) return 4;
    int failures = 0;
    for (const wchar_t* name : methods) {
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        VARIANT a[7], refs[7], result;
        inputs(a);
        // Invoke takes the arguments last to first.
        for (int i = 0; i < 7; ++i) {
            VariantInit(&refs[6 - i]);
            refs[6 - i].vt = VT_BYREF | VT_VARIANT;
            refs[6 - i].pvarVal = &a[i];
        }
        DISPPARAMS params = {refs, nullptr, 7, 0};
        VariantInit(&result);
        if (SUCCEEDED(hr))
            hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        failures += !show("progid", name, hr, result);
        VariantClear(&result);
    }
    d->Release();
    return failures;
}

}  // namespace

int main() {
    if (FAILED(CoInitialize(nullptr))) return 1;
    const int failures = by_clsid() + by_progid();
    CoUninitialize();
    std::printf("%d failure(s)\n", failures);
    return failures;
}
