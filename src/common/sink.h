// Byte sinks that format writers emit into, front to back, never seeking.
// The file and memory forms of a writer share one code path through Sink,
// which is what guarantees they produce identical bytes.
#ifndef VELLUM_COMMON_SINK_H_
#define VELLUM_COMMON_SINK_H_

#include <string>
#include <string_view>

#include "common/status.h"

namespace vellum {

class Sink {
 public:
  virtual ~Sink() = default;
  virtual Status append(std::string_view data) = 0;
};

// Appends to a caller-owned growable buffer.
class StringSink final : public Sink {
 public:
  explicit StringSink(std::string* dst) : dst_(dst) {}
  Status append(std::string_view data) override {
    dst_->append(data);
    return Status();
  }

 private:
  std::string* dst_;
};

// Fills a caller-owned buffer of fixed length, for output whose exact size
// is known before it is written; an append past the end fails and writes
// nothing.
class SpanSink final : public Sink {
 public:
  SpanSink(char* data, size_t size) : data_(data), size_(size) {}
  Status append(std::string_view data) override;
  size_t used() const { return used_; }

 private:
  char* data_;
  size_t size_;
  size_t used_ = 0;
};

// A newly created (or truncated) file, written sequentially through a small
// buffer. close() flushes and closes and reports the first failure; the
// destructor closes without reporting, keeping whatever was written.
class FileSink final : public Sink {
 public:
  static Result<FileSink> create(const std::string& path);

  FileSink(FileSink&& other) noexcept;
  FileSink& operator=(FileSink&& other) noexcept;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  ~FileSink() override;

  Status append(std::string_view data) override;
  Status close();

 private:
  explicit FileSink(int fd) : fd_(fd) {}
  Status flush();
  Status write_all(const char* p, size_t n);

  int fd_ = -1;
  std::string buf_;
};

// Closes `file` after a write step that returned `written`, on every path,
// and keeps the first failure: the write's, else the close's. Use as
// `return close_after(write(&file), &file);`.
Status close_after(Status written, FileSink* file);

// Creates `path` and any missing parents; an existing directory is fine.
Status create_dirs(const std::string& path);

// `dir` + "/" + `name`.
std::string join_path(const std::string& dir, const std::string& name);

}  // namespace vellum

#endif  // VELLUM_COMMON_SINK_H_
