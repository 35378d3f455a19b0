#include "analysis/key_char_table.h"

#include <gtest/gtest.h>

#include "analysis/unicode.h"

namespace vellum::unicode {
namespace {

TEST(KeyCharTable, AgreesWithKeyCharOnEveryCodePointOfTheTable) {
  const KeyCharTable& table = KeyCharTable::get();
  for (char32_t cp = 0; cp < KeyCharTable::kLimit; ++cp) {
    ASSERT_EQ(table.lookup(cp, false), key_char(cp, false)) << std::hex << uint32_t{cp};
    ASSERT_EQ(table.lookup(cp, true), key_char(cp, true)) << std::hex << uint32_t{cp};
  }
}

TEST(KeyCharTable, SpotChecks) {
  const KeyCharTable& t = KeyCharTable::get();
  EXPECT_EQ(t.lookup(U'A', true), U'a');
  EXPECT_EQ(t.lookup(U'A', false), U'A');
  EXPECT_EQ(t.lookup(0x0416, true), char32_t{0x0436});  // Cyrillic Zhe
  EXPECT_EQ(t.lookup(0x0130, true), U'i');
  EXPECT_EQ(t.lookup(0x212A, true), U'k');              // Kelvin sign
  EXPECT_EQ(t.lookup(0x3000, true), kSplitChar);        // ideographic space
  EXPECT_EQ(t.lookup(0x3001, true), kDropChar);         // ideographic comma
  EXPECT_EQ(t.lookup(0x4E2D, false), char32_t{0x4E2D});
  EXPECT_EQ(t.lookup(0xD800, true), kDropChar);         // surrogate
  EXPECT_EQ(t.lookup(0xFFFD, true), kDropChar);
}

}  // namespace
}  // namespace vellum::unicode
