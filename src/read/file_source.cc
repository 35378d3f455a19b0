#include "read/file_source.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "common/sink.h"

namespace vellum {

namespace {

Result<std::optional<std::string>> read_whole_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::optional<std::string>();
    return Error::from_errno(errno);
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISREG(st.st_mode) ? errno : EISDIR;
    ::close(fd);
    return Error::from_errno(err);
  }
  std::string out(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::close(fd);
      return Error::from_errno(err);
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return std::optional<std::string>(std::move(out));
}

}  // namespace

ReadFile directory_reader(std::string dir) {
  return [dir = std::move(dir)](const std::string& name) { return read_whole_file(join_path(dir, name)); };
}

}  // namespace vellum
