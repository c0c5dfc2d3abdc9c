#pragma once
// Shared by the component's host-side tests: COM through the platform's headers, small owners
// for variants and interface pointers, and the worked examples.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <ocidl.h>

#include "pelmora_idl.h"

using OleString = std::basic_string<OLECHAR>;

/// An owned VARIANT.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    explicit Variant(double d) : Variant() {
        V_VT(&v) = VT_R8;
        V_R8(&v) = d;
    }
    static Variant i2(SHORT x) {
        Variant r;
        V_VT(&r.v) = VT_I2;
        V_I2(&r.v) = x;
        return r;
    }
    static Variant i4(LONG x) {
        Variant r;
        V_VT(&r.v) = VT_I4;
        V_I4(&r.v) = x;
        return r;
    }
    static Variant text(const OleString& s) {
        Variant r;
        V_VT(&r.v) = VT_BSTR;
        V_BSTR(&r.v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
        return r;
    }
    static Variant null() {
        Variant r;
        V_VT(&r.v) = VT_NULL;
        return r;
    }
    Variant(Variant&& o) noexcept : v(o.v) { VariantInit(&o.v); }
    Variant& operator=(Variant&& o) noexcept {
        if (this != std::addressof(o)) {
            VariantClear(&v);
            v = o.v;
            VariantInit(&o.v);
        }
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v); }
    VARIANT* operator&() { return &v; }
    VARTYPE vt() const { return V_VT(&v); }
    double r8() const { return V_R8(&v); }
    OleString text_value() const { return V_BSTR(&v) ? OleString(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : OleString(); }
};

/// An owned interface pointer.
template <class T>
struct Ptr {
    T* p = nullptr;
    Ptr() = default;
    explicit Ptr(T* raw) : p(raw) {}
    Ptr(Ptr&& o) noexcept : p(std::exchange(o.p, nullptr)) {}
    Ptr& operator=(Ptr&& o) noexcept {
        if (this != &o) {
            reset();
            p = std::exchange(o.p, nullptr);
        }
        return *this;
    }
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() { reset(); }
    void reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T* operator->() const { return p; }
    T* get() const { return p; }
    void** out() {
        reset();
        return reinterpret_cast<void**>(&p);
    }
    T** put() {
        reset();
        return &p;
    }
    explicit operator bool() const { return p != nullptr; }
};

inline OleString to_ole(const char* s) {
    OleString r;
    while (*s) r += static_cast<OLECHAR>(*s++);
    return r;
}

inline OleString guid_text(REFGUID g) {
    OLECHAR buf[40] = {};
    StringFromGUID2(g, buf, 40);
    return buf;
}

/// Creates Pelmora through the platform's loader and the registered class.
inline HRESULT create_pelmora(REFIID riid, void** out) {
    return CoCreateInstance(CLSID_Pelmora, nullptr, CLSCTX_INPROC_SERVER, riid, out);
}

/// A base's method: its name, its place in the vtable, the calculator of the calc library.
struct Base {
    const char* method;
    HRESULT(STDMETHODCALLTYPE _Pelmora::*vtable)
    (VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*);
    DISPID dispid;
};

/// The worked examples: seven inputs, the result to four decimals, ht after the call.
struct Example {
    Base base;
    double bwt, gest, wt, ht, sex, eth, par;
    double rounded;
    double ht_after;
};
