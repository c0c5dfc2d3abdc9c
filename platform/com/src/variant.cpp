// VARIANT: initialise, clear, copy, and the conversions among the types the component meets
// (Empty, Null, I2, I4, R8, Bool, BSTR).

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "pelmora/number_text.hpp"
#include "pelmora_com_api.h"
#include "text.hpp"

using pelmora::com::make_bstr;
using pelmora::com::to_utf16;
using pelmora::com::to_utf8;

namespace {

bool valid_base_type(VARTYPE vt) {
    switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_RECORD: return true;
    default: return false;
    }
}

bool valid(VARTYPE vt) {
    if (vt & ~(VT_BYREF | VT_ARRAY | VT_TYPEMASK)) return false;
    if ((vt & VT_BYREF) && (vt & VT_TYPEMASK) <= VT_NULL && !(vt & VT_ARRAY)) return false;
    if (!(vt & VT_BYREF) && (vt & VT_TYPEMASK) == VT_VARIANT && !(vt & VT_ARRAY)) return false;
    return valid_base_type(vt);
}

// Banker's rounding, as OLE Automation rounds a double into an integer type.
bool round_into(double d, double lo, double hi, double& out) {
    if (std::isnan(d)) return false;
    const double r = pelmora::round_half_even(d);
    if (r < lo || r > hi) return false;
    out = r;
    return true;
}

// Text as a number, as VariantChangeType reads it here: the whole text with blanks around it, a
// sign, digits with a full stop ("5." and ".5" included) and an exponent. Windows also takes the
// user's locale's separators, currency signs and hexadecimal (&H); the control never sees those.
HRESULT text_to_double(BSTR s, double& out) {
    const std::string t = to_utf8(std::u16string_view(s ? s : u"", SysStringLen(s)));
    const std::optional<double> v = pelmora::number_in_text(t, pelmora::automation_syntax);
    if (!v) return DISP_E_TYPEMISMATCH;
    if (std::isinf(*v)) return DISP_E_OVERFLOW;
    out = *v;
    return S_OK;
}

// The text of a double with 15 significant digits, as OLE Automation writes it.
std::u16string double_to_text(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", d);
    return to_utf16(buf);
}

// Reads a scalar source (by value; references followed) into a double. Returns S_OK,
// DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW or DISP_E_BADVARTYPE.
HRESULT as_double(const VARIANT& v, double& out) {
    const bool ref = (v.vt & VT_BYREF) != 0;
    switch (v.vt & VT_TYPEMASK) {
    case VT_EMPTY: out = 0; return S_OK;
    case VT_I2: out = ref ? *v.piVal : v.iVal; return S_OK;
    case VT_I4: out = ref ? *v.plVal : v.lVal; return S_OK;
    case VT_R8: out = ref ? *v.pdblVal : v.dblVal; return S_OK;
    case VT_R4: out = static_cast<double>(ref ? *v.pfltVal : v.fltVal); return S_OK;
    case VT_BOOL: out = (ref ? *v.pboolVal : v.boolVal) ? -1.0 : 0.0; return S_OK;
    case VT_UI1: out = ref ? *v.pbVal : v.bVal; return S_OK;
    case VT_BSTR: return text_to_double(ref ? *v.pbstrVal : v.bstrVal, out);
    case VT_NULL: return DISP_E_TYPEMISMATCH;
    default: return DISP_E_BADVARTYPE;
    }
}

}  // namespace

STDAPI_(void) VariantInit(VARIANTARG* v) {
    if (!v) return;
    std::memset(static_cast<void*>(v), 0, sizeof *v);
    v->vt = VT_EMPTY;
}

STDAPI VariantClear(VARIANTARG* v) {
    if (!v) return E_INVALIDARG;
    if (!valid(v->vt)) return DISP_E_BADVARTYPE;
    if (!(v->vt & VT_BYREF)) {
        if (v->vt & VT_ARRAY) return DISP_E_BADVARTYPE;  // no SAFEARRAY support
        switch (v->vt) {
        case VT_BSTR: SysFreeString(v->bstrVal); break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (v->punkVal) v->punkVal->Release();
            break;
        default: break;
        }
    }
    VariantInit(v);
    return S_OK;
}

STDAPI VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (!valid(src->vt)) return DISP_E_BADVARTYPE;
    if (dest == src) return S_OK;
    if (!(src->vt & VT_BYREF) && (src->vt & VT_ARRAY)) return DISP_E_BADVARTYPE;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        if (src->vt == VT_BSTR && src->bstrVal) {
            copy.bstrVal =
                SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src->bstrVal), SysStringByteLen(src->bstrVal));
            if (!copy.bstrVal) return E_OUTOFMEMORY;
        } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) {
            src->punkVal->AddRef();
        }
    }
    const HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

STDAPI VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
    if (!valid(src->vt)) return DISP_E_BADVARTYPE;
    if (!src->byref) return E_INVALIDARG;
    VARIANT value;
    VariantInit(&value);
    const VARTYPE base = static_cast<VARTYPE>(src->vt & ~VT_BYREF);
    switch (base) {
    case VT_VARIANT: {
        const VARIANT* inner = src->pvarVal;
        if (inner->vt & VT_BYREF) return E_INVALIDARG;
        return VariantCopy(dest, inner);
    }
    case VT_I2: value.iVal = *src->piVal; break;
    case VT_I4: value.lVal = *src->plVal; break;
    case VT_R4: value.fltVal = *src->pfltVal; break;
    case VT_R8: value.dblVal = *src->pdblVal; break;
    case VT_BOOL: value.boolVal = *src->pboolVal; break;
    case VT_UI1: value.bVal = *src->pbVal; break;
    case VT_ERROR: value.scode = *src->pscode; break;
    case VT_DATE: value.date = *src->pdate; break;
    case VT_I8: value.llVal = *src->pllVal; break;
    case VT_BSTR:
        value.vt = VT_BSTR;
        value.bstrVal = *src->pbstrVal;
        return VariantCopy(dest, &value);
    case VT_UNKNOWN:
    case VT_DISPATCH:
        value.vt = base;
        value.punkVal = *src->ppunkVal;
        return VariantCopy(dest, &value);
    default: return DISP_E_BADVARTYPE;
    }
    value.vt = base;
    return VariantCopy(dest, &value);
}

// Reading text as a number allocates: running out of memory fails the call, and `from` (the
// only thing held then) is cleared on the way out.
STDAPI VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID, USHORT flags, VARTYPE vt) try {
    if (!dest || !src) return E_INVALIDARG;
    if (!valid(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT from;
    VariantInit(&from);
    struct Clear {
        VARIANT& v;
        ~Clear() { VariantClear(&v); }
    } clear_from{from};
    HRESULT hr = VariantCopyInd(&from, src);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    result.vt = vt;
    if (from.vt == vt) {
        hr = VariantCopy(&result, &from);
    } else if (vt == VT_EMPTY) {
        hr = S_OK;
    } else if (from.vt == VT_NULL) {
        hr = DISP_E_TYPEMISMATCH;
    } else if (vt == VT_NULL) {
        hr = DISP_E_TYPEMISMATCH;
    } else if (vt == VT_BSTR) {
        if (from.vt == VT_BOOL) {
            const bool t = from.boolVal != 0;
            result.bstrVal = make_bstr((flags & VARIANT_ALPHABOOL) ? (t ? u"True" : u"False") : (t ? u"-1" : u"0"));
        } else if (from.vt == VT_EMPTY) {
            result.bstrVal = make_bstr(u"");
        } else {
            double d = 0;
            hr = as_double(from, d);
            if (SUCCEEDED(hr)) result.bstrVal = make_bstr(double_to_text(d));
        }
        if (SUCCEEDED(hr) && !result.bstrVal) hr = E_OUTOFMEMORY;
    } else {
        double d = 0;
        hr = as_double(from, d);
        if (SUCCEEDED(hr)) {
            double r = 0;
            switch (vt) {
            case VT_R8: result.dblVal = d; break;
            case VT_BOOL: result.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
            case VT_I2:
                if (round_into(d, -32768.0, 32767.0, r)) result.iVal = static_cast<SHORT>(r);
                else hr = DISP_E_OVERFLOW;
                break;
            case VT_I4:
                if (round_into(d, -2147483648.0, 2147483647.0, r)) result.lVal = static_cast<LONG>(r);
                else hr = DISP_E_OVERFLOW;
                break;
            default: hr = DISP_E_BADVARTYPE; break;
            }
        }
    }
    if (FAILED(hr)) {
        if (vt == VT_BSTR) SysFreeString(result.bstrVal);
        return hr;
    }
    if (vt == VT_EMPTY) result.vt = VT_EMPTY;
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *dest = result;
    return S_OK;
} catch (...) {
    return E_OUTOFMEMORY;
}

STDAPI VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
    return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}
