#include "index/record_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::decode_records;
using testing::read_file;
using testing::TempDir;

Status write_records(const TempDir& dir, const std::vector<std::string>& records) {
  Result<FileSink> bin = FileSink::create(dir.file("records.bin"));
  if (!bin.ok()) return bin.error();
  Result<FileSink> idx = FileSink::create(dir.file("records.idx"));
  if (!idx.ok()) return idx.error();
  Result<RecordWriter> w = RecordWriter::create(std::move(bin).value(), std::move(idx).value(),
                                                static_cast<uint32_t>(records.size()));
  if (!w.ok()) return w.error();
  for (const std::string& r : records) VELLUM_RETURN_IF_ERROR(w->append(r));
  return w->finish();
}

TEST(RecordWriter, NoRecords) {
  TempDir dir;
  ASSERT_TRUE(write_records(dir, {}).ok());
  EXPECT_EQ(read_file(dir.file("records.bin")), "");
  EXPECT_EQ(read_file(dir.file("records.idx")),
            std::string("VLSR\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                        "\x00\x00\x00\x00\x00\x00\x00\x00",
                        24));
}

TEST(RecordWriter, OffsetsAccumulateLengthsIncludingEmptyRecords) {
  TempDir dir;
  // Lengths 3, 0 and 5; record bytes are opaque, NUL included.
  const std::vector<std::string> with_nul = {"abc", "", std::string("\0\x01\x02\xFF\xFE", 5)};
  ASSERT_TRUE(write_records(dir, with_nul).ok());
  const std::string bin = read_file(dir.file("records.bin"));
  const std::string idx = read_file(dir.file("records.idx"));
  EXPECT_EQ(bin.size(), 8u);
  ASSERT_EQ(idx.size(), 16u + 8 * 4);
  const char* p = idx.data();
  EXPECT_EQ(GetU32(p + 8), 3u);
  EXPECT_EQ((std::vector<uint64_t>{GetU64(p + 16), GetU64(p + 24), GetU64(p + 32), GetU64(p + 40)}),
            (std::vector<uint64_t>{0, 3, 3, 8}));
  EXPECT_EQ(decode_records(bin, idx), with_nul);
}

TEST(RecordWriter, FailedRecordFileStillClosesAndCompletesTheIndex) {
  TempDir dir;
  const size_t fds = testing::open_fd_count();
  {
    Result<FileSink> bin = FileSink::create("/dev/full");
    Result<FileSink> idx = FileSink::create(dir.file("records.idx"));
    ASSERT_TRUE(bin.ok() && idx.ok());
    Result<RecordWriter> w =
        RecordWriter::create(std::move(bin).value(), std::move(idx).value(), 2);
    ASSERT_TRUE(w.ok());
    ASSERT_TRUE(w->append("one").ok());  // buffered
    ASSERT_TRUE(w->append("two!").ok());
    Status s = w->finish();
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind(), ErrorKind::kOs);
    EXPECT_EQ(s.error().os_code(), 28);
  }
  EXPECT_EQ(testing::open_fd_count(), fds);
  // records.idx was closed (and flushed) although records.bin failed first.
  EXPECT_EQ(read_file(dir.file("records.idx")).size(), 16u + 8 * 3);
}

TEST(RecordWriter, LargeRecordFailsAtAppend) {
  const size_t fds = testing::open_fd_count();
  {
    TempDir dir;
    Result<FileSink> bin = FileSink::create("/dev/full");
    Result<FileSink> idx = FileSink::create(dir.file("records.idx"));
    ASSERT_TRUE(bin.ok() && idx.ok());
    Result<RecordWriter> w =
        RecordWriter::create(std::move(bin).value(), std::move(idx).value(), 1);
    ASSERT_TRUE(w.ok());
    Status s = w->append(std::string(1 << 20, 'r'));  // beyond the sink's buffer
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().os_code(), 28);
  }
  EXPECT_EQ(testing::open_fd_count(), fds);
}

}  // namespace
}  // namespace vellum
