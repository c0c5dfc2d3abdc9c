#pragma once
// A reader of the MSFT type library format (what widl and Windows' own tools write): the
// library's attributes and, per type, its attributes, implemented types and functions.
//
// The file is outside input: every offset, size and count in it is checked against the bytes
// that remain before it is used, every loop is bounded by them, and what the reader keeps is
// proportional to the image (names and strings are kept once per place in the file).

#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmora_com_api.h"

namespace pelmora::com {

/// A type as a chain: VT_PTR / VT_SAFEARRAY entries point at the next; VT_USERDEFINED has href.
struct TypeChain {
    static constexpr std::size_t max_depth = 9;  ///< eight links and the type they lead to
    std::array<VARTYPE, max_depth> vts{};
    std::uint8_t depth = 0;
    HREFTYPE href = 0;
};

struct TlbParam {
    std::u16string_view name;
    TypeChain type;
    USHORT flags = 0;
};

struct TlbFunc {
    MEMBERID memid = 0;
    std::u16string_view name;
    FUNCKIND funckind = FUNC_PUREVIRTUAL;
    INVOKEKIND invkind = INVOKE_FUNC;
    CALLCONV callconv = CC_STDCALL;
    SHORT oVft = 0;
    SHORT cParamsOpt = 0;
    WORD flags = 0;
    TypeChain ret;
    std::vector<TlbParam> params;
};

struct TlbImpl {
    HREFTYPE href = 0;
    INT flags = 0;
};

struct TlbType {
    TYPEKIND kind = TKIND_MAX;
    GUID guid{};
    std::u16string_view name;
    std::optional<std::u16string_view> doc;
    WORD flags = 0;
    WORD major = 0, minor = 0;
    WORD alignment = 0;
    WORD size_vft = 0;
    ULONG size_instance = 0;
    std::vector<TlbImpl> impls;
    std::vector<TlbFunc> funcs;
};

/// A type of another library, as far as this file tells: its identity and kind.
struct TlbImport {
    GUID guid{};
    TYPEKIND kind = TKIND_INTERFACE;
};

struct TlbLibrary {
    GUID libid{};
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    WORD major = 0, minor = 0, flags = 0;
    std::u16string_view name;
    std::optional<std::u16string_view> doc;
    int ptr_size = 4;
    std::vector<TlbType> types;
    std::vector<TlbImport> imports;  ///< in file order; hreftype = 12 * index | 1

    /// The imported type `href` names, or nullptr.
    const TlbImport* import(HREFTYPE href) const noexcept;

    /// The texts the views above point into, one per name or string of the file.
    std::deque<std::u16string> texts;

    TlbLibrary() = default;
    TlbLibrary(const TlbLibrary&) = delete;  // the views point into `texts`
    TlbLibrary& operator=(const TlbLibrary&) = delete;
};

/// Reads an MSFT image into `out`. Returns S_OK; TYPE_E_CANTLOADLIBRARY when the data is not
/// an MSFT type library; TYPE_E_UNSUPFORMAT for another version of the format;
/// TYPE_E_INVALIDSTATE when it is one but damaged (anything out of bounds or inconsistent);
/// E_OUTOFMEMORY. Never throws; `out` is null on failure.
HRESULT parse_msft(std::string_view image, std::shared_ptr<const TlbLibrary>& out) noexcept;

/// The bytes of the ELF section `name` of the file's image, if it is a little-endian 64-bit
/// ELF file holding it whole; nullopt for anything else, damaged headers included.
std::optional<std::string_view> elf_section(std::string_view file, std::string_view name) noexcept;

/// The hreftype of local type `index`, as the format numbers it.
inline HREFTYPE local_href(std::size_t index) { return static_cast<HREFTYPE>(index * 0x64); }

}  // namespace pelmora::com
