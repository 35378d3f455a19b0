#include "common/mapped_array.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vellum {
namespace {

// Elements must read as zero whenever they come (back) into range, and
// returning pages must keep every element in range.
TEST(MappedArray, GrowShrinkAndReturnPagesKeepContents) {
  MappedArray<uint64_t> a(100000);
  for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], 0u);
  for (size_t i = 0; i < a.size(); ++i) a[i] = i * 7 + 1;
  a.resize(1000);
  a.resize(2000);
  EXPECT_EQ(a[999], 999u * 7 + 1);
  EXPECT_EQ(a[1000], 0u);
  EXPECT_EQ(a[1999], 0u);
  a.resize(1500);
  a.shrink_to_fit();
  ASSERT_EQ(a.size(), 1500u);
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(a[i], i * 7 + 1);
  for (size_t i = 1000; i < 1500; ++i) ASSERT_EQ(a[i], 0u);
  a.resize(300000);  // grows again past the returned pages
  EXPECT_EQ(a[999], 999u * 7 + 1);
  for (size_t i = 1500; i < a.size(); ++i) ASSERT_EQ(a[i], 0u);
  a.resize(0);
  a.shrink_to_fit();
  EXPECT_EQ(a.size(), 0u);
  a.push_back(5);
  EXPECT_EQ(a[0], 5u);
}

}  // namespace
}  // namespace vellum
