// One term's posting record: tail_len:u32, then the head (ids below the
// boundary) and the tail (the others, not rebased), both in the portable
// Roaring serialization without run containers.
#ifndef VELLUM_TERMS_DICT_POSTING_RECORD_H_
#define VELLUM_TERMS_DICT_POSTING_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "index/bitmap.h"

namespace vellum {

// Appends the record of `ids` split at `boundary` to `out` and returns the
// head's length. Sets entirely on one side of the boundary are serialized
// in place; the others are encoded from their ids, listed in `scratch`.
uint64_t append_posting_record(const Bitmap& ids, uint32_t boundary, std::string* out,
                               std::vector<uint32_t>* scratch);

// The same record for `n` strictly ascending ids, encoded without a
// bitmap: the bytes append_posting_record gives for a set of those ids.
uint64_t append_sorted_ids_record(const uint32_t* ids, size_t n, uint32_t boundary,
                                  std::string* out);

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_POSTING_RECORD_H_
