// A record is tail_len, then the head and tail sets each serialized as if
// built by insertion; both encoders must give exactly those bytes.
#include "terms_dict/posting_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/coding.h"
#include "index/posting.h"

namespace vellum {
namespace {

std::string expected_record(const std::vector<uint32_t>& ids, uint32_t boundary, uint64_t* head) {
  Bitmap low, high;
  for (uint32_t id : ids) (id < boundary ? low : high).add(id);
  const std::string h = serialize_posting(low);
  const std::string t = serialize_posting(high);
  std::string out;
  PutU32(&out, static_cast<uint32_t>(t.size()));
  *head = h.size();
  return out + h + t;
}

std::string bitmap_record(const std::vector<uint32_t>& ids, uint32_t boundary, uint64_t* head) {
  Bitmap b;
  b.add_many(ids.data(), ids.size());
  std::string out = "prefix";
  std::vector<uint32_t> scratch = {7, 7};  // leftovers must not leak in
  *head = append_posting_record(b, boundary, &out, &scratch);
  return out.substr(6);
}

std::string sorted_record(const std::vector<uint32_t>& ids, uint32_t boundary, uint64_t* head) {
  std::string out = "prefix";  // appends, never overwrites
  *head = append_sorted_ids_record(ids.data(), ids.size(), boundary, &out);
  return out.substr(6);
}

TEST(PostingRecordTest, SmallSetsOnBothSidesOfTheBoundary) {
  std::mt19937 rng(5);
  // Ids cluster at container and boundary edges, where an off-by-one shows.
  const uint32_t edges[] = {0, 1, 65535, 65536, 65537, 131071, 131072, UINT32_MAX - 1, UINT32_MAX};
  const uint32_t boundaries[] = {0, 1, 65536, 131072, UINT32_MAX};
  for (int round = 0; round < 3000; ++round) {
    std::set<uint32_t> set;
    const int n = static_cast<int>(rng() % 7);
    for (int k = 0; k < n; ++k) {
      const uint32_t edge = edges[rng() % std::size(edges)];
      set.insert(rng() % 2 == 0 ? edge : static_cast<uint32_t>(rng() % 300000));
    }
    const std::vector<uint32_t> ids(set.begin(), set.end());
    const uint32_t boundary =
        rng() % 3 == 0 ? static_cast<uint32_t>(rng() % 300000) : boundaries[rng() % 5];
    uint64_t want_head, got_head, bitmap_head;
    const std::string want = expected_record(ids, boundary, &want_head);
    ASSERT_EQ(sorted_record(ids, boundary, &got_head), want) << "round " << round;
    ASSERT_EQ(got_head, want_head) << "round " << round;
    ASSERT_EQ(bitmap_record(ids, boundary, &bitmap_head), want) << "round " << round;
    ASSERT_EQ(bitmap_head, want_head) << "round " << round;
  }
}

// Containers past 4096 ids are bitmap containers; a boundary inside one
// leaves an array on one side and a bitmap on the other, or two arrays.
TEST(PostingRecordTest, DenseSetsSplitInsideAContainer) {
  std::mt19937 rng(9);
  for (int round = 0; round < 12; ++round) {
    std::set<uint32_t> set;
    const uint32_t dense = 1000 + static_cast<uint32_t>(rng() % 9000);
    for (uint32_t k = 0; k < dense; ++k) set.insert(65536 + static_cast<uint32_t>(rng() % 65536));
    for (uint32_t k = 0; k < 50; ++k) set.insert(static_cast<uint32_t>(rng() % 400000));
    const std::vector<uint32_t> ids(set.begin(), set.end());
    for (uint32_t boundary : {65536u, 65536u + 3000, 65536u + 60000, 131072u}) {
      uint64_t want_head, got_head, bitmap_head;
      const std::string want = expected_record(ids, boundary, &want_head);
      ASSERT_EQ(sorted_record(ids, boundary, &got_head), want) << dense << " " << boundary;
      ASSERT_EQ(bitmap_record(ids, boundary, &bitmap_head), want) << dense << " " << boundary;
      ASSERT_EQ(got_head, want_head);
      ASSERT_EQ(bitmap_head, want_head);
    }
  }
}

// Sets too large to list are split as bitmaps: the same bytes.
TEST(PostingRecordTest, HugeSetsGiveTheSameRecord) {
  std::vector<uint32_t> ids;
  for (uint32_t id = 0; id < (1u << 22) + 5; ++id) ids.push_back(id * 3);
  uint64_t want_head, bitmap_head;
  const std::string want = expected_record(ids, 5000000, &want_head);
  EXPECT_EQ(bitmap_record(ids, 5000000, &bitmap_head), want);
  EXPECT_EQ(bitmap_head, want_head);
}

TEST(PostingRecordTest, EmptySetHasTwoEmptyHalves) {
  uint64_t want_head, got_head;
  const std::string want = expected_record({}, 65536, &want_head);
  EXPECT_EQ(sorted_record({}, 65536, &got_head), want);
  EXPECT_EQ(got_head, want_head);
  EXPECT_EQ(bitmap_record({}, 65536, &got_head), want);
  EXPECT_EQ(got_head, want_head);
}

}  // namespace
}  // namespace vellum
