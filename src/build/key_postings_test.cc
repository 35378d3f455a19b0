#include "build/key_postings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/sink.h"
#include "index/posting.h"

namespace vellum {
namespace {

using IdSets = std::map<uint64_t, std::vector<uint32_t>>;

// Feeds `want` to a collection document by document, as the builder does:
// ascending ids, each document's keys distinct (in a shuffled order).
// Documents without keys are fed too unless `skip_empty`.
void collect(const IdSets& want, uint32_t docs, KeyPostings* postings, uint64_t seed,
             bool skip_empty = false) {
  std::vector<std::vector<uint64_t>> by_doc(docs);
  for (const auto& [key, ids] : want) {
    for (uint32_t id : ids) by_doc[id].push_back(key);
  }
  std::mt19937_64 rng(seed);
  for (uint32_t d = 0; d < docs; ++d) {
    if (skip_empty && by_doc[d].empty()) continue;
    std::shuffle(by_doc[d].begin(), by_doc[d].end(), rng);
    postings->add_doc(d, by_doc[d]);
  }
  postings->finish();
}

// Every entry: keys ascending and as expected, the ids, and posting bytes
// equal to CRoaring's serialization of the same set, of the stated size.
void expect_collected(KeyPostings* postings, const IdSets& want) {
  ASSERT_EQ(postings->count(), want.size());
  size_t i = 0;
  for (const auto& [key, ids] : want) {
    SCOPED_TRACE("key " + std::to_string(key) + " with " + std::to_string(ids.size()) + " ids");
    ASSERT_EQ(postings->key(i), key);
    ASSERT_EQ(postings->ids(i), ids);
    Bitmap b;
    b.add_many(ids.data(), ids.size());
    std::string bytes;
    StringSink sink(&bytes);
    ASSERT_TRUE(postings->write(i, &sink).ok());
    ASSERT_EQ(bytes, serialize_posting(b));
    ASSERT_EQ(postings->size(i), bytes.size());
    ++i;
  }
}

std::vector<uint32_t> sample(std::mt19937_64& rng, uint32_t universe, size_t n) {
  std::set<uint32_t> s;
  while (s.size() < n) s.insert(static_cast<uint32_t>(rng() % universe));
  return std::vector<uint32_t>(s.begin(), s.end());
}

// Set sizes on both sides of every change of representation: inline ids,
// each pooled block size, promotion to a bitmap, each full batch of
// pending ids, and a set dense enough for bitmap containers; ids over four
// 65536-id windows.
TEST(KeyPostings, EverySetSizeGivesRoaringBytes) {
  constexpr uint32_t kDocs = 4 * 65536 + 100;
  std::mt19937_64 rng(7);
  IdSets want;
  const uint32_t sizes[] = {1,   2,   3,   4,   5,   7,   8,   9,    16,   17,   64,
                            127, 128, 129, 255, 256, 257, 258, 511,  512,  513,  767,
                            768, 769, 1000, 4096, 4097, 9000, 30000};
  uint64_t next_key = 1000;
  for (uint32_t n : sizes) {
    for (int copies = 0; copies < 3; ++copies) want[next_key++ * 0x9E3779B97F4A7C15ULL] = sample(rng, kDocs, n);
  }
  // The extremes of the key space, and one key in every document.
  want[0] = {0, kDocs - 1};
  want[~uint64_t{0}] = {5};
  std::vector<uint32_t> all(kDocs);
  for (uint32_t d = 0; d < kDocs; ++d) all[d] = d;
  want[uint64_t{1} << 63] = all;
  // Enough rare keys to grow the table many times; some packed like ASCII
  // grams (small, sequential values).
  for (uint64_t k = 1; k <= 150000; ++k) {
    const uint64_t key = k % 2 == 0 ? k : rng();
    want[key] = sample(rng, kDocs, 1 + k % 3);
  }
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "hashed above 32 bits" : "any keys");
    KeyPostings postings(direct);
    collect(want, kDocs, &postings, 1);
    expect_collected(&postings, want);
  }
}

// Bitmap sets take their ids in batches: wide documents pass the pending
// pair cap mid-way, then many narrow ones cross two 65536-id windows; ids of
// documents never fed leave gaps.
TEST(KeyPostings, BatchedIdsSurviveEveryFlush) {
  IdSets want;
  uint32_t doc = 0;
  const uint32_t wide = KeyPostings::kBatchPairs / 3000 + 100;  // past the pair cap
  for (; doc < wide; ++doc) {
    for (uint64_t k = 0; k < 3000; ++k) want[(k * 7919 + doc) % 5000].push_back(doc);
  }
  for (; doc < wide + 140000; ++doc) {
    if (doc % 2 == 0) continue;
    for (uint64_t key : {uint64_t{0}, ~uint64_t{0}, (uint64_t{doc % 3} + 1) << 40}) {
      want[key].push_back(doc);
    }
  }
  KeyPostings postings;
  collect(want, doc, &postings, 4, /*skip_empty=*/true);
  expect_collected(&postings, want);
}

// A document may list a key more than once (the builder hands over every
// gram of a text): it joins the key's set once, at every set size, and
// whether the repeats are next to each other or far apart.
TEST(KeyPostings, RepeatedKeysOfADocumentCountOnce) {
  constexpr uint32_t kDocs = 70000;
  std::mt19937_64 rng(11);
  IdSets want;
  for (uint32_t n : {1u, 2u, 3u, 4u, 9u, 64u, 65u, 200u, 5000u}) {
    want[n * 1000003ULL] = sample(rng, kDocs, n);
  }
  std::vector<std::vector<uint64_t>> by_doc(kDocs);
  for (const auto& [key, ids] : want) {
    for (uint32_t id : ids) by_doc[id].insert(by_doc[id].end(), 1 + id % 3, key);
  }
  KeyPostings postings;
  for (uint32_t d = 0; d < kDocs; ++d) {
    std::shuffle(by_doc[d].begin(), by_doc[d].end(), rng);
    // Past the lookup window of 32 keys, too.
    if (d % 5 == 0 && !by_doc[d].empty()) by_doc[d].resize(by_doc[d].size() + 40, by_doc[d][0]);
    postings.add_doc(d, by_doc[d]);
  }
  postings.finish();
  expect_collected(&postings, want);
}

// Groups of consecutive documents collect what the same documents do one
// at a time: groups of one to a few hundred documents, documents without
// keys or with a repeated key, and groups across a 65536-id window or past
// the pending batch's pair cap (dense sets fill it within a window).
TEST(KeyPostings, GroupsOfDocumentsCollectAsSingleDocuments) {
  constexpr uint32_t kDocs = 65536 + 3000;
  std::mt19937_64 rng(31);
  IdSets want;
  for (uint64_t k = 0; k < 2000; ++k) want[rng()] = sample(rng, kDocs, 1 + rng() % 100);
  // Sets of a quarter of the documents, enough to pass the pair cap in the
  // first window.
  for (uint64_t k = 0; k < KeyPostings::kBatchPairs / 16384 + 88; ++k) {
    std::vector<uint32_t>& ids = want[rng()];
    for (uint32_t d = 0; d < kDocs; ++d) {
      if (rng() % 4 == 0) ids.push_back(d);
    }
  }
  std::vector<std::vector<uint64_t>> by_doc(kDocs);
  for (const auto& [key, ids] : want) {
    for (uint32_t id : ids) by_doc[id].push_back(key);
  }
  KeyPostings postings;
  postings.add_docs(0, {}, {});
  std::vector<uint64_t> keys;
  std::vector<uint32_t> ends;
  uint32_t first = 0;
  for (uint32_t d = 0; d < kDocs; ++d) {
    std::shuffle(by_doc[d].begin(), by_doc[d].end(), rng);
    if (d % 3 == 0 && !by_doc[d].empty()) by_doc[d].push_back(by_doc[d][0]);
    keys.insert(keys.end(), by_doc[d].begin(), by_doc[d].end());
    ends.push_back(static_cast<uint32_t>(keys.size()));
    if (rng() % 200 == 0 || d + 1 == kDocs) {
      postings.add_docs(first, keys, ends);
      first = d + 1;
      keys.clear();
      ends.clear();
    }
  }
  postings.finish();
  expect_collected(&postings, want);
}

TEST(KeyPostings, DocumentsWithoutKeysAndReuseAfterClear) {
  KeyPostings postings;
  IdSets want = {{42, {3, 9}}, {7, {9}}};
  collect(want, 12, &postings, 2);  // docs 0-2, 4-8, 10-11 have no keys
  expect_collected(&postings, want);

  postings.clear();
  postings.finish();
  EXPECT_EQ(postings.count(), 0u);

  postings.clear();
  IdSets again = {{42, {0}}, {1, {0, 1}}};
  collect(again, 2, &postings, 3);
  expect_collected(&postings, again);
}

// finish() then resume() in the middle of collection, with sets in every
// representation (inline, pooled, bitmap with pending ids), ends with the
// same sets as collecting straight through.
TEST(KeyPostings, ResumeAfterFinishContinuesEverySet) {
  std::mt19937_64 rng(11);
  IdSets want;
  // Three 65536-id windows, so that pooled and large sets gain windows
  // after each resume.
  constexpr uint32_t kDocs = 3 * 65536;
  for (uint64_t k = 0; k < 400; ++k) {
    const size_t n = 1 + rng() % (k % 4 == 0 ? 2000 : 80);
    want[rng()] = sample(rng, kDocs, n);
  }
  std::vector<std::vector<uint64_t>> by_doc(kDocs);
  for (const auto& [key, ids] : want) {
    for (uint32_t id : ids) by_doc[id].push_back(key);
  }
  KeyPostings postings;
  std::set<uint64_t> seen;
  for (uint32_t d = 0; d < kDocs; ++d) {
    size_t fresh = 0;
    for (uint64_t k : by_doc[d]) fresh += !seen.count(k);
    ASSERT_EQ(postings.count_new(by_doc[d]), fresh);
    postings.add_doc(d, by_doc[d]);
    seen.insert(by_doc[d].begin(), by_doc[d].end());
    ASSERT_EQ(postings.key_count(), seen.size());
    if (d == 1000 || d == 65536 || d == 140000) {
      postings.finish();
      postings.resume();
    }
  }
  postings.finish();
  expect_collected(&postings, want);
}

// Enough keys for the table to grow through several sizes, with keys
// that crowd a few home slots (small packed values) beside hashed ones, an
// entry number per key in order of first appearance, and a finish and
// resume between sizes.
// Both kinds of table. With keys above 2^32 taken as hashes, those near the
// top of the key space wrap past the end of the table, and small keys are
// few enough to be set aside when sorting.
class TableGrowth : public testing::TestWithParam<bool> {};

TEST_P(TableGrowth, KeepsEveryKeyAndNumber) {
  std::mt19937_64 rng(21);
  IdSets want;
  const uint64_t small = GetParam() ? 3000 : 30000;
  for (uint64_t k = 0; k < small; ++k) want[k] = sample(rng, 40, 1 + k % 3);
  for (int k = 0; k < 30000; ++k) want[rng()] = sample(rng, 40, 1 + rng() % 5);
  for (uint64_t k = 0; k < 300; ++k) want[~k] = sample(rng, 40, 1 + k % 3);
  std::vector<std::vector<uint64_t>> by_doc(40);
  for (const auto& [key, ids] : want) {
    for (uint32_t id : ids) by_doc[id].push_back(key);
  }
  KeyPostings postings(GetParam());
  std::map<uint64_t, uint32_t> number;
  for (uint32_t d = 0; d < by_doc.size(); ++d) {
    std::shuffle(by_doc[d].begin(), by_doc[d].end(), rng);
    std::vector<uint32_t> entry_of(by_doc[d].size());
    postings.add_doc(d, by_doc[d], entry_of.data());
    for (size_t i = 0; i < entry_of.size(); ++i) {
      auto [it, fresh] = number.emplace(by_doc[d][i], static_cast<uint32_t>(number.size()));
      ASSERT_EQ(entry_of[i], it->second) << "doc " << d << " key " << by_doc[d][i];
    }
    if (d == 20) {
      postings.finish();
      postings.resume();
      // Resumed entries are numbered in key order.
      number.clear();
      for (size_t i = 0; i < postings.count(); ++i) number[postings.key(i)] = static_cast<uint32_t>(i);
    }
  }
  postings.finish();
  expect_collected(&postings, want);
}

INSTANTIATE_TEST_SUITE_P(KeyPostings, TableGrowth, testing::Bool());

// A table sized ahead, too small, just right or far too large, before
// collecting or half-way, holds the same sets and numbers the keys alike.
TEST(KeyPostings, ReservedTableCollectsTheSame) {
  std::mt19937_64 rng(5);
  IdSets want;
  for (uint64_t k = 0; k < 2000; ++k) want[k] = sample(rng, 200, 1 + k % 4);
  for (int k = 0; k < 20000; ++k) want[rng()] = sample(rng, 200, 1 + rng() % 70);
  std::vector<std::vector<uint64_t>> by_doc(200);
  for (const auto& [key, ids] : want) {
    for (uint32_t id : ids) by_doc[id].push_back(key);
  }
  for (const size_t reserved : {size_t{100}, want.size(), 8 * want.size()}) {
    for (const uint32_t at : {0u, 100u}) {
      SCOPED_TRACE("reserve " + std::to_string(reserved) + " at doc " + std::to_string(at));
      KeyPostings postings(true);
      std::map<uint64_t, uint32_t> number;
      for (uint32_t d = 0; d < by_doc.size(); ++d) {
        if (d == at) postings.reserve(reserved);
        std::vector<uint32_t> entry_of(by_doc[d].size());
        postings.add_doc(d, by_doc[d], entry_of.data());
        for (size_t i = 0; i < entry_of.size(); ++i) {
          auto it = number.emplace(by_doc[d][i], static_cast<uint32_t>(number.size())).first;
          ASSERT_EQ(entry_of[i], it->second);
        }
      }
      postings.finish();
      expect_collected(&postings, want);
    }
  }
}

// Freed as written: the entries behind the writer go back to the system
// in steps, and every posting still comes out whole on either side of a
// step, large sets included.
TEST(KeyPostings, FreeingAsWrittenKeepsEveryPosting) {
  std::mt19937_64 rng(9);
  IdSets want;
  while (want.size() < 150000) want[rng()] = sample(rng, 300, 1 + rng() % 6);
  for (int k = 0; k < 50; ++k) want[rng()] = sample(rng, 300, 100 + rng() % 150);
  KeyPostings postings(true);
  collect(want, 300, &postings, 3);
  postings.free_as_written();
  expect_collected(&postings, want);
}

// Keys above 2^32 that are no hashes, taken as hashes: they share their
// high bits, so all of them have one home slot, and they arrive in
// descending order, so that the table holds them in reverse. They are
// still found and still come out in key order, as the table grows around
// such a crowd at its first slot, in its middle and at its last slot,
// from where the crowd wraps to the front.
TEST(KeyPostings, KeysTakenForHashesThatAreNotStillSort) {
  constexpr uint32_t kDocs = 9000;  // the table grows three times
  for (const uint64_t high : {uint64_t{1}, uint64_t{0xABCD1234}, uint64_t{0xFFFFFFFF}}) {
    IdSets want;
    std::vector<std::vector<uint64_t>> by_doc(kDocs);
    for (uint32_t d = 0; d < kDocs; ++d) {
      const uint64_t key = high << 32 | (kDocs - d);
      want[key] = {d};
      by_doc[d] = {key, d % 7};
      want[d % 7].push_back(d);
    }
    KeyPostings postings(true);
    for (uint32_t d = 0; d < kDocs; ++d) postings.add_doc(d, by_doc[d]);
    postings.finish();
    expect_collected(&postings, want);
  }
}

// Keys that share a home slot overtake one another in size, so the
// commonest keeps taking the home slot from the others: every key must stay
// findable with its entry number and its ids, in every set representation.
TEST(KeyPostings, CommonerKeysTakingTheHomeSlotKeepEveryKey) {
  // Keys with one home slot in the first table (4096 slots: the top 12
  // bits of the hash), and one whose home is the next slot.
  std::vector<uint64_t> crowd;
  uint64_t neighbour = 0;
  const auto home = [](uint64_t k) { return (k * 0x9E3779B97F4A7C15ULL) >> 52; };
  for (uint64_t k = 1; crowd.size() < 5 || neighbour == 0; ++k) {
    if (home(k) == home(1)) crowd.push_back(k);
    if (neighbour == 0 && home(k) == (home(1) + 1) % 4096) neighbour = k;
  }
  crowd.resize(5);
  crowd.push_back(neighbour);
  // Key j joins at document 100 j, later keys more often (in every
  // (6 - j)-th document before document 1000, then in every one), so each
  // overtakes those before it.
  constexpr uint32_t kDocs = 3000;
  IdSets want;
  std::vector<std::vector<uint64_t>> by_doc(kDocs);
  for (size_t j = 0; j < crowd.size(); ++j) {
    for (uint32_t d = 100 * static_cast<uint32_t>(j); d < kDocs; ++d) {
      if (d < 1000 && d % (crowd.size() - j) != 0) continue;
      want[crowd[j]].push_back(d);
      by_doc[d].push_back(crowd[j]);
    }
  }
  KeyPostings postings;
  std::map<uint64_t, uint32_t> number;
  for (uint32_t d = 0; d < kDocs; ++d) {
    std::vector<uint32_t> entry_of(by_doc[d].size());
    postings.add_doc(d, by_doc[d], entry_of.data());
    for (size_t i = 0; i < entry_of.size(); ++i) {
      auto [it, fresh] = number.emplace(by_doc[d][i], static_cast<uint32_t>(number.size()));
      ASSERT_EQ(entry_of[i], it->second) << "doc " << d << " key " << by_doc[d][i];
    }
    ASSERT_EQ(postings.count_new(crowd), crowd.size() - number.size());
  }
  postings.finish();
  expect_collected(&postings, want);
}

}  // namespace
}  // namespace vellum
