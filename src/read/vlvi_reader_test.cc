#include "read/vlvi_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/coding.h"
#include "testing/byte_mutations.h"

namespace vellum {
namespace {

struct TestList {
  std::vector<uint32_t> ids;
  std::vector<uint8_t> codes;  // m per vector
};

void put_floats(std::string* out, size_t n, float base) {
  for (size_t i = 0; i < n; ++i) {
    const float f = base + static_cast<float>(i);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    PutU32(out, bits);
  }
}

// A VLVI file assembled from the byte layout.
std::string vlvi(uint32_t d, uint32_t m, uint8_t nbits, bool rotated, const std::vector<TestList>& lists) {
  const uint64_t ksub = uint64_t{1} << nbits;
  uint64_t n = 0;
  for (const TestList& l : lists) n += l.ids.size();
  std::string out = "VLVI";
  PutU16(&out, 1);
  PutU8(&out, 1);
  PutU8(&out, rotated ? 1 : 0);
  PutU32(&out, d);
  PutU32(&out, static_cast<uint32_t>(lists.size()));
  PutU32(&out, m);
  PutU8(&out, nbits);
  out.append(3, '\0');
  PutU64(&out, n);
  out.append(16, '\0');
  if (rotated) put_floats(&out, size_t{d} * d, 0.5f);
  put_floats(&out, lists.size() * d, 1.0f);
  put_floats(&out, ksub * d, -3.0f);
  uint64_t offset = out.size() + 12 * lists.size();
  for (const TestList& l : lists) {
    PutU64(&out, offset);
    PutU32(&out, static_cast<uint32_t>(l.ids.size()));
    offset += (4 + m) * l.ids.size();
  }
  for (const TestList& l : lists) {
    for (uint32_t id : l.ids) PutU32(&out, id);
    for (uint8_t c : l.codes) PutU8(&out, c);
  }
  return out;
}

std::string problem_of(const std::string& bytes) {
  Checked<VlviReader> r = VlviReader::open("v.vlvi", bytes);
  if (!r.ok()) return r.problem().describe();
  auto s = r->verify();
  return s.ok() ? "" : s.problem().describe();
}

TEST(VlviReader, SmallestIndex) {
  const std::string b = vlvi(1, 1, 1, false, {{{42}, {1}}});
  ASSERT_EQ(b.size(), 77u);
  Checked<VlviReader> r = VlviReader::open("v.vlvi", b);
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  ASSERT_TRUE(r->verify().ok());
  EXPECT_EQ(r->header().data_offset, 72u);
  EXPECT_EQ(r->list_ids(0).value(), std::vector<uint32_t>{42});
  EXPECT_FALSE(r->list_ids(1).ok());
}

TEST(VlviReader, RotationAndEmptyLists) {
  const std::string b = vlvi(4, 2, 4, true, {{{7, 9}, {1, 2, 3, 4}}, {}, {{1}, {15, 0}}});
  Checked<VlviReader> r = VlviReader::open("v.vlvi", b);
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  auto s = r->verify();
  ASSERT_TRUE(s.ok()) << s.problem().describe();
  EXPECT_EQ(s->empty_lists, 1u);
  EXPECT_EQ(r->header().centroids_offset, 48u + 64u);
  EXPECT_EQ(r->list(1).count, 0u);
  EXPECT_EQ(r->list(1).offset, r->list(2).offset);
  EXPECT_EQ(r->list_ids(2).value(), std::vector<uint32_t>{1});
}

TEST(VlviReader, NamedProblems) {
  std::string code = vlvi(2, 2, 2, false, {{{5}, {3, 4}}});
  EXPECT_EQ(problem_of(code), "v.vlvi: list data at byte " + std::to_string(code.size() - 1) +
                                  ": code is not below 2^nbits");
  std::string m = vlvi(3, 2, 8, false, {{{5}, {3, 4}}});
  EXPECT_EQ(problem_of(m), "v.vlvi: header at byte 16: sub-quantizer count does not divide the dimension");
  std::string nan = vlvi(1, 1, 1, false, {{{1}, {0}}});
  EncodeU32(nan.data() + 48, 0x7FC00000u);
  EXPECT_EQ(problem_of(nan), "v.vlvi: centroids at byte 48: float is not finite");
  std::string count = vlvi(1, 1, 1, false, {{{1}, {0}}});
  EncodeU64(count.data() + 24, 2);
  EXPECT_EQ(problem_of(count), "v.vlvi: header at byte 24: vector count differs from the list directory");
}

TEST(VlviReader, EverySingleByteFlipIsCaughtOrHarmless) {
  const std::string b = vlvi(2, 1, 1, false, {{{3, 8}, {0, 1}}, {{4}, {1}}});
  const uint64_t floats_end = 48 + 4 * 2 * 2 + 4 * 2 * 2;
  const uint64_t data = floats_end + 24;
  testing::for_each_flip(b, [&](size_t pos, const std::string& damaged) {
    const std::string p = problem_of(damaged);
    // The metric, float values (unless made non-finite), document ids and
    // codes that stay below 2^nbits are free; header and directory are not.
    if ((pos < 48 && pos != 6) || (pos >= floats_end && pos < data)) {
      EXPECT_NE(p, "") << pos;
    }
  });
  testing::for_each_truncation(b, [](const std::string& cut) { EXPECT_NE(problem_of(cut), ""); });
}

}  // namespace
}  // namespace vellum
