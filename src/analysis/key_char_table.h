// A flat form of unicode::key_char() for the Basic Multilingual Plane, for
// the n-gram keyer's loop over non-ASCII text: one byte per code point
// names its Unicode record, and the record's entry turns the code point
// into its key character without a branch. It gives exactly
// key_char(cp, fold) for every cp below U+10000; other code points are
// key_char()'s.
#ifndef VELLUM_ANALYSIS_KEY_CHAR_TABLE_H_
#define VELLUM_ANALYSIS_KEY_CHAR_TABLE_H_

#include <cstddef>
#include <cstdint>

namespace vellum::unicode {

// key character = (cp & mask) + add, in 32-bit arithmetic: a kept
// character has mask ~0 and its lowercase delta as `add`; white space and
// dropped characters have mask 0 and kSplitChar or kDropChar as `add`.
struct KeyCharEntry {
  uint32_t mask;
  uint32_t add;
};

class KeyCharTable {
 public:
  static constexpr char32_t kLimit = 0x10000;
  static constexpr size_t kMaxRecords = 256;

  // The one table, built from the Unicode tables on first use (so that no
  // order of static initialisation can see it unbuilt) and constant from
  // then on.
  static const KeyCharTable& get();

  // key_char(cp, fold) for cp < kLimit.
  char32_t lookup(char32_t cp, bool fold) const {
    const KeyCharEntry& e = entries_[index_[cp]][fold ? 1 : 0];
    return (cp & e.mask) + e.add;
  }

 private:
  KeyCharTable();

  uint8_t index_[kLimit];                 // Unicode record of each code point
  KeyCharEntry entries_[kMaxRecords][2];  // per record: exact, folded
};

}  // namespace vellum::unicode

#endif  // VELLUM_ANALYSIS_KEY_CHAR_TABLE_H_
