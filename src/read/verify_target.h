// The full check of whatever a path names (see read_target.h): a dataset
// directory or a split set reports every problem found, at most one per
// file; a single file reports its first problem. Empty when all is sound.
#ifndef VELLUM_READ_VERIFY_TARGET_H_
#define VELLUM_READ_VERIFY_TARGET_H_

#include <vector>

#include "read/problem.h"
#include "read/read_target.h"

namespace vellum {

std::vector<Problem> verify_target(const Target& target);

// The check of one file's bytes of the given kind, named `name` in
// problems. Not for kDataset, kSplitSet or kRecords, which span files.
Check verify_file_bytes(TargetKind kind, const std::string& name, std::string_view bytes);

}  // namespace vellum

#endif  // VELLUM_READ_VERIFY_TARGET_H_
