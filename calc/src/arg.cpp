#include "pelmora/calc/arg.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "pelmora/calc/failure.hpp"
#include "pelmora/number_text.hpp"

namespace pelmora::calc {
namespace {

// A reference to a variant may itself hold a reference; automation never nests them deeply, so a
// longer chain (or a cycle) is treated as a value of the wrong type.
constexpr int max_ref_depth = 8;

[[noreturn]] void fail(Error kind, std::string_view name) { throw Failure(kind, std::string(name)); }

template <typename Int>
Int to_integer(double v, std::string_view name) {
    const double r = round_half_even(v);
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (!(r >= lo && r <= hi)) fail(Error::overflow, name);  // NaN fails too
    return static_cast<Int>(r);
}

}  // namespace

Arg Arg::null() noexcept {
    Arg a;
    a.kind_ = Kind::null;
    return a;
}

Arg Arg::i2(std::int16_t v) noexcept {
    Arg a;
    a.kind_ = Kind::i2;
    a.i4_ = v;
    return a;
}

Arg Arg::i4(std::int32_t v) noexcept {
    Arg a;
    a.kind_ = Kind::i4;
    a.i4_ = v;
    return a;
}

Arg Arg::r8(double v) noexcept {
    Arg a;
    a.kind_ = Kind::r8;
    a.r8_ = v;
    return a;
}

Arg Arg::boolean(bool v) noexcept {
    Arg a;
    a.kind_ = Kind::boolean;
    a.i4_ = v ? 1 : 0;
    return a;
}

Arg Arg::text(std::string v) {
    Arg a;
    a.kind_ = Kind::text;
    a.text_ = std::move(v);
    return a;
}

Arg Arg::ref(double* p) noexcept {
    Arg a;
    a.kind_ = Kind::ref_r8;
    a.ref_ = p;
    return a;
}

Arg Arg::ref(std::int16_t* p) noexcept {
    Arg a;
    a.kind_ = Kind::ref_i2;
    a.ref_ = p;
    return a;
}

Arg Arg::ref(std::int32_t* p) noexcept {
    Arg a;
    a.kind_ = Kind::ref_i4;
    a.ref_ = p;
    return a;
}

Arg Arg::ref(Arg* p) noexcept {
    Arg a;
    a.kind_ = Kind::ref_arg;
    a.ref_ = p;
    return a;
}

Arg Arg::value() const {
    const Arg* a = this;
    for (int depth = 0; a->kind_ == Kind::ref_arg; ++depth) {
        if (depth == max_ref_depth) fail(Error::type_mismatch, "reference");
        a = static_cast<const Arg*>(a->ref_);
    }
    switch (a->kind_) {
    case Kind::ref_r8: return r8(*static_cast<const double*>(a->ref_));
    case Kind::ref_i2: return i2(*static_cast<const std::int16_t*>(a->ref_));
    case Kind::ref_i4: return i4(*static_cast<const std::int32_t*>(a->ref_));
    default: return *a;
    }
}

bool Arg::is_missing() const noexcept {
    const Arg* a = this;
    for (int depth = 0; a->kind_ == Kind::ref_arg; ++depth) {
        if (depth == max_ref_depth) return false;
        a = static_cast<const Arg*>(a->ref_);
    }
    switch (a->kind_) {
    case Kind::empty: return true;
    case Kind::text: return a->text_.empty();
    default: return false;  // numbers, 0 included, and Null (the comparison yields Null: false)
    }
}

bool Arg::is_null() const noexcept {
    const Arg* a = this;
    for (int depth = 0; a->kind_ == Kind::ref_arg; ++depth) {
        if (depth == max_ref_depth) return false;
        a = static_cast<const Arg*>(a->ref_);
    }
    return a->kind_ == Kind::null;
}

double Arg::read_number(std::string_view name) const {
    const Arg* a = this;
    for (int depth = 0; a->kind_ == Kind::ref_arg; ++depth) {
        if (depth == max_ref_depth) fail(Error::type_mismatch, name);
        a = static_cast<const Arg*>(a->ref_);
    }
    switch (a->kind_) {
    case Kind::empty: return 0.0;  // as automation reads Empty; the missing-input test keeps it out
    case Kind::null: fail(Error::invalid_use_of_null, name);
    case Kind::i2:
    case Kind::i4: return static_cast<double>(a->i4_);
    case Kind::r8: return a->r8_;
    case Kind::boolean: return a->i4_ != 0 ? -1.0 : 0.0;
    case Kind::text: {
        double v = 0;
        if (!parse_number(a->text_, v)) fail(Error::type_mismatch, name);
        if (std::isinf(v)) fail(Error::overflow, name);  // beyond the largest double
        return v;
    }
    case Kind::ref_r8: return *static_cast<const double*>(a->ref_);
    case Kind::ref_i2: return static_cast<double>(*static_cast<const std::int16_t*>(a->ref_));
    case Kind::ref_i4: return static_cast<double>(*static_cast<const std::int32_t*>(a->ref_));
    case Kind::ref_arg: break;
    }
    fail(Error::type_mismatch, name);
}

std::optional<double> Arg::code_value(std::string_view name) const {
    const Arg* a = this;
    for (int depth = 0; a->kind_ == Kind::ref_arg; ++depth) {
        if (depth == max_ref_depth) fail(Error::type_mismatch, name);
        a = static_cast<const Arg*>(a->ref_);
    }
    switch (a->kind_) {
    case Kind::null: return std::nullopt;
    case Kind::text: {
        double v = 0;
        if (!parse_number(a->text_, v)) fail(Error::type_mismatch, name);
        return v;
    }
    default: return read_number(name);
    }
}

bool Arg::equals_code(int code, std::string_view name) const {
    const std::optional<double> v = code_value(name);
    return v && *v == static_cast<double>(code);
}

void Arg::store(double v, std::string_view name) {
    Arg* a = this;
    for (int depth = 0; a->kind_ == Kind::ref_arg; ++depth) {
        if (depth == max_ref_depth) fail(Error::type_mismatch, name);
        a = static_cast<Arg*>(a->ref_);
    }
    switch (a->kind_) {
    case Kind::ref_r8: *static_cast<double*>(a->ref_) = v; return;
    case Kind::ref_i2: *static_cast<std::int16_t*>(a->ref_) = to_integer<std::int16_t>(v, name); return;
    case Kind::ref_i4: *static_cast<std::int32_t*>(a->ref_) = to_integer<std::int32_t>(v, name); return;
    default:  // a variant takes the double, whatever it held before
        a->kind_ = Kind::r8;
        a->i4_ = 0;
        a->r8_ = v;
        a->text_.clear();
        a->ref_ = nullptr;
        return;
    }
}

void Arg::store_null(std::string_view name) {
    Arg* a = this;
    for (int depth = 0; a->kind_ == Kind::ref_arg; ++depth) {
        if (depth == max_ref_depth) fail(Error::type_mismatch, name);
        a = static_cast<Arg*>(a->ref_);
    }
    switch (a->kind_) {
    case Kind::ref_r8:
    case Kind::ref_i2:
    case Kind::ref_i4: fail(Error::invalid_use_of_null, name);
    default: *a = null(); return;
    }
}

bool Arg::parse_number(std::string_view s, double& out) noexcept {
    const std::optional<double> v = number_in_text(s, argument_syntax);  // no D exponent: never throws
    if (!v) return false;
    out = *v;
    return true;
}

}  // namespace pelmora::calc
