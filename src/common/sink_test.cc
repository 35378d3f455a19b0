#include "common/sink.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::open_fd_count;
using testing::read_file;
using testing::TempDir;

TEST(SpanSink, FillsExactlyAndRefusesToWritePastTheEnd) {
  char buf[6] = {'-', '-', '-', '-', '-', '-'};
  SpanSink sink(buf, 5);
  EXPECT_TRUE(sink.append("abc").ok());
  EXPECT_FALSE(sink.append("def").ok());  // one byte too many: nothing written
  EXPECT_EQ(std::string(buf, 6), "abc---");
  EXPECT_TRUE(sink.append("de").ok());
  EXPECT_TRUE(sink.append("").ok());
  EXPECT_EQ(sink.used(), 5u);
  EXPECT_EQ(std::string(buf, 6), "abcde-");
}

TEST(CloseAfter, SuccessfulWriteClosesAndKeepsTheBytes) {
  TempDir dir;
  const size_t fds = open_fd_count();
  Result<FileSink> file = FileSink::create(dir.file("out"));
  ASSERT_TRUE(file.ok());
  EXPECT_TRUE(close_after(file->append("abc"), &*file).ok());
  EXPECT_EQ(open_fd_count(), fds);
  EXPECT_EQ(read_file(dir.file("out")), "abc");
}

TEST(CloseAfter, WriteErrorWinsOverCloseErrorAndTheFileIsClosed) {
  // /dev/full accepts the open and fails the flush in close with ENOSPC.
  const size_t fds = open_fd_count();
  Result<FileSink> file = FileSink::create("/dev/full");
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE(file->append("buffered").ok());
  Status s = close_after(Error(ErrorKind::kInvalidInput, "write failed"), &*file);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "write failed");
  EXPECT_EQ(open_fd_count(), fds);
}

TEST(CloseAfter, CloseErrorIsReportedWhenTheWriteSucceeded) {
  Result<FileSink> file = FileSink::create("/dev/full");
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE(file->append("buffered").ok());
  Status s = close_after(Status(), &*file);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kOs);
  EXPECT_EQ(s.error().os_code(), ENOSPC);
}

}  // namespace
}  // namespace vellum
