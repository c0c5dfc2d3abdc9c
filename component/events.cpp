#include "events.hpp"

#include <new>

namespace pelmora::component {

EventSource::~EventSource() {
    for (auto& [cookie, sink] : sinks_) sink->Release();
}

HRESULT STDMETHODCALLTYPE EventSource::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventSource::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = DIID___Pelmora;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventSource::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (!out) return E_POINTER;
    *out = owner_;
    owner_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventSource::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // The sink must speak the event interface, even though nothing will ever be said on it.
    IUnknown* events = nullptr;
    if (FAILED(sink->QueryInterface(DIID___Pelmora, reinterpret_cast<void**>(&events))) || !events)
        return CONNECT_E_CANNOTCONNECT;
    try {
        sinks_.emplace_back(next_cookie_, events);
    } catch (...) {
        events->Release();
        return E_OUTOFMEMORY;
    }
    *cookie = next_cookie_++;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventSource::Unadvise(DWORD cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->first == cookie) {
            IUnknown* sink = it->second;
            sinks_.erase(it);
            sink->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT STDMETHODCALLTYPE EventSource::EnumConnections(IEnumConnections** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}

}  // namespace pelmora::component
