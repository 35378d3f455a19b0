#include "common/sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <filesystem>

namespace vellum {

namespace {
// Large enough to amortise system calls, small next to any index.
constexpr size_t kBufferSize = 1 << 18;
}  // namespace

Status SpanSink::append(std::string_view data) {
  if (data.size() > size_ - used_) {
    return Error(ErrorKind::kIo, "write past the end of a fixed-size buffer");
  }
  if (!data.empty()) std::memcpy(data_ + used_, data.data(), data.size());
  used_ += data.size();
  return Status();
}

Result<FileSink> FileSink::create(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Error::from_errno(errno);
  return FileSink(fd);
}

FileSink::FileSink(FileSink&& other) noexcept
    : fd_(other.fd_), buf_(std::move(other.buf_)) {
  other.fd_ = -1;
}

FileSink& FileSink::operator=(FileSink&& other) noexcept {
  if (this != &other) {
    (void)close();
    fd_ = other.fd_;
    buf_ = std::move(other.buf_);
    other.fd_ = -1;
  }
  return *this;
}

FileSink::~FileSink() { (void)close(); }

Status FileSink::write_all(const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return Error::from_errno(errno);
    }
    if (w == 0) return Error(ErrorKind::kIo, "failed to write whole buffer");
    p += w;
    n -= static_cast<size_t>(w);
  }
  return Status();
}

Status FileSink::flush() {
  if (buf_.empty()) return Status();
  Status s = write_all(buf_.data(), buf_.size());
  buf_.clear();
  return s;
}

Status FileSink::append(std::string_view data) {
  if (fd_ < 0) return Error::from_errno(EBADF);
  if (buf_.size() + data.size() <= kBufferSize) {
    if (buf_.capacity() < kBufferSize) buf_.reserve(kBufferSize);
    buf_.append(data);
    return Status();
  }
  // Large pieces (postings) go straight to the file: no second copy.
  VELLUM_RETURN_IF_ERROR(flush());
  if (data.size() < kBufferSize) {
    buf_.append(data);
    return Status();
  }
  return write_all(data.data(), data.size());
}

Status FileSink::close() {
  if (fd_ < 0) return Status();
  Status s = flush();
  if (::close(fd_) != 0 && s.ok() && errno != EINTR) s = Error::from_errno(errno);
  fd_ = -1;
  return s;
}

Status close_after(Status written, FileSink* file) {
  Status closed = file->close();
  return written.ok() ? closed : written;
}

Status create_dirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return Error::from_errno(ec.value());
  return Status();
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

}  // namespace vellum
