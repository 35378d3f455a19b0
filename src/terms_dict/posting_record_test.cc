// Records encoded from sorted ids must be the bytes of the bitmap path.
#include "terms_dict/posting_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace vellum {
namespace {

std::string bitmap_record(const std::vector<uint32_t>& ids, uint32_t boundary, uint64_t* head) {
  Bitmap b;
  b.add_many(ids.data(), ids.size());
  std::string out;
  *head = append_posting_record(b, boundary, &out);
  return out;
}

std::string sorted_record(const std::vector<uint32_t>& ids, uint32_t boundary, uint64_t* head) {
  std::string out = "prefix";  // appends, never overwrites
  *head = append_sorted_ids_record(ids.data(), ids.size(), boundary, &out);
  return out.substr(6);
}

TEST(PostingRecordTest, SortedIdsGiveTheBitmapRecordOnBothSidesOfTheBoundary) {
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
    uint64_t want_head, got_head;
    const std::string want = bitmap_record(ids, boundary, &want_head);
    ASSERT_EQ(sorted_record(ids, boundary, &got_head), want) << "round " << round;
    ASSERT_EQ(got_head, want_head) << "round " << round;
  }
}

TEST(PostingRecordTest, EmptySetHasTwoEmptyHalves) {
  uint64_t want_head, got_head;
  const std::string want = bitmap_record({}, 65536, &want_head);
  EXPECT_EQ(sorted_record({}, 65536, &got_head), want);
  EXPECT_EQ(got_head, want_head);
}

}  // namespace
}  // namespace vellum
