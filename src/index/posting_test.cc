#include "index/posting.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "index/test_decoders.h"

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
