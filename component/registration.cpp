// Self-registration as data: one table of keys and values below HKEY_CLASSES_ROOT, built from
// the type library's own attributes; DllRegisterServer writes it and registers the type
// library, DllUnregisterServer removes exactly those keys and unregisters the type library.

#include <string>
#include <vector>

#include "module.hpp"
#include "registration.hpp"
#include "text.hpp"

namespace pelmora::component {
namespace {

struct Value {
    OleString key;   // below HKEY_CLASSES_ROOT
    OleString name;  // empty: the key's default value
    OleString data;
    bool key_only = false;  // the key is written, no value
};

struct Plan {
    std::vector<Value> values;
    // The keys registration creates whole, and unregistration deletes whole. A ProgID key is
    // deleted only while it still names this class.
    std::vector<OleString> owned_keys;
    std::vector<OleString> prog_id_keys;
    TLIBATTR lib{};
};

OleString guid_text(REFGUID g) {
    OLECHAR buf[40] = {};
    StringFromGUID2(g, buf, 40);
    return buf;
}

OleString number(unsigned long v) { return ole(std::to_string(v)); }

// The table, from the type library's attributes and the module's path.
HRESULT make_plan(Plan& plan) {
    ITypeLib* lib = nullptr;
    HRESULT hr = type_library(&lib);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (SUCCEEDED(hr)) {
        plan.lib = *attr;
        lib->ReleaseTLibAttr(attr);
    }
    ITypeInfo* coclass = nullptr;
    BSTR class_name = nullptr;
    if (SUCCEEDED(hr)) hr = lib->GetTypeInfoOfGuid(CLSID_Pelmora, &coclass);
    if (SUCCEEDED(hr)) hr = coclass->GetDocumentation(MEMBERID_NIL, &class_name, nullptr, nullptr, nullptr);
    if (coclass) coclass->Release();
    lib->Release();
    if (FAILED(hr)) {
        SysFreeString(class_name);
        return hr;
    }
    const OleString name(view_of(class_name));
    SysFreeString(class_name);
    const OleString path = module_path();
    if (path.empty()) return E_UNEXPECTED;

    const OleString clsid = ole("CLSID\\") + guid_text(CLSID_Pelmora);
    const OleString progid = ole(prog_id);
    const OleString versioned = ole(versioned_prog_id);
    const OleString lib_version = number(plan.lib.wMajorVerNum) + ole(".") + number(plan.lib.wMinorVerNum);
    plan.values = {
        {clsid, {}, name},
        {clsid + ole("\\InprocServer32"), {}, path},
        {clsid + ole("\\InprocServer32"), ole("ThreadingModel"), ole(threading_model)},
        {clsid + ole("\\ProgID"), {}, versioned},
        {clsid + ole("\\VersionIndependentProgID"), {}, progid},
        {clsid + ole("\\Control"), {}, {}, true},
        {clsid + ole("\\MiscStatus"), {}, ole("0")},
        {clsid + ole("\\MiscStatus\\1"), {}, number(misc_status)},
        {clsid + ole("\\ToolboxBitmap32"), {}, path + ole(", ") + number(toolbox_bitmap_id)},
        {clsid + ole("\\TypeLib"), {}, guid_text(plan.lib.guid)},
        {clsid + ole("\\Version"), {}, lib_version},
        {versioned, {}, name},
        {versioned + ole("\\CLSID"), {}, guid_text(CLSID_Pelmora)},
        {progid, {}, name},
        {progid + ole("\\CLSID"), {}, guid_text(CLSID_Pelmora)},
        {progid + ole("\\CurVer"), {}, versioned},
    };
    plan.owned_keys = {clsid};
    plan.prog_id_keys = {versioned, progid};
    return S_OK;
}

bool write(const Value& v) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, v.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    if (!v.key_only) {
        const auto bytes = static_cast<DWORD>((v.data.size() + 1) * sizeof(OLECHAR));
        ok = RegSetValueExW(key, v.name.empty() ? nullptr : v.name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(v.data.c_str()), bytes) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

bool names_this_class(const OleString& progid_key) {
    HKEY key = nullptr;
    const OleString path = progid_key + ole("\\CLSID");
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    OLECHAR buf[64] = {};
    DWORD cb = sizeof buf - sizeof(OLECHAR);
    DWORD type = 0;
    const bool ok =
        RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb) == ERROR_SUCCESS &&
        type == REG_SZ;
    RegCloseKey(key);
    CLSID clsid{};
    return ok && SUCCEEDED(CLSIDFromString(buf, &clsid)) && IsEqualCLSID(clsid, CLSID_Pelmora);
}

HRESULT unregister(const Plan& plan) {
    for (const auto& k : plan.prog_id_keys)
        if (names_this_class(k)) RegDeleteTreeW(HKEY_CLASSES_ROOT, k.c_str());
    for (const auto& k : plan.owned_keys) RegDeleteTreeW(HKEY_CLASSES_ROOT, k.c_str());
    // A type library that is not registered is no failure: there is nothing left to remove.
    BSTR registered = nullptr;
    if (FAILED(QueryPathOfRegTypeLib(plan.lib.guid, plan.lib.wMajorVerNum, plan.lib.wMinorVerNum, plan.lib.lcid,
                                     &registered)))
        return S_OK;
    SysFreeString(registered);
    return UnRegisterTypeLib(plan.lib.guid, plan.lib.wMajorVerNum, plan.lib.wMinorVerNum, plan.lib.lcid,
                             plan.lib.syskind);
}

}  // namespace
}  // namespace pelmora::component

STDAPI DllRegisterServer() {
    using namespace pelmora::component;
    try {
        Plan plan;
        HRESULT hr = make_plan(plan);
        if (FAILED(hr)) return SELFREG_E_CLASS;
        for (const auto& v : plan.values) {
            if (!write(v)) {
                unregister(plan);
                return SELFREG_E_CLASS;
            }
        }
        ITypeLib* lib = nullptr;
        hr = type_library(&lib);
        if (SUCCEEDED(hr)) {
            OleString path = module_path();
            hr = RegisterTypeLib(lib, path.data(), nullptr);
            lib->Release();
        }
        if (FAILED(hr)) {
            unregister(plan);
            return SELFREG_E_TYPELIB;
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer() {
    using namespace pelmora::component;
    try {
        Plan plan;
        if (FAILED(make_plan(plan))) return SELFREG_E_CLASS;
        return unregister(plan);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
