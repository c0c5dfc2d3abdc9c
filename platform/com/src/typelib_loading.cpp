// Loading type libraries (from a file, a shared library's .typelib section, or the registry)
// and registering them.
//
// LoadTypeLibEx answers as Windows does: TYPE_E_CANTLOADLIBRARY for a file that cannot be read
// or holds no type library; TYPE_E_UNSUPFORMAT for a type library of the older format;
// TYPE_E_INVALIDSTATE for a damaged one; E_OUTOFMEMORY. No exception leaves these functions.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>

#include "pelmora_com_api.h"
#include "registry_text.hpp"
#include "text.hpp"
#include "typelib_file.hpp"
#include "typelib_objects.hpp"

using namespace pelmora::com;

namespace {

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
    std::shared_ptr<const TlbLibrary> data;
    const HRESULT hr = parse_msft(image, data);
    if (FAILED(hr)) return hr;
    return make_type_lib(std::move(data), out);
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
bool registers_interface(const TYPEATTR& t) {
    return t.typekind == TKIND_DISPATCH || (t.typekind == TKIND_INTERFACE && (t.wTypeFlags & TYPEFLAG_FOLEAUTOMATION));
}

HRESULT query_path(REFGUID guid, USHORT major, USHORT minor, LCID lcid, LPBSTR path) {
    const std::u16string base = version_key(guid, major, minor);
    for (const char16_t* sys : {u"win64", u"win32"}) {
        for (LCID l : {lcid, LCID{0}}) {
            std::u16string value;
            if (read_text(base + u"\\" + hex_text(l) + u"\\" + sys, value)) {
                *path = make_bstr(value);
                return *path ? S_OK : E_OUTOFMEMORY;
            }
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT register_library(ITypeLib* lib, LPOLESTR path, LPOLESTR helpdir) {
    TLIBATTR* attr = nullptr;
    if (FAILED(lib->GetLibAttr(&attr)) || !attr) return E_FAIL;
    struct Release {
        ITypeLib* lib;
        TLIBATTR* attr;
        ~Release() { lib->ReleaseTLibAttr(attr); }
    } release{lib, attr};
    const std::u16string key = version_key(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum);
    const char16_t* sys = syskind_name(attr->syskind);
    BSTR name = nullptr, doc = nullptr;
    lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    const std::u16string title(view(doc ? doc : name));
    SysFreeString(name);
    SysFreeString(doc);
    bool ok = sys != nullptr;
    ok = ok && write_text(key, title);
    ok = ok && write_text(key + u"\\" + hex_text(attr->lcid) + u"\\" + sys, view(path));
    ok = ok && write_text(key + u"\\FLAGS", number_text(attr->wLibFlags));
    ok = ok && write_text(key + u"\\HELPDIR", view(helpdir));
    // Interfaces described by the library are marshalled through it.
    for (UINT i = 0; ok && i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info)) || !info) {
            ok = false;
            break;
        }
        TYPEATTR* ta = nullptr;
        BSTR tname = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&ta)) && ta &&
            SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &tname, nullptr, nullptr, nullptr))) {
            if (registers_interface(*ta)) {
                // Marshalled by the type library, or for a pure dispinterface by IDispatch's own proxy.
                const bool pure_dispatch = ta->typekind == TKIND_DISPATCH && !(ta->wTypeFlags & TYPEFLAG_FDUAL);
                const char16_t* proxy = pure_dispatch ? u"{00020420-0000-0000-C000-000000000046}"
                                                      : u"{00020424-0000-0000-C000-000000000046}";
                const std::u16string ikey = u"Interface\\" + guid_text(ta->guid);
                ok = ok && write_text(ikey, view(tname));
                ok = ok && write_text(ikey + u"\\ProxyStubClsid", proxy);
                ok = ok && write_text(ikey + u"\\ProxyStubClsid32", proxy);
                ok = ok && write_text(ikey + u"\\TypeLib", guid_text(attr->guid));
                ok = ok && write_text(ikey + u"\\TypeLib",
                                      hex_text(attr->wMajorVerNum) + u"." + hex_text(attr->wMinorVerNum), u"Version");
            }
        } else {
            ok = false;
        }
        SysFreeString(tname);
        if (ta) info->ReleaseTypeAttr(ta);
        info->Release();
    }
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT unregister_library(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
    const char16_t* sys = syskind_name(syskind);
    if (!sys) return E_INVALIDARG;
    const std::u16string key = version_key(libid, major, minor);
    const std::u16string lcid_key = key + u"\\" + hex_text(lcid);
    std::u16string path;
    if (!read_text(lcid_key + u"\\" + sys, path)) return TYPE_E_REGISTRYACCESS;
    // Remove the interfaces the library registered, if it can still be read.
    ITypeLib* lib = nullptr;
    if (SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib))) {
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ITypeInfo* info = nullptr;
            if (FAILED(lib->GetTypeInfo(i, &info))) continue;
            TYPEATTR* ta = nullptr;
            if (SUCCEEDED(info->GetTypeAttr(&ta))) {
                const std::u16string ikey = u"Interface\\" + guid_text(ta->guid);
                std::u16string owner;
                if (registers_interface(*ta) && read_text(ikey + u"\\TypeLib", owner) &&
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

// Runs the body of an entry point: an exception (only std::bad_alloc can arise) is a failure.
template <class F>
HRESULT guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

STDAPI LoadTypeLibEx(LPCOLESTR file, REGKIND regkind, ITypeLib** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!file) return E_INVALIDARG;
    const HRESULT hr = guarded([&] { return load_file(file, out); });
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
    return guarded([&] { return query_path(guid, major, minor, lcid, path); });
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
    return guarded([&] { return register_library(lib, path, helpdir); });
}

STDAPI UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
    return guarded([&] { return unregister_library(libid, major, minor, lcid, syskind); });
}
