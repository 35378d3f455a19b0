#include "analysis/key_char_table.h"

#include "analysis/unicode.h"
#include "analysis/unicode_record.h"
#include "analysis/unicode_tables.h"

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

KeyCharTable::KeyCharTable() : index_{}, entries_{} {
  // key_char() depends on a code point only through its record (the
  // lowercase delta is the record's), so one entry serves all of them.
  static_assert(sizeof(tables::kLeaf[0]) == 1, "record indices fit a byte");
  for (char32_t cp = 0; cp < kLimit; ++cp) {
    const size_t r = static_cast<size_t>(&record(cp) - tables::kRecords);
    index_[cp] = static_cast<uint8_t>(r);
    entries_[r][0] = entry_for(cp, false);
    entries_[r][1] = entry_for(cp, true);
  }
}

}  // namespace vellum::unicode
