#pragma once
// The control's event source: the one connection point, for the empty `__Pelmora`. Sinks can
// connect and disconnect; the control raises no events, so no call ever reaches one.

#include <utility>
#include <vector>

#include "com.hpp"

namespace pelmora::component {

class EventSource final : public IConnectionPoint {
public:
    /// `owner` is the control: this connection point lives inside it and shares its lifetime.
    explicit EventSource(IConnectionPointContainer* owner) noexcept : owner_(owner) {}
    virtual ~EventSource();
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

private:
    IConnectionPointContainer* owner_;
    std::vector<std::pair<DWORD, IUnknown*>> sinks_;
    DWORD next_cookie_ = 1;
};

}  // namespace pelmora::component
