// The licence texts every Debian system ships, concatenated in name order
// with a blank line after each: a small real English corpus for benchmarks.
// Empty when the folder is missing.
#ifndef VELLUM_BENCH_LICENSE_TEXTS_H_
#define VELLUM_BENCH_LICENSE_TEXTS_H_

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vellum::bench {

inline std::string license_texts() {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/share/common-licenses", ec)) {
    if (e.is_regular_file() && !e.is_symlink()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::string all;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    all += ss.str();
    all += "\n\n";
  }
  return all;
}

}  // namespace vellum::bench

#endif  // VELLUM_BENCH_LICENSE_TEXTS_H_
