// Linux only: the COM layer's type library reader against damaged and hostile files, and its
// ITypeLib / ITypeInfo objects on their failure paths. Every hostile image is built here, byte
// by byte: each row is a file that once crashed, hung or exhausted memory, or one of its kin.

#include <elf.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "component_under_test.hpp"

namespace {

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string real_tlb() { return read_file(PELMORA_TLB_PATH); }

// Loads `bytes` from a file as a host would; returns the HRESULT and, on success, the library.
struct Loaded {
    HRESULT hr = E_FAIL;
    Ptr<ITypeLib> lib;
    double seconds = 0;
};

Loaded load(const std::string& bytes) {
    const std::string path = testing::TempDir() + "pelmora-typelib-" +
                             std::to_string(testing::UnitTest::GetInstance()->random_seed()) + ".tlb";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    Loaded r;
    const auto start = std::chrono::steady_clock::now();
    r.hr = LoadTypeLibEx(to_ole(path.c_str()).c_str(), REGKIND_NONE, r.lib.put());
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::remove(path.c_str());
    return r;
}

void put32(std::string& s, std::size_t at, std::uint32_t v) {
    if (s.size() < at + 4) s.resize(at + 4);
    std::memcpy(&s[at], &v, 4);
}
void put16(std::string& s, std::size_t at, std::uint16_t v) {
    if (s.size() < at + 2) s.resize(at + 2);
    std::memcpy(&s[at], &v, 2);
}

// An MSFT image: the header, one offset per type, the segment directory, then the parts placed
// after it (offsets in the file are absolute).
struct Msft {
    enum Seg { TypeInfoTab, ImpInfo, RefTab = 3, GuidTab = 5, NameTab = 7, StringTab = 8, TypeDescTab = 9 };
    std::int32_t ntypes = 0;
    std::int32_t seg_offset[15], seg_length[15];
    std::string body;

    Msft() {
        for (int i = 0; i < 15; ++i) seg_offset[i] = -1, seg_length[i] = 0;
    }
    std::size_t start() const { return 0x54 + 4 * static_cast<std::size_t>(ntypes) + 15 * 16; }
    // Appends `bytes` after the directory and returns where they are in the file.
    std::int32_t place(const std::string& bytes) {
        const auto at = static_cast<std::int32_t>(start() + body.size());
        body += bytes;
        return at;
    }
    void segment(Seg s, const std::string& bytes) {
        seg_offset[s] = place(bytes);
        seg_length[s] = static_cast<std::int32_t>(bytes.size());
    }
    std::string bytes() const {
        std::string h(0x54, '\0');
        put32(h, 0x00, 0x5446534D);  // "MSFT"
        put32(h, 0x04, 0x00010002);
        for (const std::size_t at : {0x08u, 0x24u, 0x38u, 0x3Cu, 0x40u, 0x4Cu}) put32(h, at, 0xFFFFFFFF);  // none
        put32(h, 0x14, SYS_WIN32);
        put32(h, 0x20, static_cast<std::uint32_t>(ntypes));
        h.resize(start() - 15 * 16);
        for (int i = 0; i < 15; ++i) {
            const std::size_t at = h.size();
            put32(h, at, static_cast<std::uint32_t>(seg_offset[i]));
            put32(h, at + 4, static_cast<std::uint32_t>(seg_length[i]));
            put32(h, at + 8, 0xFFFFFFFF);
            put32(h, at + 12, 0x0F);
        }
        return h + body;
    }
};

// A type record (0x64 bytes) with no name, GUID or help string.
std::string type_record(TYPEKIND kind, std::int32_t memoffset, std::int32_t elements, std::uint16_t impl_count,
                        std::int32_t datatype1) {
    std::string r(0x64, '\0');
    put32(r, 0x00, static_cast<std::uint32_t>(kind));
    put32(r, 0x04, static_cast<std::uint32_t>(memoffset));
    put32(r, 0x18, static_cast<std::uint32_t>(elements));
    for (const std::size_t at : {0x2Cu, 0x34u, 0x3Cu}) put32(r, at, 0xFFFFFFFF);
    put16(r, 0x4C, impl_count);
    put32(r, 0x54, static_cast<std::uint32_t>(datatype1));
    return r;
}

// A 24-byte function record without parameters returning `ret`.
std::string function_record(std::int32_t ret) {
    std::string r(24, '\0');
    put32(r, 0, 24);
    put32(r, 4, static_cast<std::uint32_t>(ret));
    put32(r, 16, FUNC_PUREVIRTUAL | (INVOKE_FUNC << 3) | (CC_STDCALL << 8));
    return r;
}

// An interface whose `count` functions all use the one record at the start of the block (the
// arrays of ids, names and record offsets are all zeros, names -1).
Msft functions_sharing_a_record(int count, std::int32_t ret) {
    Msft m;
    m.ntypes = 1;
    std::string block(4, '\0');
    put32(block, 0, 24);
    block += function_record(ret);
    std::string arrays(12 * static_cast<std::size_t>(count), '\0');
    std::memset(&arrays[4 * static_cast<std::size_t>(count)], 0xFF, 4 * static_cast<std::size_t>(count));
    block += arrays;
    const std::int32_t types_at = static_cast<std::int32_t>(m.start());
    const std::int32_t block_at = types_at + 0x64;
    m.segment(Msft::TypeInfoTab, type_record(TKIND_INTERFACE, block_at, count, 0, -1));
    m.place(block);
    return m;
}

// An ELF header with one section table of `shnum` entries at `shoff`.
std::string elf(std::uint64_t shoff, std::uint16_t shnum, std::uint16_t shstrndx) {
    Elf64_Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = ELFCLASS64;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_type = ET_DYN;
    eh.e_machine = EM_X86_64;
    eh.e_ehsize = sizeof eh;
    eh.e_shoff = shoff;
    eh.e_shentsize = sizeof(Elf64_Shdr);
    eh.e_shnum = shnum;
    eh.e_shstrndx = shstrndx;
    return {reinterpret_cast<const char*>(&eh), sizeof eh};
}

std::string section(std::uint32_t name, std::uint64_t offset, std::uint64_t size) {
    Elf64_Shdr sh{};
    sh.sh_name = name;
    sh.sh_type = SHT_PROGBITS;
    sh.sh_offset = offset;
    sh.sh_size = size;
    return {reinterpret_cast<const char*>(&sh), sizeof sh};
}

// An ELF file: header, sections [names, .typelib], the name table, then `payload` as .typelib
// (its header's offset and size as given, or where the payload is).
std::string elf_with_typelib(const std::string& payload, std::uint64_t names_offset = 0, std::uint64_t names_size = 0,
                             std::uint64_t typelib_offset = 0, std::uint64_t typelib_size = 0) {
    const std::string names("\0.shstrtab\0.typelib\0", 20);
    const std::size_t table_at = sizeof(Elf64_Ehdr) + 2 * sizeof(Elf64_Shdr);
    const std::size_t payload_at = table_at + names.size();
    return elf(sizeof(Elf64_Ehdr), 2, 0) +
           section(1, names_offset ? names_offset : table_at, names_size ? names_size : names.size()) +
           section(11, typelib_offset ? typelib_offset : payload_at, typelib_size ? typelib_size : payload.size()) +
           names + payload;
}

TEST(TypeLibraryReader, HostileImagesFailCleanlyAndQuickly) {
    const std::string tlb = real_tlb();
    ASSERT_GT(tlb.size(), 1000u);
    struct Case {
        const char* what;
        std::function<std::string()> image;
        HRESULT hr;
    };
    const Case cases[] = {
        // Sound images, as the rows below are built: they load.
        {"the real type library", [&] { return tlb; }, S_OK},
        {"an empty MSFT library", [] { return Msft().bytes(); }, S_OK},
        {"the real type library in an ELF .typelib section", [&] { return elf_with_typelib(tlb); }, S_OK},
        {"an interface with 50 functions of their own",
         [] {
             Msft m;
             m.ntypes = 1;
             std::string block(4, '\0');
             std::string ids, names, offsets;
             for (int f = 0; f < 50; ++f) {
                 block += function_record(static_cast<std::int32_t>(0x80000000u | VT_I4));
                 ids += std::string(4, '\0');
                 names += std::string(4, '\xFF');
                 offsets += std::string(4, '\0');
                 put32(offsets, offsets.size() - 4, static_cast<std::uint32_t>(24 * f));
             }
             put32(block, 0, static_cast<std::uint32_t>(block.size() - 4));
             const auto block_at = static_cast<std::int32_t>(m.start() + 0x64);
             m.segment(Msft::TypeInfoTab, type_record(TKIND_INTERFACE, block_at, 50, 0, -1));
             m.place(block + ids + names + offsets);
             return m.bytes();
         },
         S_OK},

        // Not type libraries at all.
        {"an empty file", [] { return std::string(); }, TYPE_E_CANTLOADLIBRARY},
        {"text", [] { return std::string("PELMORA-REGISTRY 1\n"); }, TYPE_E_CANTLOADLIBRARY},
        {"the older SLTG format", [] { return std::string("SLTG") + std::string(60, '\0'); }, TYPE_E_UNSUPFORMAT},

        // ELF headers whose offsets wrap when sizes are added.
        {"section headers at 2^64 - 1", [] { return elf(~std::uint64_t{0}, 1, 0); }, TYPE_E_CANTLOADLIBRARY},
        {"section headers at 2^63", [] { return elf(std::uint64_t{1} << 63, 2, 1) + std::string(128, '\0'); },
         TYPE_E_CANTLOADLIBRARY},
        {"more section headers than the file holds", [] { return elf(64, 0xFFFF, 0) + std::string(64, '\0'); },
         TYPE_E_CANTLOADLIBRARY},
        {"a section-name table at 2^63 of size 2^63",
         [&] { return elf_with_typelib(tlb, std::uint64_t{1} << 63, std::uint64_t{1} << 63); }, TYPE_E_CANTLOADLIBRARY},
        {"a .typelib section at 2^64 - 16 of size 16",
         [&] { return elf_with_typelib(tlb, 0, 0, ~std::uint64_t{15}, 16); }, TYPE_E_CANTLOADLIBRARY},
        {"a .typelib section longer than the file", [&] { return elf_with_typelib(tlb, 0, 0, 0, tlb.size() + 1); },
         TYPE_E_CANTLOADLIBRARY},

        // MSFT images whose offsets, sizes or counts exceed what the file holds.
        {"a header cut short", [] { return Msft().bytes().substr(0, 0x40); }, TYPE_E_INVALIDSTATE},
        {"the real library with ImpInfo at 0x40000000, 0x7FFFFFF0 long",
         [&] {
             std::string t = tlb;
             const std::size_t directory = 0x54 + 4 * 3;  // three types, no help DLL
             put32(t, directory + 16 + 0, 0x40000000);
             put32(t, directory + 16 + 4, 0x7FFFFFF0);
             return t;
         },
         TYPE_E_INVALIDSTATE},
        {"an ImpInfo segment claiming 2^31 - 1 bytes from offset 2^31 - 1",
         [] {
             Msft m;
             m.seg_offset[Msft::ImpInfo] = 0x7FFFFFFF;
             m.seg_length[Msft::ImpInfo] = 0x7FFFFFFF;
             return m.bytes();
         },
         TYPE_E_INVALIDSTATE},
        {"a segment of negative length",
         [] {
             Msft m;
             m.segment(Msft::NameTab, std::string(16, '\0'));
             m.seg_length[Msft::NameTab] = -16;
             return m.bytes();
         },
         TYPE_E_INVALIDSTATE},
        {"more types than the type table holds",
         [] {
             Msft m;
             m.ntypes = 2;
             m.segment(Msft::TypeInfoTab, type_record(TKIND_ENUM, -1, 0, 0, -1));
             return m.bytes();
         },
         TYPE_E_INVALIDSTATE},
        {"65535 functions sharing one record", [] { return functions_sharing_a_record(0xFFFF, -1).bytes(); },
         TYPE_E_INVALIDSTATE},
        {"a type description that leads to itself",
         [] {
             Msft m = functions_sharing_a_record(1, 0);
             std::string td(8, '\0');
             put16(td, 0, VT_PTR);  // the target, entry 0, is itself
             m.segment(Msft::TypeDescTab, td);
             return m.bytes();
         },
         TYPE_E_INVALIDSTATE},
        {"a coclass whose 65535 implemented types loop on one reference",
         [] {
             Msft m;
             m.ntypes = 1;
             m.segment(Msft::TypeInfoTab, type_record(TKIND_COCLASS, -1, 0, 0xFFFF, 0));
             std::string ref(16, '\0');  // hreftype 0, flags 0, no custom data, next: itself
             m.segment(Msft::RefTab, ref);
             return m.bytes();
         },
         TYPE_E_INVALIDSTATE},
        {"a name longer than the name table",
         [] {
             Msft m;
             std::string names(16, '\0');
             put32(names, 8, 200);
             m.segment(Msft::NameTab, names);
             std::string t = m.bytes();
             put32(t, 0x38, 0);
             return t;
         },
         TYPE_E_INVALIDSTATE},
        {"a help string of negative length",
         [] {
             Msft m;
             std::string strings(8, '\0');
             put16(strings, 0, 0x8000);
             m.segment(Msft::StringTab, strings);
             std::string t = m.bytes();
             put32(t, 0x24, 0);
             return t;
         },
         TYPE_E_INVALIDSTATE},
        {"a GUID past the GUID table",
         [] {
             Msft m;
             m.segment(Msft::GuidTab, std::string(24, '\0'));
             std::string t = m.bytes();
             put32(t, 0x08, 16);
             return t;
         },
         TYPE_E_INVALIDSTATE},
    };
    for (const auto& c : cases) {
        const Loaded r = load(c.image());
        EXPECT_EQ(r.hr, c.hr) << c.what;
        EXPECT_EQ(static_cast<bool>(r.lib), SUCCEEDED(c.hr)) << c.what;
        EXPECT_LT(r.seconds, 1.0) << c.what;
    }
}

// Every truncation and a few thousand single-byte corruptions of the real type library: the
// reader either refuses the image or gives a library, and never reads outside it.
TEST(TypeLibraryReader, DamagedImagesNeverCrash) {
    const std::string original = real_tlb();
    ASSERT_GT(original.size(), 1000u);
    auto walk = [&](const std::string& bytes) {
        Loaded r = load(bytes);
        if (FAILED(r.hr)) return false;
        for (UINT i = 0; i < r.lib->GetTypeInfoCount(); ++i) {
            Ptr<ITypeInfo> t;
            if (FAILED(r.lib->GetTypeInfo(i, t.put()))) continue;
            TYPEATTR* a = nullptr;
            if (SUCCEEDED(t->GetTypeAttr(&a))) {
                for (UINT f = 0; f < a->cFuncs; ++f) {
                    FUNCDESC* d = nullptr;
                    if (SUCCEEDED(t->GetFuncDesc(f, &d))) t->ReleaseFuncDesc(d);
                }
                t->ReleaseTypeAttr(a);
            }
        }
        return true;
    };
    EXPECT_TRUE(walk(original));
    for (std::size_t n = 0; n < original.size(); n += 7) EXPECT_FALSE(walk(original.substr(0, n)) && n < 0x54) << n;
    std::mt19937 rng(12345);
    for (int i = 0; i < 3000; ++i) {
        std::string damaged = original;
        damaged[rng() % damaged.size()] = static_cast<char>(rng());
        walk(damaged);
    }
}

// Every ITypeLib and ITypeInfo method on a failing call: pointer and BSTR out-parameters come
// back null, counts zero, and no reference is left with the caller.
TEST(TypeLibraryObjects, FailuresHandOutNothing) {
    const Loaded loaded = load(real_tlb());
    ASSERT_EQ(loaded.hr, S_OK);
    ITypeLib* lib = loaded.lib.get();
    Ptr<ITypeInfo> dispatch, coclass, imported;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID__Pelmora, dispatch.put()), S_OK);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_Pelmora, coclass.put()), S_OK);
    HREFTYPE base = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(0, &base), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(base, imported.put()), S_OK);  // IDispatch, from stdole2
    auto references = [&] {
        lib->AddRef();
        return lib->Release();
    };

    void* const junk = reinterpret_cast<void*>(0x1);  // what an uninitialised out-parameter holds
    struct Case {
        const char* what;
        std::function<HRESULT(void** out, UINT* count)> call;  // passes out[0..pointers) and count
        HRESULT hr;
        int pointers = 1;     // how many of out[] the call is given
        bool counts = false;  // whether it reports a count
    };
    const UINT missing = 99;
    const MEMBERID unknown = 0x12345;
    auto as = [](void** p) { return reinterpret_cast<BSTR*>(p); };
    const Case cases[] = {
        {"ITypeLib::GetTypeInfo",
         [&](void** o, UINT*) { return lib->GetTypeInfo(missing, reinterpret_cast<ITypeInfo**>(o)); },
         TYPE_E_ELEMENTNOTFOUND},
        {"ITypeLib::GetTypeInfoOfGuid",
         [&](void** o, UINT*) { return lib->GetTypeInfoOfGuid(GUID_NULL, reinterpret_cast<ITypeInfo**>(o)); },
         TYPE_E_ELEMENTNOTFOUND},
        {"ITypeLib::GetTypeComp", [&](void** o, UINT*) { return lib->GetTypeComp(reinterpret_cast<ITypeComp**>(o)); },
         E_NOTIMPL},
        {"ITypeLib::GetDocumentation",
         [&](void** o, UINT*) {
             return lib->GetDocumentation(static_cast<INT>(missing), as(o), as(o + 1), nullptr, as(o + 2));
         },
         TYPE_E_ELEMENTNOTFOUND, 3},
        {"ITypeLib::FindName",
         [&](void** o, UINT* count) {
             OleString name = to_ole("custcentukn");
             MEMBERID ids[2];
             USHORT found = 2;
             const HRESULT hr = lib->FindName(name.data(), 0, reinterpret_cast<ITypeInfo**>(o), ids, &found);
             *count = found;
             return hr;
         },
         E_NOTIMPL, 2, true},
        {"ITypeInfo::GetFuncDesc",
         [&](void** o, UINT*) { return dispatch->GetFuncDesc(missing, reinterpret_cast<FUNCDESC**>(o)); },
         TYPE_E_ELEMENTNOTFOUND},
        {"ITypeInfo::GetVarDesc",
         [&](void** o, UINT*) { return dispatch->GetVarDesc(0, reinterpret_cast<VARDESC**>(o)); },
         TYPE_E_ELEMENTNOTFOUND},
        {"ITypeInfo::GetNames",
         [&](void**, UINT* count) {
             BSTR names[4] = {};
             return dispatch->GetNames(unknown, names, 4, count);
         },
         TYPE_E_ELEMENTNOTFOUND, 0, true},
        {"ITypeInfo::GetRefTypeInfo",
         [&](void** o, UINT*) { return dispatch->GetRefTypeInfo(0x7FFFFFF0, reinterpret_cast<ITypeInfo**>(o)); },
         TYPE_E_ELEMENTNOTFOUND},
        {"ITypeInfo::GetRefTypeInfo of an unknown import",
         [&](void** o, UINT*) { return dispatch->GetRefTypeInfo(0x7FFFFFF1, reinterpret_cast<ITypeInfo**>(o)); },
         TYPE_E_ELEMENTNOTFOUND},
        {"ITypeInfo::GetDocumentation",
         [&](void** o, UINT*) { return dispatch->GetDocumentation(unknown, as(o), as(o + 1), nullptr, as(o + 2)); },
         TYPE_E_ELEMENTNOTFOUND, 3},
        {"ITypeInfo::GetTypeComp",
         [&](void** o, UINT*) { return dispatch->GetTypeComp(reinterpret_cast<ITypeComp**>(o)); }, E_NOTIMPL},
        {"ITypeInfo::GetDllEntry",
         [&](void** o, UINT*) { return coclass->GetDllEntry(unknown, INVOKE_FUNC, as(o), as(o + 1), nullptr); },
         E_NOTIMPL, 2},
        {"ITypeInfo::AddressOfMember",
         [&](void** o, UINT*) { return dispatch->AddressOfMember(unknown, INVOKE_FUNC, o); }, E_NOTIMPL},
        {"ITypeInfo::CreateInstance",
         [&](void** o, UINT*) { return coclass->CreateInstance(nullptr, IID_IUnknown, o); }, E_NOTIMPL},
        {"ITypeInfo::GetMops", [&](void** o, UINT*) { return dispatch->GetMops(unknown, as(o)); }, E_NOTIMPL},
        {"imported ITypeInfo::GetContainingTypeLib",
         [&](void** o, UINT*) { return imported->GetContainingTypeLib(reinterpret_cast<ITypeLib**>(o), nullptr); },
         E_NOTIMPL},
        {"imported ITypeInfo::GetFuncDesc",
         [&](void** o, UINT*) { return imported->GetFuncDesc(0, reinterpret_cast<FUNCDESC**>(o)); },
         TYPE_E_ELEMENTNOTFOUND},
        {"imported ITypeInfo::GetDocumentation",
         [&](void** o, UINT*) {
             return imported->GetDocumentation(MEMBERID_NIL, as(o), as(o + 1), nullptr, as(o + 2));
         },
         TYPE_E_ELEMENTNOTFOUND, 3},
        {"imported ITypeInfo::GetRefTypeInfo",
         [&](void** o, UINT*) { return imported->GetRefTypeInfo(0, reinterpret_cast<ITypeInfo**>(o)); },
         TYPE_E_ELEMENTNOTFOUND},
    };
    const ULONG before = references();
    for (const auto& c : cases) {
        void* out[3] = {junk, junk, junk};
        UINT count = 7;
        EXPECT_EQ(c.call(out, &count), c.hr) << c.what;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], i < c.pointers ? nullptr : junk) << c.what << ", out " << i;
        EXPECT_EQ(count, c.counts ? 0u : 7u) << c.what;
        EXPECT_EQ(references(), before) << c.what;
    }

    // A type of this library answers where it belongs, and holds the library for the caller.
    Ptr<ITypeLib> owner;
    UINT index = missing;
    ASSERT_EQ(coclass->GetContainingTypeLib(owner.put(), &index), S_OK);
    EXPECT_EQ(owner.get(), lib);
    EXPECT_EQ(references(), before + 1);
    TYPEKIND kind{};
    EXPECT_EQ(lib->GetTypeInfoType(index, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_COCLASS);
}

}  // namespace
