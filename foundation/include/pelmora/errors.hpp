#pragma once
// The run-time errors: the one table of the error numbers and texts that Pelmora ever reports, in
// the automation runtime's numbering and wording. A host sees them as Err.Number and
// Err.Description (and as the status 0x800A0000 | number); the form's handlers, the toolkit, the
// command-line tool and the calculators all take their numbers and texts from here. It lives in the
// foundation, which depends on nothing, so that every layer can use it.

#include <cstdint>
#include <optional>

namespace pelmora {

/// Every run-time error Pelmora raises, numbered as the automation runtime numbers it.
enum class Error : std::uint16_t {
    invalid_argument = 5,          ///< "Invalid procedure call or argument": the platform refused a call's argument
    overflow = 6,                  ///< "Overflow": overflow, 0/0 or an invalid operation; an integer store out of range
    out_of_memory = 7,             ///< "Out of memory"
    division_by_zero = 11,         ///< "Division by zero": a finite non-zero dividend over zero
    type_mismatch = 13,            ///< "Type mismatch": text that does not read as a number, a value of the wrong type
    internal_error = 51,           ///< "Internal error": a failure of Pelmora's own that nothing else names
    object_not_set = 91,           ///< "Object variable or With block variable not set": a control that is gone
    invalid_use_of_null = 94,      ///< "Invalid use of Null": Null read as a number
    invalid_property_value = 380,  ///< "Invalid property value": a list text that is no item of the list
    automation_error = 440,        ///< "Automation error": a failing call whose status names no run-time error
    cannot_activate = 31027,       ///< "Unable to activate object": the control's window could not be created
};

struct ErrorEntry {
    Error error;
    const char* text;
};

/// The runtime's text of each error.
inline constexpr ErrorEntry error_table[] = {
    {Error::invalid_argument, "Invalid procedure call or argument"},
    {Error::overflow, "Overflow"},
    {Error::out_of_memory, "Out of memory"},
    {Error::division_by_zero, "Division by zero"},
    {Error::type_mismatch, "Type mismatch"},
    {Error::internal_error, "Internal error"},
    {Error::object_not_set, "Object variable or With block variable not set"},
    {Error::invalid_use_of_null, "Invalid use of Null"},
    {Error::invalid_property_value, "Invalid property value"},
    {Error::automation_error, "Automation error"},
    {Error::cannot_activate, "Unable to activate object"},
};

/// The run-time error number.
[[nodiscard]] constexpr int error_number(Error e) noexcept { return static_cast<int>(e); }

/// The runtime's fixed text of `e` (a NUL-terminated literal).
[[nodiscard]] constexpr const char* error_text(Error e) noexcept {
    for (const ErrorEntry& row : error_table)
        if (row.error == e) return row.text;
    return "Automation error";  // unreachable: every enumerator has a row
}

/// The error with run-time number `number`, if the table has it.
[[nodiscard]] constexpr std::optional<Error> error_numbered(long number) noexcept {
    for (const ErrorEntry& row : error_table)
        if (error_number(row.error) == number) return row.error;
    return std::nullopt;
}

}  // namespace pelmora
