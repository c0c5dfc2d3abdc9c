#include "typelib_file.hpp"

#include <elf.h>

#include <cstring>

namespace pelmora::com {
namespace {

// Bounds-checked little-endian reads; any read outside the image fails the parse.
struct Image {
    std::string_view d;
    bool ok = true;

    std::int32_t i32(std::int64_t at) {
        if (at < 0 || static_cast<std::uint64_t>(at) + 4 > d.size()) {
            ok = false;
            return 0;
        }
        std::int32_t v = 0;
        std::memcpy(&v, d.data() + at, 4);
        return v;
    }
    std::int16_t i16(std::int64_t at) {
        if (at < 0 || static_cast<std::uint64_t>(at) + 2 > d.size()) {
            ok = false;
            return 0;
        }
        std::int16_t v = 0;
        std::memcpy(&v, d.data() + at, 2);
        return v;
    }
    GUID guid(std::int64_t at) {
        GUID g{};
        if (at < 0 || static_cast<std::uint64_t>(at) + 16 > d.size()) {
            ok = false;
            return g;
        }
        std::memcpy(&g, d.data() + at, 16);
        return g;
    }
    std::u16string bytes_as_text(std::int64_t at, std::int64_t len) {
        if (at < 0 || len < 0 || static_cast<std::uint64_t>(at + len) > d.size()) {
            ok = false;
            return {};
        }
        std::u16string s;
        for (std::int64_t i = 0; i < len; ++i)
            s += static_cast<char16_t>(static_cast<unsigned char>(d[static_cast<std::size_t>(at + i)]));
        return s;
    }
};

struct Segment {
    std::int32_t offset = -1;
    std::int32_t length = 0;
};

enum Seg {
    TypeInfoTab,
    ImpInfo,
    ImpFiles,
    RefTab,
    GuidHash,
    GuidTab,
    NameHash,
    NameTab,
    StringTab,
    TypeDescTab,
    ArrayDesc,
    CustData,
    CDGuids,
    Res0e,
    Res0f,
    SegCount
};

}  // namespace

std::shared_ptr<const TlbLibrary> parse_msft(std::string_view data) {
    Image im{data};
    if (im.i32(0) != 0x5446534D || !im.ok) return nullptr;
    auto lib = std::make_shared<TlbLibrary>();
    const std::int32_t posguid = im.i32(0x08);
    lib->lcid = static_cast<LCID>(im.i32(0x0C));
    const std::int32_t varflags = im.i32(0x14);
    if ((varflags & 0xF) > SYS_WIN64) return nullptr;
    lib->syskind = static_cast<SYSKIND>(varflags & 0xF);
    lib->ptr_size = lib->syskind == SYS_WIN64 ? 8 : 4;
    const std::int32_t version = im.i32(0x18);
    lib->major = static_cast<WORD>(version & 0xFFFF);
    lib->minor = static_cast<WORD>((version >> 16) & 0xFFFF);
    lib->flags = static_cast<WORD>(im.i32(0x1C));
    const std::int32_t ntypes = im.i32(0x20);
    const std::int32_t helpstring = im.i32(0x24);
    const std::int32_t name_offset = im.i32(0x38);
    const std::int32_t dispatchpos = im.i32(0x4C);
    std::int64_t at = 0x54;
    if (varflags & 0x100) at += 4;  // help string DLL
    if (ntypes < 0 || ntypes > 0x10000 || !im.ok) return nullptr;
    at += 4 * std::int64_t{ntypes};
    Segment seg[SegCount];
    for (int i = 0; i < SegCount; ++i) {
        seg[i].offset = im.i32(at + 16 * i);
        seg[i].length = im.i32(at + 16 * i + 4);
    }
    if (!im.ok) return nullptr;

    auto name_at = [&](std::int32_t off) -> std::u16string {
        if (off < 0) return {};
        const std::int64_t base = std::int64_t{seg[NameTab].offset} + off;
        const std::int32_t len = im.i32(base + 8) & 0xFF;
        return im.bytes_as_text(base + 12, len);
    };
    auto string_at = [&](std::int32_t off) -> std::optional<std::u16string> {
        if (off < 0) return std::nullopt;
        const std::int64_t base = std::int64_t{seg[StringTab].offset} + off;
        const std::int16_t len = im.i16(base);
        return im.bytes_as_text(base + 2, len);
    };
    auto guid_at = [&](std::int32_t off) { return im.guid(std::int64_t{seg[GuidTab].offset} + off); };
    auto type_at = [&](std::int32_t dt) {
        TypeChain t;
        for (int depth = 0; depth < 8; ++depth) {
            if (dt < 0) {
                t.vts.push_back(static_cast<VARTYPE>(dt & VT_TYPEMASK));
                return t;
            }
            const std::int64_t e = std::int64_t{seg[TypeDescTab].offset} + dt;
            const auto vt = static_cast<VARTYPE>(im.i16(e) & VT_TYPEMASK);
            const std::int16_t w2 = im.i16(e + 4), w3 = im.i16(e + 6);
            t.vts.push_back(vt);
            if (vt == VT_PTR || vt == VT_SAFEARRAY) {
                if (w3 < 0) {
                    t.vts.push_back(static_cast<VARTYPE>(w2 & VT_TYPEMASK));
                    return t;
                }
                dt = (static_cast<std::int32_t>(w3) << 16) | static_cast<std::uint16_t>(w2);
                continue;
            }
            if (vt == VT_USERDEFINED)
                t.href = static_cast<HREFTYPE>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(w3)) << 16) |
                                               static_cast<std::uint16_t>(w2));
            return t;
        }
        im.ok = false;
        return t;
    };

    lib->libid = guid_at(posguid);
    lib->name = name_at(name_offset);
    lib->doc = string_at(helpstring);

    // Imported types: 12-byte records, referenced by hreftype = offset | 1.
    for (std::int32_t off = 0; seg[ImpInfo].offset >= 0 && off + 12 <= seg[ImpInfo].length; off += 12) {
        const std::int64_t b = std::int64_t{seg[ImpInfo].offset} + off;
        const std::int32_t flags = im.i32(b);
        const std::int32_t oguid = im.i32(b + 8);
        TlbImport imp;
        if (((flags >> 24) & 0xF) >= TKIND_MAX) return nullptr;
        imp.kind = static_cast<TYPEKIND>((flags >> 24) & 0xF);
        if (flags & 0x00010000) imp.guid = guid_at(oguid);
        lib->imports[static_cast<HREFTYPE>(off | 1)] = imp;
    }

    for (std::int32_t i = 0; i < ntypes && im.ok; ++i) {
        const std::int64_t b = std::int64_t{seg[TypeInfoTab].offset} + 0x64 * std::int64_t{i};
        TlbType t;
        const std::int32_t typekind = im.i32(b);
        if ((typekind & 0xF) >= TKIND_MAX) return nullptr;
        t.kind = static_cast<TYPEKIND>(typekind & 0xF);
        t.alignment = static_cast<WORD>((typekind >> 11) & 0x1F);
        const std::int32_t memoffset = im.i32(b + 0x04);
        const std::int32_t elements = im.i32(b + 0x18);
        t.guid = guid_at(im.i32(b + 0x2C));
        t.flags = static_cast<WORD>(im.i32(b + 0x30));
        t.name = name_at(im.i32(b + 0x34));
        const std::int32_t ver = im.i32(b + 0x38);
        t.major = static_cast<WORD>(ver & 0xFFFF);
        t.minor = static_cast<WORD>((ver >> 16) & 0xFFFF);
        t.doc = string_at(im.i32(b + 0x3C));
        const auto impl_count = static_cast<std::uint16_t>(im.i16(b + 0x4C));
        t.size_vft = static_cast<WORD>(im.i16(b + 0x4E));
        t.size_instance = static_cast<ULONG>(im.i32(b + 0x50));
        const std::int32_t datatype1 = im.i32(b + 0x54);
        if (t.kind == TKIND_COCLASS) {
            std::int32_t ref = datatype1;
            for (int n = 0; ref >= 0 && n < impl_count && im.ok; ++n) {
                const std::int64_t r = std::int64_t{seg[RefTab].offset} + ref;
                t.impls.push_back(TlbImpl{static_cast<HREFTYPE>(im.i32(r)), im.i32(r + 4)});
                ref = im.i32(r + 12);
            }
        } else if (t.kind == TKIND_INTERFACE || t.kind == TKIND_DISPATCH) {
            if (datatype1 != -1) t.impls.push_back(TlbImpl{static_cast<HREFTYPE>(datatype1), 0});
            else if (t.kind == TKIND_DISPATCH && dispatchpos != -1)
                t.impls.push_back(TlbImpl{static_cast<HREFTYPE>(dispatchpos), 0});
        }
        const int nfuncs = elements & 0xFFFF;
        const int nvars = (elements >> 16) & 0xFFFF;
        if (nfuncs) {
            // At memoffset: the block's length, the records, then ids, names and record offsets.
            const std::int64_t block = memoffset;
            const std::int32_t len = im.i32(block);
            const std::int64_t records = block + 4;
            const std::int64_t ids = records + len;
            const std::int64_t names = ids + 4 * std::int64_t{nfuncs + nvars};
            const std::int64_t offs = names + 4 * std::int64_t{nfuncs + nvars};
            for (int f = 0; f < nfuncs && im.ok; ++f) {
                const std::int64_t r = records + im.i32(offs + 4 * f);
                const std::int32_t info = im.i32(r);
                const std::int32_t size = info & 0xFFFF;
                TlbFunc fn;
                fn.memid = im.i32(ids + 4 * f);
                fn.name = name_at(im.i32(names + 4 * f));
                fn.ret = type_at(im.i32(r + 4));
                fn.flags = static_cast<WORD>(im.i32(r + 8));
                fn.oVft = static_cast<SHORT>((im.i16(r + 12) & ~1) * static_cast<int>(sizeof(void*)) / lib->ptr_size);
                const std::int32_t fkccic = im.i32(r + 16);
                const int invkind = (fkccic >> 3) & 0xF;
                if ((fkccic & 0x7) > FUNC_DISPATCH || ((fkccic >> 8) & 0xF) >= CC_MAX ||
                    (invkind != INVOKE_FUNC && invkind != INVOKE_PROPERTYGET && invkind != INVOKE_PROPERTYPUT &&
                     invkind != INVOKE_PROPERTYPUTREF))
                    return nullptr;
                fn.funckind = static_cast<FUNCKIND>(fkccic & 0x7);
                fn.invkind = static_cast<INVOKEKIND>((fkccic >> 3) & 0xF);
                fn.callconv = static_cast<CALLCONV>((fkccic >> 8) & 0xF);
                const std::int16_t nargs = im.i16(r + 20);
                fn.cParamsOpt = im.i16(r + 22);
                if (nargs < 0 || 24 + 12 * std::int64_t{nargs} > size) return nullptr;
                for (int a = 0; a < nargs; ++a) {
                    const std::int64_t p = r + size - 12 * std::int64_t{nargs} + 12 * a;
                    TlbParam param;
                    param.type = type_at(im.i32(p));
                    param.name = name_at(im.i32(p + 4));
                    param.flags = static_cast<USHORT>(im.i32(p + 8));
                    fn.params.push_back(std::move(param));
                }
                t.funcs.push_back(std::move(fn));
            }
        }
        lib->types.push_back(std::move(t));
    }
    if (!im.ok) return nullptr;
    return lib;
}

std::optional<std::string_view> elf_section(std::string_view file, std::string_view name) {
    if (file.size() < sizeof(Elf64_Ehdr) || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0 ||
        file[EI_CLASS] != ELFCLASS64)
        return std::nullopt;
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    auto section = [&](std::size_t i, Elf64_Shdr& sh) {
        const std::uint64_t at = eh.e_shoff + i * std::uint64_t{eh.e_shentsize};
        if (eh.e_shentsize < sizeof(Elf64_Shdr) || at + sizeof sh > file.size()) return false;
        std::memcpy(&sh, file.data() + at, sizeof sh);
        return true;
    };
    Elf64_Shdr names{};
    if (!section(eh.e_shstrndx, names) || names.sh_offset + names.sh_size > file.size()) return std::nullopt;
    for (std::size_t i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh{};
        if (!section(i, sh)) return std::nullopt;
        if (sh.sh_name >= names.sh_size) continue;
        const char* n = file.data() + names.sh_offset + sh.sh_name;
        const std::size_t max = names.sh_size - sh.sh_name;
        if (strnlen(n, max) != name.size() || std::memcmp(n, name.data(), name.size()) != 0) continue;
        if (sh.sh_type == SHT_NOBITS || sh.sh_offset + sh.sh_size > file.size()) return std::nullopt;
        return file.substr(sh.sh_offset, sh.sh_size);
    }
    return std::nullopt;
}

}  // namespace pelmora::com
