// The full check of a dataset directory as Builder writes it: each of
// index.vls, index.vlf, records.bin and records.idx on its own, then that
// they agree on the document count (every id in the index and the sidecar
// names a record). Every problem found is reported, at most one per file.
#ifndef VELLUM_READ_DATASET_CHECK_H_
#define VELLUM_READ_DATASET_CHECK_H_

#include <vector>

#include "read/file_source.h"
#include "read/problem.h"

namespace vellum {

inline constexpr const char* kDatasetIndex = "index.vls";
inline constexpr const char* kDatasetSidecar = "index.vlf";
inline constexpr const char* kDatasetRecords = "records.bin";
inline constexpr const char* kDatasetRecordIndex = "records.idx";

// Empty when the dataset is sound.
std::vector<Problem> verify_dataset(const ReadFile& read);

// A file as a check needs it: its bytes, or the problem of fetching it.
Checked<std::string> fetch_file(const ReadFile& read, const std::string& name);

}  // namespace vellum

#endif  // VELLUM_READ_DATASET_CHECK_H_
