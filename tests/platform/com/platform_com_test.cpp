// Linux only: the COM layer itself, where its behaviour is ours to get right (the registry and
// its file, BSTR and VARIANT handling, error information per thread, the type library reader
// against damaged input).

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "component_under_test.hpp"
#include "pelmora_com_host.h"

namespace {

OleString ole(const char* s) { return to_ole(s); }

struct FreshRegistry : testing::Test {
    void SetUp() override { PelmoraRegistryReset(); }
    void TearDown() override { PelmoraRegistryReset(); }
};

void set_text(HKEY key, const char* name, const char* value) {
    const OleString v = ole(value);
    const OleString n = name ? ole(name) : OleString();
    ASSERT_EQ(RegSetValueExW(key, name ? n.c_str() : nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                             static_cast<DWORD>((v.size() + 1) * sizeof(OLECHAR))),
              ERROR_SUCCESS);
}

TEST_F(FreshRegistry, KeysAndValuesBehaveAsTheWindowsApiDescribes) {
    HKEY k = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CLASSES_ROOT, ole("A\\B\\C").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, &disposition),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    set_text(k, nullptr, "default");
    set_text(k, "Named", "x");
    DWORD dword = 42;
    ASSERT_EQ(RegSetValueExW(k, ole("Number").c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4),
              ERROR_SUCCESS);
    RegCloseKey(k);

    // Names compare without regard to case; the first spelling is kept.
    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, ole("a\\b\\c").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &again,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    DWORD type = 0, cb = 0;
    ASSERT_EQ(RegQueryValueExW(again, ole("NAMED").c_str(), nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(cb, 2 * sizeof(OLECHAR));
    OLECHAR small[1];
    DWORD small_cb = sizeof small;
    EXPECT_EQ(RegQueryValueExW(again, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(small), &small_cb),
              ERROR_MORE_DATA);
    EXPECT_EQ(small_cb, 8 * sizeof(OLECHAR));
    EXPECT_EQ(RegQueryValueExW(again, ole("absent").c_str(), nullptr, &type, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    RegCloseKey(again);

    HKEY a = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, ole("A").c_str(), 0, KEY_READ, &a), ERROR_SUCCESS);
    OLECHAR name[16];
    DWORD n = 16;
    ASSERT_EQ(RegEnumKeyExW(a, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(OleString(name), ole("B"));
    n = 16;
    EXPECT_EQ(RegEnumKeyExW(a, 1, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, ole("A").c_str()), ERROR_ACCESS_DENIED) << "it has subkeys";
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, ole("A").c_str()), ERROR_SUCCESS);
    // A handle to a deleted key fails cleanly instead of reaching freed storage.
    EXPECT_EQ(RegEnumKeyExW(a, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(a), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, ole("A\\B").c_str(), 0, KEY_READ, &a), ERROR_FILE_NOT_FOUND);
}

std::string temp_path() {
    return testing::TempDir() + "pelmora-registry-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
}

TEST_F(FreshRegistry, SurvivesTheRoundTripThroughItsFile) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, ole("Odd name %@\\Ünïcode").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &k, nullptr),
              ERROR_SUCCESS);
    set_text(k, nullptr, "with spaces and \\ backslash");
    set_text(k, "@", "a value named @");
    const BYTE empty = 0;
    ASSERT_EQ(RegSetValueExW(k, ole("empty").c_str(), 0, REG_BINARY, &empty, 0), ERROR_SUCCESS);
    RegCloseKey(k);
    const std::string path = temp_path();
    ASSERT_EQ(PelmoraRegistrySave(path.c_str()), S_OK);
    std::ifstream in(path);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PelmoraRegistryReset();
    ASSERT_EQ(PelmoraRegistryLoad(path.c_str()), S_OK);
    ASSERT_EQ(PelmoraRegistrySave(path.c_str()), S_OK);
    std::ifstream again(path);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), saved);

    // A damaged file is refused and the registry stays as it was.
    std::ofstream(path) << "PELMORA-REGISTRY 1\nK HKCR\\X\nV broken\n";
    EXPECT_EQ(PelmoraRegistryLoad(path.c_str()), E_FAIL);
    EXPECT_EQ(PelmoraRegistryLoad("/nonexistent/registry"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    HKEY kept = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, ole("odd NAME %@").c_str(), 0, KEY_READ, &kept), ERROR_SUCCESS);
    RegCloseKey(kept);
    std::remove(path.c_str());
}

TEST(Strings, BstrKeepsItsLengthAndEmbeddedZeros) {
    const OLECHAR text[] = {'a', 0, 'b'};
    BSTR b = SysAllocStringLen(text, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[3], 0) << "terminated";
    std::uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
    EXPECT_EQ(prefix, 6u) << "a byte count precedes the text";
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

TEST(Variants, ChangeTypeAsAutomationConverts) {
    struct Case {
        Variant (*from)();
        VARTYPE to;
        HRESULT hr;
        const char* text;  // for VT_BSTR results
        double number;     // for numeric results
    };
    const Case cases[] = {
        {[] { return Variant(283.0 / 7.0); }, VT_BSTR, S_OK, "40.4285714285714", 0},
        {[] { return Variant(40.0); }, VT_BSTR, S_OK, "40", 0},
        {[] { return Variant(-2.0); }, VT_BSTR, S_OK, "-2", 0},
        {[] { return Variant::text(to_ole(" 12.5 ")); }, VT_R8, S_OK, nullptr, 12.5},
        {[] { return Variant::text(to_ole("1e3")); }, VT_R8, S_OK, nullptr, 1000},
        {[] { return Variant::text(to_ole("12abc")); }, VT_R8, DISP_E_TYPEMISMATCH, nullptr, 0},
        {[] { return Variant::text(to_ole(".5")); }, VT_R8, S_OK, nullptr, 0.5},
        {[] { return Variant::text(to_ole("1e400")); }, VT_R8, DISP_E_OVERFLOW, nullptr, 0},
        {[] { return Variant(2.5); }, VT_I2, S_OK, nullptr, 2},  // ties to even
        {[] { return Variant(3.5); }, VT_I4, S_OK, nullptr, 4},
        {[] { return Variant(40000.0); }, VT_I2, DISP_E_OVERFLOW, nullptr, 0},
        {[] { return Variant::null(); }, VT_R8, DISP_E_TYPEMISMATCH, nullptr, 0},
    };
    for (const auto& c : cases) {
        Variant from = c.from(), to;
        EXPECT_EQ(VariantChangeTypeEx(&to, &from, 1033, 0, c.to), c.hr);
        if (c.hr != S_OK) {
            EXPECT_EQ(to.vt(), VT_EMPTY);
            continue;
        }
        ASSERT_EQ(to.vt(), c.to);
        if (c.to == VT_BSTR) {
            EXPECT_EQ(to.text_value(), to_ole(c.text));
        } else if (c.to == VT_R8) {
            EXPECT_EQ(to.r8(), c.number);
        } else if (c.to == VT_I2) {
            EXPECT_EQ(V_I2(&to.v), c.number);
        } else {
            EXPECT_EQ(V_I4(&to.v), c.number);
        }
    }
}

TEST(Variants, CopyDuplicatesTextAndCopyIndFollowsReferences) {
    Variant text = Variant::text(to_ole("abc")), copy;
    ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
    EXPECT_NE(V_BSTR(&copy.v), V_BSTR(&text.v));
    EXPECT_EQ(copy.text_value(), to_ole("abc"));
    double d = 7;
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_R8;
    V_R8REF(&ref) = &d;
    Variant value;
    ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
    EXPECT_EQ(value.vt(), VT_R8);
    EXPECT_EQ(value.r8(), 7.0);
    VARIANT bad;
    VariantInit(&bad);
    V_VT(&bad) = 0x0FFF;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(ErrorInfo, BelongsToTheThreadThatSetIt) {
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    create->Release();
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();
    HRESULT other = E_FAIL;
    std::thread([&] {
        IErrorInfo* seen = nullptr;
        other = GetErrorInfo(0, &seen);
        if (seen) seen->Release();
    }).join();
    EXPECT_EQ(other, S_FALSE);
    IErrorInfo* mine = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &mine), S_OK);
    ASSERT_NE(mine, nullptr);
    mine->Release();
    EXPECT_EQ(GetErrorInfo(0, &mine), S_FALSE) << "taken once";
}

TEST(Guids, TextRoundTripsAndMalformedTextIsRefused) {
    const OleString text = guid_text(CLSID_Pelmora);
    EXPECT_EQ(text.size(), 38u);
    CLSID back{};
    ASSERT_EQ(CLSIDFromString(text.c_str(), &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(back, CLSID_Pelmora));
    for (const char* bad : {"{3ACFD294-5CF5-4643-A745-796427E06BC}", "3ACFD294-5CF5-4643-A745-796427E06BC8",
                            "{3ACFD294-5CF5-4643-A745-796427E06BCX}", "{3ACFD294+5CF5-4643-A745-796427E06BC8}"})
        EXPECT_EQ(CLSIDFromString(to_ole(bad).c_str(), &back), CO_E_CLASSSTRING) << bad;
}

// Every truncation and a few thousand single-byte corruptions of the real type library: the
// reader either refuses the image or gives a library, and never reads outside it.
TEST(TypeLibraryReader, DamagedImagesNeverCrash) {
    std::ifstream in(PELMORA_TLB_PATH, std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(original.size(), 1000u);
    const std::string path = temp_path() + ".tlb";
    auto load = [&](const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        ITypeLib* lib = nullptr;
        if (SUCCEEDED(LoadTypeLibEx(to_ole(path.c_str()).c_str(), REGKIND_NONE, &lib))) {
            // Walk what it offers.
            for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
                ITypeInfo* t = nullptr;
                if (FAILED(lib->GetTypeInfo(i, &t))) continue;
                TYPEATTR* a = nullptr;
                if (SUCCEEDED(t->GetTypeAttr(&a))) {
                    for (UINT f = 0; f < a->cFuncs; ++f) {
                        FUNCDESC* d = nullptr;
                        if (SUCCEEDED(t->GetFuncDesc(f, &d))) t->ReleaseFuncDesc(d);
                    }
                    t->ReleaseTypeAttr(a);
                }
                t->Release();
            }
            lib->Release();
            return true;
        }
        return false;
    };
    EXPECT_TRUE(load(original));
    for (std::size_t n = 0; n < original.size(); n += 7) EXPECT_FALSE(load(original.substr(0, n)) && n < 0x54) << n;
    std::mt19937 rng(12345);
    for (int i = 0; i < 3000; ++i) {
        std::string damaged = original;
        damaged[rng() % damaged.size()] = static_cast<char>(rng());
        load(damaged);
    }
    std::remove(path.c_str());
}

}  // namespace
