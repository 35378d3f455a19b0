// Renders text as a double-quoted string literal for error messages, so
// that a term or a parameter value shows exactly, whatever it contains.
#ifndef VELLUM_COMMON_QUOTE_H_
#define VELLUM_COMMON_QUOTE_H_

#include <string>
#include <string_view>

namespace vellum {

// `text` (UTF-8) between double quotes. A double quote or backslash gets a
// backslash before it; tab, carriage return, line feed and NUL become \t,
// \r, \n and \0; other non-printable characters (controls, format and
// separator characters other than the space, surrogates, private-use and
// unassigned code points) become \u{hex}, lower-case. Malformed UTF-8
// shows as U+FFFD.
std::string quote_literal(std::string_view text);

}  // namespace vellum

#endif  // VELLUM_COMMON_QUOTE_H_
