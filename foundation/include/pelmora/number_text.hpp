#pragma once
// Numbers in text: the one reader behind every conversion of text to a number (calculator
// arguments, the form's lists, the COM layer's variant conversions, the command line), the one
// rounding of a double to an integer, and the shortest text of a double where it is written by
// the million.

#include <charconv>
#include <optional>
#include <string_view>

namespace pelmora {

/// Which texts read as a number. Every syntax reads, after optional blanks (spaces and tabs), an
/// optional sign, digits with an optional full stop and digits, and an optional exponent (E or e,
/// an optional sign and digits); the options widen that.
struct NumberSyntax {
    bool leading_part = false;  ///< the number at the start of the text; the rest is ignored
    bool bare_point = false;    ///< digits on one side of the full stop suffice ("5.", ".5")
    bool d_exponent = false;    ///< D or d marks the exponent as E or e does
};

/// Calculator arguments: the whole text, blanks around it allowed; "5." and ".5" do not read.
inline constexpr NumberSyntax argument_syntax{};
/// The form's leading-number conversion: the number the text starts with, "5." and ".5" included,
/// an E or a D exponent; an exponent without digits is not part of the number.
inline constexpr NumberSyntax leading_syntax{.leading_part = true, .bare_point = true, .d_exponent = true};
/// OLE Automation's conversion of text to a double (VariantChangeType): the whole text, blanks
/// around it allowed, "5." and ".5" included.
inline constexpr NumberSyntax automation_syntax{.bare_point = true};

/// Reads the number in `text` by `syntax`. The value is the correctly rounded nearest double;
/// beyond the largest double it is infinity, below the smallest 0 (each with the text's sign).
/// nullopt when the text does not read as a number (in a leading syntax: does not start with
/// one). Allocates only for a D exponent (may then throw std::bad_alloc); never throws otherwise.
[[nodiscard]] std::optional<double> number_in_text(std::string_view text, NumberSyntax syntax = argument_syntax);

/// std::to_chars(first, last, v): the shortest text that reads back as v, fixed or scientific
/// notation, whichever is shorter. The same characters, written in under half the time for the
/// doubles of 2^-10 <= |v| < 2^52 (where the platform has 128-bit integers), which may leave
/// other characters in the first 24 of [first, last) beyond the text.
[[nodiscard]] std::to_chars_result shortest_text(char* first, char* last, double v) noexcept;

/// Rounds to the nearest integer, ties to even, whatever the current rounding mode: automation's
/// rounding of a double stored into an integer. NaN and infinities come back unchanged.
[[nodiscard]] double round_half_even(double v) noexcept;

}  // namespace pelmora
