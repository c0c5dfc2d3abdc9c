// Self-registration: what DllRegisterServer writes below HKEY_CLASSES_ROOT, and that
// DllUnregisterServer takes exactly that away again.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component_under_test.hpp"
#include "host_environment.hpp"

namespace {

using EntryNoArgs = HRESULT(STDAPICALLTYPE*)();

struct Entries {
    void* lib = host::load_library(host::component_path());
    EntryNoArgs reg = lib ? reinterpret_cast<EntryNoArgs>(host::exported(lib, "DllRegisterServer")) : nullptr;
    EntryNoArgs unreg = lib ? reinterpret_cast<EntryNoArgs>(host::exported(lib, "DllUnregisterServer")) : nullptr;
    ~Entries() {
        // Leave the component registered, as the rest of the suite (and a Windows run) expects.
        if (reg) reg();
        if (lib) host::free_library(lib);
    }
};

bool key_exists(const OleString& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The REG_SZ value of a key (name empty: the default value); nullopt-like flag when absent.
bool read_text(const OleString& path, const OleString& name, OleString& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, cb = 0;
    const LPCWSTR value_name = name.empty() ? nullptr : name.c_str();
    bool ok = RegQueryValueExW(key, value_name, nullptr, &type, nullptr, &cb) == ERROR_SUCCESS && type == REG_SZ;
    if (ok) {
        std::vector<OLECHAR> buf(cb / sizeof(OLECHAR) + 1);
        ok = RegQueryValueExW(key, value_name, nullptr, &type, reinterpret_cast<LPBYTE>(buf.data()), &cb) ==
             ERROR_SUCCESS;
        out.assign(buf.data());
    }
    RegCloseKey(key);
    return ok;
}

OleString ole(const char* s) { return to_ole(s); }

struct Expectation {
    OleString key;
    OleString name;
    OleString value;
};

std::vector<Expectation> expected_entries() {
    const OleString clsid = ole("CLSID\\") + guid_text(CLSID_Pelmora);
    const OleString path = host::component_path();
    const OleString libid = guid_text(LIBID_PelmoraLib);
    const OleString sys = sizeof(void*) == 8 ? ole("win64") : ole("win32");
    const OleString typelib = ole("TypeLib\\") + libid + ole("\\1.0");
    std::vector<Expectation> e = {
        {clsid, {}, ole("Pelmora")},
        {clsid + ole("\\InprocServer32"), {}, path},
        {clsid + ole("\\InprocServer32"), ole("ThreadingModel"), ole("Apartment")},
        {clsid + ole("\\ProgID"), {}, ole("Pelmora.Pelmora.1")},
        {clsid + ole("\\VersionIndependentProgID"), {}, ole("Pelmora.Pelmora")},
        {clsid + ole("\\MiscStatus"), {}, ole("0")},
        {clsid + ole("\\MiscStatus\\1"), {}, ole("131473")},
        {clsid + ole("\\ToolboxBitmap32"), {}, path + ole(", 30000")},
        {clsid + ole("\\TypeLib"), {}, libid},
        {clsid + ole("\\Version"), {}, ole("1.0")},
        {ole("Pelmora.Pelmora.1"), {}, ole("Pelmora")},
        {ole("Pelmora.Pelmora.1\\CLSID"), {}, guid_text(CLSID_Pelmora)},
        {ole("Pelmora.Pelmora"), {}, ole("Pelmora")},
        {ole("Pelmora.Pelmora\\CLSID"), {}, guid_text(CLSID_Pelmora)},
        {ole("Pelmora.Pelmora\\CurVer"), {}, ole("Pelmora.Pelmora.1")},
        {typelib + ole("\\409\\") + sys, {}, path},
        {typelib + ole("\\FLAGS"), {}, ole("8")},  // LIBFLAG_FHASDISKIMAGE: loaded from its file
    };
    for (const IID* iid : {&IID__Pelmora, &DIID___Pelmora}) {
        const OleString key = ole("Interface\\") + guid_text(*iid);
        e.push_back({key + ole("\\TypeLib"), {}, libid});
        e.push_back({key + ole("\\TypeLib"), ole("Version"), ole("1.0")});
    }
    // The dual interface is marshalled through the type library.
    e.push_back({ole("Interface\\") + guid_text(IID__Pelmora) + ole("\\ProxyStubClsid32"),
                 {},
                 ole("{00020424-0000-0000-C000-000000000046}")});
    return e;
}

// The keys registration owns: none of them may outlive unregistration.
std::vector<OleString> owned_keys() {
    return {ole("CLSID\\") + guid_text(CLSID_Pelmora),
            ole("Pelmora.Pelmora"),
            ole("Pelmora.Pelmora.1"),
            ole("TypeLib\\") + guid_text(LIBID_PelmoraLib),
            ole("Interface\\") + guid_text(IID__Pelmora),
            ole("Interface\\") + guid_text(DIID___Pelmora)};
}

TEST(Registration, WritesEveryEntryAndUnregistrationRemovesExactlyThose) {
    Entries dll;
    ASSERT_NE(dll.reg, nullptr);
    ASSERT_NE(dll.unreg, nullptr);
    ASSERT_EQ(dll.unreg(), S_OK);
    for (const auto& k : owned_keys()) EXPECT_FALSE(key_exists(k));
    const std::string before = host::registry_snapshot();

    ASSERT_EQ(dll.reg(), S_OK);
    for (const auto& e : expected_entries()) {
        OleString value;
        EXPECT_TRUE(read_text(e.key, e.name, value)) << "missing: " << e.key.size();
        EXPECT_EQ(value, e.value);
    }
    EXPECT_TRUE(key_exists(ole("CLSID\\") + guid_text(CLSID_Pelmora) + ole("\\Control")));
    // Registering twice changes nothing.
    const std::string registered = host::registry_snapshot();
    ASSERT_EQ(dll.reg(), S_OK);
    EXPECT_EQ(host::registry_snapshot(), registered);

    ASSERT_EQ(dll.unreg(), S_OK);
    for (const auto& k : owned_keys()) EXPECT_FALSE(key_exists(k));
    EXPECT_TRUE(key_exists(ole("CLSID")));
    EXPECT_TRUE(key_exists(ole("TypeLib")));
    EXPECT_TRUE(key_exists(ole("Interface")));
    EXPECT_EQ(host::registry_snapshot(), before);
    // Unregistering what is not registered is no failure.
    EXPECT_EQ(dll.unreg(), S_OK);
}

TEST(Registration, LeavesAProgIDThatNamesAnotherClass) {
    Entries dll;
    ASSERT_EQ(dll.reg(), S_OK);
    // Another server took over the version-independent ProgID.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, ole("Pelmora.Pelmora\\CLSID").c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const OleString other = guid_text(IID__Pelmora);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>((other.size() + 1) * sizeof(OLECHAR)));
    RegCloseKey(key);
    ASSERT_EQ(dll.unreg(), S_OK);
    EXPECT_TRUE(key_exists(ole("Pelmora.Pelmora")));
    EXPECT_FALSE(key_exists(ole("Pelmora.Pelmora.1")));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ole("Pelmora.Pelmora").c_str());
}

}  // namespace
