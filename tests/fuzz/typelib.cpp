// LoadTypeLibEx on any file (seeded with the type library alone and inside an ELF file), then
// every question a host may ask of what it loaded.

#include <oleauto.h>

#include <cstdlib>
#include <string>

#include "fuzz_support.hpp"

namespace {

void walk(ITypeInfo* info, int depth);

void walk_ref(ITypeInfo* info, HREFTYPE href, int depth) {
    ITypeInfo* ref = nullptr;
    if (SUCCEEDED(info->GetRefTypeInfo(href, &ref))) {
        if (depth < 2) walk(ref, depth + 1);
        ref->Release();
    } else if (ref) {
        std::abort();  // a failure handed something out
    }
}

void walk(ITypeInfo* info, int depth) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return;
    BSTR name = nullptr, doc = nullptr;
    if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr))) {
        SysFreeString(name);
        SysFreeString(doc);
    }
    for (UINT f = 0; f < attr->cFuncs; ++f) {
        FUNCDESC* fd = nullptr;
        if (FAILED(info->GetFuncDesc(f, &fd))) continue;
        BSTR names[16] = {};
        UINT got = 0;
        if (SUCCEEDED(info->GetNames(fd->memid, names, 16, &got))) {
            MEMBERID ids[16];
            info->GetIDsOfNames(names, got ? got : 1, ids);
            for (UINT i = 0; i < got; ++i) SysFreeString(names[i]);
        }
        for (SHORT p = 0; p < fd->cParams; ++p) {
            for (const TYPEDESC* t = &fd->lprgelemdescParam[p].tdesc; t; t = t->vt == VT_PTR ? t->lptdesc : nullptr)
                if (t->vt == VT_USERDEFINED) walk_ref(info, t->hreftype, depth);
        }
        info->ReleaseFuncDesc(fd);
    }
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE href = 0;
        INT flags = 0;
        info->GetImplTypeFlags(i, &flags);
        if (SUCCEEDED(info->GetRefTypeOfImplType(i, &href))) walk_ref(info, href, depth);
    }
    HREFTYPE vtable = 0;
    if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable))) walk_ref(info, vtable, depth);
    ITypeLib* owner = nullptr;
    UINT index = 0;
    if (SUCCEEDED(info->GetContainingTypeLib(&owner, &index))) owner->Release();
    else if (owner) std::abort();
    info->ReleaseTypeAttr(attr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const pelmora::fuzz::MemoryFile file;
    static const std::u16string path = file.path16();
    file.write(pelmora::fuzz::text_of(data, size));
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib))) {
        if (lib) std::abort();
        return 0;
    }
    TLIBATTR* la = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&la))) lib->ReleaseTLibAttr(la);
    for (INT i = -1; i < static_cast<INT>(lib->GetTypeInfoCount()); ++i) {
        BSTR name = nullptr, doc = nullptr;
        if (SUCCEEDED(lib->GetDocumentation(i, &name, &doc, nullptr, nullptr))) {
            BOOL found = FALSE;
            if (name) lib->IsName(name, 0, &found);
            SysFreeString(name);
            SysFreeString(doc);
        }
        if (i < 0) continue;
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(static_cast<UINT>(i), &info))) continue;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            ITypeInfo* same = nullptr;
            if (SUCCEEDED(lib->GetTypeInfoOfGuid(attr->guid, &same))) same->Release();
            info->ReleaseTypeAttr(attr);
        }
        walk(info, 0);
        info->Release();
    }
    lib->Release();
    return 0;
}
