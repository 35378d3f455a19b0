// What a path given to the reading tools names: one file of a known format
// (told by its magic, or records.bin by its name), a dataset directory (it
// holds records.idx or index.vls), or a split set (a directory holding
// exactly one .vlss manifest, or the manifest file itself). Everything is
// then fetched by name through `read`, from the directory the target is in.
#ifndef VELLUM_READ_READ_TARGET_H_
#define VELLUM_READ_READ_TARGET_H_

#include <string>

#include "read/file_source.h"
#include "read/problem.h"

namespace vellum {

enum class TargetKind {
  kDataset,
  kSplitSet,
  kTextIndex,    // VLS
  kFacets,       // VLSF
  kTermIndex,    // VLTI
  kVectorIndex,  // VLVI
  kRecords,      // records.idx with its records.bin
};

struct Target {
  TargetKind kind = TargetKind::kDataset;
  std::string dir;   // where the files are
  std::string name;  // the file (a manifest's for a split set; records.idx for records)
  ReadFile read;     // reads files of `dir`
};

// Resolves `path`; a problem names the path when it is none of the above.
Checked<Target> resolve_target(const std::string& path);

// The kind of a file from its first bytes, or nullopt.
std::optional<TargetKind> kind_of_bytes(std::string_view head);

// "dataset", "split set", "VLS text index", ... for reports.
const char* target_kind_name(TargetKind kind);

}  // namespace vellum

#endif  // VELLUM_READ_READ_TARGET_H_
