#pragma once
// Failures of a calculation, numbered and worded as the automation runtime numbers and words them.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pelmora::calc {

/// The four ways a calculation can fail, with the automation runtime's error numbers.
enum class FailureKind : std::uint8_t {
    type_mismatch = 13,        ///< "Type mismatch": text that does not read as a number
    invalid_use_of_null = 94,  ///< "Invalid use of Null": Null read as a number
    overflow = 6,              ///< "Overflow": overflow, 0/0 or invalid operation, or an integer store out of range
    division_by_zero = 11,     ///< "Division by zero": finite non-zero dividend over zero
};

/// A failed calculation. number() and text() are the runtime's; what() adds the argument or
/// quantity involved, e.g. "Type mismatch (bwt)".
class Failure : public std::runtime_error {
public:
    Failure(FailureKind kind, const std::string& subject);

    [[nodiscard]] FailureKind kind() const noexcept { return kind_; }
    /// The runtime error number: 13, 94, 6 or 11.
    [[nodiscard]] int number() const noexcept { return static_cast<int>(kind_); }
    /// The runtime's fixed text: "Type mismatch", "Invalid use of Null", "Overflow", "Division by zero".
    [[nodiscard]] const char* text() const noexcept { return text_of(kind_); }
    /// The argument or quantity named in the message ("bwt", "spread", ...); may be empty.
    [[nodiscard]] const std::string& subject() const noexcept { return subject_; }

    [[nodiscard]] static const char* text_of(FailureKind kind) noexcept;

private:
    FailureKind kind_;
    std::string subject_;
};

}  // namespace pelmora::calc
