// Error information: one object per failure, one slot per thread.

#include <new>

#include "pelmora_com_api.h"
#include "unknown.hpp"

namespace {

class ErrorInfo final : public pelmora::com::Unknown<IErrorInfo, ICreateErrorInfo> {
public:
    virtual ~ErrorInfo() {
        SysFreeString(source_);
        SysFreeString(description_);
        SysFreeString(help_file_);
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* g) override {
        if (!g) return E_INVALIDARG;
        *g = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* s) override { return copy(source_, s); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* s) override { return copy(description_, s); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* s) override { return copy(help_file_, s); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* c) override {
        if (!c) return E_INVALIDARG;
        *c = help_context_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID g) override {
        guid_ = g;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR s) override { return set(source_, s); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR s) override { return set(description_, s); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR s) override { return set(help_file_, s); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD c) override {
        help_context_ = c;
        return S_OK;
    }

private:
    static HRESULT copy(BSTR from, BSTR* to) {
        if (!to) return E_INVALIDARG;
        *to = nullptr;
        if (!from) return S_OK;
        *to = SysAllocStringLen(from, SysStringLen(from));
        return *to ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT set(BSTR& field, LPOLESTR s) {
        BSTR n = s ? SysAllocString(s) : nullptr;
        if (s && !n) return E_OUTOFMEMORY;
        SysFreeString(field);
        field = n;
        return S_OK;
    }

    GUID guid_{};
    BSTR source_ = nullptr;
    BSTR description_ = nullptr;
    BSTR help_file_ = nullptr;
    DWORD help_context_ = 0;
};

// The thread's current error; released when replaced, taken or when the thread ends.
struct Slot {
    IErrorInfo* info = nullptr;
    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ~Slot() {
        if (info) info->Release();
    }
};
thread_local Slot current;

}  // namespace

STDAPI CreateErrorInfo(ICreateErrorInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = new (std::nothrow) ErrorInfo;
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDAPI SetErrorInfo(ULONG reserved, IErrorInfo* info) {
    if (reserved) return E_INVALIDARG;
    if (info) info->AddRef();
    IErrorInfo* old = current.info;
    current.info = info;
    if (old) old->Release();
    return S_OK;
}

STDAPI GetErrorInfo(ULONG reserved, IErrorInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (reserved) return E_INVALIDARG;
    *out = current.info;
    current.info = nullptr;
    return *out ? S_OK : S_FALSE;
}
