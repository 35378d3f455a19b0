// Test-only file-system helpers: a scratch directory removed on scope exit,
// and a count of this process's open descriptors to prove writers close.
#ifndef VELLUM_TESTING_TEST_FILES_H_
#define VELLUM_TESTING_TEST_FILES_H_

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vellum::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vellum-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline size_t open_fd_count() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_TEST_FILES_H_
