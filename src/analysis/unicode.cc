#include "analysis/unicode.h"

#include "analysis/unicode_tables.h"

namespace vellum::unicode {
namespace {

namespace t = tables;

constexpr unsigned kMidBits = t::kTopShift - t::kLeafShift;
constexpr t::Record kBeyondUnicode = {0, static_cast<uint8_t>(GeneralCategory::kCn), 0};

inline const t::Record& record(char32_t cp) {
  if (cp < 0x100) return t::kRecords[t::kLatin1[cp]];
  if (cp > 0x10FFFF) return kBeyondUnicode;
  unsigned region = t::kTop[cp >> t::kTopShift];
  unsigned leaf = t::kMid[(region << kMidBits) | ((cp >> t::kLeafShift) & ((1u << kMidBits) - 1))];
  return t::kRecords[t::kLeaf[(leaf << t::kLeafShift) | (cp & ((1u << t::kLeafShift) - 1))]];
}

constexpr uint32_t kLetterOrDigitMask =
    (1u << static_cast<unsigned>(GeneralCategory::kLu)) |
    (1u << static_cast<unsigned>(GeneralCategory::kLl)) |
    (1u << static_cast<unsigned>(GeneralCategory::kLt)) |
    (1u << static_cast<unsigned>(GeneralCategory::kLm)) |
    (1u << static_cast<unsigned>(GeneralCategory::kLo)) |
    (1u << static_cast<unsigned>(GeneralCategory::kNd));

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
