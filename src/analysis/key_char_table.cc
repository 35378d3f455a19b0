#include "analysis/key_char_table.h"

#include <cstdlib>

#include "analysis/unicode.h"

namespace vellum::unicode {
namespace {

KeyCharEntry entry_for(char32_t cp, bool fold) {
  const char32_t k = key_char(cp, fold);
  if (k == kSplitChar || k == kDropChar) return {0, k};
  return {~uint32_t{0}, static_cast<uint32_t>(k - cp)};
}

}  // namespace

const KeyCharTable& KeyCharTable::get() {
  static const KeyCharTable table;
  return table;
}

KeyCharTable::KeyCharTable() {
  // Code points that map alike share an entry: the pair of entries, folded
  // and exact, is what tells them apart.
  for (char32_t cp = 0; cp < kLimit; ++cp) {
    const KeyCharEntry exact = entry_for(cp, false);
    const KeyCharEntry folded = entry_for(cp, true);
    size_t i = 0;
    while (i < count_ && !(entries_[0][i].mask == exact.mask && entries_[0][i].add == exact.add &&
                           entries_[1][i].mask == folded.mask && entries_[1][i].add == folded.add)) {
      ++i;
    }
    if (i == count_) {
      // The Unicode data has far fewer kinds of character than this; more
      // would mean broken tables, not a case to handle.
      if (count_ == kMaxEntries) std::abort();
      entries_[0][count_] = exact;
      entries_[1][count_] = folded;
      ++count_;
    }
    index_[cp] = static_cast<uint8_t>(i);
  }
}

}  // namespace vellum::unicode
