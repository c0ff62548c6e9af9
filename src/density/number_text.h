// Numbers as the user sees and types them.
//
// Two conversions to text (the value box under the user's locale; the
// invariant one of the result message) and two parses (the leading-number
// parse of Tab and Enter; the locale conversion of leaving the box and OK).
// No parse ever yields an infinity or a NaN.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ponderix {

// The value box's text: rounded to 15 significant digits, trailing zeros
// dropped, `decimalSeparator` as the point, no grouping; exponent form
// ("1E+15", "1E-05") when the rounded decimal exponent is below -4 or 15 and above.
std::string FormatLocaleNumber(double value, std::string_view decimalSeparator);

// The result message's form: a leading blank (or "-" when negative), "." as
// the point, at most 15 significant digits, the same exponent rule.
std::string FormatInvariantNumber(double value);

// The parse of Tab and Enter: blanks, tabs and line feeds are ignored
// anywhere; reads a leading number ("7.85kg" -> 7.85, "7,85" -> 7, "abc" -> 0,
// "&HFF" -> 255, "&O17" -> 15). Empty only when the number is too large for a double.
std::optional<double> ParseLeadingNumber(std::string_view text);

// The locale conversion: the whole text, blanks around it allowed, must be a
// number written with `decimalSeparator`. Empty for anything else, the empty
// text included, and for a number too large for a double.
std::optional<double> ParseLocaleNumber(std::string_view text, std::string_view decimalSeparator);

}  // namespace ponderix
