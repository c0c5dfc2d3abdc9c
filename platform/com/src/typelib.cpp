// ITypeLib and ITypeInfo over a parsed MSFT type library, and loading and registering one.
//
// A dual interface is stored once, as a dispatch interface flagged dual. Its default view is
// that dispatch interface (functions of kind FUNC_DISPATCH, the [retval] parameter folded into
// the function's result); GetRefTypeOfImplType(-1) leads to its vtable view (TKIND_INTERFACE,
// the functions as declared). Types of other libraries (IDispatch from stdole2) are known only
// by identity: their ITypeInfo answers GetTypeAttr and nothing more.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>

#include "pelmora_com_api.h"
#include "text.hpp"
#include "typelib_file.hpp"

using namespace pelmora::com;

namespace {

constexpr HREFTYPE vtable_view_bit = 2;  // never set in the format's own local or imported hreftypes

class TypeLib;

class TypeInfo final : public ITypeInfo {
public:
    // type == nullptr: an imported type, known only as `import`.
    TypeInfo(TypeLib* lib, int index, bool vtable_view, const TlbImport* import);
    virtual ~TypeInfo();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_ITypeInfo) return E_NOINTERFACE;
        *ppv = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (!n) delete this;
        return n;
    }

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
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
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

    std::atomic<ULONG> refs_{1};
    TypeLib* lib_;
    int index_;
    bool vtable_view_;
    TlbImport import_{};
};

class TypeLib final : public ITypeLib {
public:
    explicit TypeLib(std::shared_ptr<const TlbLibrary> data) : data_(std::move(data)) {}
    virtual ~TypeLib() = default;
    const TlbLibrary& data() const { return *data_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_ITypeLib) return E_NOINTERFACE;
        *ppv = static_cast<ITypeLib*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (!n) delete this;
        return n;
    }

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
        if (index == -1) {
            if (name) *name = make_bstr(data_->name);
            if (doc) *doc = data_->doc ? make_bstr(*data_->doc) : nullptr;
            if (context) *context = 0;
            if (file) *file = nullptr;
            return S_OK;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= data_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        const TlbType& t = data_->types[static_cast<std::size_t>(index)];
        if (name) *name = make_bstr(t.name);
        if (doc) *doc = t.doc ? make_bstr(*t.doc) : nullptr;
        if (context) *context = 0;
        if (file) *file = nullptr;
        return S_OK;
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
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) override { std::free(attr); }

private:
    std::atomic<ULONG> refs_{1};
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
    for (std::size_t i = 0; i < nparams; ++i) ntd += f.params[i].type.vts.size();
    ntd += fold ? f.params.back().type.vts.size() : f.ret.vts.size();
    const std::size_t bytes = sizeof(FUNCDESC) + nparams * sizeof(ELEMDESC) + ntd * sizeof(TYPEDESC);
    auto* block = static_cast<unsigned char*>(std::calloc(1, bytes));
    if (!block) return E_OUTOFMEMORY;
    auto* d = reinterpret_cast<FUNCDESC*>(block);
    auto* params = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
    auto* tds = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + nparams * sizeof(ELEMDESC));
    // Fills `td` from the chain starting at element `from`; nested entries come from `tds`.
    auto fill = [&](TYPEDESC& td, const TypeChain& chain, std::size_t from) {
        TYPEDESC* cur = &td;
        for (std::size_t k = from; k < chain.vts.size(); ++k) {
            cur->vt = chain.vts[k];
            if (cur->vt == VT_USERDEFINED) cur->hreftype = chain.href;
            if ((cur->vt == VT_PTR || cur->vt == VT_SAFEARRAY) && k + 1 < chain.vts.size()) {
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
    if (k < max) names[k++] = make_bstr(f->name);
    for (std::size_t i = 0; i < n && k < max; ++i) names[k++] = make_bstr(f->params[i].name);
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
    if (memid == MEMBERID_NIL) {
        if (name) *name = make_bstr(t->name);
        if (doc && t->doc) *doc = make_bstr(*t->doc);
        return S_OK;
    }
    const TlbFunc* f = find(memid);
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    if (name) *name = make_bstr(f->name);
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE href, ITypeInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const TlbLibrary& data = lib_->data();
    if ((href & 3) == 1) {
        auto it = data.imports.find(href);
        if (it == data.imports.end()) return TYPE_E_ELEMENTNOTFOUND;
        *out = new (std::nothrow) TypeInfo(lib_, -1, false, &it->second);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    const bool vtable = (href & 3) == vtable_view_bit;
    const HREFTYPE base = href & ~HREFTYPE{3};
    if (base % 0x64 || base / 0x64 >= data.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = new (std::nothrow) TypeInfo(lib_, static_cast<int>(base / 0x64), vtable, nullptr);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
    if (index) *index = static_cast<UINT>(index_);
    if (lib) {
        *lib = lib_;
        lib_->AddRef();
    }
    return index_ >= 0 ? S_OK : E_NOTIMPL;
}

// ---- Loading --------------------------------------------------------------------------------

// A file mapped for reading: a shared library is large, and only its headers and one section
// are read.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            void* p = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data_ = static_cast<const char*>(p);
                size_ = static_cast<std::size_t>(st.st_size);
            }
        }
        close(fd);
    }
    ~MappedFile() {
        if (data_) munmap(const_cast<char*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    bool ok() const { return data_ != nullptr; }
    std::string_view bytes() const { return {data_, size_}; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

HRESULT load_file(LPCOLESTR file, ITypeLib** out) {
    const MappedFile mapped(to_utf8(view(file)));
    if (!mapped.ok()) return TYPE_E_CANTLOADLIBRARY;
    std::string_view image = mapped.bytes();
    // A shared library carries its type library in the section .typelib.
    if (auto section = elf_section(image, ".typelib")) image = *section;
    auto data = parse_msft(image);
    if (!data) return TYPE_E_CANTLOADLIBRARY;
    *out = new (std::nothrow) TypeLib(std::move(data));
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::u16string guid_text(REFGUID g) {
    OLECHAR buf[39];
    StringFromGUID2(g, buf, 39);
    return buf;
}

std::u16string hex_text(unsigned v) {
    static constexpr char16_t digits[] = u"0123456789abcdef";
    std::u16string s;
    do {
        s.insert(s.begin(), digits[v & 15]);
        v >>= 4;
    } while (v);
    return s;
}

std::u16string number_text(unsigned v) {
    std::u16string s;
    do {
        s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
        v /= 10;
    } while (v);
    return s;
}

std::u16string version_key(REFGUID libid, WORD major, WORD minor) {
    return u"TypeLib\\" + guid_text(libid) + u"\\" + hex_text(major) + u"." + hex_text(minor);
}

const char16_t* syskind_name(SYSKIND s) {
    switch (s) {
    case SYS_WIN16: return u"win16";
    case SYS_WIN32: return u"win32";
    case SYS_WIN64: return u"win64";
    default: return nullptr;
    }
}

bool set_default(const std::u16string& path, std::u16string_view value, LPCWSTR name = nullptr) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const std::u16string v(value);
    const bool ok = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                                   static_cast<DWORD>((v.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool read_default(const std::u16string& path, std::u16string& out, LPCWSTR name = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    WCHAR buf[1024];
    DWORD cb = sizeof buf - sizeof(WCHAR);
    DWORD type = 0;
    const bool ok = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &cb) == ERROR_SUCCESS &&
                    type == REG_SZ;
    RegCloseKey(key);
    if (!ok) return false;
    buf[cb / sizeof(WCHAR)] = 0;
    out = buf;
    return true;
}

bool has_subkeys(const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    WCHAR name[256];
    DWORD n = 256;
    const bool any = RegEnumKeyExW(key, 0, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return any;
}

// The interfaces whose registration points at the type library: oleautomation interfaces and
// dispatch interfaces (dual ones included).
bool registers_interface(const TlbType& t) {
    return t.kind == TKIND_DISPATCH || (t.kind == TKIND_INTERFACE && (t.flags & TYPEFLAG_FOLEAUTOMATION));
}

}  // namespace

STDAPI LoadTypeLibEx(LPCOLESTR file, REGKIND regkind, ITypeLib** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!file) return E_INVALIDARG;
    const HRESULT hr = load_file(file, out);
    if (FAILED(hr)) return hr;
    if (regkind == REGKIND_REGISTER) {
        const HRESULT reg = RegisterTypeLib(*out, const_cast<LPOLESTR>(file), nullptr);
        if (FAILED(reg)) {
            (*out)->Release();
            *out = nullptr;
            return reg;
        }
    }
    return S_OK;
}

STDAPI LoadTypeLib(LPCOLESTR file, ITypeLib** out) {
    // Paths given here are always full paths, which Windows does not register either.
    return LoadTypeLibEx(file, REGKIND_NONE, out);
}

STDAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT major, USHORT minor, LCID lcid, LPBSTR path) {
    if (!path) return E_INVALIDARG;
    *path = nullptr;
    const std::u16string base = version_key(guid, major, minor);
    for (const char16_t* sys : {u"win64", u"win32"}) {
        for (LCID l : {lcid, LCID{0}}) {
            std::u16string value;
            if (read_default(base + u"\\" + hex_text(l) + u"\\" + sys, value)) {
                *path = make_bstr(value);
                return *path ? S_OK : E_OUTOFMEMORY;
            }
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

STDAPI LoadRegTypeLib(REFGUID guid, WORD major, WORD minor, LCID lcid, ITypeLib** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    BSTR path = nullptr;
    HRESULT hr = QueryPathOfRegTypeLib(guid, major, minor, lcid, &path);
    if (FAILED(hr)) return hr;
    hr = LoadTypeLibEx(path, REGKIND_NONE, out);
    SysFreeString(path);
    return hr;
}

STDAPI RegisterTypeLib(ITypeLib* lib, LPOLESTR path, LPOLESTR helpdir) {
    if (!lib || !path) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    if (FAILED(lib->GetLibAttr(&attr))) return E_FAIL;
    const std::u16string key = version_key(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum);
    const char16_t* sys = syskind_name(attr->syskind);
    BSTR name = nullptr, doc = nullptr;
    lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    bool ok = sys != nullptr;
    ok = ok && set_default(key, view(doc ? doc : name));
    ok = ok && set_default(key + u"\\" + hex_text(attr->lcid) + u"\\" + sys, view(path));
    ok = ok && set_default(key + u"\\FLAGS", number_text(attr->wLibFlags));
    ok = ok && set_default(key + u"\\HELPDIR", view(helpdir));
    SysFreeString(name);
    SysFreeString(doc);
    // Interfaces described by the library are marshalled through it.
    for (UINT i = 0; ok && i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) {
            ok = false;
            break;
        }
        TYPEATTR* ta = nullptr;
        BSTR tname = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&ta)) &&
            SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &tname, nullptr, nullptr, nullptr))) {
            TlbType t;
            t.kind = ta->typekind;
            t.flags = ta->wTypeFlags;
            if (registers_interface(t)) {
                // Marshalled by the type library, or for a pure dispinterface by IDispatch's own proxy.
                const bool pure_dispatch = ta->typekind == TKIND_DISPATCH && !(ta->wTypeFlags & TYPEFLAG_FDUAL);
                const char16_t* proxy = pure_dispatch ? u"{00020420-0000-0000-C000-000000000046}"
                                                      : u"{00020424-0000-0000-C000-000000000046}";
                const std::u16string ikey = u"Interface\\" + guid_text(ta->guid);
                ok = ok && set_default(ikey, view(tname));
                ok = ok && set_default(ikey + u"\\ProxyStubClsid", proxy);
                ok = ok && set_default(ikey + u"\\ProxyStubClsid32", proxy);
                ok = ok && set_default(ikey + u"\\TypeLib", guid_text(attr->guid));
                ok = ok && set_default(ikey + u"\\TypeLib",
                                       hex_text(attr->wMajorVerNum) + u"." + hex_text(attr->wMinorVerNum), u"Version");
            }
        } else {
            ok = false;
        }
        SysFreeString(tname);
        if (ta) info->ReleaseTypeAttr(ta);
        info->Release();
    }
    lib->ReleaseTLibAttr(attr);
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

STDAPI UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
    const char16_t* sys = syskind_name(syskind);
    if (!sys) return E_INVALIDARG;
    const std::u16string key = version_key(libid, major, minor);
    const std::u16string lcid_key = key + u"\\" + hex_text(lcid);
    std::u16string path;
    if (!read_default(lcid_key + u"\\" + sys, path)) return TYPE_E_REGISTRYACCESS;
    // Remove the interfaces the library registered, if it can still be read.
    ITypeLib* lib = nullptr;
    if (SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib))) {
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ITypeInfo* info = nullptr;
            if (FAILED(lib->GetTypeInfo(i, &info))) continue;
            TYPEATTR* ta = nullptr;
            if (SUCCEEDED(info->GetTypeAttr(&ta))) {
                TlbType t;
                t.kind = ta->typekind;
                t.flags = ta->wTypeFlags;
                const std::u16string ikey = u"Interface\\" + guid_text(ta->guid);
                std::u16string owner;
                if (registers_interface(t) && read_default(ikey + u"\\TypeLib", owner) &&
                    equal_nocase(owner, guid_text(libid)))
                    RegDeleteTreeW(HKEY_CLASSES_ROOT, ikey.c_str());
                info->ReleaseTypeAttr(ta);
            }
            info->Release();
        }
        lib->Release();
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (lcid_key + u"\\" + sys).c_str());
    if (!has_subkeys(lcid_key)) RegDeleteTreeW(HKEY_CLASSES_ROOT, lcid_key.c_str());
    // The version key goes once no locale is left in it (FLAGS and HELPDIR are not locales).
    bool locale_left = false;
    HKEY vk = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &vk) == ERROR_SUCCESS) {
        WCHAR name[256];
        for (DWORD i = 0;; ++i) {
            DWORD n = 256;
            if (RegEnumKeyExW(vk, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (!equal_nocase(name, u"FLAGS") && !equal_nocase(name, u"HELPDIR")) locale_left = true;
        }
        RegCloseKey(vk);
    }
    if (!locale_left) RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    const std::u16string lib_key = u"TypeLib\\" + guid_text(libid);
    if (!has_subkeys(lib_key)) RegDeleteTreeW(HKEY_CLASSES_ROOT, lib_key.c_str());
    return S_OK;
}
