#include "index/posting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "testing/test_decoders.h"

namespace vellum {
namespace {

using testing::decode_posting;

Bitmap of(const std::vector<uint32_t>& ids) {
  Bitmap b;
  for (uint32_t id : ids) b.add(id);
  return b;
}

size_t distinct_highs(const std::vector<uint32_t>& ids) {
  std::set<uint32_t> highs;
  for (uint32_t id : ids) highs.insert(id >> 16);
  return highs.size();
}

TEST(SerializePosting, EmptySetIsCookieAndZeroCount) {
  std::string p = serialize_posting(Bitmap());
  EXPECT_EQ(p, std::string("\x3A\x30\x00\x00\x00\x00\x00\x00", 8));
  EXPECT_EQ(posting_size(Bitmap()), 8u);
}

TEST(SerializePosting, ArrayAndBitmapContainersRoundTrip) {
  // Container 0: sparse array; container 1: 5000 ids, past the array limit;
  // container 3: one id at the very top of the id space's window.
  std::vector<uint32_t> ids = {0, 7, 65535};
  for (uint32_t i = 0; i < 5000; ++i) ids.push_back(65536 + 3 * i);
  ids.push_back(3u * 65536 + 65535);
  ids.push_back(0xFFFFFFFFu);
  Bitmap b = of(ids);
  std::string p = serialize_posting(b);
  EXPECT_EQ(p.size(), posting_size(b));
  auto decoded = decode_posting(p);
  EXPECT_EQ(decoded.ids, ids);
  EXPECT_EQ(decoded.container_keys, (std::vector<uint16_t>{0, 1, 3, 0xFFFF}));
  EXPECT_EQ(decoded.container_cards, (std::vector<uint32_t>{3, 5000, 1, 1}));
}

TEST(SerializePosting, RunContainersAreNeverWritten) {
  // A set that run optimisation would compress: one long range.
  Bitmap b;
  roaring_bitmap_add_range(b.get(), 100, 70000);
  ASSERT_TRUE(roaring_bitmap_run_optimize(b.get()));
  std::string p = serialize_posting(b);
  EXPECT_EQ(p.size(), posting_size(b));
  auto decoded = decode_posting(p);  // throws on the run cookie
  EXPECT_EQ(decoded.ids.size(), 69900u);
  EXPECT_EQ(decoded.ids.front(), 100u);
  EXPECT_EQ(decoded.ids.back(), 69999u);
  // The caller's set keeps its own representation.
  roaring_statistics_t stats;
  roaring_bitmap_statistics(b.get(), &stats);
  EXPECT_GT(stats.n_run_containers, 0u);
}

// The direct encoder must give exactly CRoaring's bytes for the same set.
void expect_same_as_roaring(const std::vector<uint32_t>& ids) {
  const std::string want = serialize_posting(of(ids));
  EXPECT_EQ(sorted_ids_posting_size(ids.data(), ids.size()), want.size());
  std::string got = "prefix";  // appends, leaving what is there
  append_sorted_ids_posting(ids.data(), ids.size(), &got);
  ASSERT_EQ(got.substr(0, 6), "prefix");
  ASSERT_EQ(got.substr(6), want);
}

TEST(SortedIdsPosting, EdgeSetsMatchRoaring) {
  const uint32_t top = 0xFFFFFFFFu;
  std::vector<std::pair<const char*, std::vector<uint32_t>>> cases = {
      {"empty", {}},
      {"zero", {0}},
      {"top of the id space", {top}},
      {"both ends", {0, top}},
      {"one per container", {5, 65536 + 5, 2 * 65536, 0xFFFF0000u}},
      {"container edges", {65535, 65536, 131071, 131072, top - 1, top}},
  };
  std::vector<uint32_t> full_array, just_bitmap, whole_window, spanning, top_window;
  for (uint32_t i = 0; i < 4096; ++i) full_array.push_back(3 * 65536 + 11 * i);
  just_bitmap = full_array;
  just_bitmap.push_back(4 * 65536 - 1);
  for (uint32_t i = 0; i < 65536; ++i) whole_window.push_back(65536 + i);
  // Array, bitmap, array, bitmap at the top window, single ids between.
  for (uint32_t i = 0; i < 100; ++i) spanning.push_back(i * 600);
  for (uint32_t i = 0; i < 5000; ++i) spanning.push_back(65536 + 13 * i);
  spanning.push_back(7 * 65536);
  for (uint32_t i = 0; i < 4096; ++i) spanning.push_back(9 * 65536 + i);
  for (uint32_t i = 0; i < 6000; ++i) top_window.push_back(top - 10 * i);
  std::reverse(top_window.begin(), top_window.end());
  spanning.insert(spanning.end(), top_window.begin(), top_window.end());
  cases.push_back({"4096 ids: the largest array container", full_array});
  cases.push_back({"4097 ids: the smallest bitmap container", just_bitmap});
  cases.push_back({"a whole 65536-id window", whole_window});
  cases.push_back({"array and bitmap containers mixed", spanning});
  for (const auto& [name, ids] : cases) {
    SCOPED_TRACE(name);
    expect_same_as_roaring(ids);
  }
}

TEST(SortedIdsPosting, RandomSetsMatchRoaring) {
  std::mt19937_64 rng(12346);
  for (int round = 0; round < 400; ++round) {
    // Spreads from one window to the whole id space; sizes from a handful
    // to past the array limit of a window.
    const uint64_t span = uint64_t{1} << (8 + rng() % 25);
    const uint64_t base = rng() % ((uint64_t{1} << 32) - span + 1);
    const size_t n = rng() % 4 == 0 ? rng() % 9000 : rng() % 64;
    std::set<uint32_t> set;
    for (size_t i = 0; i < n; ++i) set.insert(static_cast<uint32_t>(base + rng() % span));
    std::vector<uint32_t> ids(set.begin(), set.end());
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(ids.size()) + " ids");
    expect_same_as_roaring(ids);
    if (HasFatalFailure()) return;
  }
}

// Small sets are written straight from their ids: every size up to past the
// pooled limit, in one window, split at every point across a window edge
// (the top window included), one id per window, and spread at random.
TEST(SortedIdsPosting, EverySmallSizeAtEveryWindowEdgeMatchesRoaring) {
  std::mt19937_64 rng(77);
  const uint32_t top = 0xFFFF0000u;
  for (size_t n = 0; n <= 70; ++n) {
    SCOPED_TRACE(std::to_string(n) + " ids");
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < n; ++i) ids.push_back(top + static_cast<uint32_t>(i * 937));
    expect_same_as_roaring(ids);
    for (size_t below = 0; below <= n; ++below) {
      // `below` ids end window 4, the rest open window 5 and run into 6.
      ids.clear();
      for (size_t i = 0; i < n; ++i) {
        ids.push_back(5 * 65536 - static_cast<uint32_t>(below) + static_cast<uint32_t>(i) * 1500);
      }
      expect_same_as_roaring(ids);
      if (HasFatalFailure()) return;
    }
    ids.clear();
    for (size_t i = 0; i < n; ++i) ids.push_back(static_cast<uint32_t>(i) * 60 * 65536 + 65535);
    expect_same_as_roaring(ids);
    std::set<uint32_t> spread;
    while (spread.size() < n) spread.insert(static_cast<uint32_t>(rng() % (uint64_t{70} << 16)));
    expect_same_as_roaring(std::vector<uint32_t>(spread.begin(), spread.end()));
    if (HasFatalFailure()) return;
  }
}

TEST(SplitHeadTail, BoundaryCases) {
  const std::vector<uint32_t> ids = {1, 5, 65535, 65536, 70000, 200000};
  Bitmap b = of(ids);
  const std::string empty = serialize_posting(Bitmap());
  {
    SCOPED_TRACE("boundary 0: everything in the tail");
    HeadTail ht = split_head_tail(b, 0);
    EXPECT_EQ(ht.head, empty);
    EXPECT_EQ(decode_posting(ht.tail).ids, ids);
  }
  {
    SCOPED_TRACE("boundary above every id: empty tail");
    HeadTail ht = split_head_tail(b, 200001);
    EXPECT_EQ(decode_posting(ht.head).ids, ids);
    EXPECT_EQ(ht.tail, empty);
  }
  {
    SCOPED_TRACE("boundary equal to the maximum goes to the tail");
    HeadTail ht = split_head_tail(b, 200000);
    EXPECT_EQ(decode_posting(ht.tail).ids, (std::vector<uint32_t>{200000}));
  }
  {
    SCOPED_TRACE("empty set");
    HeadTail ht = split_head_tail(Bitmap(), 65536);
    EXPECT_EQ(ht.head, empty);
    EXPECT_EQ(ht.tail, empty);
  }
}

TEST(SplitHeadTail, IdsAreNotRebasedAndNoContainerIsEmpty) {
  std::vector<uint32_t> ids;
  for (uint32_t i = 0; i < 6000; ++i) ids.push_back(i * 7);          // container 0
  for (uint32_t i = 0; i < 10; ++i) ids.push_back(65536 + i);        // container 1
  for (uint32_t i = 0; i < 5000; ++i) ids.push_back(131072 + 2 * i);  // container 2
  Bitmap b = of(ids);
  for (uint32_t boundary : {65536u, 65536u + 5, 131072u, 1000u, 131072u + 9999}) {
    SCOPED_TRACE(boundary);
    HeadTail ht = split_head_tail(b, boundary);
    std::vector<uint32_t> want_head, want_tail;
    for (uint32_t id : ids) (id < boundary ? want_head : want_tail).push_back(id);
    auto head = decode_posting(ht.head);
    auto tail = decode_posting(ht.tail);
    EXPECT_EQ(head.ids, want_head);
    EXPECT_EQ(tail.ids, want_tail);
    // One container per occupied 65536-window: none left empty by the cut.
    EXPECT_EQ(head.container_keys.size(), distinct_highs(want_head));
    EXPECT_EQ(tail.container_keys.size(), distinct_highs(want_tail));
  }
}

}  // namespace
}  // namespace vellum
