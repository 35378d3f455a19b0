// Strict UTF-8 validation of names read from storage: no overlong forms,
// no surrogates, nothing above U+10FFFF, no truncated sequence.
#ifndef VELLUM_READ_UTF8_CHECK_H_
#define VELLUM_READ_UTF8_CHECK_H_

#include <string_view>

namespace vellum {

bool is_valid_utf8(std::string_view s);

}  // namespace vellum

#endif  // VELLUM_READ_UTF8_CHECK_H_
