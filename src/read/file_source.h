// How the whole-dataset and split-set checks fetch files: by name, from
// one directory, the way a remote reader fetches objects. A callback, so
// that checks run the same over a directory, a bucket or test buffers.
#ifndef VELLUM_READ_FILE_SOURCE_H_
#define VELLUM_READ_FILE_SOURCE_H_

#include <functional>
#include <optional>
#include <string>

#include "common/status.h"

namespace vellum {

// The bytes of file `name`, nullopt when it does not exist, or an error.
using ReadFile = std::function<Result<std::optional<std::string>>(const std::string& name)>;

// Reads files of the directory `dir` from the file system.
ReadFile directory_reader(std::string dir);

}  // namespace vellum

#endif  // VELLUM_READ_FILE_SOURCE_H_
