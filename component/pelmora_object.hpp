#pragma once
// The control class `Pelmora`: its dual interface `_Pelmora`, its class information, its event
// source and its error information. The control's form joins here (see `form seam` below).

#include <atomic>

#include "arguments.hpp"
#include "com.hpp"
#include "events.hpp"
#include "module.hpp"

namespace pelmora::component {

class PelmoraObject final : public _Pelmora,
                            public IProvideClassInfo,
                            public IConnectionPointContainer,
                            public ISupportErrorInfo {
public:
    /// Creates an object with one reference, as the class factory hands it out.
    static HRESULT create(REFIID riid, void** ppv) noexcept;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch (dispatch.cpp)
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override;

    // _Pelmora: the four calculators, by position.
    HRESULT STDMETHODCALLTYPE custcentukn(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                          VARIANT* eth, VARIANT* par, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE custcentswe(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                          VARIANT* eth, VARIANT* par, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE custcentnz(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                         VARIANT* eth, VARIANT* par, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE custcentau(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                         VARIANT* eth, VARIANT* par, VARIANT* result) override;

    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    PelmoraObject(const PelmoraObject&) = delete;
    PelmoraObject& operator=(const PelmoraObject&) = delete;

private:
    PelmoraObject() noexcept;
    virtual ~PelmoraObject();

    /// A vtable call: the seven caller variants, the result, error information on failure.
    HRESULT call_by_position(Method method, VARIANT* const (&args)[param_count], VARIANT* result) noexcept;
    /// Runs a calculator on bound arguments. Fills `*result`; throws calc::Failure,
    /// std::bad_alloc. The caller's variants see the write-backs either way.
    void run(Method method, Arguments& args, VARIANT* result);

    std::atomic<ULONG> refs_{1};
    EventSource events_{static_cast<IConnectionPointContainer*>(this)};
    // form seam: the control's form is created in create() once the form layer exists; it is
    // held here, answers IOleWindow in QueryInterface, and calls back through _Pelmora.
};

/// Holds a reference to the object for the length of a call.
class CallGuard {
public:
    explicit CallGuard(IUnknown* self) noexcept : self_(self) { self_->AddRef(); }
    ~CallGuard() { self_->Release(); }
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;

private:
    IUnknown* self_;
};

/// Reports a failure of the calculators as the automation runtime does: its error number in
/// the control facility, source "Pelmora", the runtime's text. Sets the thread's error
/// information and, if given, fills EXCEPINFO. Returns the failing HRESULT (0x800A0000 | number).
HRESULT report_failure(int number, const char* text, EXCEPINFO* excep) noexcept;

}  // namespace pelmora::component
