#pragma once
// One IUnknown for the COM layer's own objects: a reference count that starts at one (the
// creator's reference) and deletes the object at zero, and QueryInterface over the interfaces
// the object lists, IUnknown answered by the first of them.

#include <atomic>

#include "pelmora_com_api.h"

namespace pelmora::com {

/// The identifier of an interface the layer's objects implement.
template <class I>
const IID& iid_of() noexcept;
template <>
inline const IID& iid_of<IErrorInfo>() noexcept {
    return IID_IErrorInfo;
}
template <>
inline const IID& iid_of<ICreateErrorInfo>() noexcept {
    return IID_ICreateErrorInfo;
}
template <>
inline const IID& iid_of<ITypeInfo>() noexcept {
    return IID_ITypeInfo;
}
template <>
inline const IID& iid_of<ITypeLib>() noexcept {
    return IID_ITypeLib;
}

template <class First, class... Rest>
class Unknown : public First, public Rest... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<First*>(this);
        } else if (!(offer<First>(riid, ppv) || (offer<Rest>(riid, ppv) || ...))) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (!n) delete this;
        return n;
    }

protected:
    Unknown() = default;
    virtual ~Unknown() = default;

private:
    template <class I>
    bool offer(REFIID riid, void** ppv) {
        if (riid != iid_of<I>()) return false;
        *ppv = static_cast<I*>(this);
        return true;
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace pelmora::com
