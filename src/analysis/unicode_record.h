// Internal: the table lookup behind every property in unicode.h, inline so
// that the loops that classify every character of a text pay no call.
#ifndef VELLUM_ANALYSIS_UNICODE_RECORD_H_
#define VELLUM_ANALYSIS_UNICODE_RECORD_H_

#include "analysis/unicode.h"
#include "analysis/unicode_tables.h"

namespace vellum::unicode {

// The properties of `cp`; every value above U+10FFFF is unassigned.
inline const tables::Record& record(char32_t cp) {
  namespace t = tables;
  constexpr unsigned kMidBits = t::kTopShift - t::kLeafShift;
  static constexpr t::Record kBeyondUnicode = {0, static_cast<uint8_t>(GeneralCategory::kCn), 0};
  if (cp < 0x100) return t::kRecords[t::kLatin1[cp]];
  if (cp > 0x10FFFF) return kBeyondUnicode;
  unsigned region = t::kTop[cp >> t::kTopShift];
  unsigned leaf = t::kMid[(region << kMidBits) | ((cp >> t::kLeafShift) & ((1u << kMidBits) - 1))];
  return t::kRecords[t::kLeaf[(leaf << t::kLeafShift) | (cp & ((1u << t::kLeafShift) - 1))]];
}

inline constexpr uint32_t kLetterOrDigitMask =
    (1u << static_cast<unsigned>(GeneralCategory::kLu)) |
    (1u << static_cast<unsigned>(GeneralCategory::kLl)) |
    (1u << static_cast<unsigned>(GeneralCategory::kLt)) |
    (1u << static_cast<unsigned>(GeneralCategory::kLm)) |
    (1u << static_cast<unsigned>(GeneralCategory::kLo)) |
    (1u << static_cast<unsigned>(GeneralCategory::kNd));

// key_char() of unicode.h, for the n-gram keyer's inner loop.
inline char32_t key_char_inline(char32_t cp, bool fold) {
  const tables::Record& r = record(cp);
  if (r.flags & tables::kWhiteSpace) return kSplitChar;
  if (!((kLetterOrDigitMask >> r.category) & 1u)) return kDropChar;
  return fold ? static_cast<char32_t>(static_cast<int32_t>(cp) + r.lower_delta) : cp;
}

}  // namespace vellum::unicode

#endif  // VELLUM_ANALYSIS_UNICODE_RECORD_H_
