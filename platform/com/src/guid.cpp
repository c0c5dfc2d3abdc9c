// Standard interface identifiers, GUID text and task memory.

#include <climits>
#include <cstdlib>
#include <cstring>

#include "pelmora_com_api.h"

#define PELMORA_IID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    extern "C" PELMORA_COM_API const IID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

PELMORA_IID(IID_NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
PELMORA_IID(GUID_NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
PELMORA_IID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PELMORA_IID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PELMORA_IID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PELMORA_IID(IID_ITypeInfo, 0x00020401, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PELMORA_IID(IID_ITypeLib, 0x00020402, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PELMORA_IID(IID_ITypeComp, 0x00020403, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PELMORA_IID(IID_IProvideClassInfo, 0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
PELMORA_IID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
PELMORA_IID(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
PELMORA_IID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
PELMORA_IID(IID_IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
PELMORA_IID(IID_IErrorInfo, 0x1CF2B120, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
PELMORA_IID(IID_ICreateErrorInfo, 0x22F03340, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
PELMORA_IID(IID_ISupportErrorInfo, 0xDF0B3D60, 0x548F, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
PELMORA_IID(IID_IOleWindow, 0x00000114, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PELMORA_IID(IID_IRecordInfo, 0x0000002F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }
STDAPI_(void) CoTaskMemFree(LPVOID pv) { std::free(pv); }

STDAPI_(int) StringFromGUID2(REFGUID g, LPOLESTR out, int cchMax) {
    static constexpr char hex[] = "0123456789ABCDEF";
    if (!out || cchMax < 39) return 0;
    int n = 0;
    auto put = [&](std::uint64_t v, int digits) {
        for (int i = digits - 1; i >= 0; --i) out[n++] = static_cast<OLECHAR>(hex[(v >> (4 * i)) & 0xF]);
    };
    out[n++] = u'{';
    put(g.Data1, 8);
    out[n++] = u'-';
    put(g.Data2, 4);
    out[n++] = u'-';
    put(g.Data3, 4);
    out[n++] = u'-';
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    out[n++] = u'-';
    for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
    out[n++] = u'}';
    out[n++] = 0;
    return n;
}

STDAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* out) {
    if (!out) return E_INVALIDARG;
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (!*out) return E_OUTOFMEMORY;
    StringFromGUID2(rclsid, *out, 39);
    return S_OK;
}

static bool parse_guid(LPCOLESTR s, GUID& g) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (!s) return false;
    int len = 0;
    while (s[len] && len < 40) ++len;
    if (len != 38 || s[0] != u'{' || s[37] != u'}') return false;
    auto digit = [&](int i, unsigned& v) {
        const OLECHAR c = s[i];
        if (c >= u'0' && c <= u'9') v = static_cast<unsigned>(c - u'0');
        else if (c >= u'a' && c <= u'f') v = static_cast<unsigned>(c - u'a' + 10);
        else if (c >= u'A' && c <= u'F') v = static_cast<unsigned>(c - u'A' + 10);
        else return false;
        return true;
    };
    auto read = [&](int at, int digits, std::uint64_t& v) {
        v = 0;
        for (int i = 0; i < digits; ++i) {
            unsigned d = 0;
            if (!digit(at + i, d)) return false;
            v = (v << 4) | d;
        }
        return true;
    };
    if (s[9] != u'-' || s[14] != u'-' || s[19] != u'-' || s[24] != u'-') return false;
    std::uint64_t v = 0;
    if (!read(1, 8, v)) return false;
    g.Data1 = static_cast<std::uint32_t>(v);
    if (!read(10, 4, v)) return false;
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!read(15, 4, v)) return false;
    g.Data3 = static_cast<std::uint16_t>(v);
    static constexpr int at[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!read(at[i], 2, v)) return false;
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

STDAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid) return E_INVALIDARG;
    if (!lpsz || !*lpsz) {
        *pclsid = GUID_NULL;
        return S_OK;
    }
    GUID g{};
    if (!parse_guid(lpsz, g)) {
        *pclsid = GUID_NULL;
        return CO_E_CLASSSTRING;
    }
    *pclsid = g;
    return S_OK;
}

STDAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
    if (!lpiid) return E_INVALIDARG;
    GUID g{};
    if (!parse_guid(lpsz, g)) return E_INVALIDARG;
    *lpiid = g;
    return S_OK;
}

WINBASEAPI int lstrlenW(LPCWSTR s) {
    if (!s) return 0;
    std::size_t n = 0;
    while (s[n]) ++n;
    return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}
