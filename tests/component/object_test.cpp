// The class as a host meets it: entry points, class factory, interfaces, type information,
// the event source, unloading, and two instances on two threads.

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <thread>
#include <vector>

#include "component_under_test.hpp"
#include "host_environment.hpp"
#include "pelmora/calc/calculators.hpp"

namespace {

using EntryGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using EntryNoArgs = HRESULT(STDAPICALLTYPE*)();

// A library loaded by the test itself, as regsvr32 or a container would.
struct Library {
    void* handle = host::load_library(host::component_path());
    ~Library() {
        if (handle) host::free_library(handle);
    }
    template <class F>
    F entry(const char* name) const {
        return reinterpret_cast<F>(host::exported(handle, name));
    }
};

TEST(EntryPoints, TheFourAreExported) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr);
    for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"})
        EXPECT_NE(host::exported(lib.handle, name), nullptr) << name;
    // (The dynamic symbol table is checked whole by the pelmora_component_exports test.)
    for (const char* name : {"DllInstall", "custcentukn", "Pelmora"})
        EXPECT_EQ(host::exported(lib.handle, name), nullptr) << name;
}

TEST(EntryPoints, ClassObjectOnlyForPelmora) {
    Library lib;
    auto get = lib.entry<EntryGetClassObject>("DllGetClassObject");
    ASSERT_NE(get, nullptr);
    Ptr<IClassFactory> factory;
    EXPECT_EQ(get(CLSID_Pelmora, IID_IClassFactory, factory.out()), S_OK);
    EXPECT_TRUE(factory);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(IID__Pelmora, IID_IClassFactory, &other), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
    other = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(CLSID_Pelmora, IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(get(CLSID_Pelmora, IID_IClassFactory, nullptr), E_POINTER);
}

TEST(ClassFactory, CreatesOnlyUnaggregatedObjectsOfKnownInterfaces) {
    Ptr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Pelmora, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out()), S_OK);
    Ptr<IUnknown> object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.out()), S_OK);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(object.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
}

TEST(ClassFactory, ByProgID) {
    for (const char* progid : {"Pelmora.Pelmora", "Pelmora.Pelmora.1"}) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(to_ole(progid).c_str(), &clsid), S_OK) << progid;
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Pelmora));
        Ptr<IDispatch> d;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.out()), S_OK);
    }
}

TEST(Interfaces, AnswersItsOwnAndRefusesOthers) {
    Ptr<IUnknown> object;
    ASSERT_EQ(create_pelmora(IID_IUnknown, object.out()), S_OK);
    const std::pair<const IID*, bool> table[] = {
        {&IID_IUnknown, true},
        {&IID_IDispatch, true},
        {&IID__Pelmora, true},
        {&IID_IProvideClassInfo, true},
        {&IID_IConnectionPointContainer, true},
        {&IID_ISupportErrorInfo, true},
        {&DIID___Pelmora, false},
        {&IID_IClassFactory, false},
        {&IID_ITypeInfo, false},
        {&IID_IConnectionPoint, false},
        {&CLSID_Pelmora, false},
        {&IID_NULL, false},
    };
    for (const auto& [iid, supported] : table) {
        void* p = reinterpret_cast<void*>(1);
        const HRESULT hr = object->QueryInterface(*iid, &p);
        if (supported) {
            EXPECT_EQ(hr, S_OK) << guid_text(*iid).size();
            ASSERT_NE(p, nullptr);
            // One identity: every interface leads back to the same IUnknown.
            Ptr<IUnknown> back;
            static_cast<IUnknown*>(p)->QueryInterface(IID_IUnknown, back.out());
            EXPECT_EQ(back.get(), object.get());
            static_cast<IUnknown*>(p)->Release();
        } else {
            EXPECT_EQ(hr, E_NOINTERFACE);
            EXPECT_EQ(p, nullptr);
        }
    }
}

TEST(Interfaces, ReferenceCountingKeepsTheObjectUntilTheLastRelease) {
    _Pelmora* raw = nullptr;
    ASSERT_EQ(create_pelmora(IID__Pelmora, reinterpret_cast<void**>(&raw)), S_OK);
    EXPECT_EQ(raw->AddRef(), 2u);
    IDispatch* d = nullptr;
    ASSERT_EQ(raw->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    EXPECT_EQ(d->Release(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    UINT n = 0;
    EXPECT_EQ(raw->GetTypeInfoCount(&n), S_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(raw->Release(), 0u);
}

// ---- Type information ----------------------------------------------------------------------

WORD type_flags(ITypeInfo* t, TYPEKIND* kind = nullptr, WORD* funcs = nullptr) {
    TYPEATTR* a = nullptr;
    EXPECT_EQ(t->GetTypeAttr(&a), S_OK);
    if (!a) return 0;
    const WORD f = a->wTypeFlags;
    if (kind) *kind = a->typekind;
    if (funcs) *funcs = a->cFuncs;
    t->ReleaseTypeAttr(a);
    return f;
}

GUID type_guid(ITypeInfo* t) {
    TYPEATTR* a = nullptr;
    EXPECT_EQ(t->GetTypeAttr(&a), S_OK);
    const GUID g = a ? a->guid : GUID{};
    if (a) t->ReleaseTypeAttr(a);
    return g;
}

OleString member_name(ITypeInfo* t, MEMBERID id) {
    BSTR name = nullptr;
    EXPECT_EQ(t->GetDocumentation(id, &name, nullptr, nullptr, nullptr), S_OK);
    OleString s(name ? name : OLESTR(""), SysStringLen(name));
    SysFreeString(name);
    return s;
}

TEST(TypeInformation, TheRegisteredLibraryDescribesTheControl) {
    Ptr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_PelmoraLib, 1, 0, 1033, lib.put()), S_OK);
    TLIBATTR* la = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
    EXPECT_EQ(la->lcid, 1033u);
    EXPECT_EQ(la->wMajorVerNum, 1);
    EXPECT_EQ(la->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(la);

    // The class: a creatable control with _Pelmora as default and __Pelmora as default source.
    Ptr<ITypeInfo> coclass;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_Pelmora, coclass.put()), S_OK);
    TYPEKIND kind{};
    const WORD cflags = type_flags(coclass.get(), &kind);
    EXPECT_EQ(kind, TKIND_COCLASS);
    EXPECT_TRUE(cflags & TYPEFLAG_FCONTROL);
    EXPECT_TRUE(cflags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(member_name(coclass.get(), MEMBERID_NIL), OLESTR("Pelmora"));
    const std::pair<const IID*, INT> impls[] = {{&IID__Pelmora, IMPLTYPEFLAG_FDEFAULT},
                                                {&DIID___Pelmora, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < 2; ++i) {
        HREFTYPE href = 0;
        INT flags = 0;
        ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &href), S_OK);
        ASSERT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(flags, impls[i].second);
        Ptr<ITypeInfo> t;
        ASSERT_EQ(coclass->GetRefTypeInfo(href, t.put()), S_OK);
        EXPECT_TRUE(IsEqualGUID(type_guid(t.get()), *impls[i].first));
    }

    // __Pelmora: an empty, hidden dispatch interface.
    Ptr<ITypeInfo> events;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID___Pelmora, events.put()), S_OK);
    WORD funcs = 99;
    const WORD eflags = type_flags(events.get(), &kind, &funcs);
    EXPECT_EQ(kind, TKIND_DISPATCH);
    EXPECT_TRUE(eflags & TYPEFLAG_FHIDDEN);
    EXPECT_TRUE(eflags & TYPEFLAG_FNONEXTENSIBLE);  // set in the .tlb after widl
    EXPECT_FALSE(eflags & TYPEFLAG_FDUAL);
    EXPECT_EQ(member_name(events.get(), MEMBERID_NIL), OLESTR("__Pelmora"));

    // _Pelmora: dual, hidden, non-extensible, automation-compatible.
    Ptr<ITypeInfo> dispatch;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID__Pelmora, dispatch.put()), S_OK);
    const WORD dflags = type_flags(dispatch.get(), &kind);
    EXPECT_EQ(kind, TKIND_DISPATCH);
    for (WORD f : {WORD{TYPEFLAG_FDUAL}, WORD{TYPEFLAG_FHIDDEN}, WORD{TYPEFLAG_FNONEXTENSIBLE}})
        EXPECT_TRUE(dflags & f) << f;
    HREFTYPE vhref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vhref), S_OK);
    Ptr<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(vhref, vtable.put()), S_OK);
    const WORD vflags = type_flags(vtable.get(), &kind, &funcs);
    EXPECT_EQ(kind, TKIND_INTERFACE);
    EXPECT_TRUE(vflags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_TRUE(vflags & TYPEFLAG_FDUAL);
    EXPECT_EQ(member_name(vtable.get(), MEMBERID_NIL), OLESTR("_Pelmora"));

    // The four methods in order, each with seven [in, out] VARIANT* and an [out, retval] VARIANT*.
    const std::pair<const char*, MEMBERID> methods[] = {{"custcentukn", 0x60030001},
                                                        {"custcentswe", 0x60030002},
                                                        {"custcentnz", 0x60030003},
                                                        {"custcentau", 0x60030004}};
    const char* params[] = {"bwt", "gest", "wt", "ht", "sex", "eth", "par"};
    ASSERT_EQ(funcs, 4);
    for (UINT i = 0; i < 4; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, methods[i].second);
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        EXPECT_EQ(f->invkind, INVOKE_FUNC);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        ASSERT_EQ(f->cParams, 8);
        EXPECT_EQ(f->cParamsOpt, 0);
        for (int k = 0; k < 8; ++k) {
            const ELEMDESC& e = f->lprgelemdescParam[k];
            EXPECT_EQ(e.tdesc.vt, VT_PTR);
            ASSERT_NE(e.tdesc.lptdesc, nullptr);
            EXPECT_EQ(e.tdesc.lptdesc->vt, VT_VARIANT);
            EXPECT_EQ(e.paramdesc.wParamFlags,
                      k < 7 ? PARAMFLAG_FIN | PARAMFLAG_FOUT : PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
        }
        BSTR names[9] = {};
        UINT got = 0;
        ASSERT_EQ(vtable->GetNames(f->memid, names, 9, &got), S_OK);
        ASSERT_GE(got, 8u);
        EXPECT_EQ(OleString(names[0], SysStringLen(names[0])), to_ole(methods[i].first));
        for (int k = 0; k < 7; ++k) EXPECT_EQ(OleString(names[k + 1], SysStringLen(names[k + 1])), to_ole(params[k]));
        for (BSTR& n : names) SysFreeString(n);
        vtable->ReleaseFuncDesc(f);
    }
}

TEST(TypeInformation, TheObjectHandsOutItsClassAndInterface) {
    Ptr<_Pelmora> p;
    ASSERT_EQ(create_pelmora(IID__Pelmora, p.out()), S_OK);
    Ptr<ITypeInfo> t;
    ASSERT_EQ(p->GetTypeInfo(0, 1033, t.put()), S_OK);
    EXPECT_TRUE(IsEqualGUID(type_guid(t.get()), IID__Pelmora));
    Ptr<ITypeInfo> none;
    EXPECT_EQ(p->GetTypeInfo(1, 1033, none.put()), DISP_E_BADINDEX);
    Ptr<IProvideClassInfo> pci;
    ASSERT_EQ(p->QueryInterface(IID_IProvideClassInfo, pci.out()), S_OK);
    Ptr<ITypeInfo> c;
    ASSERT_EQ(pci->GetClassInfo(c.put()), S_OK);
    EXPECT_TRUE(IsEqualGUID(type_guid(c.get()), CLSID_Pelmora));
}

// ---- Events ------------------------------------------------------------------------------------

// A sink that may be connected and released but must never be called.
class MockSink final : public IDispatch {
public:
    explicit MockSink(bool speaks_events) : speaks_events_(speaks_events) {}
    virtual ~MockSink() = default;
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || (speaks_events_ && IsEqualIID(riid, DIID___Pelmora))) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override {
        ADD_FAILURE() << "event sink called: GetTypeInfoCount";
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
        ADD_FAILURE() << "event sink called: GetTypeInfo";
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        ADD_FAILURE() << "event sink called: GetIDsOfNames";
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        ADD_FAILURE() << "event sink called: Invoke";
        return E_NOTIMPL;
    }

private:
    bool speaks_events_;
};

TEST(Events, ASinkConnectsAndIsNeverCalled) {
    MockSink sink(true), deaf(false);
    {
        Ptr<_Pelmora> p;
        ASSERT_EQ(create_pelmora(IID__Pelmora, p.out()), S_OK);
        Ptr<IConnectionPointContainer> cpc;
        ASSERT_EQ(p->QueryInterface(IID_IConnectionPointContainer, cpc.out()), S_OK);
        Ptr<IConnectionPoint> none;
        EXPECT_EQ(cpc->FindConnectionPoint(IID_IDispatch, none.put()), CONNECT_E_NOCONNECTION);
        EXPECT_FALSE(none);
        Ptr<IConnectionPoint> cp;
        ASSERT_EQ(cpc->FindConnectionPoint(DIID___Pelmora, cp.put()), S_OK);
        IID iid{};
        EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
        EXPECT_TRUE(IsEqualIID(iid, DIID___Pelmora));
        Ptr<IConnectionPointContainer> back;
        EXPECT_EQ(cp->GetConnectionPointContainer(back.put()), S_OK);
        EXPECT_EQ(back.get(), cpc.get());

        DWORD cookie = 0, deaf_cookie = 7;
        EXPECT_EQ(cp->Advise(&deaf, &deaf_cookie), CONNECT_E_CANNOTCONNECT);
        EXPECT_EQ(deaf_cookie, 0u);
        EXPECT_EQ(cp->Advise(nullptr, &cookie), E_POINTER);
        ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
        EXPECT_NE(cookie, 0u);
        DWORD second = 0;
        ASSERT_EQ(cp->Advise(&sink, &second), S_OK);
        EXPECT_NE(second, cookie);

        // Work the object: calls and failures raise nothing.
        Variant a[7], result;
        const double in[7] = {3500, 280, 64, 163, 1, 1, 0};
        for (int i = 0; i < 7; ++i) a[i] = Variant(in[i]);
        EXPECT_EQ(p->custcentukn(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &result), S_OK);
        a[0] = Variant::text(to_ole("x"));
        Variant r2;
        EXPECT_NE(p->custcentnz(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &r2), S_OK);
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK) info->Release();

        EXPECT_EQ(cp->Unadvise(cookie), S_OK);
        EXPECT_EQ(cp->Unadvise(cookie), CONNECT_E_NOCONNECTION);
        EXPECT_EQ(cp->Unadvise(0), CONNECT_E_NOCONNECTION);
        // `second` stays connected until the object goes.
    }
    EXPECT_EQ(sink.refs, 1u) << "the object keeps no reference to a sink after it is gone";
    EXPECT_EQ(deaf.refs, 1u);
}

// ---- Unloading -------------------------------------------------------------------------------

TEST(Unloading, OnlyWhenNoObjectOrLockIsLeft) {
    CoFreeUnusedLibraries();
    const OleString path = host::component_path();
    EXPECT_FALSE(host::is_loaded(path)) << "nothing of the component is alive, so it was unloaded";
    {
        Ptr<IUnknown> object;
        ASSERT_EQ(create_pelmora(IID_IUnknown, object.out()), S_OK);
        Library lib;  // the test's own view of the entry point
        auto can_unload = lib.entry<EntryNoArgs>("DllCanUnloadNow");
        ASSERT_NE(can_unload, nullptr);
        EXPECT_EQ(can_unload(), S_FALSE);
        CoFreeUnusedLibraries();
        EXPECT_TRUE(host::is_loaded(path));
        object.reset();
        EXPECT_EQ(can_unload(), S_OK);

        Ptr<IClassFactory> factory;
        ASSERT_EQ(CoGetClassObject(CLSID_Pelmora, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out()),
                  S_OK);
        EXPECT_EQ(can_unload(), S_FALSE) << "a held class factory keeps the library";
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        factory.reset();
        EXPECT_EQ(can_unload(), S_FALSE) << "a lock keeps the library";
        Ptr<IClassFactory> again;
        ASSERT_EQ(CoGetClassObject(CLSID_Pelmora, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, again.out()), S_OK);
        EXPECT_EQ(again->LockServer(FALSE), S_OK);
        again.reset();
        EXPECT_EQ(can_unload(), S_OK);
    }
    CoFreeUnusedLibraries();
    EXPECT_FALSE(host::is_loaded(path));
    // And it comes back on demand.
    Ptr<IUnknown> object;
    EXPECT_EQ(create_pelmora(IID_IUnknown, object.out()), S_OK);
}

// ---- Threads -------------------------------------------------------------------------------------

// Runs both functions at once on two new threads, each with COM initialised for it, and waits.
void run_concurrently(const std::function<void()>& a, const std::function<void()>& b) {
    auto with_com = [](const std::function<void()>& f) {
        return [&f] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            f();
            CoUninitialize();
        };
    };
    std::thread ta(with_com(a));
    std::thread tb(with_com(b));
    ta.join();
    tb.join();
}

TEST(Threads, TwoInstancesOnTwoThreadsGiveIndependentResults) {
    using pelmora::calc::Arg;
    auto expected = [](auto calculator, double wt, double ht) {
        Arg a[7] = {Arg::r8(3500), Arg::r8(280), Arg::r8(wt), Arg::r8(ht), Arg::r8(1), Arg::r8(1), Arg::r8(0)};
        return calculator(a[0], a[1], a[2], a[3], a[4], a[5], a[6]).as_r8();
    };
    const double uk = expected(&pelmora::calc::custcentukn, 64, 163);
    const double swe = expected(&pelmora::calc::custcentswe, 65, 165);
    int uk_bad = -1, swe_bad = -1;
    auto worker = [](auto method, double wt, double ht, double want, double ht_after, int& bad) {
        return [=, &bad] {
            Ptr<_Pelmora> p;
            if (FAILED(create_pelmora(IID__Pelmora, p.out()))) return;
            bad = 0;
            for (int i = 0; i < 2000; ++i) {
                Variant a[7], result;
                const double in[7] = {3500, 280, wt, ht, 1, 1, 0};
                for (int k = 0; k < 7; ++k) a[k] = Variant(in[k]);
                const HRESULT hr = (p.get()->*method)(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &result);
                if (hr != S_OK || std::bit_cast<std::uint64_t>(result.r8()) != std::bit_cast<std::uint64_t>(want) ||
                    a[1].r8() != 40.0 || a[3].r8() != ht_after)
                    ++bad;
            }
        };
    };
    run_concurrently(worker(&_Pelmora::custcentukn, 64, 163, uk, 163, uk_bad),
                     worker(&_Pelmora::custcentswe, 65, 165, swe, -2, swe_bad));
    EXPECT_EQ(uk_bad, 0);
    EXPECT_EQ(swe_bad, 0);
}

}  // namespace
