#include "splitset_write/posting_merge.h"

#include <gtest/gtest.h>

#include <roaring/roaring.h>

#include <string>
#include <utility>
#include <vector>

#include "common/coding.h"
#include "common/sink.h"
#include "index/posting.h"
#include "testing/test_decoders.h"

namespace vellum {
namespace {

using Entry = std::pair<uint64_t, std::string>;  // key, posting bytes

std::string posting_of(const std::vector<uint32_t>& ids) {
  std::string out;
  append_sorted_ids_posting(ids.data(), ids.size(), &out);
  return out;
}

// A folded body with the entries in the order given, which the index
// writer would never produce when they are unsorted or repeat a key.
std::string body_of(const std::vector<Entry>& entries) {
  const uint32_t n = static_cast<uint32_t>(entries.size());
  std::string out = "VLSI";
  PutU16(&out, 3);
  PutU16(&out, 3);
  PutU32(&out, n);
  PutU32(&out, n == 0 ? 1 : n);  // one sparse entry
  if (n > 0) PutU64(&out, entries[0].first);
  uint64_t offset = out.size() + 20 * uint64_t{n};
  for (const Entry& e : entries) {
    PutU64(&out, e.first);
    PutU64(&out, offset);
    PutU32(&out, static_cast<uint32_t>(e.second.size()));
    offset += e.second.size();
  }
  for (const Entry& e : entries) out += e.second;
  return out;
}

struct Merged {
  std::vector<uint64_t> keys;
  std::vector<std::vector<uint32_t>> ids;  // decoded by the strict test decoder
  MergedPostings postings;
};

Merged merge(const std::vector<std::pair<std::string, uint32_t>>& bodies,
             const std::vector<uint32_t>& deleted) {
  std::vector<CheckedSplit> splits;
  for (const auto& b : bodies) {
    Result<CheckedSplit> s = CheckedSplit::check(b.first);
    EXPECT_TRUE(s.ok());
    splits.push_back(std::move(*s));
  }
  std::vector<MergeInput> in;
  for (size_t i = 0; i < splits.size(); ++i) in.push_back({&splits[i], bodies[i].second});
  Merged m{{}, {}, merge_postings(in, deleted)};
  std::string body;
  StringSink sink(&body);
  EXPECT_TRUE(write_index_from(&sink, 3, 0, true, &m.postings).ok());
  EXPECT_EQ(body.size(), index_bytes(m.postings.count(), 0, true, m.postings.posting_bytes()));
  std::vector<StoredPosting> out;
  EXPECT_TRUE(read_split_postings(body, &out).ok());
  for (const StoredPosting& p : out) {
    m.keys.push_back(p.key);
    m.ids.push_back(testing::decode_posting(p.bytes).ids);
  }
  return m;
}

TEST(PostingMergeTest, UnsortedDictionaryAndRepeatedKeysAreUnited) {
  const std::string a = body_of({{9, posting_of({1, 2})}, {4, posting_of({5})}, {9, posting_of({0, 2})}});
  const std::string b = body_of({{4, posting_of({1})}, {7, posting_of({3})}});
  Merged m = merge({{a, 0}, {b, 10}}, {});
  EXPECT_EQ(m.keys, (std::vector<uint64_t>{4, 7, 9}));
  EXPECT_EQ(m.ids[0], (std::vector<uint32_t>{5, 11}));
  EXPECT_EQ(m.ids[1], (std::vector<uint32_t>{13}));
  EXPECT_EQ(m.ids[2], (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(m.postings.live, 6u);
  EXPECT_EQ(m.postings.first_id, 0u);
  EXPECT_EQ(m.postings.last_id, 13u);
}

// Shifts that are not multiples of 65536 move ids across containers, and
// dense sets become bitmap containers.
TEST(PostingMergeTest, ShiftsAcrossContainersAndDeletionsEverywhere) {
  std::vector<uint32_t> dense;
  for (uint32_t i = 60000; i < 70000; ++i) dense.push_back(i);
  const std::string a = body_of({{1, posting_of(dense)}, {2, posting_of({0})}});
  const std::string b = body_of({{1, posting_of({0, 1})}, {2, posting_of({5})}});
  Merged m = merge({{a, 3}, {b, 69999}}, {0, 3, 60010, 70000, 70004});
  std::vector<uint32_t> want;
  for (uint32_t i = 60003; i < 70003; ++i) {
    if (i != 60010 && i != 70000) want.push_back(i);
  }
  ASSERT_EQ(m.keys, (std::vector<uint64_t>{1}));  // key 2 lost both its ids
  EXPECT_EQ(m.ids[0], want);
  EXPECT_EQ(m.postings.live, want.size());
}

// Inputs are taken in id order whatever their order in the call; ranges
// that interleave, and empty postings between them, still come out sorted.
TEST(PostingMergeTest, InputOrderAndInterleavedRangesDoNotMatter) {
  const std::string low = body_of({{1, posting_of({0, 5})}, {2, posting_of({1})}});
  const std::string mid = body_of({{1, posting_of({})}, {2, posting_of({0})}});
  const std::string high = body_of({{1, posting_of({0, 2})}, {2, posting_of({0, 9})}});
  Merged m = merge({{high, 3}, {mid, 2}, {low, 0}}, {});
  ASSERT_EQ(m.keys, (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(m.ids[0], (std::vector<uint32_t>{0, 3, 5}));
  EXPECT_EQ(m.ids[1], (std::vector<uint32_t>{1, 2, 3, 12}));
  Merged again = merge({{low, 0}, {mid, 2}, {high, 3}}, {});
  EXPECT_EQ(again.ids, m.ids);
}

TEST(PostingMergeTest, SaturatedIdsCollapseAndWideRangesStayExact) {
  const std::string a = body_of({{1, posting_of({0, 10, 4000000000u})}});
  Merged m = merge({{a, 294967300u}, {a, 0}}, {10, 294967300u});
  ASSERT_EQ(m.keys.size(), 1u);
  EXPECT_EQ(m.ids[0], (std::vector<uint32_t>{0, 294967310u, 4000000000u, UINT32_MAX}));
  EXPECT_EQ(m.postings.live, 4u);
  EXPECT_EQ(m.postings.last_id, UINT32_MAX);
}

TEST(PostingMergeTest, RunContainersAreReadAndNeverWritten) {
  Bitmap b;
  roaring_bitmap_add_range(b.get(), 100, 9000);
  roaring_bitmap_add(b.get(), 70000);
  ASSERT_TRUE(roaring_bitmap_run_optimize(b.get()));
  std::string runs(roaring_bitmap_portable_size_in_bytes(b.get()), '\0');
  roaring_bitmap_portable_serialize(b.get(), runs.data());
  Merged m = merge({{body_of({{5, runs}}), 0}}, {100});
  std::vector<uint32_t> want;
  for (uint32_t i = 101; i < 9000; ++i) want.push_back(i);
  want.push_back(70000);
  ASSERT_EQ(m.ids.size(), 1u);  // the strict decoder refuses run cookies
  EXPECT_EQ(m.ids[0], want);
}

TEST(PostingMergeTest, PostingsAreHandedOverOnceInOrder) {
  const std::string a = body_of({{1, posting_of({1})}, {2, posting_of({2})}});
  Result<CheckedSplit> s = CheckedSplit::check(a);
  ASSERT_TRUE(s.ok());
  MergedPostings m = merge_postings({{&*s, 0}}, {});
  std::string out;
  StringSink sink(&out);
  EXPECT_FALSE(m.write(1, &sink).ok());
  EXPECT_TRUE(m.write(0, &sink).ok());
  EXPECT_FALSE(m.write(0, &sink).ok());
  EXPECT_EQ(out, posting_of({1}));
}

TEST(CheckedSplitTest, FaultsAreReportedInEntryOrder) {
  std::string bad = body_of({{1, posting_of({1})}, {2, posting_of({2, 3})}});
  bad[bad.size() - 2] = 1;  // the second posting's ids are no longer ascending
  Result<CheckedSplit> s = CheckedSplit::check(bad);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message().rfind("roaring deserialize: ", 0), 0u);
  // Three keys claimed, one entry present: the first entry is sound.
  std::string cut = body_of({{1, posting_of({1})}});
  EncodeU32(cut.data() + 8, 3);
  EncodeU32(cut.data() + 12, 3);
  ASSERT_FALSE(CheckedSplit::check(cut).ok());
  EXPECT_EQ(CheckedSplit::check(cut).error().message(), "VLSS compact: truncated dictionary");
  std::string far = body_of({{1, posting_of({1})}});
  EncodeU32(far.data() + 16 + 8 + 16, 19);  // one byte past the end
  EXPECT_EQ(CheckedSplit::check(far).error().message(), "VLSS compact: posting out of range");
}

}  // namespace
}  // namespace vellum
