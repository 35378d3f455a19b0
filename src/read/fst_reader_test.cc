#include "read/fst_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "common/coding.h"
#include "testing/byte_mutations.h"
#include "testing/fst_image.h"

namespace vellum {
namespace {

FstReader open_ok(const std::string& img) {
  Checked<FstReader> r = FstReader::open(ProblemSite("t.fst"), "router", 0, img);
  if (!r.ok()) ADD_FAILURE() << r.problem().describe();
  return std::move(r).value();
}

TEST(FstReader, Crc32cCheckValue) { EXPECT_EQ(crc32c_of("123456789"), 0xE3069283u); }

// The one-key map «t» -> 0: a single-transition root (delta 0 to the empty
// final node, pack sizes 0x10, state 0x81 for the common input 't').
TEST(FstReader, SingleTransitionNodeOfTheSmallestMap) {
  std::string img;
  PutU64(&img, 3);
  PutU64(&img, 0);
  img += std::string("\x00\x10\x81", 3);
  img = testing::fst_finish(img, 1, 18);
  ASSERT_EQ(img.size(), 39u);
  FstReader r = open_ok(img);
  auto all = r.entries(100);
  ASSERT_TRUE(all.ok()) << all.problem().describe();
  ASSERT_EQ(all->size(), 1u);
  EXPECT_EQ((*all)[0].key, "t");
  EXPECT_EQ((*all)[0].value, 0u);
  auto lb = r.lower_bound("a");
  ASSERT_TRUE(lb.ok() && lb->has_value());
  EXPECT_EQ((*lb)->key, "t");
  EXPECT_FALSE(r.lower_bound("u").value().has_value());
}

TEST(FstReader, EmptyMapAndWideNodes) {
  const std::string no_keys = testing::fst_image({});  // readers view their bytes
  FstReader empty = open_ok(no_keys);
  EXPECT_TRUE(empty.entries(0).value().empty());
  EXPECT_FALSE(empty.lower_bound("").value().has_value());

  // 70 keys diverging after a shared prefix: a node with a count byte and
  // a 256-byte index.
  std::map<std::string, uint64_t> map;
  for (int i = 0; i < 70; ++i) map["pre" + std::string(1, static_cast<char>(40 + i))] = 1000 + i;
  const std::string wide = testing::fst_image(map);
  FstReader r = open_ok(wide);
  auto all = r.entries(1000);
  ASSERT_TRUE(all.ok()) << all.problem().describe();
  ASSERT_EQ(all->size(), 70u);
  auto it = map.begin();
  for (const FstEntry& e : *all) {
    EXPECT_EQ(e.key, it->first);
    EXPECT_EQ(e.value, it->second);
    ++it;
  }
  EXPECT_FALSE(r.entries(4 * 70 - 1).ok());  // the key-byte budget holds
}

TEST(FstReader, LowerBoundAgreesWithAnOrderedMap) {
  std::mt19937 rng(3);
  std::map<std::string, uint64_t> map;
  for (int i = 0; i < 300; ++i) {
    std::string k;
    for (size_t n = 1 + rng() % 6; n > 0; --n) k.push_back(static_cast<char>('a' + rng() % 5));
    map[k] = rng();
  }
  const std::string img = testing::fst_image(map);
  FstReader r = open_ok(img);
  for (int q = 0; q < 2000; ++q) {
    std::string k;
    for (size_t n = rng() % 7; n > 0; --n) k.push_back(static_cast<char>('a' + rng() % 6));
    auto got = r.lower_bound(k);
    ASSERT_TRUE(got.ok()) << k << ": " << got.problem().describe();
    auto want = map.lower_bound(k);
    ASSERT_EQ(got->has_value(), want != map.end()) << k;
    if (want == map.end()) continue;
    EXPECT_EQ((*got)->key, want->first) << k;
    EXPECT_EQ((*got)->value, want->second) << k;
  }
}

TEST(FstReader, DamageIsCaughtByTheChecksumOrTheNodeChecks) {
  const std::string img = testing::fst_image({{"ab", 5}, {"ac", 3}, {"b", 9}});
  testing::for_each_flip(img, [](size_t pos, const std::string& damaged) {
    EXPECT_FALSE(FstReader::open(ProblemSite("t"), "router", 0, damaged).ok()) << pos;
  });
  testing::for_each_truncation(img, [](const std::string& cut) {
    EXPECT_FALSE(FstReader::open(ProblemSite("t"), "router", 0, cut).ok());
  });
  // With the checksum repaired, damaged nodes are still refused or read
  // without harm.
  testing::for_each_flip(img, [](size_t pos, std::string damaged) {
    if (pos >= damaged.size() - 20) return;
    damaged = testing::fst_finish(damaged.substr(0, damaged.size() - 20), 3, GetU64(damaged.data() + damaged.size() - 12));
    Checked<FstReader> r = FstReader::open(ProblemSite("t"), "router", 0, damaged);
    if (!r.ok()) return;
    auto all = r->entries(64);
    if (all.ok()) {
      ASSERT_EQ(all->size(), 3u) << pos;
      for (size_t i = 1; i < all->size(); ++i) EXPECT_LT((*all)[i - 1].key, (*all)[i].key) << pos;
    }
    (void)r->lower_bound("ab");
  });
}

}  // namespace
}  // namespace vellum
