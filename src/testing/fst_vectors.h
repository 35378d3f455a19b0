// Test-only access to the reference FST map vectors kept beside the
// repository (../shared/testdata/fst): NAME.keys lists "HEXKEY<TAB>VALUE"
// lines in insertion order, NAME.fst holds the exact image.
#ifndef VELLUM_TESTING_FST_VECTORS_H_
#define VELLUM_TESTING_FST_VECTORS_H_

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/fst_reader.h"
#include "testing/test_decoders.h"

namespace vellum::testing {

// Beside the checkout, or beside the folder of worktrees when the checkout
// is one of several.
inline std::string fst_vector_dir() {
  const std::string root = VELLUM_SOURCE_DIR;
  for (const char* up : {"/../shared/testdata/fst", "/../../shared/testdata/fst"}) {
    if (std::filesystem::is_directory(root + up)) return root + up;
  }
  return root + "/../shared/testdata/fst";
}

// Case names (NAME of NAME.keys), sorted; empty when the folder is absent.
inline std::vector<std::string> fst_vector_names() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(fst_vector_dir(), ec)) {
    if (e.path().extension() == ".keys") names.push_back(e.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  require(false, std::string("bad hex digit in keys file: ") + c);
  return 0;
}

inline std::vector<FstEntry> parse_fst_keys(const std::string& text) {
  std::vector<FstEntry> out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eol = text.find('\n', pos);
    require(eol != std::string::npos, "keys file line without a line feed");
    const std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    const size_t tab = line.find('\t');
    require(tab != std::string::npos && tab % 2 == 0, "keys line without an even hex key and a tab");
    FstEntry e;
    for (size_t i = 0; i < tab; i += 2) {
      e.key.push_back(static_cast<char>(hex_digit(line[i]) << 4 | hex_digit(line[i + 1])));
    }
    const std::string value = line.substr(tab + 1);
    require(!value.empty() && value.find_first_not_of("0123456789") == std::string::npos,
            "keys line value is not decimal");
    e.value = std::stoull(value);
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_FST_VECTORS_H_
