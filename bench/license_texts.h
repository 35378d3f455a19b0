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
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

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

// The licence texts repeated to about 8 MB; empty when not installed.
inline const std::string& corpus() {
  static const std::string text = [] {
    constexpr size_t kCorpusBytes = 8u << 20;
    const std::string one = license_texts();
    std::string all;
    if (one.empty()) return all;
    while (all.size() < kCorpusBytes) all += one;
    return all;
  }();
  return text;
}

// The corpus cut at blank lines: paragraph-sized documents, as a builder
// would see them.
inline const std::vector<std::string_view>& documents() {
  static const std::vector<std::string_view> docs = [] {
    std::vector<std::string_view> out;
    std::string_view s = corpus();
    while (!s.empty()) {
      size_t cut = s.find("\n\n");
      cut = cut == std::string_view::npos ? s.size() : cut + 2;
      out.push_back(s.substr(0, cut));
      s.remove_prefix(cut);
    }
    return out;
  }();
  return docs;
}

inline bool have_corpus(benchmark::State& state) {
  if (!corpus().empty()) return true;
  state.SkipWithError("no English text found under /usr/share/common-licenses");
  return false;
}

}  // namespace vellum::bench

#endif  // VELLUM_BENCH_LICENSE_TEXTS_H_
