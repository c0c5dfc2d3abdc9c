// BSTR: UTF-16 text preceded by its length in bytes (4 bytes) and followed by a terminating zero.

#include <cstdlib>
#include <cstring>
#include <limits>

#include "pelmora_com_api.h"

namespace {

BSTR allocate(std::size_t bytes) {
    if (bytes > std::numeric_limits<std::uint32_t>::max() - 16) return nullptr;
    auto* block = static_cast<unsigned char*>(std::calloc(1, sizeof(std::uint32_t) + bytes + sizeof(OLECHAR) + 1));
    if (!block) return nullptr;
    const auto n = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &n, sizeof n);
    return reinterpret_cast<BSTR>(block + sizeof(std::uint32_t));
}

unsigned char* block_of(BSTR s) { return reinterpret_cast<unsigned char*>(s) - sizeof(std::uint32_t); }

}  // namespace

STDAPI_(BSTR) SysAllocStringLen(const OLECHAR* str, UINT len) {
    BSTR s = allocate(std::size_t{len} * sizeof(OLECHAR));
    if (s && str) std::memcpy(s, str, std::size_t{len} * sizeof(OLECHAR));
    return s;
}

STDAPI_(BSTR) SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    std::size_t n = 0;
    while (psz[n]) ++n;
    if (n > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(n));
}

STDAPI_(BSTR) SysAllocStringByteLen(LPCSTR psz, UINT len) {
    BSTR s = allocate(len);
    if (s && psz) std::memcpy(s, psz, len);
    return s;
}

STDAPI_(INT) SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr) return FALSE;
    BSTR s = SysAllocString(psz);
    if (psz && !s) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = s;
    return TRUE;
}

STDAPI_(void) SysFreeString(BSTR s) {
    if (s) std::free(block_of(s));
}

STDAPI_(UINT) SysStringByteLen(BSTR s) {
    if (!s) return 0;
    std::uint32_t n = 0;
    std::memcpy(&n, block_of(s), sizeof n);
    return n;
}

STDAPI_(UINT) SysStringLen(BSTR s) { return SysStringByteLen(s) / static_cast<UINT>(sizeof(OLECHAR)); }
