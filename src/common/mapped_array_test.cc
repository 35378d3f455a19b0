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

// From 2 MB on an array may be mapped in 2 MB pages: growing by
// remapping, returning pages inside one and shrinking must keep the same
// contents, in whichever pages the array gets.
template <LargePages kLargePages>
void expect_contents_across_remaps() {
  MappedArray<uint32_t, kLargePages> a;
  for (uint32_t i = 0; i < (3u << 20); ++i) a.push_back(i ^ 0x5A5A5A5Au);  // 12 MB
  // Elements more than a 4 KB page from either end of the range are zero.
  a.discard(100000, 900000);
  for (size_t i = 0; i < a.size(); ++i) {
    if (i < 100000 || i >= 900000) {
      ASSERT_EQ(a[i], static_cast<uint32_t>(i) ^ 0x5A5A5A5Au) << i;
    } else if (i >= 100000 + 1024 && i < 900000 - 1024) {
      ASSERT_EQ(a[i], 0u) << i;
    }
  }
  // Shrinking keeps the page that holds the end, written beyond it; those
  // elements must read as zero when the array grows again.
  a.resize(50001);
  a.shrink_to_fit();
  a.resize(5u << 20);
  ASSERT_EQ(a[0], 0x5A5A5A5Au);
  ASSERT_EQ(a[50000], 50000u ^ 0x5A5A5A5Au);
  for (size_t i = 50001; i < 52000; ++i) ASSERT_EQ(a[i], 0u) << i;
  for (size_t i = 52000; i < a.size(); i += 4099) ASSERT_EQ(a[i], 0u) << i;
}

TEST(MappedArray, LargeArraysKeepContentsAcrossRemaps) {
  expect_contents_across_remaps<LargePages::kAlways>();
  expect_contents_across_remaps<LargePages::kWhereFaultsCost>();
}

}  // namespace
}  // namespace vellum
