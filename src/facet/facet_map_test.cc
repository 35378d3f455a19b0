#include "facet/facet_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/test_decoders.h"

namespace vellum {
namespace {

using testing::decode_posting;

std::vector<uint32_t> ids_of(const std::string& posting) { return decode_posting(posting).ids; }

TEST(FacetMap, FieldsAndCategoriesComeOutInBytewiseNameOrder) {
  FacetMap f;
  // "\xC3\xA9" (e-acute) sorts after every ASCII name as unsigned bytes.
  add_facets(&f, 0, {{"\xC3\xA9t\xC3\xA9", {"b"}}, {"Zed", {"b", "a", "B"}}, {"alpha", {"x"}}});
  std::vector<FacetField> fields = sidecar_input(&f, 65536, true);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].name, "Zed");
  EXPECT_EQ(fields[1].name, "alpha");
  EXPECT_EQ(fields[2].name, "\xC3\xA9t\xC3\xA9");
  ASSERT_EQ(fields[0].categories.size(), 3u);
  EXPECT_EQ(fields[0].categories[0].name, "B");
  EXPECT_EQ(fields[0].categories[1].name, "a");
  EXPECT_EQ(fields[0].categories[2].name, "b");
}

TEST(FacetMap, FieldWithNoCategoriesStillCounts) {
  FacetMap f;
  add_facets(&f, 0, {{"empty", {}}});
  EXPECT_EQ(f.size(), 1u);
  std::vector<FacetField> fields = sidecar_input(&f, 65536, true);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_TRUE(fields[0].categories.empty());
}

TEST(FacetMap, CategoriesSplitAtTheHeadBoundaryWithoutRebasing) {
  FacetMap f;
  for (uint32_t d : {1u, 65535u, 65536u, 200000u}) add_facet(&facet_field(&f, "color"), "red", d);
  add_facets(&f, 70000, {{"color", {"red", "red"}}});  // a repeated category adds the id once
  std::vector<FacetField> fields = sidecar_input(&f, 65536, true);
  ASSERT_EQ(fields.size(), 1u);
  ASSERT_EQ(fields[0].categories.size(), 1u);
  const FacetCategory& red = fields[0].categories[0];
  EXPECT_EQ(red.doc_count, 5u);
  EXPECT_EQ(ids_of(red.head), (std::vector<uint32_t>{1, 65535}));
  EXPECT_EQ(ids_of(red.tail), (std::vector<uint32_t>{65536, 70000, 200000}));
}

}  // namespace
}  // namespace vellum
