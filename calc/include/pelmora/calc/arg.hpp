#pragma once
// The argument value type: the part of OLE Automation's VARIANT that the calculators see.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelmora::calc {

/// What an Arg holds.
enum class Kind : std::uint8_t {
    empty,    ///< no value (VT_EMPTY): a missing input
    null,     ///< Null (VT_NULL)
    i2,       ///< 16-bit signed integer (VT_I2)
    i4,       ///< 32-bit signed integer (VT_I4)
    r8,       ///< IEEE double (VT_R8)
    boolean,  ///< boolean (VT_BOOL); reads as -1 (true) or 0 (false)
    text,     ///< text (VT_BSTR), held as UTF-8
    ref_r8,   ///< reference to a caller's double (VT_BYREF|VT_R8)
    ref_i2,   ///< reference to a caller's 16-bit integer (VT_BYREF|VT_I2)
    ref_i4,   ///< reference to a caller's 32-bit integer (VT_BYREF|VT_I4)
    ref_arg,  ///< reference to a caller's variant (VT_BYREF|VT_VARIANT)
};

/// A calculator argument. Value kinds own their value; reference kinds point at the caller's
/// storage, which must outlive the Arg. Copying copies the value or the reference, never the
/// referenced storage.
class Arg {
public:
    Arg() noexcept = default;  ///< Empty

    [[nodiscard]] static Arg null() noexcept;
    [[nodiscard]] static Arg i2(std::int16_t v) noexcept;
    [[nodiscard]] static Arg i4(std::int32_t v) noexcept;
    [[nodiscard]] static Arg r8(double v) noexcept;
    [[nodiscard]] static Arg boolean(bool v) noexcept;
    [[nodiscard]] static Arg text(std::string v);
    [[nodiscard]] static Arg ref(double* p) noexcept;
    [[nodiscard]] static Arg ref(std::int16_t* p) noexcept;
    [[nodiscard]] static Arg ref(std::int32_t* p) noexcept;
    [[nodiscard]] static Arg ref(Arg* p) noexcept;

    [[nodiscard]] Kind kind() const noexcept { return kind_; }
    /// The value an argument stands for: follows reference kinds to the value they refer to.
    /// A reference to a caller's double or integer yields a value Arg of that type.
    [[nodiscard]] Arg value() const;

    // Raw accessors of the held value (precondition: the matching kind).
    [[nodiscard]] std::int16_t as_i2() const noexcept { return static_cast<std::int16_t>(i4_); }
    [[nodiscard]] std::int32_t as_i4() const noexcept { return i4_; }
    [[nodiscard]] double as_r8() const noexcept { return r8_; }
    [[nodiscard]] bool as_bool() const noexcept { return i4_ != 0; }
    [[nodiscard]] const std::string& as_text() const noexcept { return text_; }

    // --- The three uses of an argument -------------------------------------------------
    /// Tested against the empty text: Empty and text of length zero are missing; numbers
    /// (0 included) and Null are not. Never throws.
    [[nodiscard]] bool is_missing() const noexcept;
    /// True when the argument holds Null, directly or through a reference to a variant.
    [[nodiscard]] bool is_null() const noexcept;
    /// Read as a number. Throws Failure: type mismatch for text that does not read as a number,
    /// invalid use of Null for Null. `name` names the argument in the message.
    [[nodiscard]] double read_number(std::string_view name) const;
    /// Compared with an integer code: numbers compare by value (2.0 equals 2, 2.5 equals no
    /// code), Null equals no code, numeric text compares by its value, other text throws a
    /// type mismatch naming `name`.
    [[nodiscard]] bool equals_code(int code, std::string_view name) const;
    /// The value that equals_code compares: nullopt for Null (which equals no code), the number
    /// otherwise. Throws as equals_code does. Lets a chain of code tests read the argument once.
    [[nodiscard]] std::optional<double> code_value(std::string_view name) const;

    // --- Write-back ----------------------------------------------------------------------
    /// Stores a double into the argument, as an assignment to a by-reference variant does:
    /// a value Arg becomes a double; a reference to a double stores it; a reference to an
    /// integer stores it rounded to nearest, ties to even (Failure overflow when out of range);
    /// a reference to a variant stores into that variant by the same rules.
    void store(double v, std::string_view name);
    /// Stores Null (Null divided by a number is Null). A reference to a double or integer
    /// cannot hold Null: Failure invalid use of Null.
    void store_null(std::string_view name);

    /// Text reads as a number when, after optional surrounding blanks, it is an optional sign,
    /// digits with an optional full stop and digits, and an optional exponent; the value is the
    /// correctly rounded nearest double. Returns false for any other text.
    [[nodiscard]] static bool parse_number(std::string_view s, double& out) noexcept;

    friend bool operator==(const Arg&, const Arg&) = default;

private:
    Kind kind_ = Kind::empty;
    std::int32_t i4_ = 0;  // i2, i4, boolean
    double r8_ = 0.0;
    std::string text_;
    void* ref_ = nullptr;  // reference kinds
};

}  // namespace pelmora::calc
