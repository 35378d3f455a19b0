#include "index/vls_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "index/posting.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::decode_posting;
using testing::decode_vls;
using testing::read_file;
using testing::TempDir;

std::string to_buffer(uint16_t gram, uint32_t stride, std::vector<IndexEntry> entries,
                      bool folded) {
  std::string out;
  Status s = write_index(&out, gram, stride, std::move(entries), folded);
  EXPECT_TRUE(s.ok()) << s.error().message();
  return out;
}

std::vector<IndexEntry> numbered(size_t n) {
  std::vector<IndexEntry> e;
  for (size_t i = 0; i < n; ++i) e.push_back({1000 + 3 * i, std::string(i % 4, 'x')});
  return e;
}

TEST(WriteIndex, EmptyIndexIsHeaderOnly) {
  std::string v3 = to_buffer(3, 0, {}, true);
  EXPECT_EQ(v3, std::string("VLSI\x03\x00\x03\x00\x00\x00\x00\x00\x00\x02\x00\x00", 16));
  std::string v4 = to_buffer(2, 7, {}, false);
  EXPECT_EQ(v4, std::string("VLSI\x04\x00\x02\x00\x00\x00\x00\x00\x07\x00\x00\x00\x01\x00", 18));
}

TEST(WriteIndex, SparseIndexBlocks) {
  for (size_t n : {1u, 511u, 512u, 513u, 1025u}) {
    SCOPED_TRACE(n);
    auto f = decode_vls(to_buffer(3, 0, numbered(n), true));
    EXPECT_EQ(f.stride, 512u);
    EXPECT_EQ(f.key_count, n);
    EXPECT_EQ(f.sparse.size(), (n + 511) / 512);
    EXPECT_EQ(f.entries.size(), n);
  }
  auto f = decode_vls(to_buffer(3, 512, numbered(513), true));
  ASSERT_EQ(f.sparse.size(), 2u);
  EXPECT_EQ(f.sparse[1], 1000u + 3 * 512);
  // A stride of 1 indexes every key; a stride above n gives one block.
  EXPECT_EQ(decode_vls(to_buffer(3, 1, numbered(5), true)).sparse.size(), 5u);
  EXPECT_EQ(decode_vls(to_buffer(3, 100, numbered(5), true)).sparse.size(), 1u);
}

TEST(WriteIndex, KeysSortedAsUnsignedAndPostingsFollowTheirKeys) {
  std::vector<IndexEntry> e = {{0x8000000000000000ULL, "top"},
                               {5, "five"},
                               {0xFFFFFFFFFFFFFFFFULL, "max"},
                               {0, ""},
                               {6, "six"}};
  for (bool folded : {true, false}) {
    SCOPED_TRACE(folded);
    auto f = decode_vls(to_buffer(9, 2, e, folded));
    EXPECT_EQ(f.version, folded ? 3 : 4);
    EXPECT_EQ(f.header_len, folded ? 16u : 18u);
    EXPECT_EQ(f.gram_size, 9);
    std::vector<uint64_t> keys;
    std::vector<std::string> postings;
    for (auto& en : f.entries) {
      keys.push_back(en.key);
      postings.emplace_back(en.posting);
    }
    EXPECT_EQ(keys, (std::vector<uint64_t>{0, 5, 6, 0x8000000000000000ULL,
                                           0xFFFFFFFFFFFFFFFFULL}));
    EXPECT_EQ(postings, (std::vector<std::string>{"", "five", "six", "top", "max"}));
    EXPECT_EQ(f.sparse, (std::vector<uint64_t>{0, 6, 0xFFFFFFFFFFFFFFFFULL}));
    // The empty posting shares its offset with the next one.
    EXPECT_EQ(f.entries[0].length, 0u);
    EXPECT_EQ(f.entries[0].offset, f.entries[1].offset);
  }
}

TEST(WriteIndex, DuplicateKeysWriteNothing) {
  std::vector<IndexEntry> e = {{7, "a"}, {3, "b"}, {7, "c"}};
  std::string out = "keep";
  Status s = write_index(&out, 3, 0, e, true);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(s.error().message(), "write_index requires distinct n-gram keys");
  EXPECT_EQ(out, "keep");

  TempDir dir;
  const size_t fds = testing::open_fd_count();
  Result<FileSink> file = FileSink::create(dir.file("dup.vls"));
  ASSERT_TRUE(file.ok());
  s = write_index(std::move(file).value(), 3, 0, e, true);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(read_file(dir.file("dup.vls")), "");
  EXPECT_EQ(testing::open_fd_count(), fds);
}

TEST(WriteIndex, FileAndBufferFormsAreIdentical) {
  std::mt19937_64 rng(42);
  std::vector<IndexEntry> entries;
  for (int i = 0; i < 3000; ++i) {
    Bitmap ids;
    const int n = static_cast<int>(rng() % 50);
    for (int k = 0; k < n; ++k) ids.add(static_cast<uint32_t>(rng() % 200000));
    entries.push_back({rng(), serialize_posting(ids)});
  }
  // One posting larger than the file buffer takes the direct-write path.
  Bitmap big;
  for (uint32_t i = 0; i < 2000000; i += 3) big.add(i);
  entries.push_back({12345, serialize_posting(big)});

  for (bool folded : {true, false}) {
    SCOPED_TRACE(folded);
    std::string mem = to_buffer(4, 100, entries, folded);
    TempDir dir;
    Result<FileSink> file = FileSink::create(dir.file("i.vls"));
    ASSERT_TRUE(file.ok());
    Status s = write_index(std::move(file).value(), 4, 100, entries, folded);
    ASSERT_TRUE(s.ok()) << s.error().message();
    EXPECT_EQ(read_file(dir.file("i.vls")), mem);
    for (auto& e : decode_vls(mem).entries) decode_posting(e.posting);
  }
}

// Postings of every size class, from empty to several MB, so that writes
// fill and cross the writer's internal chunks at arbitrary points; each
// posting must land whole at its dictionary offset, in both forms.
TEST(WriteIndex, PostingsOfMixedSizesLandWhole) {
  std::mt19937_64 rng(7);
  std::vector<IndexEntry> entries;
  std::vector<size_t> sizes = {0, 1, 19, 300000, 524287, 524288, 1048575, 1048576, 1048577,
                               3 << 20};
  for (int i = 0; i < 20000; ++i) sizes.push_back(rng() % 4 == 0 ? rng() % 9000 : rng() % 40);
  std::shuffle(sizes.begin(), sizes.end(), rng);
  uint64_t key = 0;
  for (size_t n : sizes) {
    std::string posting(n, '\0');
    for (char& c : posting) c = static_cast<char>(rng());
    key += 1 + rng() % 1000;
    entries.push_back({key, std::move(posting)});
  }
  const std::string mem = to_buffer(3, 0, entries, true);
  const auto decoded = decode_vls(mem);
  ASSERT_EQ(decoded.entries.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    ASSERT_EQ(decoded.entries[i].posting, entries[i].posting) << "entry " << i;
  }
  TempDir dir;
  Result<FileSink> file = FileSink::create(dir.file("m.vls"));
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE(write_index(std::move(file).value(), 3, 0, entries, true).ok());
  EXPECT_EQ(read_file(dir.file("m.vls")), mem);
}

TEST(WriteIndex, WriteFailureReturnsTheOsErrorAndCloses) {
  const size_t fds = testing::open_fd_count();
  Result<FileSink> file = FileSink::create("/dev/full");
  ASSERT_TRUE(file.ok());
  Status s = write_index(std::move(file).value(), 3, 0, numbered(10), true);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kOs);
  EXPECT_EQ(s.error().os_code(), 28);
  EXPECT_EQ(s.error().describe(), "No space left on device (os error 28)");
  EXPECT_EQ(testing::open_fd_count(), fds);
}

// A source that claims sizes without holding the bytes, to reach the
// format's 32-bit posting limit and to break the size contract.
class FakeSource final : public PostingSource {
 public:
  FakeSource(std::vector<uint64_t> sizes, uint64_t short_by = 0, size_t count = 0)
      : sizes_(std::move(sizes)), short_by_(short_by), count_(count) {}
  size_t count() const override { return count_ != 0 ? count_ : sizes_.size(); }
  uint64_t key(size_t i) const override { return 10 + i; }
  uint64_t size(size_t i) const override { return sizes_[i]; }
  Status write(size_t i, Sink* sink) override {
    return sink->append(std::string(sizes_[i] - short_by_, 'p'));
  }

 private:
  std::vector<uint64_t> sizes_;
  uint64_t short_by_;
  size_t count_;
};

// A posting may reach the sink in any number of pieces; a posting one byte
// long, behind postings that filled the writer's chunks, is still caught.
class PieceSource final : public PostingSource {
 public:
  PieceSource(size_t count, size_t piece, size_t long_at)
      : count_(count), piece_(piece), long_at_(long_at) {}
  size_t count() const override { return count_; }
  uint64_t key(size_t i) const override { return 7 * i + 1; }
  uint64_t size(size_t i) const override { return 1000 + i % 700; }
  Status write(size_t i, Sink* sink) override {
    const std::string bytes(size(i) + (i == long_at_ ? 1 : 0), static_cast<char>('a' + i % 26));
    for (size_t at = 0; at < bytes.size(); at += piece_) {
      VELLUM_RETURN_IF_ERROR(sink->append(std::string_view(bytes).substr(at, piece_)));
    }
    return Status();
  }

 private:
  size_t count_, piece_, long_at_;
};

TEST(WriteIndex, PostingsInPiecesAreWhole) {
  std::string one, pieces;
  StringSink a(&one), b(&pieces);
  PieceSource whole(3000, 1 << 20, SIZE_MAX), split(3000, 7, SIZE_MAX);
  ASSERT_TRUE(write_index_from(&a, 3, 0, true, &whole).ok());
  ASSERT_TRUE(write_index_from(&b, 3, 0, true, &split).ok());
  EXPECT_EQ(one, pieces);
  const auto decoded = decode_vls(one);
  ASSERT_EQ(decoded.entries.size(), 3000u);
  EXPECT_EQ(decoded.entries[2999].posting, std::string(1000 + 2999 % 700, 'a' + 2999 % 26));

  std::string bad;
  StringSink c(&bad);
  PieceSource longer(3000, 7, 2500);
  Status s = write_index_from(&c, 3, 0, true, &longer);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "VLS posting bytes differ from the dictionary length");
}

TEST(WriteIndex, OversizedPostingStopsInTheDictionary) {
  FakeSource source({3, uint64_t{1} << 32, 2});
  std::string out;
  StringSink sink(&out);
  Status s = write_index_from(&sink, 3, 0, true, &source);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
  EXPECT_EQ(s.error().message(), "VLS posting size exceeds the 32-bit limit");
  // Header, one sparse key, the first entry, then the failing entry's key
  // and offset; no length and no posting bytes.
  ASSERT_EQ(out.size(), 16u + 8 + 20 + 16);
  const char* p = out.data();
  EXPECT_EQ(GetU64(p + 44), 11u);
  EXPECT_EQ(GetU64(p + 52), 16u + 8 + 60 + 3);
}

TEST(WriteIndex, PostingThatDisagreesWithItsSizeIsAnError) {
  FakeSource source({4, 4}, 1);
  std::string out;
  StringSink sink(&out);
  Status s = write_index_from(&sink, 3, 0, true, &source);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
}

TEST(WriteIndex, MoreKeysThanTheFormatCountsFailBeforeWriting) {
  FakeSource source({}, 0, size_t{1} << 32);
  std::string out;
  StringSink sink(&out);
  Status s = write_index_from(&sink, 3, 0, true, &source);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "VLS key count exceeds the 32-bit limit");
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace vellum
