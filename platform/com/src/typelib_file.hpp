#pragma once
// A reader of the MSFT type library format (what widl and Windows' own tools write): the
// library's attributes and, per type, its attributes, implemented types and functions.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmora_com_api.h"

namespace pelmora::com {

/// A type as a chain: VT_PTR / VT_SAFEARRAY entries point at the next; VT_USERDEFINED has href.
struct TypeChain {
    std::vector<VARTYPE> vts;
    HREFTYPE href = 0;
};

struct TlbParam {
    std::u16string name;
    TypeChain type;
    USHORT flags = 0;
};

struct TlbFunc {
    MEMBERID memid = 0;
    std::u16string name;
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
    std::u16string name;
    std::optional<std::u16string> doc;
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
    std::u16string name;
    std::optional<std::u16string> doc;
    int ptr_size = 4;
    std::vector<TlbType> types;
    std::map<HREFTYPE, TlbImport> imports;  // by hreftype (offset in the import table | 1)
};

/// Parses an MSFT image. Returns nullptr when the data is not a well-formed MSFT type library.
std::shared_ptr<const TlbLibrary> parse_msft(std::string_view data);

/// The bytes of the ELF section `name` of the file's image, if it is an ELF file holding it.
std::optional<std::string_view> elf_section(std::string_view file, std::string_view name);

/// The hreftype of local type `index`, as the format numbers it.
inline HREFTYPE local_href(std::size_t index) { return static_cast<HREFTYPE>(index * 0x64); }

}  // namespace pelmora::com
