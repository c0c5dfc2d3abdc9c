// The resources and version block of a built pelmora.dll, read through Windows' own loader:
//   dll_resources_check <path of pelmora.dll> <win32|win64>
// The library is mapped as a data file, so the 64-bit program checks the 32-bit DLL as well.

#include <windows.h>
#include <oleauto.h>
#include <initguid.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pelmora_idl.h"

#include "wine_check_args.hpp"

namespace {

const std::wstring& dll_path() { return wine_check::args().at(0); }
SYSKIND expected_syskind() { return wine_check::args().at(1) == L"win32" ? SYS_WIN32 : SYS_WIN64; }

class DllResources : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(wine_check::args().size(), 2u) << "usage: dll_resources_check <dll> <win32|win64>";
        module_ =
            LoadLibraryExW(dll_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "cannot map the DLL, error " << GetLastError();
    }
    static void TearDownTestSuite() {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
    }

    // The bytes of one resource.
    static std::vector<unsigned char> resource(LPCWSTR type, WORD id) {
        HRSRC r = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
        if (r == nullptr) return {};
        const auto* p = static_cast<const unsigned char*>(LockResource(LoadResource(module_, r)));
        return p == nullptr ? std::vector<unsigned char>{}
                            : std::vector<unsigned char>(p, p + SizeofResource(module_, r));
    }

    static HMODULE module_;
};

HMODULE DllResources::module_ = nullptr;

TEST_F(DllResources, TypeLibraryIsResourceOneForTheDllsArchitecture) {
    EXPECT_FALSE(resource(L"TYPELIB", 1).empty());

    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLibEx(dll_path().c_str(), REGKIND_NONE, &lib), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_PelmoraLib));
    EXPECT_EQ(attr->syskind, expected_syskind());
    EXPECT_EQ(attr->lcid, 1033u);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(attr);
    ITypeInfo* cls = nullptr;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(CLSID_Pelmora, &cls), S_OK);
    if (cls != nullptr) cls->Release();
    lib->Release();
}

TEST_F(DllResources, ToolboxBitmapIs16By15With16Colours) {
    const auto bytes = resource(MAKEINTRESOURCEW(2) /* RT_BITMAP */, 30000);
    ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER h;
    std::memcpy(&h, bytes.data(), sizeof h);
    EXPECT_EQ(h.biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(h.biWidth, 16);
    EXPECT_EQ(h.biHeight, 15);  // bottom-up
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 4);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_TRUE(h.biClrUsed == 0 || h.biClrUsed == 16) << h.biClrUsed;
    // Header, 16 palette entries, 15 rows of 8 bytes (16 pixels at 4 bits, already 4-aligned).
    EXPECT_EQ(bytes.size(), sizeof(BITMAPINFOHEADER) + 16 * sizeof(RGBQUAD) + 15 * 8);
}

TEST_F(DllResources, VersionBlockMarksASelfRegisteringDllOfTheProjectsVersion) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(dll_path().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(dll_path().c_str(), 0, size, block.data()));

    void* p = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &p, &len));
    ASSERT_EQ(len, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(p);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, PELMORA_EXPECTED_VERSION_MS);
    EXPECT_EQ(fixed->dwFileVersionLS, PELMORA_EXPECTED_VERSION_LS);
    EXPECT_EQ(fixed->dwProductVersionMS, PELMORA_EXPECTED_VERSION_MS);
    EXPECT_EQ(fixed->dwProductVersionLS, PELMORA_EXPECTED_VERSION_LS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask & VS_FF_DEBUG, 0u);

    struct Translation {
        WORD language;
        WORD codepage;
    };
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &p, &len));
    ASSERT_GE(len, sizeof(Translation));
    Translation t;
    std::memcpy(&t, p, sizeof t);
    wchar_t prefix[64];
    swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", t.language, t.codepage);

    const auto text = [&](const wchar_t* name, bool& found) {
        void* v = nullptr;
        UINT n = 0;
        found = VerQueryValueW(block.data(), (std::wstring(prefix) + name).c_str(), &v, &n) != 0;
        return found && n > 0 ? std::wstring(static_cast<const wchar_t*>(v)) : std::wstring();
    };
    bool found = false;
    EXPECT_EQ(text(L"OLESelfRegister", found), L"");
    EXPECT_TRUE(found) << "no OLESelfRegister value";
    EXPECT_TRUE(text(L"FileVersion", found) == PELMORA_EXPECTED_VERSION_TEXT && found);
    EXPECT_TRUE(text(L"ProductVersion", found) == PELMORA_EXPECTED_VERSION_TEXT && found);
}

}  // namespace
