// ITypeLib and ITypeInfo over a parsed MSFT type library.
//
// A dual interface is stored once, as a dispatch interface flagged dual. Its default view is
// that dispatch interface (functions of kind FUNC_DISPATCH, the [retval] parameter folded into
// the function's result); GetRefTypeOfImplType(-1) leads to its vtable view (TKIND_INTERFACE,
// the functions as declared). Types of other libraries (IDispatch from stdole2) are known only
// by identity: their ITypeInfo answers GetTypeAttr and nothing more.
//
// On failure every pointer and BSTR out-parameter is null, no reference is held for the caller
// and counts are zero; other values the caller passed in are left as they were.

#include "typelib_objects.hpp"

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "pelmora_com_api.h"
#include "text.hpp"
#include "unknown.hpp"

using namespace pelmora::com;

namespace {

constexpr HREFTYPE vtable_view_bit = 2;  // never set in the format's own local or imported hreftypes

class TypeLib;

// A name and a help string as GetDocumentation hands them out (the out-parameters are null).
HRESULT documentation(std::u16string_view name_text, const std::optional<std::u16string_view>& doc_text, BSTR* name,
                      BSTR* doc) {
    if (name && !(*name = make_bstr(name_text))) return E_OUTOFMEMORY;
    if (doc && doc_text && !(*doc = make_bstr(*doc_text))) {
        if (name) {
            SysFreeString(*name);
            *name = nullptr;
        }
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

class TypeInfo final : public Unknown<ITypeInfo> {
public:
    // type == nullptr: an imported type, known only as `import`.
    TypeInfo(TypeLib* lib, int index, bool vtable_view, const TlbImport* import);
    virtual ~TypeInfo();

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** out) override;
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** out) override;
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC** out) override {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;  // no type of this layer's libraries has variables
    }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* out) override;
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* out) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* context,
                                               BSTR* file) override;
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name, WORD*) override {
        if (dll) *dll = nullptr;
        if (name) *name = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE href, ITypeInfo** out) override;
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID* out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID* out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) override { std::free(attr); }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* desc) override { std::free(desc); }
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* desc) override { std::free(desc); }

private:
    const TlbType* type() const;
    bool dispatch_view_of_dual() const {
        const TlbType* t = type();
        return t && !vtable_view_ && t->kind == TKIND_DISPATCH && (t->flags & TYPEFLAG_FDUAL);
    }
    const TlbFunc* find(MEMBERID memid) const;

    TypeLib* lib_;
    int index_;
    bool vtable_view_;
    TlbImport import_{};
};

class TypeLib final : public Unknown<ITypeLib> {
public:
    explicit TypeLib(std::shared_ptr<const TlbLibrary> data) : data_(std::move(data)) {}
    virtual ~TypeLib() = default;
    const TlbLibrary& data() const { return *data_; }

    UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return static_cast<UINT>(data_->types.size()); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** out) override {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        if (index >= data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *out = new (std::nothrow) TypeInfo(this, static_cast<int>(index), false, nullptr);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* out) override {
        if (!out) return E_INVALIDARG;
        if (index >= data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *out = data_->types[index].kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        for (std::size_t i = 0; i < data_->types.size(); ++i)
            if (data_->types[i].guid == guid) return GetTypeInfo(static_cast<UINT>(i), out);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** out) override {
        if (!out) return E_INVALIDARG;
        *out = static_cast<TLIBATTR*>(std::calloc(1, sizeof(TLIBATTR)));
        if (!*out) return E_OUTOFMEMORY;
        (*out)->guid = data_->libid;
        (*out)->lcid = data_->lcid;
        (*out)->syskind = data_->syskind;
        (*out)->wMajorVerNum = data_->major;
        (*out)->wMinorVerNum = data_->minor;
        (*out)->wLibFlags =
            static_cast<WORD>(data_->flags | LIBFLAG_FHASDISKIMAGE);  // read from a file, as Windows says
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* context, BSTR* file) override {
        if (name) *name = nullptr;
        if (doc) *doc = nullptr;
        if (file) *file = nullptr;
        if (context) *context = 0;
        if (index == -1) return documentation(data_->name, data_->doc, name, doc);
        if (index < 0 || static_cast<std::size_t>(index) >= data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        const TlbType& t = data_->types[static_cast<std::size_t>(index)];
        return documentation(t.name, t.doc, name, doc);
    }
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR name, ULONG, BOOL* found) override {
        if (!name || !found) return E_INVALIDARG;
        *found = FALSE;
        for (const auto& t : data_->types) {
            if (equal_nocase(t.name, name)) *found = TRUE;
            for (const auto& f : t.funcs) {
                if (equal_nocase(f.name, name)) *found = TRUE;
                for (const auto& p : f.params)
                    if (equal_nocase(p.name, name)) *found = TRUE;
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* found) override {
        if (!infos || !ids || !found) return E_INVALIDARG;
        for (USHORT i = 0; i < *found; ++i) infos[i] = nullptr;
        *found = 0;
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) override { std::free(attr); }

private:
    std::shared_ptr<const TlbLibrary> data_;
};

TypeInfo::TypeInfo(TypeLib* lib, int index, bool vtable_view, const TlbImport* import)
    : lib_(lib), index_(index), vtable_view_(vtable_view) {
    if (import) import_ = *import;
    lib_->AddRef();
}

TypeInfo::~TypeInfo() { lib_->Release(); }

const TlbType* TypeInfo::type() const {
    return index_ >= 0 ? &lib_->data().types[static_cast<std::size_t>(index_)] : nullptr;
}

const TlbFunc* TypeInfo::find(MEMBERID memid) const {
    const TlbType* t = type();
    if (!t) return nullptr;
    for (const auto& f : t->funcs)
        if (f.memid == memid) return &f;
    return nullptr;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    auto* a = static_cast<TYPEATTR*>(std::calloc(1, sizeof(TYPEATTR)));
    if (!a) return E_OUTOFMEMORY;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->tdescAlias.vt = VT_EMPTY;
    const TlbType* t = type();
    if (!t) {
        a->guid = import_.guid;
        a->typekind = import_.kind;
        *out = a;
        return S_OK;
    }
    a->guid = t->guid;
    a->lcid = lib_->data().lcid;
    a->cbSizeInstance = t->size_instance;
    a->typekind = t->kind;
    a->cFuncs = static_cast<WORD>(t->funcs.size());
    a->cImplTypes = static_cast<WORD>(t->impls.size());
    a->cbSizeVft = t->size_vft;
    a->cbAlignment = t->alignment;
    a->wTypeFlags = t->flags;
    a->wMajorVerNum = t->major;
    a->wMinorVerNum = t->minor;
    if (t->kind == TKIND_DISPATCH && (t->flags & TYPEFLAG_FDUAL)) {
        if (vtable_view_) {
            a->typekind = TKIND_INTERFACE;
        } else {
            a->cbSizeVft = static_cast<WORD>(7 * sizeof(void*));  // IDispatch's vtable
        }
    } else if (t->kind == TKIND_DISPATCH) {
        a->cbSizeVft = static_cast<WORD>(7 * sizeof(void*));
    }
    *out = a;
    return S_OK;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const TlbType* t = type();
    if (!t || index >= t->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    const TlbFunc& f = t->funcs[index];
    const bool fold = dispatch_view_of_dual() && !f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL);
    const std::size_t nparams = f.params.size() - (fold ? 1 : 0);
    // One block: the FUNCDESC, its parameters, then every TYPEDESC the chains need.
    std::size_t ntd = 0;
    for (std::size_t i = 0; i < nparams; ++i) ntd += f.params[i].type.depth;
    ntd += fold ? f.params.back().type.depth : f.ret.depth;
    const std::size_t bytes = sizeof(FUNCDESC) + nparams * sizeof(ELEMDESC) + ntd * sizeof(TYPEDESC);
    auto* block = static_cast<unsigned char*>(std::calloc(1, bytes));
    if (!block) return E_OUTOFMEMORY;
    auto* d = reinterpret_cast<FUNCDESC*>(block);
    auto* params = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
    auto* tds = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + nparams * sizeof(ELEMDESC));
    // Fills `td` from the chain starting at element `from`; nested entries come from `tds`.
    auto fill = [&](TYPEDESC& td, const TypeChain& chain, std::size_t from) {
        TYPEDESC* cur = &td;
        for (std::size_t k = from; k < chain.depth; ++k) {
            cur->vt = chain.vts[k];
            if (cur->vt == VT_USERDEFINED) cur->hreftype = chain.href;
            if ((cur->vt == VT_PTR || cur->vt == VT_SAFEARRAY) && k + 1 < chain.depth) {
                cur->lptdesc = tds++;
                cur = cur->lptdesc;
            }
        }
    };
    d->memid = f.memid;
    d->funckind = vtable_view_ || !(t->kind == TKIND_DISPATCH) ? f.funckind : FUNC_DISPATCH;
    d->invkind = f.invkind;
    d->callconv = f.callconv;
    d->cParams = static_cast<SHORT>(nparams);
    d->cParamsOpt = f.cParamsOpt;
    d->oVft = (t->kind == TKIND_DISPATCH && !vtable_view_) ? SHORT{0} : f.oVft;
    d->wFuncFlags = f.flags;
    d->lprgelemdescParam = nparams ? params : nullptr;
    for (std::size_t i = 0; i < nparams; ++i) {
        fill(params[i].tdesc, f.params[i].type, 0);
        params[i].paramdesc.wParamFlags = f.params[i].flags;
    }
    if (fold) {
        // The [retval] pointer's target is the result of the dispatch function.
        fill(d->elemdescFunc.tdesc, f.params.back().type, 1);
    } else {
        fill(d->elemdescFunc.tdesc, f.ret, 0);
    }
    *out = d;
    return S_OK;
}

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    const TlbFunc* f = find(memid);
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    std::size_t n = f->params.size();
    if (dispatch_view_of_dual() && n && (f->params.back().flags & PARAMFLAG_FRETVAL)) --n;
    UINT k = 0;
    for (std::size_t i = 0; i <= n && k < max; ++i, ++k) {
        if (!(names[k] = make_bstr(i == 0 ? f->name : f->params[i - 1].name))) {
            while (k) {
                --k;
                SysFreeString(names[k]);
                names[k] = nullptr;
            }
            return E_OUTOFMEMORY;
        }
    }
    *count = k;
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* out) {
    if (!out) return E_INVALIDARG;
    const TlbType* t = type();
    if (!t) return TYPE_E_ELEMENTNOTFOUND;
    if (index == static_cast<UINT>(-1)) {
        if (!dispatch_view_of_dual()) return TYPE_E_ELEMENTNOTFOUND;
        *out = local_href(static_cast<std::size_t>(index_)) | vtable_view_bit;
        return S_OK;
    }
    if (index >= t->impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = t->impls[index].href;
    return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* out) {
    if (!out) return E_INVALIDARG;
    const TlbType* t = type();
    if (!t || index >= t->impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = t->impls[index].flags;
    return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
    if (!names || !ids || !count) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
    const TlbType* t = type();
    if (!t) return DISP_E_UNKNOWNNAME;
    for (const auto& f : t->funcs) {
        if (!names[0] || !equal_nocase(f.name, names[0])) continue;
        ids[0] = f.memid;
        HRESULT hr = S_OK;
        for (UINT i = 1; i < count; ++i) {
            for (std::size_t p = 0; p < f.params.size(); ++p)
                if (names[i] && equal_nocase(f.params[p].name, names[i])) ids[i] = static_cast<MEMBERID>(p);
            if (ids[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* context, BSTR* file) {
    if (context) *context = 0;
    if (file) *file = nullptr;
    if (doc) *doc = nullptr;
    if (name) *name = nullptr;
    const TlbType* t = type();
    if (!t) return TYPE_E_ELEMENTNOTFOUND;
    if (memid == MEMBERID_NIL) return documentation(t->name, t->doc, name, doc);
    const TlbFunc* f = find(memid);
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    return documentation(f->name, std::nullopt, name, doc);
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE href, ITypeInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index_ < 0) return TYPE_E_ELEMENTNOTFOUND;  // an imported type's references are its own library's
    const TlbLibrary& data = lib_->data();
    if ((href & 3) == 1) {
        const TlbImport* import = data.import(href);
        if (!import) return TYPE_E_ELEMENTNOTFOUND;
        *out = new (std::nothrow) TypeInfo(lib_, -1, false, import);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    const bool vtable = (href & 3) == vtable_view_bit;
    const HREFTYPE base = href & ~HREFTYPE{3};
    if (base % 0x64 || base / 0x64 >= data.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = new (std::nothrow) TypeInfo(lib_, static_cast<int>(base / 0x64), vtable, nullptr);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// A type of another library belongs to that library (IDispatch to stdole2), which this layer
// does not load: the question has no answer here, and nothing is handed out.
HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
    if (lib) *lib = nullptr;
    if (index_ < 0) return E_NOTIMPL;
    if (index) *index = static_cast<UINT>(index_);
    if (lib) {
        *lib = lib_;
        lib_->AddRef();
    }
    return S_OK;
}

}  // namespace

namespace pelmora::com {

HRESULT make_type_lib(std::shared_ptr<const TlbLibrary> data, ITypeLib** out) noexcept {
    *out = new (std::nothrow) TypeLib(std::move(data));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace pelmora::com
