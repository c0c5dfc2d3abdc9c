// The registered type library as Windows' own LoadRegTypeLib reads it: the class marked as a
// control, the interfaces' flags, the four methods with their dispatch ids in order and their
// seven [in, out] VARIANT* parameters plus the [out, retval] VARIANT*.

#include <windows.h>
#include <oleauto.h>
#include <initguid.h>

#include <gtest/gtest.h>

#include <array>
#include <cwchar>
#include <string>

#include "pelmora_idl.h"

#include "wine_check_args.hpp"

namespace {

constexpr std::array<const wchar_t*, 4> method_names{L"custcentukn", L"custcentswe", L"custcentnz", L"custcentau"};
constexpr std::array<const wchar_t*, 7> param_names{L"bwt", L"gest", L"wt", L"ht", L"sex", L"eth", L"par"};
constexpr MEMBERID first_dispid = 0x60030001;
constexpr SYSKIND own_syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

// Owns an interface pointer.
template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() { reset(); }
    T** out() {
        reset();
        return &p_;
    }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    void reset() {
        if (p_ != nullptr) {
            p_->Release();
            p_ = nullptr;
        }
    }

private:
    T* p_ = nullptr;
};

// A type description's attributes, released with it.
class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* ti) : ti_(ti) { EXPECT_EQ(ti_->GetTypeAttr(&a_), S_OK); }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    ~TypeAttr() {
        if (a_ != nullptr) ti_->ReleaseTypeAttr(a_);
    }
    const TYPEATTR* operator->() const { return a_; }

private:
    ITypeInfo* ti_;
    TYPEATTR* a_ = nullptr;
};

class FuncDesc {
public:
    FuncDesc(ITypeInfo* ti, UINT index) : ti_(ti) { EXPECT_EQ(ti_->GetFuncDesc(index, &f_), S_OK); }
    FuncDesc(const FuncDesc&) = delete;
    FuncDesc& operator=(const FuncDesc&) = delete;
    ~FuncDesc() {
        if (f_ != nullptr) ti_->ReleaseFuncDesc(f_);
    }
    const FUNCDESC* operator->() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }

private:
    ITypeInfo* ti_;
    FUNCDESC* f_ = nullptr;
};

std::wstring name_of(ITypeInfo* ti, MEMBERID id = MEMBERID_NIL) {
    BSTR name = nullptr;
    if (FAILED(ti->GetDocumentation(id, &name, nullptr, nullptr, nullptr)) || name == nullptr) return {};
    std::wstring s(name, SysStringLen(name));
    SysFreeString(name);
    return s;
}

std::string narrow(const std::wstring& w) { return {w.begin(), w.end()}; }

bool is_variant_ref(const TYPEDESC& t) { return t.vt == VT_PTR && t.lptdesc != nullptr && t.lptdesc->vt == VT_VARIANT; }

class RegisteredTypeLibrary : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    static void TearDownTestSuite() { CoUninitialize(); }

    void SetUp() override { ASSERT_EQ(LoadRegTypeLib(LIBID_PelmoraLib, 1, 0, 1033, lib_.out()), S_OK); }

    // The type description of `guid` as LoadRegTypeLib's library hands it out.
    void type_info(REFGUID guid, Ptr<ITypeInfo>& ti) { ASSERT_EQ(lib_->GetTypeInfoOfGuid(guid, ti.out()), S_OK); }

    // The vtable face of the dual interface (the dispatch face refers to it at index -1).
    void vtable_face(Ptr<ITypeInfo>& out) {
        Ptr<ITypeInfo> disp;
        type_info(IID__Pelmora, disp);
        HREFTYPE ref = 0;
        ASSERT_EQ(disp->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
        ASSERT_EQ(disp->GetRefTypeInfo(ref, out.out()), S_OK);
    }

    Ptr<ITypeLib> lib_;
};

TEST_F(RegisteredTypeLibrary, IsVersionOneOfLocale1033ForThisArchitectureAtTheDllPath) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_PelmoraLib));
    EXPECT_EQ(attr->lcid, 1033u);
    EXPECT_EQ(attr->syskind, own_syskind);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    lib_->ReleaseTLibAttr(attr);

    if (!wine_check::args().empty()) {
        BSTR path = nullptr;
        ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_PelmoraLib, 1, 0, 1033, &path), S_OK);
        EXPECT_EQ(_wcsicmp(path, wine_check::args()[0].c_str()), 0)
            << narrow(path) << " registered, expected " << narrow(wine_check::args()[0]);
        SysFreeString(path);
    }
}

TEST_F(RegisteredTypeLibrary, ClassIsACreatableControlWithDefaultAndSourceInterfaces) {
    Ptr<ITypeInfo> ti;
    type_info(CLSID_Pelmora, ti);
    EXPECT_EQ(name_of(ti.get()), L"Pelmora");
    TypeAttr attr(ti.get());
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_NE(attr->wTypeFlags & TYPEFLAG_FCONTROL, 0);
    EXPECT_NE(attr->wTypeFlags & TYPEFLAG_FCANCREATE, 0);
    ASSERT_EQ(attr->cImplTypes, 2);

    struct Expected {
        const wchar_t* name;
        const GUID* iid;
        INT flags;
    };
    const std::array<Expected, 2> expected{{
        {L"_Pelmora", &IID__Pelmora, IMPLTYPEFLAG_FDEFAULT},
        {L"__Pelmora", &DIID___Pelmora, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
    }};
    for (UINT i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        INT flags = 0;
        ASSERT_EQ(ti->GetImplTypeFlags(i, &flags), S_OK);
        HREFTYPE ref = 0;
        ASSERT_EQ(ti->GetRefTypeOfImplType(i, &ref), S_OK);
        Ptr<ITypeInfo> impl;
        ASSERT_EQ(ti->GetRefTypeInfo(ref, impl.out()), S_OK);
        EXPECT_EQ(name_of(impl.get()), expected[i].name);
        EXPECT_EQ(flags, expected[i].flags);
        TypeAttr impl_attr(impl.get());
        EXPECT_TRUE(IsEqualGUID(impl_attr->guid, *expected[i].iid));
    }
}

TEST_F(RegisteredTypeLibrary, InterfaceFlagsOnBothFacesOfTheDualInterface) {
    constexpr WORD common = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    Ptr<ITypeInfo> disp;
    type_info(IID__Pelmora, disp);
    Ptr<ITypeInfo> vtbl;
    vtable_face(vtbl);

    TypeAttr d(disp.get());
    EXPECT_EQ(d->typekind, TKIND_DISPATCH);
    EXPECT_EQ(d->wTypeFlags & common, common) << std::hex << d->wTypeFlags;
    EXPECT_EQ(d->wTypeFlags & TYPEFLAG_FCONTROL, 0);

    TypeAttr v(vtbl.get());
    EXPECT_EQ(v->typekind, TKIND_INTERFACE);
    // Automation-compatible is a property of the vtable face.
    EXPECT_EQ(v->wTypeFlags & (common | TYPEFLAG_FOLEAUTOMATION), common | TYPEFLAG_FOLEAUTOMATION)
        << std::hex << v->wTypeFlags;
    EXPECT_EQ(v->cFuncs, 4);
    EXPECT_EQ(v->cImplTypes, 1);  // IDispatch
    EXPECT_EQ(name_of(vtbl.get()), L"_Pelmora");
}

TEST_F(RegisteredTypeLibrary, EventInterfaceIsAnEmptyHiddenDispinterface) {
    Ptr<ITypeInfo> ti;
    type_info(DIID___Pelmora, ti);
    EXPECT_EQ(name_of(ti.get()), L"__Pelmora");
    TypeAttr attr(ti.get());
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_NE(attr->wTypeFlags & TYPEFLAG_FHIDDEN, 0);
    EXPECT_NE(attr->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE, 0) << std::hex << attr->wTypeFlags;
    EXPECT_EQ(attr->wTypeFlags & TYPEFLAG_FDUAL, 0);
    // A dispinterface counts only its own members (IDispatch's come through its base).
    EXPECT_EQ(attr->cFuncs, 0);
    EXPECT_EQ(attr->cVars, 0);
}

// The type library in the DLL's resources, read by path as a development tool reads it: the event
// interface's flags are exactly hidden, non-extensible and dispatchable.
TEST(TypeLibraryInTheDll, LoadTypeLibExReadsTheEventInterfaceAsHiddenAndNonExtensible) {
    ASSERT_FALSE(wine_check::args().empty()) << "the DLL's path is the first argument";
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
        Ptr<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLibEx(wine_check::args()[0].c_str(), REGKIND_NONE, lib.out()), S_OK);
        Ptr<ITypeInfo> ti;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID___Pelmora, ti.out()), S_OK);
        TypeAttr attr(ti.get());
        EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
        EXPECT_EQ(attr->wTypeFlags,
                  static_cast<WORD>(TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE))
            << std::hex << attr->wTypeFlags;
    }
    CoUninitialize();
}

TEST_F(RegisteredTypeLibrary, FourMethodsInOrderWithDispidsAndSevenInOutVariantsPlusRetval) {
    Ptr<ITypeInfo> vtbl;
    vtable_face(vtbl);
    for (UINT i = 0; i < method_names.size(); ++i) {
        SCOPED_TRACE(narrow(method_names[i]));
        FuncDesc f(vtbl.get(), i);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->memid, first_dispid + static_cast<MEMBERID>(i));
        EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(f->invkind, INVOKE_FUNC);
        EXPECT_EQ(f->callconv, CC_STDCALL);
        // After IUnknown's three and IDispatch's four vtable slots.
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(f->cParamsOpt, 0);
        ASSERT_EQ(f->cParams, 8);
        for (SHORT p = 0; p < 7; ++p) {
            SCOPED_TRACE(p);
            const ELEMDESC& e = f->lprgelemdescParam[p];
            EXPECT_TRUE(is_variant_ref(e.tdesc));
            EXPECT_EQ(e.paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
        }
        const ELEMDESC& ret = f->lprgelemdescParam[7];
        EXPECT_TRUE(is_variant_ref(ret.tdesc));
        EXPECT_EQ(ret.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);

        std::array<BSTR, 9> names{};
        UINT count = 0;
        ASSERT_EQ(vtbl->GetNames(f->memid, names.data(), static_cast<UINT>(names.size()), &count), S_OK);
        ASSERT_GE(count, 8u);
        EXPECT_STREQ(names[0], method_names[i]);
        for (UINT p = 0; p < 7; ++p) EXPECT_STREQ(names[p + 1], param_names[p]);
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    }
}

TEST_F(RegisteredTypeLibrary, DispatchFaceLiftsTheRetvalAndNamesResolveToTheDispids) {
    Ptr<ITypeInfo> disp;
    type_info(IID__Pelmora, disp);
    TypeAttr attr(disp.get());
    // IUnknown's three and IDispatch's four, then ours.
    ASSERT_EQ(attr->cFuncs, 7 + 4);
    for (UINT i = 0; i < method_names.size(); ++i) {
        SCOPED_TRACE(narrow(method_names[i]));
        FuncDesc f(disp.get(), 7 + i);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->memid, first_dispid + static_cast<MEMBERID>(i));
        EXPECT_EQ(f->funckind, FUNC_DISPATCH);
        ASSERT_EQ(f->cParams, 7);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_VARIANT);
        for (SHORT p = 0; p < 7; ++p) {
            EXPECT_TRUE(is_variant_ref(f->lprgelemdescParam[p].tdesc));
            EXPECT_EQ(f->lprgelemdescParam[p].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
        }

        // The type library's own name lookup, case-insensitive as automation clients expect.
        std::wstring upper(method_names[i]);
        for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(c));
        std::array<LPOLESTR, 1> lookup{upper.data()};
        MEMBERID id = MEMBERID_NIL;
        ASSERT_EQ(disp->GetIDsOfNames(lookup.data(), 1, &id), S_OK);
        EXPECT_EQ(id, first_dispid + static_cast<MEMBERID>(i));
    }
}

}  // namespace
