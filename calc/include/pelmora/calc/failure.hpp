#pragma once
// Failures of a calculation, numbered and worded as the automation runtime numbers and words them.

#include <stdexcept>
#include <string>

#include "pelmora/errors.hpp"

namespace pelmora::calc {

/// A failed calculation: one of four run-time errors, type_mismatch (text that does not read as a
/// number), invalid_use_of_null (Null read as a number), overflow (overflow, 0/0 or an invalid
/// operation, or an integer store out of range) and division_by_zero (a finite non-zero dividend
/// over zero). number() and text() are the runtime's; what() adds the argument or
/// quantity involved, e.g. "Type mismatch (bwt)".
class Failure : public std::runtime_error {
public:
    Failure(Error kind, const std::string& subject);

    [[nodiscard]] Error kind() const noexcept { return kind_; }
    /// The run-time error number.
    [[nodiscard]] int number() const noexcept { return error_number(kind_); }
    /// The runtime's fixed text: "Type mismatch", "Invalid use of Null", "Overflow", "Division by zero".
    [[nodiscard]] const char* text() const noexcept { return error_text(kind_); }
    /// The argument or quantity named in the message ("bwt", "spread", ...); may be empty.
    [[nodiscard]] const std::string& subject() const noexcept { return subject_; }

private:
    Error kind_;
    std::string subject_;
};

}  // namespace pelmora::calc
