// The full check of a split set: the manifest on its own (VlssReader),
// then each split against its record: the file exists with the recorded
// size and the body kind's extension, its body verifies, its case rule and
// gram size are the manifest's, its ids fit its record (below doc_count
// for relative ids; within [first_id, last_id] and counted by doc_count for
// absolute ones), every key tests positive in its Bloom filter, and a
// facet sidecar exists exactly when the summary lists facet presence, with
// the same keys. Every problem found is reported, at most one per file.
#ifndef VELLUM_READ_SPLIT_SET_CHECK_H_
#define VELLUM_READ_SPLIT_SET_CHECK_H_

#include <string>
#include <vector>

#include "read/file_source.h"
#include "read/problem.h"

namespace vellum {

// Empty when the split set is sound.
std::vector<Problem> verify_split_set(const ReadFile& read, const std::string& manifest_name);

// The sidecar name of a split: its name with the extension ".vlf".
std::string sidecar_name(std::string_view split_name);

}  // namespace vellum

#endif  // VELLUM_READ_SPLIT_SET_CHECK_H_
