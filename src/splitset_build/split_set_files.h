// Writing a split set's files into a directory: each file created or
// truncated and written whole, in the order given.
#ifndef VELLUM_SPLITSET_BUILD_SPLIT_SET_FILES_H_
#define VELLUM_SPLITSET_BUILD_SPLIT_SET_FILES_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/status.h"

namespace vellum {

struct NamedBytes {
  std::string name;
  std::string bytes;
};

// `dir`/`name` replaced by `bytes`; the file is closed on every path.
Status write_whole_file(const std::string& dir, const std::string& name, std::string_view bytes);

// Creates `dir` with its parents, then writes each file in order; stops at
// the first failure, leaving the files already written.
Status write_files(const std::string& dir, const std::vector<const NamedBytes*>& files);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_SPLIT_SET_FILES_H_
