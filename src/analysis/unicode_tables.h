// Internal: the generated Unicode 16.0 tables (unicode_tables.cc, written by
// tools/gen_unicode_tables.py). Only unicode_record.h and tests read them.
#ifndef VELLUM_ANALYSIS_UNICODE_TABLES_H_
#define VELLUM_ANALYSIS_UNICODE_TABLES_H_

#include <cstddef>
#include <cstdint>

namespace vellum::unicode::tables {

// Flag bits of Record::flags.
inline constexpr uint8_t kWhiteSpace = 1;
inline constexpr uint8_t kAlphabetic = 2;
inline constexpr uint8_t kCased = 4;
inline constexpr uint8_t kCaseIgnorable = 8;
inline constexpr uint8_t kMultiLower = 16;  // full lowercase has 2-3 code points

struct Record {
  int32_t lower_delta;  // first code point of the full lowercase mapping - cp
  uint8_t category;     // a GeneralCategory value
  uint8_t flags;
};

struct LowerMulti {
  char32_t cp;
  uint8_t length;
  char32_t mapping[3];
};

inline constexpr unsigned kTopShift = 9;
inline constexpr unsigned kLeafShift = 4;

extern const Record kRecords[];
extern const uint8_t kLatin1[];  // record index of U+0000..U+00FF
extern const uint8_t kTop[];     // (0x10FFFF >> kTopShift) + 1 entries
extern const uint16_t kMid[];    // 32 leaf numbers per region
extern const uint8_t kLeaf[];    // 16 record indices per leaf
extern const LowerMulti kLowerMulti[];
extern const size_t kLowerMultiCount;

}  // namespace vellum::unicode::tables

#endif  // VELLUM_ANALYSIS_UNICODE_TABLES_H_
