// IDispatch::GetIDsOfNames and Invoke of the control with any DISPPARAMS a caller can build.
// Input, three lines: the names to look up; "flags dispid [named [no-result]]" (dispid "=" is
// the first name's id); the arguments, first to last, in the notation of fuzz_support.hpp.
// Every variant handed in is well formed: a finding is the control's fault.

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "control.hpp"
#include "fuzz_support.hpp"

namespace {

using pelmora::fuzz::Token;

template <class T>
T number(std::string_view s) {
    T v = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        std::from_chars(s.data() + 2, s.data() + s.size(), v, 16);
    else std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

BSTR bstr(std::string_view s) {
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(s.size()));
    for (std::size_t i = 0; i < s.size(); ++i) b[i] = static_cast<OLECHAR>(static_cast<unsigned char>(s[i]));
    return b;
}

// One argument and the storage a reference in it points at.
struct Slot {
    VARIANT arg;
    VARIANT target;  // behind VT_BYREF | VT_VARIANT
    double r8 = 0;
    SHORT i2 = 0;
    LONG i4 = 0;
    BSTR text = nullptr;
    alignas(16) unsigned char zeros[32] = {};  // behind x:N by reference

    Slot() {
        VariantInit(&arg);
        VariantInit(&target);
    }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ~Slot() {
        // Whatever the control wrote back is ours to free.
        const VARTYPE vt = V_VT(&arg);
        if (vt & VT_BYREF) {
            if ((vt & ~VT_BYREF) == VT_BSTR && V_BSTRREF(&arg)) SysFreeString(*V_BSTRREF(&arg));
            if ((vt & ~VT_BYREF) == VT_VARIANT && V_VARIANTREF(&arg)) VariantClear(V_VARIANTREF(&arg));
        } else {
            VariantClear(&arg);
        }
    }

    void fill(const Token& t) {
        VARIANT v;
        VariantInit(&v);
        switch (t.kind) {
        case 'n': V_VT(&v) = VT_NULL; break;
        case 't':
        case 'f':
            V_VT(&v) = VT_BOOL;
            V_BOOL(&v) = t.kind == 't' ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case 's':
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = bstr(t.text);
            break;
        case 'i':
            V_VT(&v) = VT_I2;
            V_I2(&v) = number<SHORT>(t.text);
            break;
        case 'l':
            V_VT(&v) = VT_I4;
            V_I4(&v) = number<LONG>(t.text);
            break;
        case '?':
            V_VT(&v) = VT_ERROR;
            V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
            break;
        case 'd': {
            double d = 0;
            const auto r = std::from_chars(t.text.data(), t.text.data() + t.text.size(), d);
            if (r.ec == std::errc() && r.ptr == t.text.data() + t.text.size()) {
                V_VT(&v) = VT_R8;
                V_R8(&v) = d;
            } else {
                V_VT(&v) = VT_BSTR;
                V_BSTR(&v) = bstr(t.text);
            }
            break;
        }
        case 'x':  // any type; a reference points at zeros, a value is zeros
            V_VT(&arg) = number<VARTYPE>(t.text);
            if (V_VT(&arg) & VT_BYREF) V_BYREF(&arg) = zeros;
            return;
        default: break;  // Empty
        }
        if (!t.by_ref) {
            arg = v;
            return;
        }
        switch (V_VT(&v)) {
        case VT_R8:
            r8 = V_R8(&v);
            V_VT(&arg) = VT_BYREF | VT_R8;
            V_R8REF(&arg) = &r8;
            break;
        case VT_I2:
            i2 = V_I2(&v);
            V_VT(&arg) = VT_BYREF | VT_I2;
            V_I2REF(&arg) = &i2;
            break;
        case VT_I4:
            i4 = V_I4(&v);
            V_VT(&arg) = VT_BYREF | VT_I4;
            V_I4REF(&arg) = &i4;
            break;
        case VT_BSTR:
            text = V_BSTR(&v);
            V_VT(&arg) = VT_BYREF | VT_BSTR;
            V_BSTRREF(&arg) = &text;
            break;
        default:
            target = v;
            V_VT(&arg) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&arg) = &target;
            break;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    IDispatch* control = pelmora::fuzz::control();
    std::string_view in = pelmora::fuzz::text_of(data, size);

    // GetIDsOfNames with what the first line names.
    std::vector<std::u16string> names;
    for (const Token& t : pelmora::fuzz::tokens(pelmora::fuzz::next_line(in), 16))
        names.emplace_back(t.text.empty() ? std::u16string(1, static_cast<char16_t>(t.kind))
                                          : std::u16string(t.text.begin(), t.text.end()));
    std::vector<LPOLESTR> pointers;
    for (auto& n : names) pointers.push_back(n.data());
    std::vector<DISPID> ids(names.size() + 1, 0);
    control->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT, ids.data());

    // Invoke.
    const auto how = pelmora::fuzz::tokens(pelmora::fuzz::next_line(in), 4);
    auto field = [&](std::size_t k) { return k < how.size() ? how[k].text : std::string_view(); };
    const auto flags = number<WORD>(field(0));
    const DISPID dispid = field(1) == "=" ? ids[0] : number<DISPID>(field(1));
    const auto args = pelmora::fuzz::tokens(pelmora::fuzz::next_line(in), 16);
    std::vector<Slot> slots(args.size());
    std::vector<VARIANT> rgvarg(args.size());
    for (std::size_t k = 0; k < args.size(); ++k) slots[k].fill(args[k]);
    for (std::size_t k = 0; k < args.size(); ++k) rgvarg[args.size() - 1 - k] = slots[k].arg;  // last first
    std::vector<DISPID> named(args.size());
    for (std::size_t k = 0; k < named.size(); ++k) named[k] = static_cast<DISPID>(k);
    DISPPARAMS params{rgvarg.data(), named.data(), static_cast<UINT>(args.size()),
                      std::min(number<UINT>(field(2)), static_cast<UINT>(args.size()))};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT arg_err = 0;
    control->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, field(3).empty() ? &result : nullptr, &excep,
                    &arg_err);
    // By-value arguments are the caller's: the control may not have changed them.
    for (std::size_t k = 0; k < args.size(); ++k)
        if (std::memcmp(&rgvarg[args.size() - 1 - k], &slots[k].arg, sizeof(VARIANT)) != 0) std::abort();
    VariantClear(&result);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK) info->Release();
    return 0;
}
