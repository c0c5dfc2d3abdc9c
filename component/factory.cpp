// The class factory and the entry points that hand it out and report whether the library may
// be unloaded.

#include "module.hpp"
#include "pelmora_object.hpp"

namespace pelmora::component {
namespace {

// One static factory per class. A reference to it counts as a lock on the server, so the
// library stays loaded while a host holds the factory.
class Factory final : public IClassFactory {
public:
    using Creator = HRESULT (*)(REFIID, void**) noexcept;
    constexpr explicit Factory(Creator create) : create_(create) {}
    virtual ~Factory() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        lock_server(true);
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        lock_server(false);
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock_server(lock != FALSE);
        return S_OK;
    }

private:
    Creator create_;
};

Factory pelmora_factory(&PelmoraObject::create);

struct ClassEntry {
    const CLSID* clsid;
    Factory* factory;
};
const ClassEntry classes[] = {{&CLSID_Pelmora, &pelmora_factory}};

}  // namespace
}  // namespace pelmora::component

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const auto& entry : pelmora::component::classes)
        if (IsEqualCLSID(rclsid, *entry.clsid)) return entry.factory->QueryInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return pelmora::component::can_unload() ? S_OK : S_FALSE; }
