#include "facet/facet_key.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(FacetKey, KnownValues) {
  EXPECT_EQ(facet_key("", "", false), 0xaf63d24c8601db8eULL);
  EXPECT_EQ(facet_key("", "", true), 0xaf63d24c8601db8eULL);
  EXPECT_EQ(facet_key("year", "2020", false), 0xf0b1e81f6d8417b9ULL);
  EXPECT_EQ(facet_key("Year", "2020", true), 0xf0b1e81f6d8417b9ULL);
  EXPECT_NE(facet_key("Year", "2020", false), 0xf0b1e81f6d8417b9ULL);
}

TEST(FacetKey, SeparatorKeepsFieldAndCategoryApart) {
  EXPECT_NE(facet_key("ab", "c", false), facet_key("a", "bc", false));
  EXPECT_NE(facet_key("a", "", false), facet_key("", "a", false));
}

TEST(FacetKey, FoldingLowercasesWholeNames) {
  // Final sigma depends on the word context, so names are lowercased as
  // whole strings, not character by character.
  const char* upper = "\u039F\u0394\u039F\u03A3";       // ΟΔΟΣ
  const char* final_form = "\u03BF\u03B4\u03BF\u03C2";  // οδος, final ς
  const char* medial_form = "\u03BF\u03B4\u03BF\u03C3";  // οδοσ
  EXPECT_EQ(facet_key(upper, "x", true), facet_key(final_form, "x", false));
  EXPECT_NE(facet_key(upper, "x", true), facet_key(medial_form, "x", false));
  EXPECT_EQ(facet_key("x", upper, true), facet_key("x", final_form, false));
  // Multi-character mapping: U+0130 lowercases to i + U+0307.
  EXPECT_EQ(facet_key("\u0130", "", true), facet_key("i\u0307", "", false));
}

}  // namespace
}  // namespace vellum
