// Unicode 16.0 character properties, from the generated tables in
// unicode_tables.cc (tools/gen_unicode_tables.py). Constant-time lookups;
// no ICU at run time.
#ifndef VELLUM_ANALYSIS_UNICODE_H_
#define VELLUM_ANALYSIS_UNICODE_H_

#include <cstddef>
#include <cstdint>

namespace vellum::unicode {

enum class GeneralCategory : uint8_t {
  kCn,  // unassigned (also every value above U+10FFFF)
  kLu, kLl, kLt, kLm, kLo,
  kMn, kMc, kMe,
  kNd, kNl, kNo,
  kPc, kPd, kPs, kPe, kPi, kPf, kPo,
  kSm, kSc, kSk, kSo,
  kZs, kZl, kZp,
  kCc, kCf, kCs, kCo,
};

GeneralCategory general_category(char32_t cp);
bool is_white_space(char32_t cp);
bool is_alphabetic(char32_t cp);
bool is_cased(char32_t cp);
bool is_case_ignorable(char32_t cp);

// A letter (Lu, Ll, Lt, Lm, Lo) or a decimal digit (Nd).
bool is_letter_or_digit(char32_t cp);

// Alphabetic, or a number (Nd, Nl, No): the characters of whole terms.
bool is_alphanumeric(char32_t cp);

// First code point of the default full lowercase mapping (the code point
// itself when it has none). U+0130 gives U+0069.
char32_t to_lower_first(char32_t cp);

// The whole default full lowercase mapping: simple mappings plus the
// unconditional full ones. Writes 1 to 3 code points to `out` and returns
// how many. Context-dependent rules (final sigma) are the caller's.
size_t to_lower_full(char32_t cp, char32_t out[3]);

// Everything the n-gram keyer asks of a character, from one table lookup:
// kSplitChar for white space, kDropChar for anything but a letter or a
// decimal digit, else the character itself, or with `fold` the first code
// point of its full lowercase mapping (as to_lower_first).
inline constexpr char32_t kSplitChar = 0xFFFFFFFF;
inline constexpr char32_t kDropChar = 0xFFFFFFFE;
char32_t key_char(char32_t cp, bool fold);

}  // namespace vellum::unicode

#endif  // VELLUM_ANALYSIS_UNICODE_H_
