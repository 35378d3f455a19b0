// UTF-8 decoding and encoding. Text reaching the core comes from Python
// strings and is valid UTF-8; decoding still never reads past the end and
// turns a malformed sequence into U+FFFD, one byte at a time.
#ifndef VELLUM_ANALYSIS_UTF8_H_
#define VELLUM_ANALYSIS_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellum::utf8 {

// Decodes the code point at s[*pos] and advances *pos past it.
char32_t decode(std::string_view s, size_t* pos);

// True when `s` is well-formed UTF-8: no overlong forms, surrogates, values
// above U+10FFFF or truncated sequences.
bool is_valid(std::string_view s);

// Appends the UTF-8 encoding of `cp` to `out`.
void append(std::string* out, char32_t cp);

}  // namespace vellum::utf8

#endif  // VELLUM_ANALYSIS_UTF8_H_
