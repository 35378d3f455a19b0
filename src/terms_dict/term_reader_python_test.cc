// Hands files from the writer to the Python test reader
// (tests/python/term_reader.py), which later binding tests rely on: it
// must accept exactly what the writer produces, through both its whole-file
// decoder and its range-fetching lookups.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "terms_dict/term_index_writer.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

std::string hex(const std::string& s) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

TEST(TermReaderPythonTest, PythonReaderAcceptsWriterOutput) {
  if (access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is not available";
  std::mt19937_64 rng(5);
  testing::TempDir dir;
  const std::string reader = std::string(VELLUM_SOURCE_DIR) + "/tests/python/term_reader.py";
  int round = 0;
  for (uint64_t cap : {uint64_t{1}, uint64_t{64}, uint64_t{4096}, uint64_t{1} << 32}) {
    for (uint32_t boundary : {0u, 65536u}) {
      std::map<std::string, std::vector<uint32_t>> terms;
      while (terms.size() < 300) {
        std::string t;
        for (size_t n = 1 + rng() % 6; n > 0; --n) t += "ab\xc3\xa9z"[rng() % 5];
        terms[t].push_back(static_cast<uint32_t>(rng() % 200000));
      }
      TermPostings postings;
      std::string expected;
      for (auto& [term, ids] : terms) {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        postings.push_back({term, Bitmap()});
        postings.back().ids.add_many(ids.data(), ids.size());
        expected += hex(term) + "\t";
        for (size_t i = 0; i < ids.size(); ++i) expected += (i ? "," : "") + std::to_string(ids[i]);
        expected += "\n";
      }
      const std::string base = dir.file("p" + std::to_string(round++));
      std::ofstream(base + ".tsv") << expected;
      TermIndexOptions o;
      o.block_cap = cap;
      o.head_boundary = boundary;
      {
        Result<FileSink> file = FileSink::create(base + ".vlt");
        ASSERT_TRUE(file.ok());
        ASSERT_TRUE(encode_term_index(std::move(postings), o, &*file).ok());
        ASSERT_TRUE(file->close().ok());
      }
      const std::string cmd = std::string(kPython) + " " + reader + " " + base + ".vlt " + base +
                              ".tsv " + std::to_string(cap) + " >/dev/null";
      EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
  }
}

}  // namespace
}  // namespace vellum
