#include "pelmora_object.hpp"

#include <new>

namespace pelmora::component {

PelmoraObject::PelmoraObject() noexcept { object_created(); }

PelmoraObject::~PelmoraObject() { object_destroyed(); }

HRESULT PelmoraObject::create(REFIID riid, void** ppv) noexcept
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // The methods come from the type library: without it the object could not answer.
    if (!methods()) return TYPE_E_CANTLOADLIBRARY;
    auto* object = new (std::nothrow) PelmoraObject;
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID__Pelmora)) {
        *ppv = static_cast<_Pelmora*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
        *ppv = static_cast<IProvideClassInfo*>(this);
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

ULONG STDMETHODCALLTYPE PelmoraObject::Release()
{
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::custcentukn(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht,
                                                     VARIANT* sex, VARIANT* eth, VARIANT* par, VARIANT* result)
{
    return call_by_position(Method::custcentukn, {bwt, gest, wt, ht, sex, eth, par}, result);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::custcentswe(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht,
                                                     VARIANT* sex, VARIANT* eth, VARIANT* par, VARIANT* result)
{
    return call_by_position(Method::custcentswe, {bwt, gest, wt, ht, sex, eth, par}, result);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::custcentnz(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht,
                                                    VARIANT* sex, VARIANT* eth, VARIANT* par, VARIANT* result)
{
    return call_by_position(Method::custcentnz, {bwt, gest, wt, ht, sex, eth, par}, result);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::custcentau(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht,
                                                    VARIANT* sex, VARIANT* eth, VARIANT* par, VARIANT* result)
{
    return call_by_position(Method::custcentau, {bwt, gest, wt, ht, sex, eth, par}, result);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::GetClassInfo(ITypeInfo** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    ITypeLib* lib = nullptr;
    HRESULT hr = type_library(&lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(CLSID_Pelmora, out);
    lib->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::EnumConnectionPoints(IEnumConnectionPoints** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::FindConnectionPoint(REFIID riid, IConnectionPoint** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, DIID___Pelmora)) return CONNECT_E_NOCONNECTION;
    *out = &events_;
    events_.AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID__Pelmora) ? S_OK : S_FALSE;
}

}  // namespace pelmora::component
