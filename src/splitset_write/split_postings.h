// The postings of a stored VLS split body as compaction reads them, from
// untrusted bytes:
//
//   "VLSI" | u16 version | u16 (not examined) | u32 keys n | u32 stride s
//   | (version 4: u16 flags) | ceil(n / s) x u64 sparse index
//   | n x (u64 key | u64 posting offset | u32 posting length) | postings
//
// Every entry is checked against the input and every posting is checked as
// a portable Roaring set (run containers accepted) before it is listed.
#ifndef VELLUM_SPLITSET_WRITE_SPLIT_POSTINGS_H_
#define VELLUM_SPLITSET_WRITE_SPLIT_POSTINGS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/status.h"

namespace vellum {

struct StoredPosting {
  uint64_t key;
  std::string_view bytes;  // a view into the split body
  uint64_t ids;            // cardinality
  uint32_t min;            // smallest and largest id (0 when empty)
  uint32_t max;
};

// Appends the body's postings in dictionary order; on failure `out` may
// hold some of them and the error carries the compaction message.
Status read_split_postings(std::string_view body, std::vector<StoredPosting>* out);

// The ids of a posting read_split_postings listed, appended ascending.
void decode_posting(std::string_view bytes, std::vector<uint32_t>* ids);

// The ids of a tombstone payload, appended ascending; runs accepted.
Status decode_tombstone_ids(std::string_view payload, std::vector<uint32_t>* ids);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_WRITE_SPLIT_POSTINGS_H_
