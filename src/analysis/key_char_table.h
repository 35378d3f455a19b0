// A flat form of unicode::key_char() for the Basic Multilingual Plane, for
// the n-gram keyer's loop over non-ASCII text: one byte per code point
// names an entry, and the entry turns the code point into its key
// character without a branch. It gives exactly key_char(cp, fold) for
// every cp below U+10000; other code points are key_char()'s.
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
  static constexpr size_t kMaxEntries = 256;

  // The one table, built from the Unicode tables on first use and never
  // changed afterwards.
  static const KeyCharTable& get();

  const uint8_t* index() const { return index_; }
  const KeyCharEntry* entries(bool fold) const { return entries_[fold ? 1 : 0]; }

  // key_char(cp, fold) for cp < kLimit.
  char32_t lookup(char32_t cp, bool fold) const {
    const KeyCharEntry& e = entries(fold)[index_[cp]];
    return (cp & e.mask) + e.add;
  }

  size_t entry_count() const { return count_; }

 private:
  KeyCharTable();

  uint8_t index_[kLimit];
  KeyCharEntry entries_[2][kMaxEntries];
  size_t count_ = 0;
};

}  // namespace vellum::unicode

#endif  // VELLUM_ANALYSIS_KEY_CHAR_TABLE_H_
