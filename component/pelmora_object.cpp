#include "pelmora_object.hpp"

#include <new>

#include "pelmora/forms/toolkit.hpp"
#include "registration.hpp"
#if defined(_WIN32)
#include "pelmora/forms/win32.hpp"
#endif

namespace pelmora::component {

PelmoraObject::PelmoraObject() noexcept { object_created(); }

namespace {

#if defined(_WIN32)
// What the ActiveX part needs of the class: all of it from the component's own tables.
HRESULT coclass_info(ITypeInfo** out) { return type_info(CLSID_Pelmora, out); }

// A live window of the control keeps the library loaded, as a server lock does.
void lock_for_window(int delta) { lock_server(delta > 0); }

const activex::ClassDescription activex_class{&CLSID_Pelmora, &DIID___Pelmora, misc_status, coclass_info,
                                              lock_for_window};
#endif

}  // namespace

PelmoraObject::~PelmoraObject() {
#if defined(_WIN32)
    if (ole_) ole_->shut_down();
    ole_.reset();
#endif
    form_.reset();
    object_destroyed();
}

HRESULT PelmoraObject::create(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // The methods come from the type library: without it the object could not answer.
    if (!methods()) return TYPE_E_CANTLOADLIBRARY;
    auto* object = new (std::nothrow) PelmoraObject;
    if (!object) return E_OUTOFMEMORY;
    // The form is built and initialised while the object holds its first reference: the lists are
    // filled and the first centile shown before anyone sees the control.
    try {
        object->form_ = std::make_unique<form::Form>(forms::process_toolkit(), static_cast<_Pelmora*>(object));
        object->form_->surface().raise_initialise();
#if defined(_WIN32)
        if (forms::win32::window_side(object->form_->surface()) != nullptr)
            object->ole_ = std::make_unique<activex::OleControl>(
                *static_cast<IUnknown*>(static_cast<_Pelmora*>(object)), object->form_->surface(), activex_class);
#endif
    } catch (const std::bad_alloc&) {
        object->Release();
        return E_OUTOFMEMORY;
    } catch (...) {
        object->Release();
        return E_UNEXPECTED;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
#if defined(_WIN32)
    // The ActiveX part answers its interfaces, IOleWindow and IProvideClassInfo(2) included.
    if (ole_) {
        if (void* part = ole_->find(riid)) {
            *ppv = part;
            AddRef();
            return S_OK;
        }
    }
#endif
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID__Pelmora)) {
        *ppv = static_cast<_Pelmora*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
        *ppv = static_cast<IProvideClassInfo*>(this);
    } else if (IsEqualIID(riid, IID_IOleWindow) && form_) {
        *ppv = static_cast<IOleWindow*>(&form_window_);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *ppv = static_cast<ISupportErrorInfo*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE PelmoraObject::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE PelmoraObject::Release() {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::custcentukn(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht,
                                                     VARIANT* sex, VARIANT* eth, VARIANT* par, VARIANT* result) {
    return call_by_position(Method::custcentukn, {bwt, gest, wt, ht, sex, eth, par}, result);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::custcentswe(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht,
                                                     VARIANT* sex, VARIANT* eth, VARIANT* par, VARIANT* result) {
    return call_by_position(Method::custcentswe, {bwt, gest, wt, ht, sex, eth, par}, result);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::custcentnz(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                                    VARIANT* eth, VARIANT* par, VARIANT* result) {
    return call_by_position(Method::custcentnz, {bwt, gest, wt, ht, sex, eth, par}, result);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::custcentau(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                                    VARIANT* eth, VARIANT* par, VARIANT* result) {
    return call_by_position(Method::custcentau, {bwt, gest, wt, ht, sex, eth, par}, result);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::FormWindow::GetWindow(HWND* out) {
    if (!out) return E_POINTER;
    *out = outer_.form_ ? static_cast<HWND>(outer_.form_->surface().native_handle()) : nullptr;
    return *out ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::GetClassInfo(ITypeInfo** out) { return type_info(CLSID_Pelmora, out); }

HRESULT STDMETHODCALLTYPE PelmoraObject::EnumConnectionPoints(IEnumConnectionPoints** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, DIID___Pelmora)) return CONNECT_E_NOCONNECTION;
    *out = &events_;
    events_.AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID__Pelmora) ? S_OK : S_FALSE;
}

}  // namespace pelmora::component
