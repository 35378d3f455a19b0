// Answers a query over a split set the way a remote reader would: from the
// manifest alone it skips the splits whose Bloom filter rules out a key of
// the query or whose facet presence lacks the selected category; it
// fetches the others, intersects their postings (and the category's ids in
// the split's sidecar), turns local ids into global ones and drops the ids
// any split's tombstones delete. A reference reader: no ranking.
#ifndef VELLUM_READ_SPLIT_SET_LOOKUP_H_
#define VELLUM_READ_SPLIT_SET_LOOKUP_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "read/file_source.h"
#include "read/problem.h"

namespace vellum {

struct FacetSelection {
  std::string field;
  std::string category;
};

struct SetQuery {
  // Substring text for n-gram splits, one analysed term for term splits;
  // empty (or without n-gram keys) selects by facet alone.
  std::string text;
  std::optional<FacetSelection> facet;
};

struct SplitAnswer {
  std::string split;
  bool skipped = false;
  std::string skip_reason;           // "Bloom filter" or "facet presence"
  std::vector<uint32_t> global_ids;  // ascending, tombstoned ids removed
};

// One answer per split, in manifest order. A query with neither text keys
// nor a facet is refused ("query selects nothing").
Checked<std::vector<SplitAnswer>> lookup_split_set(const ReadFile& read, const std::string& manifest_name,
                                                   const SetQuery& query);

}  // namespace vellum

#endif  // VELLUM_READ_SPLIT_SET_LOOKUP_H_
