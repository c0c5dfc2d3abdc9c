#pragma once
// The seven by-reference variants of a calculator call as the calculators' arguments, and the
// way their changes get back to the caller.
//
// Every argument reaches the calculator as a reference. A reference to a caller's double or
// 16-bit integer is passed straight through, so a write lands at once; any other argument is
// copied into a value the calculator may change, and that change is written back to the
// caller's storage after the call (also after a failure: writes made before it stay).

#include <array>
#include <cstdint>

#include "com.hpp"
#include "module.hpp"
#include "pelmora/calc/arg.hpp"

namespace pelmora::component {

class Arguments {
public:
    /// Binds the variants the caller may change (the vtable's `VARIANT*`, or a by-reference
    /// dispatch argument's target). Throws calc::Failure (type mismatch) for a variant type the
    /// calculators cannot take. Returns E_POINTER (and binds nothing) for a null reference.
    HRESULT bind(std::size_t index, VARIANT* caller);
    /// Binds a dispatch argument as it arrived in DISPPARAMS: a by-value argument is a
    /// temporary, a by-reference one refers to the caller's storage.
    HRESULT bind_dispatch(std::size_t index, VARIANT* arg);

    calc::Arg& operator[](std::size_t index) { return slots_[index].arg; }

    /// Writes the changed copies back to the callers' storage. Throws calc::Failure when a
    /// value cannot be stored there (Null into text); std::bad_alloc.
    void write_back();

    Arguments() = default;
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    ~Arguments();

private:
    enum class Target : std::uint8_t { none, variant, bstr, i4 };
    struct Slot {
        calc::Arg arg;       // what the calculator gets: always a reference
        calc::Arg copy;      // the value behind a copied argument
        calc::Arg original;  // that value before the call
        Target target = Target::none;
        VARIANT* variant = nullptr;  // Target::variant: the caller's variant
        BSTR* bstr = nullptr;        // Target::bstr: the caller's text
        LONG* i4 = nullptr;          // Target::i4: the caller's 32-bit integer
        std::int32_t i4_value = 0;
        VARIANT temporary;  // a by-value dispatch argument's copy
        bool has_temporary = false;
    };
    HRESULT bind_at(Slot& slot, VARIANT* caller, int depth);
    std::array<Slot, param_count> slots_{};
};

/// A calculator value as a fresh variant (`out` is overwritten, not cleared). std::bad_alloc.
void to_variant(const calc::Arg& value, VARIANT* out);

}  // namespace pelmora::component
