#include "analysis/unicode.h"

#include "analysis/unicode_record.h"
#include "analysis/unicode_tables.h"

namespace vellum::unicode {
namespace {

namespace t = tables;

constexpr uint32_t kNumberMask =
    (1u << static_cast<unsigned>(GeneralCategory::kNd)) |
    (1u << static_cast<unsigned>(GeneralCategory::kNl)) |
    (1u << static_cast<unsigned>(GeneralCategory::kNo));

}  // namespace

GeneralCategory general_category(char32_t cp) {
  return static_cast<GeneralCategory>(record(cp).category);
}

bool is_white_space(char32_t cp) { return record(cp).flags & t::kWhiteSpace; }
bool is_alphabetic(char32_t cp) { return record(cp).flags & t::kAlphabetic; }
bool is_cased(char32_t cp) { return record(cp).flags & t::kCased; }
bool is_case_ignorable(char32_t cp) { return record(cp).flags & t::kCaseIgnorable; }

bool is_letter_or_digit(char32_t cp) {
  return (kLetterOrDigitMask >> record(cp).category) & 1u;
}

bool is_alphanumeric(char32_t cp) {
  const t::Record& r = record(cp);
  return (r.flags & t::kAlphabetic) || ((kNumberMask >> r.category) & 1u);
}

char32_t to_lower_first(char32_t cp) {
  return static_cast<char32_t>(static_cast<int32_t>(cp) + record(cp).lower_delta);
}

char32_t key_char(char32_t cp, bool fold) { return key_char_inline(cp, fold); }

size_t to_lower_full(char32_t cp, char32_t out[3]) {
  const t::Record& r = record(cp);
  if (r.flags & t::kMultiLower) {
    for (size_t i = 0; i < t::kLowerMultiCount; ++i) {
      const t::LowerMulti& m = t::kLowerMulti[i];
      if (m.cp != cp) continue;
      for (size_t k = 0; k < m.length; ++k) out[k] = m.mapping[k];
      return m.length;
    }
  }
  out[0] = static_cast<char32_t>(static_cast<int32_t>(cp) + r.lower_delta);
  return 1;
}

}  // namespace vellum::unicode
