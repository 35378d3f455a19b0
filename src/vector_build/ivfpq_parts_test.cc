#include "vector_build/ivfpq_parts.h"

#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "common/coding.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"
#include "testing/vlvi_decoder.h"

namespace vellum {
namespace {

std::string floats(size_t count, float start = 0) {
  std::string out;
  for (size_t i = 0; i < count; ++i) PutU32(&out, std::bit_cast<uint32_t>(start + static_cast<float>(i)));
  return out;
}

std::string u32s(std::vector<uint32_t> values) {
  std::string out;
  for (uint32_t v : values) PutU32(&out, v);
  return out;
}

// dim 4, nlist 3, m 2, nbits 2: three vectors.
struct Case {
  uint64_t dim = 4, nlist = 3, m = 2;
  uint8_t nbits = 2;
  std::string metric = "l2";
  std::string centroids = floats(12);
  std::string codebooks = floats(2 * 4 * 2, 100);
  std::string ids = u32s({7, 8, 9});
  std::string assignments = u32s({2, 0, 2});
  std::string codes = std::string("\x01\x02\x03\x00\x00\x01", 6);
  std::optional<std::string> opq;

  Result<VectorBuildStats> write(const std::string& path) const {
    FaissBuffers b{centroids, codebooks, ids, assignments, codes, std::nullopt};
    if (opq) b.opq = *opq;
    return write_vlvi_from_faiss(path, dim, nlist, m, b, nbits, metric);
  }
  std::string error() const {
    testing::TempDir dir;
    Result<VectorBuildStats> r = write(dir.file("x.vlvi"));
    return r.ok() ? "ok" : r.error().message();
  }
};

TEST(WriteVlviFromFaiss, ChecksInOrder) {
  Case c;
  EXPECT_EQ(c.error(), "ok");
  // Each case breaks every later check too.
  c.codes = "\xff";
  c.assignments = "\x01";
  c.ids = "123456";
  c.codebooks = "";
  c.centroids = floats(11);
  c.metric = "cityblock";
  Case p = c;
  p.dim = 5;
  p.nlist = 0;
  p.nbits = 0;
  EXPECT_EQ(p.error(), "need dim > 0, m > 0, and m to divide dim");
  p.dim = 4;
  EXPECT_EQ(p.error(), "nbits must be in 1..=8");
  p.nbits = 2;
  EXPECT_EQ(p.error(), "nlist must be >= 1");
  EXPECT_EQ(c.error(), "unknown metric cityblock; use 'ip' (cosine) or 'l2'");
  c.metric = "IP";
  EXPECT_EQ(c.error(), "centroids: expected 48 bytes (12 f32), got 44");
  c.centroids = floats(12);
  EXPECT_EQ(c.error(), "codebooks: expected 64 bytes (16 f32), got 0");
  c.codebooks = floats(16);
  c.opq = floats(15);
  EXPECT_EQ(c.error(), "opq: expected 64 bytes (16 f32), got 60");
  c.opq = floats(16);
  EXPECT_EQ(c.error(), "ids: byte length 6 is not a multiple of 4");
  c.ids = u32s({1, 2});
  EXPECT_EQ(c.error(), "assignments: byte length 1 is not a multiple of 4");
  c.assignments = u32s({0});
  EXPECT_EQ(c.error(), "bad params: assignments length != ids length");
  c.assignments = u32s({0, 3});
  EXPECT_EQ(c.error(), "bad params: codes length != ids length * m");
  c.codes = "\x01\x02\x03\x04";
  EXPECT_EQ(c.error(), "bad params: an assignment >= nlist");
  c.assignments = u32s({0, 2});
  EXPECT_EQ(c.error(), "bad params: a code >= ksub (1<<nbits)");
  c.codes = std::string("\x01\x02\x03\x00", 4);
  EXPECT_EQ(c.error(), "ok");
}

TEST(WriteVlviFromFaiss, HugeParametersDoNotWrapTheExpectedSizes) {
  Case c;
  c.dim = uint64_t{1} << 63;
  c.m = 1;
  c.nlist = 4;
  // 2^65 f32 would wrap to 0 in 64 bits and match an empty buffer.
  c.centroids = "";
  EXPECT_EQ(c.error(), "centroids: expected 147573952589676412928 bytes (36893488147419103232 f32), got 0");
}

TEST(IvfPqFromParts, DirectLengthChecks) {
  IvfPqParts p;
  p.dim = 2;
  p.nlist = 1;
  p.m = 1;
  p.nbits = 1;
  p.centroids = {1, 2, 3};
  EXPECT_EQ(ivfpq_from_parts(p).error().message(), "bad params: centroids length != nlist*dim");
  p.centroids = {1, 2};
  EXPECT_EQ(ivfpq_from_parts(p).error().message(), "bad params: codebooks length != m*ksub*dsub");
  p.codebooks = {1, 2, 3, 4};
  p.opq = std::vector<float>(3);
  EXPECT_EQ(ivfpq_from_parts(p).error().message(), "bad params: opq length != dim*dim");
  p.opq = std::vector<float>(4);
  EXPECT_TRUE(ivfpq_from_parts(p).ok());
  p.m = 0;
  EXPECT_EQ(ivfpq_from_parts(p).error().message(), "bad params: dim/m: need dim>0, m>0, m|dim");
}

TEST(WriteVlviFromFaiss, EightBitCodesAcceptEveryByte) {
  Case c;
  c.nbits = 8;
  c.codebooks = floats(2 * 256 * 2);
  c.codes = std::string("\xff\x00\x80\x10\x7f\xfe", 6);
  EXPECT_EQ(c.error(), "ok");
  c.nbits = 4;
  c.codebooks = floats(2 * 16 * 2);
  c.codes = std::string("\x0f\x00\x10\x00\x00\x00", 6);
  EXPECT_EQ(c.error(), "bad params: a code >= ksub (1<<nbits)");
}

TEST(WriteVlviFromFaiss, ListsFollowAssignmentsAndNlistIsNotClamped) {
  testing::TempDir dir;
  Case c;
  c.nlist = 5;
  c.centroids = floats(20, 0.25f);
  c.assignments = u32s({4, 0, 4});
  Result<VectorBuildStats> st = c.write(dir.file("d/e.vlvi"));
  ASSERT_TRUE(st.ok());
  EXPECT_EQ(st->vectors, 3u);
  EXPECT_EQ(st->nlist, 5u);
  const testing::VlviFile f = testing::decode_vlvi(testing::read_file(dir.file("d/e.vlvi")));
  EXPECT_EQ(f.metric, 1);
  EXPECT_EQ(f.nlist, 5u);
  EXPECT_EQ(f.ids, (std::vector<std::vector<uint32_t>>{{8}, {}, {}, {}, {7, 9}}));
  EXPECT_EQ(f.codes, (std::vector<std::vector<uint8_t>>{{3, 0}, {}, {}, {}, {1, 2, 0, 1}}));
  EXPECT_EQ(f.centroids[1], 1.25f);
  EXPECT_EQ(f.codebooks[15], 115.0f);

  c.opq = floats(16, -8);
  ASSERT_TRUE(c.write(dir.file("r.vlvi")).ok());
  const testing::VlviFile r = testing::decode_vlvi(testing::read_file(dir.file("r.vlvi")));
  EXPECT_TRUE(r.rotated);
  EXPECT_EQ(r.rotation[0], -8.0f);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(r.offsets[i], f.offsets[i] + 64);
}

}  // namespace
}  // namespace vellum
