#include "vector_build/vlvi_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/test_decoders.h"
#include "testing/test_files.h"
#include "testing/vlvi_decoder.h"
#include "vector_build/train_ivfpq.h"

namespace vellum {
namespace {

using testing::decode_vlvi;

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string unhex(std::string_view text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    i += 2;
  }
  return out;
}

std::string to_bytes(const IvfPqIndex& index) {
  std::string out;
  StringSink sink(&out);
  Status s = write_vlvi(index, &sink);
  EXPECT_TRUE(s.ok()) << (s.ok() ? "" : s.error().message());
  return out;
}

// The model of TrainIvfPq.HandCheckedModel, trained and written: any change
// to the arithmetic, the draws or the layout changes these bytes.
TEST(WriteVlvi, GoldenBytesOfAHandCheckedTrainedIndex) {
  const std::vector<std::vector<float>> v = {{0, 0}, {4, 0}, {0, 2}, {4, 2}};
  std::vector<VectorRef> refs;
  for (size_t i = 0; i < v.size(); ++i) refs.push_back({static_cast<uint32_t>(10 + i), v[i]});
  IvfPqParams p;
  p.dim = 2;
  p.nlist = 2;
  p.m = 2;
  p.nbits = 1;
  p.metric = MetricKind::kL2;
  p.kmeans_iters = 1;
  p.seed = 1;
  Result<IvfPqIndex> index = train_ivfpq(refs, p);
  ASSERT_TRUE(index.ok());
  const std::string want = unhex(
      "564c5649 0100 01 00 02000000 02000000 02000000 01 000000 0400000000000000"
      " 00000000000000000000000000000000"  // header
      " 00000040 0000803f 00008040 00000040"  // centroids (2, 1), (4, 2)
      " 00000000 000000c0 000000bf 000000c0"  // codebooks [0, -2], [-0.5, -2]
      " 6800000000000000 02000000 7400000000000000 02000000"  // lists at 104, 116
      " 0a000000 0c000000 01 00 01 00"   // list 0: ids 10, 12
      " 0b000000 0d000000 00 01 00 00");  // list 1: ids 11, 13
  EXPECT_EQ(hex(to_bytes(*index)), hex(want));
}

IvfPqIndex tiny_index() {
  IvfPqIndex x;
  x.dim = 1;
  x.nlist = 1;
  x.m = 1;
  x.n = 1;
  x.nbits = 1;
  x.centroids = {0.5f};
  x.codebooks = {1, 2};
  x.list_ids = {{7}};
  x.list_codes = {{1}};
  return x;
}

TEST(WriteVlvi, SmallestIndexIs77Bytes) {
  const std::string bytes = to_bytes(tiny_index());
  ASSERT_EQ(bytes.size(), 77u);
  EXPECT_EQ(GetU64(bytes.data() + 60), 72u);
  EXPECT_EQ(GetU32(bytes.data() + 68), 1u);
  EXPECT_EQ(GetU32(bytes.data() + 72), 7u);
  EXPECT_EQ(bytes[76], 1);
}

IvfPqIndex lists_index() {
  IvfPqIndex x;
  x.dim = 4;
  x.nlist = 3;
  x.m = 2;
  x.n = 3;
  x.nbits = 3;
  x.metric = MetricKind::kL2;
  x.centroids.assign(12, 1.5f);
  x.codebooks.assign(8 * 4, -1.0f);
  x.list_ids = {{5, 3}, {}, {9}};
  x.list_codes = {{1, 7, 0, 2}, {}, {6, 6}};
  return x;
}

TEST(WriteVlvi, EmptyListsAndShortCodesDecodeStrictly) {
  const testing::VlviFile f = decode_vlvi(to_bytes(lists_index()));
  EXPECT_EQ(f.metric, 1);
  EXPECT_FALSE(f.rotated);
  EXPECT_EQ(f.nbits, 3);
  EXPECT_EQ(f.ids, (std::vector<std::vector<uint32_t>>{{5, 3}, {}, {9}}));
  EXPECT_EQ(f.codes, (std::vector<std::vector<uint8_t>>{{1, 7, 0, 2}, {}, {6, 6}}));
  const uint64_t d0 = 48 + 4 * 12 + 4 * 32 + 12 * 3;
  EXPECT_EQ(f.offsets, (std::vector<uint64_t>{d0, d0 + 12, d0 + 12}));
  EXPECT_EQ(f.centroids, std::vector<float>(12, 1.5f));
}

TEST(WriteVlvi, RotationShiftsEveryOffsetByItsSize) {
  IvfPqIndex x = lists_index();
  const testing::VlviFile plain = decode_vlvi(to_bytes(x));
  std::vector<float> r(16);
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<float>(i) - 3.25f;
  x.opq = r;
  const testing::VlviFile rotated = decode_vlvi(to_bytes(x));
  EXPECT_TRUE(rotated.rotated);
  EXPECT_EQ(rotated.rotation, r);
  for (size_t c = 0; c < 3; ++c) EXPECT_EQ(rotated.offsets[c], plain.offsets[c] + 4 * 16);
  EXPECT_EQ(rotated.ids, plain.ids);
}

TEST(WriteVlvi, FileAndMemoryGiveTheSameBytes) {
  testing::TempDir dir;
  const std::string path = dir.file("a/b/index.vlvi");
  const size_t fds = testing::open_fd_count();
  ASSERT_TRUE(write_vlvi_file(lists_index(), path).ok());
  EXPECT_EQ(testing::open_fd_count(), fds);
  EXPECT_EQ(testing::read_file(path), to_bytes(lists_index()));
}

TEST(WriteVlvi, InconsistentIndexWritesNothing) {
  IvfPqIndex x = lists_index();
  x.list_codes[2].pop_back();
  std::string out;
  StringSink sink(&out);
  Status s = write_vlvi(x, &sink);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "VLVI index is inconsistent: codes");
  EXPECT_TRUE(out.empty());
  x = lists_index();
  x.n = 4;
  EXPECT_FALSE(write_vlvi(x, &sink).ok());
  EXPECT_TRUE(out.empty());
}

TEST(WriteVlvi, HeaderFieldsBeyond32BitsAreRefused) {
  IvfPqIndex x = tiny_index();
  x.dim = uint64_t{1} << 32;
  std::string out;
  StringSink sink(&out);
  Status s = write_vlvi(x, &sink);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
  EXPECT_EQ(s.error().message(), "VLVI dim exceeds the 32-bit limit");
}

// Accepts `budget` appends, then fails.
class FailingSink final : public Sink {
 public:
  explicit FailingSink(int budget) : budget_(budget) {}
  Status append(std::string_view data) override {
    if (budget_-- <= 0) return Error(ErrorKind::kIo, "failed to write whole buffer");
    bytes += data;
    return Status();
  }
  std::string bytes;

 private:
  int budget_;
};

TEST(WriteVlvi, AFailingWriteStopsTheWriter) {
  const std::string full = to_bytes(lists_index());
  for (int budget = 0; budget < 8; ++budget) {
    FailingSink sink(budget);
    Status s = write_vlvi(lists_index(), &sink);
    if (s.ok()) {
      EXPECT_EQ(sink.bytes, full);
      continue;
    }
    EXPECT_EQ(s.error().message(), "failed to write whole buffer");
    EXPECT_EQ(full.compare(0, sink.bytes.size(), sink.bytes), 0) << "budget " << budget;
    EXPECT_LT(sink.bytes.size(), full.size());
  }
}

}  // namespace
}  // namespace vellum
