#include "fst_map/fst_map_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fst_map/crc32c.h"
#include "testing/fst_reader.h"
#include "testing/fst_vectors.h"
#include "testing/test_decoders.h"

namespace vellum {
namespace {

using testing::FstEntry;
using testing::FstImage;

std::string build(const std::vector<FstEntry>& entries) {
  FstMapBuilder b;
  for (const FstEntry& e : entries) {
    Status s = b.insert(e.key, e.value);
    EXPECT_TRUE(s.ok()) << s.error().message();
  }
  Result<std::string> image = b.finish();
  EXPECT_TRUE(image.ok());
  return image.ok() ? std::move(image).value() : std::string();
}

size_t first_difference(const std::string& a, const std::string& b) {
  const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return static_cast<size_t>(ia - a.begin());
}

TEST(FstMapBuilderTest, ReproducesEveryReferenceImageAndReadsItBack) {
  const std::vector<std::string> names = testing::fst_vector_names();
  if (names.empty()) GTEST_SKIP() << "no FST vectors at " << testing::fst_vector_dir();
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string dir = testing::fst_vector_dir() + "/" + name;
    const std::vector<FstEntry> entries =
        testing::parse_fst_keys(testing::read_file(dir + ".keys"));
    const std::string expected = testing::read_file(dir + ".fst");
    const std::string image = build(entries);
    ASSERT_EQ(image.size(), expected.size());
    ASSERT_TRUE(image == expected) << "first differing byte at " << first_difference(image, expected);
    // The reader checks the reference bytes, not ours, so it is validated
    // against the same images.
    FstImage fst(expected);
    EXPECT_EQ(fst.entries(), entries);
    // Walking lookups are slow in this reader; a sample suffices for the
    // largest cases, whose every entry entries() has already checked.
    const size_t step = entries.size() > 5000 ? 97 : 1;
    for (size_t i = 0; i < entries.size(); i += step) {
      ASSERT_EQ(fst.get(entries[i].key), entries[i].value);
    }
  }
}

TEST(FstMapBuilderTest, SingleKeyTIsThirtyNineBytes) {
  const std::string image = build({{"t", 0}});
  ASSERT_EQ(image.size(), 39u);
  EXPECT_EQ(image.substr(16, 3), std::string("\x00\x10\x81", 3));
  EXPECT_EQ(GetU64(image.data() + 27), 18u);
}

TEST(FstMapBuilderTest, EmptyMapRootIsAGeneralNodeWithoutTransitions) {
  const std::string image = build({});
  ASSERT_EQ(image.size(), 39u);
  EXPECT_EQ(image.substr(16, 3), std::string(3, '\0'));
  FstImage fst(image);
  EXPECT_TRUE(fst.entries().empty());
  EXPECT_EQ(fst.lower_bound(""), std::nullopt);
}

TEST(FstMapBuilderTest, OutputsArePushedTowardsTheRoot) {
  const std::string image = build({{"ab", 5}, {"ac", 3}});
  // Root: one transition on 'a' with output 3 (single-transition node).
  EXPECT_EQ(static_cast<uint8_t>(image[24]), 3);
  // Child: outputs of 'c' (0) then 'b' (2), written last transition first.
  EXPECT_EQ(image.substr(16, 2), std::string("\x00\x02", 2));
  FstImage fst(image);
  EXPECT_EQ(fst.get("ab"), 5u);
  EXPECT_EQ(fst.get("ac"), 3u);
  EXPECT_EQ(fst.get("a"), std::nullopt);
}

// 70 transitions: no outputs, one-byte zero deltas, inputs, a 256-byte
// index, pack sizes, the count byte 70 and state 0, from position 16.
TEST(FstMapBuilderTest, SeventyTransitionsCarryACountByteAndAnIndex) {
  std::vector<FstEntry> entries;
  for (int b = 0; b < 70; ++b) entries.push_back({std::string("p") + static_cast<char>(b), 0});
  const std::string image = build(entries);
  const size_t node = 16;
  EXPECT_EQ(image.substr(node, 70), std::string(70, '\0'));
  for (int j = 0; j < 70; ++j) EXPECT_EQ(static_cast<uint8_t>(image[node + 70 + j]), 69 - j);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(static_cast<uint8_t>(image[node + 140 + b]), b < 70 ? b : 255) << b;
  }
  EXPECT_EQ(image.substr(node + 396, 3), std::string("\x10\x46\x00", 3));
  EXPECT_EQ(FstImage(image).entries(), entries);
}

TEST(FstMapBuilderTest, TwoHundredFiftySixTransitionsStoreTheCountAsOne) {
  std::vector<FstEntry> entries;
  for (int b = 0; b < 256; ++b) entries.push_back({std::string(1, static_cast<char>(b)), 7});
  const std::string image = build(entries);
  const size_t root = GetU64(image.data() + image.size() - 12);
  EXPECT_EQ(root, image.size() - 21);
  EXPECT_EQ(static_cast<uint8_t>(image[root]), 0);      // not final, count elsewhere
  EXPECT_EQ(static_cast<uint8_t>(image[root - 1]), 1);  // 256 written as 1
  EXPECT_EQ(FstImage(image).entries(), entries);
}

TEST(FstMapBuilderTest, EmptyKeyAloneWithValueZeroNeedsNoNode) {
  const std::string image = build({{"", 0}});
  EXPECT_EQ(image.size(), 36u);
  FstImage fst(image);
  EXPECT_EQ(fst.root(), 0u);
  EXPECT_EQ(fst.entries(), (std::vector<FstEntry>{{"", 0}}));
}

TEST(FstMapBuilderTest, RefusesDuplicateAndOutOfOrderKeysWithoutChange) {
  FstMapBuilder b;
  ASSERT_TRUE(b.insert("b", 1).ok());
  Status dup = b.insert("b", 2);
  ASSERT_FALSE(dup.ok());
  EXPECT_EQ(dup.error().kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(dup.error().message(), "Error inserting duplicate key: 'b'.");
  Status order = b.insert("a", 2);
  ASSERT_FALSE(order.ok());
  EXPECT_EQ(order.error().message(),
            "Error inserting out-of-order key: 'a'. (Previous key was 'b'.) Keys must be inserted "
            "in lexicographic order.");
  Status empty = b.insert("", 2);
  EXPECT_FALSE(empty.ok());
  ASSERT_TRUE(b.insert("c", 3).ok());
  Result<std::string> image = b.finish();
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(*image, build({{"b", 1}, {"c", 3}}));
  EXPECT_EQ(b.key_count(), 2u);
  EXPECT_FALSE(b.finish().ok());
  EXPECT_FALSE(b.insert("d", 4).ok());
}

TEST(FstMapBuilderTest, MalformedUtf8KeysStillGiveTextMessages) {
  FstMapBuilder b;
  ASSERT_TRUE(b.insert("\xff", 1).ok());
  Status s = b.insert("\xff", 1);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "Error inserting duplicate key: '\xEF\xBF\xBD'.");
}

// Random key sets over small and full byte alphabets: every key reads back
// with its value, and lower_bound agrees with a sorted list for probes that
// are present, absent, prefixes and extensions.
TEST(FstMapBuilderTest, RandomMapsReadBackWithExactAndLowerBoundLookups) {
  std::mt19937_64 rng(20240517);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const int alphabet = round % 2 == 0 ? 4 : 256;
    std::set<std::string> keys;
    const size_t n = 1 + rng() % (round < 20 ? 50 : 3000);
    while (keys.size() < n) {
      std::string k(rng() % 12, '\0');
      for (char& c : k) c = static_cast<char>(rng() % alphabet + (alphabet == 4 ? 'a' : 0));
      keys.insert(k);
    }
    std::vector<FstEntry> entries;
    for (const std::string& k : keys) {
      const int bits = static_cast<int>(rng() % 65);
      entries.push_back({k, bits == 64 ? rng() : rng() & ((uint64_t{1} << bits) - 1)});
    }
    FstImage fst(build(entries));
    ASSERT_EQ(fst.entries(), entries);
    for (int q = 0; q < 200; ++q) {
      std::string probe = entries[rng() % entries.size()].key;
      if (q % 3 == 1 && !probe.empty()) probe.pop_back();
      if (q % 3 == 2) probe.push_back(static_cast<char>(rng() % alphabet));
      auto it = std::lower_bound(entries.begin(), entries.end(), probe,
                                 [](const FstEntry& e, const std::string& p) { return e.key < p; });
      const std::optional<FstEntry> got = fst.lower_bound(probe);
      if (it == entries.end()) {
        EXPECT_EQ(got, std::nullopt);
      } else {
        EXPECT_EQ(got, *it);
      }
    }
  }
}

TEST(Crc32cTest, KnownValuesAndIncrementalUse) {
  EXPECT_EQ(crc32c("", 0), 0u);
  EXPECT_EQ(crc32c("123456789", 9), 0xE3069283u);
  const std::string zeros(32, '\0');
  EXPECT_EQ(crc32c(zeros.data(), zeros.size()), 0x8A9136AAu);
  std::string text = "The quick brown fox jumps over the lazy dog, twice over.";
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    EXPECT_EQ(crc32c_extend(crc32c(text.data(), cut), text.data() + cut, text.size() - cut),
              crc32c(text.data(), text.size()));
  }
  EXPECT_EQ(crc32c_mask(0), 0xA282EAD8u);
  EXPECT_EQ(crc32c_mask(1), (1u << 17) + 0xA282EAD8u);
}

}  // namespace
}  // namespace vellum
