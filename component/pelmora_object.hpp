#pragma once
// The control class `Pelmora`: its dual interface `_Pelmora`, its class information, its event
// source and its error information, its form (the control's face) and, on Windows, the ActiveX part
// a container of controls works with.

#include <atomic>
#include <memory>

#include "arguments.hpp"
#include "com.hpp"
#include "events.hpp"
#include "module.hpp"
#include "pelmora/form/form.hpp"

#if defined(_WIN32)
#include "ole_control.hpp"
#endif

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
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* arg_err) override;

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

    /// IOleWindow where the ActiveX part does not answer it (Linux): the form's top-level native
    /// widget (the backend's opaque handle), for a host that places it in a window of its own.
    class FormWindow final : public IOleWindow {
    public:
        explicit FormWindow(PelmoraObject& outer) noexcept : outer_(outer) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            return outer_.QueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return outer_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return outer_.Release(); }
        HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override;
        HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    private:
        PelmoraObject& outer_;
    };

    std::atomic<ULONG> refs_{1};
    EventSource events_{static_cast<IConnectionPointContainer*>(this)};
    FormWindow form_window_{*this};
    // The control's face: built in create(), it calls back through _Pelmora.
    std::unique_ptr<form::Form> form_;
#if defined(_WIN32)
    // The ActiveX part (in-place activation and the rest a container needs), on the form's surface;
    // declared after the form so that it goes first.
    std::unique_ptr<activex::OleControl> ole_;
#endif
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
