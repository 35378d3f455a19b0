// Test-only file source: named buffers in memory, read the way the
// dataset and split-set checks read a directory or a bucket.
#ifndef VELLUM_TESTING_MEMORY_FILES_H_
#define VELLUM_TESTING_MEMORY_FILES_H_

#include <map>
#include <optional>
#include <string>

#include "read/file_source.h"

namespace vellum::testing {

using Files = std::map<std::string, std::string>;

// Reads from `*files`, which must outlive the reader; later changes to the
// map are seen, so a test can damage a file and check again.
inline ReadFile from(const Files* files) {
  return [files](const std::string& name) -> Result<std::optional<std::string>> {
    auto it = files->find(name);
    if (it == files->end()) return std::optional<std::string>();
    return std::optional<std::string>(it->second);
  };
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_MEMORY_FILES_H_
