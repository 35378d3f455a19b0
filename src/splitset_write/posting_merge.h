// The merge pass of compaction: the checked postings of several splits,
// each shifted to global ids, united key by key, with the deleted ids
// removed. Output postings never hold run containers, whatever the inputs
// held, since they are encoded from plain ascending ids.
#ifndef VELLUM_SPLITSET_WRITE_POSTING_MERGE_H_
#define VELLUM_SPLITSET_WRITE_POSTING_MERGE_H_

#include <cstdint>
#include <vector>

#include "index/bitmap.h"
#include "index/vls_writer.h"
#include "splitset_write/split_postings.h"

namespace vellum {

struct ShiftedPosting {
  const StoredPosting* posting;
  uint32_t shift;  // added to every id, saturating at 4294967295
};

struct MergedPostings {
  std::vector<IndexEntry> entries;  // ascending keys, none empty
  uint64_t live = 0;                // distinct ids left in some posting
  uint32_t first_id = 0;            // smallest and largest of them (0 when none)
  uint32_t last_id = 0;
};

// `deleted` ascending and distinct. The order of `inputs` among equal keys
// does not matter (a union).
MergedPostings merge_postings(std::vector<ShiftedPosting> inputs,
                              const std::vector<uint32_t>& deleted);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_WRITE_POSTING_MERGE_H_
