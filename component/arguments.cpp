#include "arguments.hpp"

#include <bit>
#include <new>
#include <string>

#include "pelmora/calc/failure.hpp"
#include "text.hpp"

namespace pelmora::component {
namespace {

using calc::Arg;
using calc::Kind;

// The argument's name for a failure's message.
std::string param_name(std::size_t index) {
    const auto* table = methods();
    return table ? to_utf8((*table)[0].params[index]) : std::string();
}

[[noreturn]] void type_mismatch(std::size_t index) {
    throw calc::Failure(pelmora::Error::type_mismatch, param_name(index));
}

// Exactly the same value (the sign of zero included): only then is nothing written back.
bool same(const Arg& a, const Arg& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
    case Kind::r8: return std::bit_cast<std::uint64_t>(a.as_r8()) == std::bit_cast<std::uint64_t>(b.as_r8());
    case Kind::text: return a.as_text() == b.as_text();
    default: return a == b;
    }
}

// The value of a variant that holds a value, or nothing for a type the calculators cannot take.
bool value_of(const VARIANT& v, Arg& out) {
    switch (V_VT(&v)) {
    case VT_EMPTY: out = Arg(); return true;
    case VT_NULL: out = Arg::null(); return true;
    case VT_I2: out = Arg::i2(V_I2(&v)); return true;
    case VT_I4: out = Arg::i4(static_cast<std::int32_t>(V_I4(&v))); return true;
    case VT_R8: out = Arg::r8(V_R8(&v)); return true;
    case VT_BOOL: out = Arg::boolean(V_BOOL(&v) != VARIANT_FALSE); return true;
    case VT_BSTR: out = Arg::text(to_utf8(view_of(V_BSTR(&v)))); return true;
    default: return false;
    }
}

BSTR make_bstr(const OleString& s) {
    BSTR b = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    if (!b) throw std::bad_alloc();
    return b;
}

// The text a value becomes when stored into a caller's text, as a by-reference string
// variable holds an assigned number.
BSTR text_of(const Arg& value, std::size_t index) {
    if (value.kind() == Kind::text) return make_bstr(to_ole(value.as_text()));
    if (value.kind() == Kind::empty) return make_bstr(OleString());
    if (value.kind() == Kind::null) throw calc::Failure(pelmora::Error::invalid_use_of_null, param_name(index));
    VARIANT number;
    VariantInit(&number);
    to_variant(value, &number);
    VARIANT text;
    VariantInit(&text);
    const HRESULT hr = VariantChangeTypeEx(&text, &number, MAKELCID(0x0409, 0), 0, VT_BSTR);
    VariantClear(&number);
    if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
    if (FAILED(hr)) type_mismatch(index);
    return V_BSTR(&text);
}

}  // namespace

void to_variant(const Arg& in, VARIANT* out) {
    VariantInit(out);
    const Arg value = in.value();
    switch (value.kind()) {
    case Kind::null: V_VT(out) = VT_NULL; break;
    case Kind::i2:
        V_VT(out) = VT_I2;
        V_I2(out) = value.as_i2();
        break;
    case Kind::i4:
        V_VT(out) = VT_I4;
        V_I4(out) = value.as_i4();
        break;
    case Kind::r8:
        V_VT(out) = VT_R8;
        V_R8(out) = value.as_r8();
        break;
    case Kind::boolean:
        V_VT(out) = VT_BOOL;
        V_BOOL(out) = value.as_bool() ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case Kind::text:
        V_BSTR(out) = make_bstr(to_ole(value.as_text()));
        V_VT(out) = VT_BSTR;
        break;
    default: break;  // Empty
    }
}

Arguments::~Arguments() {
    for (auto& s : slots_)
        if (s.has_temporary) VariantClear(&s.temporary);
}

HRESULT Arguments::bind(std::size_t index, VARIANT* caller) { return bind_at(slots_[index], caller, 0); }

HRESULT Arguments::bind_dispatch(std::size_t index, VARIANT* arg) {
    Slot& s = slots_[index];
    if (V_VT(arg) & VT_BYREF) {
        if (!V_BYREF(arg)) return E_POINTER;
        if (V_VT(arg) == (VT_BYREF | VT_VARIANT)) return bind_at(s, V_VARIANTREF(arg), 0);
        // A typed reference: bound through a variant holding that reference, as the vtable
        // receives it from a caller who passes a reference inside a variant.
        s.temporary = *arg;
        return bind_at(s, &s.temporary, 0);
    }
    // By value: the calculator works on a temporary; nothing goes back.
    VariantInit(&s.temporary);
    s.has_temporary = true;
    const HRESULT hr = VariantCopy(&s.temporary, arg);
    if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
    if (FAILED(hr)) type_mismatch(index);
    return bind_at(s, &s.temporary, 0);
}

HRESULT Arguments::bind_at(Slot& s, VARIANT* caller, int depth) {
    const auto index = static_cast<std::size_t>(&s - slots_.data());
    if (!caller) return E_POINTER;
    const VARTYPE vt = V_VT(caller);
    if (!(vt & VT_BYREF)) {
        if (!value_of(*caller, s.copy)) type_mismatch(index);
        s.original = s.copy;
        s.target = Target::variant;
        s.variant = caller;
        s.arg = Arg::ref(&s.copy);
        return S_OK;
    }
    if (!V_BYREF(caller)) return E_POINTER;
    switch (vt & ~VT_BYREF) {
    case VT_R8: s.arg = Arg::ref(V_R8REF(caller)); return S_OK;
    case VT_I2: s.arg = Arg::ref(static_cast<std::int16_t*>(V_I2REF(caller))); return S_OK;
    case VT_I4:
        s.i4 = V_I4REF(caller);
        s.i4_value = static_cast<std::int32_t>(*s.i4);
        s.target = Target::i4;
        s.arg = Arg::ref(&s.i4_value);
        return S_OK;
    case VT_BSTR:
        s.copy = Arg::text(to_utf8(view_of(*V_BSTRREF(caller))));
        s.original = s.copy;
        s.bstr = V_BSTRREF(caller);
        s.target = Target::bstr;
        s.arg = Arg::ref(&s.copy);
        return S_OK;
    case VT_VARIANT:
        // A variant holding a reference to a variant: follow it (once; deeper nesting is not
        // something automation produces).
        if (depth > 0) type_mismatch(index);
        return bind_at(s, V_VARIANTREF(caller), depth + 1);
    default: type_mismatch(index);
    }
}

void Arguments::write_back() {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = slots_[i];
        switch (s.target) {
        case Target::variant:
            if (!same(s.copy, s.original)) {
                VARIANT fresh;
                to_variant(s.copy, &fresh);
                VariantClear(s.variant);
                *s.variant = fresh;
                s.original = s.copy;
            }
            break;
        case Target::bstr:
            if (!same(s.copy, s.original)) {
                BSTR fresh = text_of(s.copy, i);
                SysFreeString(*s.bstr);
                *s.bstr = fresh;
                s.original = s.copy;
            }
            break;
        case Target::i4: *s.i4 = s.i4_value; break;
        case Target::none: break;
        }
    }
}

}  // namespace pelmora::component
