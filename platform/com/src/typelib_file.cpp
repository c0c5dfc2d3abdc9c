#include "typelib_file.hpp"

#include <elf.h>

#include <cstring>
#include <new>
#include <unordered_map>

namespace pelmora::com {

const TlbImport* TlbLibrary::import(HREFTYPE href) const noexcept {
    if ((href & 3) != 1) return nullptr;
    const HREFTYPE offset = href & ~HREFTYPE{3};
    if (offset % 12 != 0 || offset / 12 >= imports.size()) return nullptr;
    return &imports[offset / 12];
}

namespace {

constexpr std::int32_t msft_signature = 0x5446534D;  // "MSFT"
constexpr std::int32_t sltg_signature = 0x47544C53;  // "SLTG", the older format
constexpr std::int64_t header_size = 0x54;
constexpr std::int64_t typeinfo_size = 0x64;

// A part of the image, known to lie inside it. Offsets and sizes given to it come from the file
// and may be anything: they are compared with what remains, never added first.
struct Part {
    const char* data = nullptr;
    std::uint64_t size = 0;

    bool holds(std::int64_t at, std::int64_t n) const noexcept {
        return at >= 0 && n >= 0 && static_cast<std::uint64_t>(at) <= size &&
               static_cast<std::uint64_t>(n) <= size - static_cast<std::uint64_t>(at);
    }
    Part sub(std::int64_t at, std::int64_t n) const noexcept {  // precondition: holds(at, n)
        return Part{data + at, static_cast<std::uint64_t>(n)};
    }
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

// Thrown inside the parser for damaged input; never leaves parse_msft.
struct Damaged {};

class Parser {
public:
    explicit Parser(std::string_view image) : whole_{image.data(), image.size()}, budget_(image.size()) {}

    HRESULT run(TlbLibrary& lib) {
        if (!whole_.holds(0, 4)) return TYPE_E_CANTLOADLIBRARY;
        const std::int32_t signature = i32(whole_, 0);
        if (signature == sltg_signature) return TYPE_E_UNSUPFORMAT;
        if (signature != msft_signature) return TYPE_E_CANTLOADLIBRARY;
        lib_ = &lib;
        read_header();
        read_imports();
        for (std::int64_t i = 0; i < ntypes_; ++i) lib.types.push_back(read_type(i));
        return S_OK;
    }

private:
    [[noreturn]] static void damaged() { throw Damaged{}; }

    // Every structure the reader keeps is charged its size in the file. In a sound file those
    // structures do not overlap, so the sum never exceeds the image; a file whose records share
    // bytes (to be read many times over) runs out and is refused.
    void charge(std::int64_t bytes) {
        if (bytes < 0 || static_cast<std::uint64_t>(bytes) > budget_) damaged();
        budget_ -= static_cast<std::uint64_t>(bytes);
    }

    static std::int32_t i32(const Part& p, std::int64_t at) {
        if (!p.holds(at, 4)) damaged();
        std::int32_t v = 0;
        std::memcpy(&v, p.data + at, 4);
        return v;
    }
    static std::int16_t i16(const Part& p, std::int64_t at) {
        if (!p.holds(at, 2)) damaged();
        std::int16_t v = 0;
        std::memcpy(&v, p.data + at, 2);
        return v;
    }

    void read_header() {
        if (!whole_.holds(0, header_size)) damaged();
        const std::int32_t varflags = i32(whole_, 0x14);
        if ((varflags & 0xF) > SYS_WIN64) damaged();
        ntypes_ = i32(whole_, 0x20);
        if (ntypes_ < 0) damaged();
        // After the header: the help DLL's string (when flagged), one offset per type, then
        // the segment directory.
        const std::int64_t directory = header_size + ((varflags & 0x100) ? 4 : 0) + 4 * ntypes_;
        if (!whole_.holds(directory, 16 * std::int64_t{SegCount})) damaged();
        for (int i = 0; i < SegCount; ++i) {
            const std::int64_t at = directory + 16 * i;
            const std::int32_t offset = i32(whole_, at), length = i32(whole_, at + 4);
            if (offset == -1) continue;  // absent: an empty part
            if (!whole_.holds(offset, length)) damaged();
            seg_[i] = whole_.sub(offset, length);
        }
        // A directory is recognised by its entries' fixed last word.
        if (i32(whole_, directory + 16 * TypeInfoTab + 12) != 0x0F ||
            i32(whole_, directory + 16 * ImpInfo + 12) != 0x0F)
            damaged();
        if (static_cast<std::uint64_t>(ntypes_) > seg_[TypeInfoTab].size / typeinfo_size) damaged();

        TlbLibrary& lib = *lib_;
        lib.libid = guid_at(i32(whole_, 0x08));
        lib.lcid = static_cast<LCID>(i32(whole_, 0x0C));
        lib.syskind = static_cast<SYSKIND>(varflags & 0xF);
        lib.ptr_size = lib.syskind == SYS_WIN64 ? 8 : 4;
        const std::int32_t version = i32(whole_, 0x18);
        lib.major = static_cast<WORD>(version & 0xFFFF);
        lib.minor = static_cast<WORD>((version >> 16) & 0xFFFF);
        lib.flags = static_cast<WORD>(i32(whole_, 0x1C));
        lib.doc = string_at(i32(whole_, 0x24));
        lib.name = name_at(i32(whole_, 0x38));
        dispatchpos_ = i32(whole_, 0x4C);
    }

    // Imported types: 12-byte records, referenced by hreftype = offset | 1.
    void read_imports() {
        const Part& part = seg_[ImpInfo];
        const std::uint64_t count = part.size / 12;
        lib_->imports.reserve(count);
        for (std::uint64_t k = 0; k < count; ++k) {
            const auto b = static_cast<std::int64_t>(12 * k);
            const std::int32_t flags = i32(part, b);
            const int kind = (flags >> 24) & 0xF;
            if (kind >= TKIND_MAX) damaged();
            TlbImport imp;
            imp.kind = static_cast<TYPEKIND>(kind);
            if (flags & 0x00010000) imp.guid = guid_at(i32(part, b + 8));  // else an index into the other library
            lib_->imports.push_back(imp);
        }
    }

    TlbType read_type(std::int64_t index) {
        const Part rec = seg_[TypeInfoTab].sub(typeinfo_size * index, typeinfo_size);
        charge(typeinfo_size);
        TlbType t;
        const std::int32_t typekind = i32(rec, 0x00);
        if ((typekind & 0xF) >= TKIND_MAX) damaged();
        t.kind = static_cast<TYPEKIND>(typekind & 0xF);
        t.alignment = static_cast<WORD>((typekind >> 11) & 0x1F);
        const std::int32_t memoffset = i32(rec, 0x04);
        const std::int32_t elements = i32(rec, 0x18);
        t.guid = guid_at(i32(rec, 0x2C));
        t.flags = static_cast<WORD>(i32(rec, 0x30));
        t.name = name_at(i32(rec, 0x34));
        const std::int32_t ver = i32(rec, 0x38);
        t.major = static_cast<WORD>(ver & 0xFFFF);
        t.minor = static_cast<WORD>((ver >> 16) & 0xFFFF);
        t.doc = string_at(i32(rec, 0x3C));
        const auto impl_count = static_cast<std::uint16_t>(i16(rec, 0x4C));
        t.size_vft = static_cast<WORD>(i16(rec, 0x4E));
        t.size_instance = static_cast<ULONG>(i32(rec, 0x50));
        const std::int32_t datatype1 = i32(rec, 0x54);
        if (t.kind == TKIND_COCLASS) {
            // A chain of 16-byte records in the reference table: hreftype, flags, custom data, next.
            const Part& refs = seg_[RefTab];
            std::int32_t ref = datatype1;
            for (int n = 0; ref >= 0 && n < impl_count; ++n) {
                if (!refs.holds(ref, 16)) damaged();
                charge(16);
                t.impls.push_back(TlbImpl{static_cast<HREFTYPE>(i32(refs, ref)), i32(refs, ref + 4)});
                ref = i32(refs, ref + 12);
            }
        } else if (t.kind == TKIND_INTERFACE || t.kind == TKIND_DISPATCH) {
            if (datatype1 != -1) t.impls.push_back(TlbImpl{static_cast<HREFTYPE>(datatype1), 0});
            else if (t.kind == TKIND_DISPATCH && dispatchpos_ != -1)
                t.impls.push_back(TlbImpl{static_cast<HREFTYPE>(dispatchpos_), 0});
        }
        const int nfuncs = elements & 0xFFFF;
        const int nvars = (elements >> 16) & 0xFFFF;
        if (nfuncs) read_functions(t, memoffset, nfuncs, nvars);
        return t;
    }

    // At memoffset: the length of the records, the records, then per member its id, its name
    // and its record's offset.
    void read_functions(TlbType& t, std::int32_t memoffset, int nfuncs, int nvars) {
        const std::int32_t length = i32(whole_, memoffset);
        const std::int64_t members = std::int64_t{nfuncs} + nvars;
        if (!whole_.holds(std::int64_t{memoffset} + 4, length)) damaged();
        const Part records = whole_.sub(std::int64_t{memoffset} + 4, length);
        const std::int64_t arrays_at = std::int64_t{memoffset} + 4 + length;
        if (!whole_.holds(arrays_at, 12 * members)) damaged();
        const Part ids = whole_.sub(arrays_at, 4 * members);
        const Part names = whole_.sub(arrays_at + 4 * members, 4 * members);
        const Part offsets = whole_.sub(arrays_at + 8 * members, 4 * members);
        t.funcs.reserve(static_cast<std::size_t>(nfuncs));
        for (int f = 0; f < nfuncs; ++f) {
            const std::int32_t at = i32(offsets, 4 * f);
            if (!records.holds(at, 24)) damaged();
            const std::int32_t size = i32(records, at) & 0xFFFF;
            if (size < 24 || !records.holds(at, size)) damaged();
            charge(size + 12);
            const Part r = records.sub(at, size);
            TlbFunc fn;
            fn.memid = i32(ids, 4 * f);
            fn.name = name_at(i32(names, 4 * f));
            fn.ret = chain_at(i32(r, 4));
            fn.flags = static_cast<WORD>(i32(r, 8));
            fn.oVft = static_cast<SHORT>((i16(r, 12) & ~1) * static_cast<int>(sizeof(void*)) / lib_->ptr_size);
            const std::int32_t fkccic = i32(r, 16);
            const int invkind = (fkccic >> 3) & 0xF;
            if ((fkccic & 0x7) > FUNC_DISPATCH || ((fkccic >> 8) & 0xF) >= CC_MAX ||
                (invkind != INVOKE_FUNC && invkind != INVOKE_PROPERTYGET && invkind != INVOKE_PROPERTYPUT &&
                 invkind != INVOKE_PROPERTYPUTREF))
                damaged();
            fn.funckind = static_cast<FUNCKIND>(fkccic & 0x7);
            fn.invkind = static_cast<INVOKEKIND>(invkind);
            fn.callconv = static_cast<CALLCONV>((fkccic >> 8) & 0xF);
            const std::int16_t nargs = i16(r, 20);
            fn.cParamsOpt = i16(r, 22);
            // The parameters' 12-byte records end the function's record.
            if (nargs < 0 || 12 * std::int64_t{nargs} > size - 24) damaged();
            fn.params.reserve(static_cast<std::size_t>(nargs));
            for (int a = 0; a < nargs; ++a) {
                const std::int64_t p = size - 12 * std::int64_t{nargs} + 12 * a;
                TlbParam param;
                param.type = chain_at(i32(r, p));
                param.name = name_at(i32(r, p + 4));
                param.flags = static_cast<USHORT>(i32(r, p + 8));
                fn.params.push_back(param);
            }
            t.funcs.push_back(std::move(fn));
        }
    }

    GUID guid_at(std::int32_t offset) const {
        GUID g{};
        if (offset < 0) return g;  // none
        if (!seg_[GuidTab].holds(offset, 16)) damaged();
        std::memcpy(&g, seg_[GuidTab].data + offset, 16);
        return g;
    }

    // Name table entry: hreftype, next in its hash chain, length (low byte), the name's bytes.
    std::u16string_view name_at(std::int32_t offset) {
        if (offset < 0) return {};
        if (auto it = names_.find(offset); it != names_.end()) return it->second;
        const Part& table = seg_[NameTab];
        if (!table.holds(offset, 12)) damaged();
        const std::int32_t length = i32(table, std::int64_t{offset} + 8) & 0xFF;
        const std::u16string_view text = keep(table, std::int64_t{offset} + 12, length, 12);
        names_.emplace(offset, text);
        return text;
    }

    // String table entry: a 16-bit length, the string's bytes.
    std::optional<std::u16string_view> string_at(std::int32_t offset) {
        if (offset < 0) return std::nullopt;
        if (auto it = strings_.find(offset); it != strings_.end()) return it->second;
        const std::int16_t length = i16(seg_[StringTab], offset);
        const std::u16string_view text = keep(seg_[StringTab], std::int64_t{offset} + 2, length, 2);
        strings_.emplace(offset, text);
        return text;
    }

    // The bytes at `at` as text (one code unit per byte), kept in the library.
    std::u16string_view keep(const Part& table, std::int64_t at, std::int64_t length, std::int64_t overhead) {
        if (!table.holds(at, length)) damaged();
        charge(overhead + length);
        std::u16string& s = lib_->texts.emplace_back(static_cast<std::size_t>(length), u'\0');
        for (std::int64_t i = 0; i < length; ++i)
            s[static_cast<std::size_t>(i)] = static_cast<char16_t>(static_cast<unsigned char>(table.data[at + i]));
        return s;
    }

    // A type description: negative, a base type in the low bits; otherwise an 8-byte entry of
    // the type description table (VT, unused, then the target or the hreftype in two halves).
    TypeChain chain_at(std::int32_t dt) const {
        TypeChain t;
        auto push = [&](int vt) { t.vts[t.depth++] = static_cast<VARTYPE>(vt & VT_TYPEMASK); };
        for (std::size_t link = 0; link + 1 < TypeChain::max_depth; ++link) {
            if (dt < 0) {
                push(dt);
                return t;
            }
            const Part& table = seg_[TypeDescTab];
            if (!table.holds(dt, 8)) damaged();
            const int vt = i16(table, dt) & VT_TYPEMASK;
            const std::int16_t w2 = i16(table, std::int64_t{dt} + 4), w3 = i16(table, std::int64_t{dt} + 6);
            push(vt);
            if (vt == VT_PTR || vt == VT_SAFEARRAY) {
                if (w3 < 0) {
                    push(w2);
                    return t;
                }
                dt = static_cast<std::int32_t>((static_cast<std::uint32_t>(w3) << 16) | static_cast<std::uint16_t>(w2));
                continue;
            }
            if (vt == VT_USERDEFINED)
                t.href = static_cast<HREFTYPE>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(w3)) << 16) |
                                               static_cast<std::uint16_t>(w2));
            return t;
        }
        damaged();  // deeper than any real type
    }

    Part whole_;
    std::uint64_t budget_;
    Part seg_[SegCount];
    std::int64_t ntypes_ = 0;
    std::int32_t dispatchpos_ = -1;
    TlbLibrary* lib_ = nullptr;
    std::unordered_map<std::int32_t, std::u16string_view> names_, strings_;
};

}  // namespace

HRESULT parse_msft(std::string_view image, std::shared_ptr<const TlbLibrary>& out) noexcept {
    out.reset();
    try {
        auto lib = std::make_shared<TlbLibrary>();
        const HRESULT hr = Parser(image).run(*lib);
        if (SUCCEEDED(hr)) out = std::move(lib);
        return hr;
    } catch (const Damaged&) {
        return TYPE_E_INVALIDSTATE;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return TYPE_E_INVALIDSTATE;
    }
}

std::optional<std::string_view> elf_section(std::string_view file, std::string_view name) noexcept {
    if (file.size() < sizeof(Elf64_Ehdr) || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0 ||
        file[EI_CLASS] != ELFCLASS64 || file[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    // The section headers must all fit in what follows e_shoff.
    if (eh.e_shentsize < sizeof(Elf64_Shdr) || eh.e_shoff > file.size()) return std::nullopt;
    const std::uint64_t fitting = (file.size() - eh.e_shoff) / eh.e_shentsize;
    if (eh.e_shnum > fitting || eh.e_shstrndx >= eh.e_shnum) return std::nullopt;
    auto header = [&](std::size_t i) {
        Elf64_Shdr sh;
        std::memcpy(&sh, file.data() + eh.e_shoff + i * eh.e_shentsize, sizeof sh);
        return sh;
    };
    auto inside = [&](const Elf64_Shdr& sh) {
        return sh.sh_type != SHT_NOBITS && sh.sh_offset <= file.size() && sh.sh_size <= file.size() - sh.sh_offset;
    };
    const Elf64_Shdr names = header(eh.e_shstrndx);
    if (!inside(names)) return std::nullopt;
    const std::string_view table = file.substr(names.sh_offset, names.sh_size);
    for (std::size_t i = 0; i < eh.e_shnum; ++i) {
        const Elf64_Shdr sh = header(i);
        if (sh.sh_name >= table.size()) continue;
        std::string_view n = table.substr(sh.sh_name);
        n = n.substr(0, n.find('\0'));
        if (n != name) continue;
        if (!inside(sh)) return std::nullopt;
        return file.substr(sh.sh_offset, sh.sh_size);
    }
    return std::nullopt;
}

}  // namespace pelmora::com
