// Pelmora from C++, early bound: CoCreateInstance by CLSID, then the four methods straight through
// the control's _Pelmora vtable, declared in pelmora.h (the GUIDs are defined in pelmora_i.c).
// Needs the control registered (regsvr32 or the MSI) for the bitness this program is built for.
//
//   mingw-w64:  x86_64-w64-mingw32-g++ -I../../include early_bound.cpp ../../include/pelmora_i.c
//                 -lole32 -loleaut32 -static -o early_bound.exe     (i686-w64-mingw32-g++ for x86)
//   MSVC:       cl /EHsc /I..\..\include early_bound.cpp ..\..\include\pelmora_i.c ole32.lib oleaut32.lib
#include <windows.h>

#include <cstdio>

#include "pelmora.h"

namespace {

// Every method takes the same seven by-reference variants and hands the centile back in the last.
using Method = HRESULT (STDMETHODCALLTYPE _Pelmora::*)(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*,
                                                       VARIANT*, VARIANT*);

struct Case {
    const char* name;
    Method method;
    double bwt, gest, wt, ht;  // grams, days, kg, cm
    int sex, eth, par;         // 1 male; the base's ethnic code; parity (4: 4 or more)
};

const Case cases[] = {
    {"custcentukn", &_Pelmora::custcentukn, 3500, 280, 64, 163, 1, 1, 0},
    {"custcentswe", &_Pelmora::custcentswe, 3500, 280, 64, 163, 1, 1, 0},
    {"custcentnz", &_Pelmora::custcentnz, 3500, 280, 64, 163, 1, 1, 0},
    {"custcentau", &_Pelmora::custcentau, 3500, 280, 64, 163, 1, 1, 0},
};

VARIANT number(double v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_R8;
    x.dblVal = v;
    return x;
}

VARIANT code(int v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I2;
    x.iVal = static_cast<SHORT>(v);
    return x;
}

// The failing call's message, which the control leaves as the thread's error information.
void print_error(HRESULT hr) {
    IErrorInfo* info = nullptr;
    BSTR text = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        info->GetDescription(&text);
        info->Release();
    }
    std::printf("failed: 0x%08lx %ls\n", static_cast<unsigned long>(hr), text ? text : L"");
    SysFreeString(text);
}

}  // namespace

int main() {
    if (FAILED(CoInitialize(nullptr))) return 1;
    int failures = 0;
    _Pelmora* pelmora = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Pelmora, nullptr, CLSCTX_INPROC_SERVER, IID__Pelmora,
                                  reinterpret_cast<void**>(&pelmora));
    if (FAILED(hr)) {
        std::printf("CoCreateInstance: 0x%08lx (is pelmora.dll registered for this bitness?)\n",
                    static_cast<unsigned long>(hr));
        CoUninitialize();
        return 1;
    }
    for (const Case& c : cases) {
        VARIANT bwt = number(c.bwt), gest = number(c.gest), wt = number(c.wt), ht = number(c.ht);
        VARIANT sex = code(c.sex), eth = code(c.eth), par = code(c.par), result;
        VariantInit(&result);
        hr = (pelmora->*c.method)(&bwt, &gest, &wt, &ht, &sex, &eth, &par, &result);
        if (SUCCEEDED(hr) && result.vt == VT_R8) {
            // The method writes the weeks back into gest.
            std::printf("%s %.17g (gest now %g weeks)\n", c.name, result.dblVal, gest.dblVal);
        } else {
            print_error(hr);
            ++failures;
        }
        VariantClear(&result);
    }

    // A missing input (empty text) is no failure: the result is empty text.
    VARIANT bwt = number(3500), gest = number(280), wt = number(64), ht, sex = code(1), eth = code(1), par = code(0);
    VARIANT result;
    VariantInit(&ht);
    VariantInit(&result);
    ht.vt = VT_BSTR;
    ht.bstrVal = SysAllocString(L"");
    hr = pelmora->custcentukn(&bwt, &gest, &wt, &ht, &sex, &eth, &par, &result);
    if (SUCCEEDED(hr) && result.vt == VT_BSTR && SysStringLen(result.bstrVal) == 0) {
        std::printf("missing height: empty result\n");
    } else {
        ++failures;
    }
    VariantClear(&ht);
    VariantClear(&result);

    // Text that is no number fails with the runtime's "Type mismatch" and delivers no result.
    VariantClear(&bwt);
    bwt.vt = VT_BSTR;
    bwt.bstrVal = SysAllocString(L"abc");
    ht = number(163);
    hr = pelmora->custcentukn(&bwt, &gest, &wt, &ht, &sex, &eth, &par, &result);
    if (FAILED(hr)) {
        print_error(hr);
    } else {
        ++failures;
    }
    VariantClear(&bwt);
    VariantClear(&result);

    pelmora->Release();
    CoUninitialize();
    return failures;
}
