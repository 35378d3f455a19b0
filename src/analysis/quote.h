// Renders a string as a double-quoted literal for error messages, so that
// a caller's value or a term is shown exactly, invisible characters
// included: "\"" and "\\" are escaped with a backslash; tab, carriage
// return, line feed and NUL appear as \t, \r, \n and \0; other
// non-printable characters appear as \u{hex} (lower-case hexadecimal, no
// padding). Everything else is copied unchanged.
//
// Non-printable means General Category Cc, Cf, Cs, Co, Cn, Zl or Zp, or a
// space separator (Zs) other than U+0020. A byte that does not start a
// well-formed UTF-8 sequence is shown as \u{fffd}.
#ifndef VELLUM_ANALYSIS_QUOTE_H_
#define VELLUM_ANALYSIS_QUOTE_H_

#include <string>
#include <string_view>

namespace vellum {

std::string quoted_literal(std::string_view utf8);

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_QUOTE_H_
