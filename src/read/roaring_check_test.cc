#include "read/roaring_check.h"

#include <gtest/gtest.h>
#include <roaring/roaring.h>

#include <random>
#include <string>
#include <vector>

#include "common/coding.h"
#include "index/posting.h"
#include "testing/byte_mutations.h"
#include "testing/test_decoders.h"

namespace vellum {
namespace {

Bitmap of(const std::vector<uint32_t>& ids) {
  Bitmap b;
  b.add_many(ids.data(), ids.size());
  return b;
}

std::vector<uint32_t> decoded(const std::string& bytes, RoaringRules rules = {}) {
  std::vector<uint32_t> ids;
  RoaringSummary s;
  auto f = decode_roaring(bytes, rules, &s, &ids);
  EXPECT_FALSE(f.has_value()) << f->what << " at " << f->offset;
  return ids;
}

std::string fault_of(const std::string& bytes, RoaringRules rules = {}) {
  RoaringSummary s;
  auto f = check_roaring(bytes, rules, &s);
  return f ? f->what : "";
}

// Run containers only come from the library's run optimisation.
std::string with_runs(const std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
  Bitmap b;
  for (auto [lo, hi] : ranges) roaring_bitmap_add_range(b.get(), lo, hi);
  roaring_bitmap_run_optimize(b.get());
  std::string out(roaring_bitmap_portable_size_in_bytes(b.get()), '\0');
  roaring_bitmap_portable_serialize(b.get(), out.data());
  return out;
}

TEST(CheckRoaring, ContainerKindsAndTheirBoundaries) {
  std::vector<uint32_t> ids;
  for (uint32_t i = 0; i < 4096; ++i) ids.push_back(2 * i);           // array, at the limit
  for (uint32_t i = 0; i < 4097; ++i) ids.push_back(65536 + 3 * i);   // bitmap, one past it
  ids.push_back(0xFFFFFFFFu);                                         // top of the id space
  const std::string bytes = serialize_posting(of(ids));
  RoaringSummary s;
  ASSERT_FALSE(check_roaring(bytes, {}, &s).has_value());
  EXPECT_EQ(s.cardinality, ids.size());
  EXPECT_EQ(s.min, 0u);
  EXPECT_EQ(s.max, 0xFFFFFFFFu);
  EXPECT_EQ(s.containers, 3u);
  EXPECT_EQ(decoded(bytes), ids);
}

TEST(CheckRoaring, EmptySetIsSound) {
  RoaringSummary s;
  ASSERT_FALSE(check_roaring(serialize_posting(Bitmap()), {}, &s).has_value());
  EXPECT_EQ(s.cardinality, 0u);
  EXPECT_EQ(fault_of(""), "Roaring payload truncated in the cookie");
}

TEST(CheckRoaring, RunContainersOnlyWhenAllowed) {
  // Two containers (no offset table) and five (with one).
  for (auto ranges : {std::vector<std::pair<uint32_t, uint32_t>>{{10, 5000}, {70000, 70010}},
                      std::vector<std::pair<uint32_t, uint32_t>>{
                          {0, 3}, {65536, 65600}, {131072, 140000}, {200000, 200001}, {300000, 300100}}}) {
    const std::string bytes = with_runs(ranges);
    EXPECT_EQ(fault_of(bytes), "run containers are not allowed here");
    std::vector<uint32_t> want;
    for (auto [lo, hi] : ranges) {
      for (uint32_t x = lo; x < hi; ++x) want.push_back(x);
    }
    EXPECT_EQ(decoded(bytes, RoaringRules{true}), want);
  }
}

std::string array_payload(const std::vector<uint16_t>& highs, const std::vector<std::vector<uint16_t>>& lows) {
  std::string out;
  PutU32(&out, 12346);
  PutU32(&out, static_cast<uint32_t>(highs.size()));
  for (size_t i = 0; i < highs.size(); ++i) {
    PutU16(&out, highs[i]);
    PutU16(&out, static_cast<uint16_t>(lows[i].size() - 1));
  }
  uint32_t at = static_cast<uint32_t>(8 + 8 * highs.size());
  for (const auto& l : lows) {
    PutU32(&out, at);
    at += static_cast<uint32_t>(2 * l.size());
  }
  for (const auto& l : lows) {
    for (uint16_t v : l) PutU16(&out, v);
  }
  return out;
}

TEST(CheckRoaring, FaultsOfHandBuiltPayloads) {
  EXPECT_EQ(fault_of(array_payload({1, 1}, {{3}, {4}})), "container keys are not strictly ascending");
  EXPECT_EQ(fault_of(array_payload({2, 1}, {{3}, {4}})), "container keys are not strictly ascending");
  EXPECT_EQ(fault_of(array_payload({0}, {{5, 5}})), "array container values are not strictly ascending");
  EXPECT_EQ(fault_of(array_payload({0}, {{6, 5}})), "array container values are not strictly ascending");
  EXPECT_EQ(fault_of(array_payload({0}, {{5}}) + "x"), "trailing bytes after the Roaring payload");

  std::string bad_offset = array_payload({0, 1}, {{5}, {6}});
  EncodeU32(bad_offset.data() + 20, 28);
  EXPECT_EQ(fault_of(bad_offset), "container offset does not match its position");

  std::string cookie;
  PutU32(&cookie, 12345);
  PutU32(&cookie, 0);
  EXPECT_EQ(fault_of(cookie), "unknown Roaring cookie 12345");

  std::string too_many;
  PutU32(&too_many, 12346);
  PutU32(&too_many, 65537);
  EXPECT_EQ(fault_of(too_many), "container count exceeds 65536");

  // A bitmap container (cardinality 5000 announced) with one bit too few.
  std::vector<uint32_t> ids;
  for (uint32_t i = 0; i < 5000; ++i) ids.push_back(i);
  std::string bitmap = serialize_posting(of(ids));
  bitmap[16] = static_cast<char>(bitmap[16] & 0xFE);
  EXPECT_EQ(fault_of(bitmap), "bitmap container population differs from its cardinality");
}

std::string run_payload(uint16_t card_minus_one, const std::vector<std::pair<uint16_t, uint16_t>>& runs) {
  std::string out;
  PutU32(&out, 12347);  // one container
  out.push_back('\x01');
  PutU16(&out, 0);
  PutU16(&out, card_minus_one);
  PutU16(&out, static_cast<uint16_t>(runs.size()));
  for (auto [start, len_minus_one] : runs) {
    PutU16(&out, start);
    PutU16(&out, len_minus_one);
  }
  return out;
}

TEST(CheckRoaring, FaultsOfRunContainers) {
  const RoaringRules runs{true};
  EXPECT_EQ(fault_of(run_payload(9, {{0, 4}, {10, 4}}), runs), "");
  EXPECT_EQ(fault_of(run_payload(9, {{0, 4}, {4, 4}}), runs), "runs are not ascending and disjoint");
  EXPECT_EQ(fault_of(run_payload(1, {{65535, 1}}), runs), "run extends past its container");
  EXPECT_EQ(fault_of(run_payload(8, {{0, 4}, {10, 4}}), runs), "run lengths differ from the container cardinality");
  EXPECT_EQ(fault_of(run_payload(0, {}), runs), "run container holds no runs");
  std::string spare = run_payload(9, {{0, 4}, {10, 4}});
  spare[4] = '\x03';  // marks a second container that does not exist
  EXPECT_EQ(fault_of(spare, runs), "run-container bitset marks containers past the count");
}

TEST(CheckRoaring, EveryTruncationIsAFault) {
  std::vector<uint32_t> ids = {1, 2, 3, 70000};
  for (uint32_t i = 0; i < 5000; ++i) ids.push_back(200000 + i);
  const std::string bytes = serialize_posting(of(ids));
  testing::for_each_truncation(bytes, [](const std::string& cut) {
    RoaringSummary s;
    EXPECT_TRUE(check_roaring(cut, {}, &s).has_value()) << cut.size();
  });
}

// Whatever a flip does, an accepted payload must decode to the same ids as
// the strict test decoder and the library's own deserializer.
TEST(CheckRoaring, AcceptedDamageAgreesWithIndependentDecoders) {
  std::vector<uint32_t> ids = {1, 9, 300, 65535, 65536, 131072 + 7};
  const std::string bytes = serialize_posting(of(ids));
  size_t caught = 0, total = 0;
  testing::for_each_flip(bytes, [&](size_t, const std::string& damaged) {
    ++total;
    std::vector<uint32_t> mine;
    RoaringSummary s;
    if (decode_roaring(damaged, {}, &s, &mine)) {
      ++caught;
      return;
    }
    EXPECT_EQ(testing::decode_posting(damaged).ids, mine);
    Result<Bitmap> lib = deserialize_roaring(damaged, {});
    ASSERT_TRUE(lib.ok());
    EXPECT_EQ(lib->to_vector(), mine);
  });
  EXPECT_GT(caught, total / 2);
}

TEST(DeserializeRoaring, NamesTheFaultForCompaction) {
  Result<Bitmap> bad = deserialize_roaring(array_payload({0}, {{5, 5}}), {});
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().message(),
            "roaring deserialize: array container values are not strictly ascending at byte 18");
  std::mt19937 rng(7);
  std::vector<uint32_t> ids;
  for (int i = 0; i < 20000; ++i) ids.push_back(rng() % 300000);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  Result<Bitmap> good = deserialize_roaring(serialize_posting(of(ids)), {});
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good->to_vector(), ids);
}

}  // namespace
}  // namespace vellum
