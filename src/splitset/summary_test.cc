#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/coding.h"
#include "facet/facet_key.h"
#include "facet/facet_presence.h"
#include "splitset/bloom.h"
#include "splitset/summary_format.h"
#include "splitset/summary_tlv.h"
#include "splitset/tombstones.h"

namespace vellum {
namespace {

std::string tlv_bytes(uint8_t kind, std::string payload) {
  std::string out(1, static_cast<char>(kind));
  PutU32(&out, static_cast<uint32_t>(payload.size()));
  return out + payload;
}

std::optional<std::string_view> found(std::string_view summary, uint8_t kind) {
  auto r = find_tlv(summary, kind);
  EXPECT_TRUE(r.ok()) << r.error().text();
  return r.ok() ? *r : std::nullopt;
}

TEST(SummaryTlv, LayoutAndFirstMatchWins) {
  EXPECT_EQ(make_tlv(2, "abc"), std::string("\x02\x03\x00\x00\x00" "abc", 8));
  const std::string s = tlv_bytes(1, "bloom") + tlv_bytes(2, "") + tlv_bytes(2, "second");
  EXPECT_EQ(found(s, 1), "bloom");
  EXPECT_EQ(found(s, 2), "");  // the first kind-2 entry, though empty
  EXPECT_EQ(found(s, 4), std::nullopt);
  EXPECT_EQ(found("", 1), std::nullopt);
}

TEST(SummaryTlv, ShortTailIsAbsenceNotError) {
  for (size_t tail = 1; tail <= 4; ++tail) {
    const std::string s = tlv_bytes(1, "x") + std::string(tail, '\x04');
    EXPECT_EQ(found(s, 4), std::nullopt) << tail;
    EXPECT_EQ(found(s, 1), "x");
  }
}

TEST(SummaryTlv, EntryPastTheEndIsAnErrorEvenAfterASkip) {
  std::string s = tlv_bytes(1, "ok") + tlv_bytes(4, "abcdef");
  s.pop_back();
  auto r = find_tlv(s, 4);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), FormatErrorKind::kMalformed);
  EXPECT_EQ(r.error().text(), "malformed index: VLSS summary TLV out of range");
  // A match before the bad entry is returned without reaching it.
  EXPECT_EQ(found(s, 1), "ok");
  // A length near 2^32 must not wrap the bounds check.
  std::string huge(1, '\x02');
  PutU32(&huge, 0xFFFFFFFF);
  EXPECT_FALSE(find_tlv(huge, 2).ok());
}

TEST(Bloom, BitAndProbeCounts) {
  EXPECT_EQ(bloom_bit_count(1000, 10), 10000u);
  EXPECT_EQ(bloom_bit_count(0, 10), 64u);  // n taken as 1
  EXPECT_EQ(bloom_bit_count(6, 10), 64u);
  EXPECT_EQ(bloom_bit_count(7, 10), 72u);  // 70 rounded up to a multiple of 8
  EXPECT_EQ(bloom_bit_count(1u << 31, 4), 0xFFFFFFF8u);
  EXPECT_EQ(bloom_bit_count(UINT64_MAX, 0xFFFFFFFF), 0xFFFFFFF8u);
  EXPECT_EQ(bloom_probe_count(0), 1u);
  EXPECT_EQ(bloom_probe_count(1), 1u);
  EXPECT_EQ(bloom_probe_count(2), 1u);
  EXPECT_EQ(bloom_probe_count(3), 2u);
  EXPECT_EQ(bloom_probe_count(10), 7u);
  EXPECT_EQ(bloom_probe_count(23), 16u);
  EXPECT_EQ(bloom_probe_count(24), 16u);  // 17 clamped
  EXPECT_EQ(bloom_probe_count(0xFFFFFFFF), 16u);
}

// The reader's side of the filter, written from the hashing rule.
uint64_t mix(uint64_t v) {
  v = (v ^ (v >> 30)) * 0xbf58476d1ce4e5b9ULL;
  v = (v ^ (v >> 27)) * 0x94d049bb133111ebULL;
  return v ^ (v >> 31);
}

bool may_contain(const std::string& payload, uint64_t key) {
  const uint32_t k = GetU32(payload.data());
  const uint32_t m = GetU32(payload.data() + 4);
  uint64_t h = mix(key);
  const uint64_t g = mix(key ^ 0x9e3779b97f4a7c15ULL) | 1;
  for (uint32_t i = 0; i < k; ++i, h += g) {
    const uint64_t p = h % m;
    if (!(static_cast<uint8_t>(payload[8 + p / 8]) >> (p % 8) & 1)) return false;
  }
  return true;
}

TEST(Bloom, PayloadHoldsEveryKeyAndRejectsMost) {
  std::mt19937_64 rng(7);
  std::vector<uint64_t> keys(1000);
  for (uint64_t& k : keys) k = rng();
  const std::string payload = build_bloom(keys.data(), keys.size(), 10);
  ASSERT_EQ(payload.size(), 1258u);
  EXPECT_EQ(GetU32(payload.data()), 7u);
  EXPECT_EQ(GetU32(payload.data() + 4), 10000u);
  for (uint64_t k : keys) EXPECT_TRUE(may_contain(payload, k));
  int false_positives = 0;
  for (int i = 0; i < 20000; ++i) false_positives += may_contain(payload, rng());
  EXPECT_LT(false_positives, 400);  // about 0.8% expected at 10 bits per key
}

TEST(Bloom, EmptyKeySetGivesTheSmallestFilter) {
  const std::string payload = build_bloom(nullptr, 0, 10);
  EXPECT_EQ(payload.size(), 16u);
  EXPECT_EQ(GetU32(payload.data() + 4), 64u);
  EXPECT_EQ(payload.substr(8), std::string(8, '\0'));
}

TEST(Tombstones, RoundTripAndRejectsBadBytes) {
  Bitmap ids;
  for (uint32_t id : {5u, 70000u, 4294967295u}) ids.add(id);
  const std::string payload = encode_tombstones(ids);
  FormatResult<Bitmap> back = decode_tombstones(payload);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->to_vector(), ids.to_vector());
  for (const std::string& bad : {std::string("xyz"), payload + "x", payload.substr(0, payload.size() - 1)}) {
    FormatResult<Bitmap> r = decode_tombstones(bad);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().text(), "roaring deserialize: invalid tombstone bitmap");
  }
}

TEST(FacetPresence, SortedDistinctKeysOfEveryPair) {
  FacetMap facets;
  add_facet(&facet_field(&facets, "year"), "2020", 0);
  std::string one = encode_facet_presence(facets, true);
  ASSERT_EQ(one.size(), 12u);
  EXPECT_EQ(GetU32(one.data()), 1u);
  EXPECT_EQ(GetU64(one.data() + 4), 0xf0b1e81f6d8417b9ULL);

  FacetCategories& lang = facet_field(&facets, "Lang");
  add_facet(&lang, "EN", 1);
  add_facet(&lang, "en", 2);  // folds onto EN's key
  const std::string folded = encode_facet_presence(facets, true);
  ASSERT_EQ(GetU32(folded.data()), 2u);
  std::vector<uint64_t> want = {facet_key("year", "2020", true), facet_key("lang", "en", false)};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(GetU64(folded.data() + 4), want[0]);
  EXPECT_EQ(GetU64(folded.data() + 12), want[1]);
  EXPECT_EQ(folded.size(), 20u);
  EXPECT_EQ(GetU32(encode_facet_presence(facets, false).data()), 3u);
}

}  // namespace
}  // namespace vellum
