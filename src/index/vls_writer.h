// Writer of the VLS n-gram text index: header, sparse index of every
// stride-th key, fixed-width dictionary, then the postings, all offsets
// computed up front and written in one forward pass.
#ifndef VELLUM_INDEX_VLS_WRITER_H_
#define VELLUM_INDEX_VLS_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "common/sink.h"
#include "common/status.h"
#include "index/vls_format.h"

namespace vellum {

struct IndexEntry {
  uint64_t key;
  std::string posting;  // serialize_posting bytes, opaque to the writer
};

// Sorts `entries` by key, rejects duplicate keys before writing anything,
// and writes the index to `file`, which it closes on every path. Version 3
// when `folded`, else version 4 with the case-sensitive flags word.
Status write_index(FileSink file, uint16_t gram_size, uint32_t stride,
                   std::vector<IndexEntry> entries, bool folded);

// Same bytes, appended to `out`.
Status write_index(std::string* out, uint16_t gram_size, uint32_t stride,
                   std::vector<IndexEntry> entries, bool folded);

// Postings produced on demand, for writers that cannot afford to hold every
// serialized posting at once: the dictionary needs only keys and sizes, and
// each posting is asked for exactly once, in order, after the dictionary.
class PostingSource {
 public:
  virtual ~PostingSource() = default;
  virtual size_t count() const = 0;
  virtual uint64_t key(size_t i) const = 0;  // strictly ascending in i
  virtual uint64_t size(size_t i) const = 0;
  // Appends exactly size(i) bytes to `sink`.
  virtual Status write(size_t i, Sink* sink) = 0;
};

// The byte length of an index of `count` keys whose postings total
// `posting_bytes`, for callers that size their buffer up front.
uint64_t index_bytes(size_t count, uint32_t stride, bool folded, uint64_t posting_bytes);

// The lower-level form both write_index overloads go through. Keys that are
// not strictly ascending fail as duplicates, before anything is written.
Status write_index_from(Sink* sink, uint16_t gram_size, uint32_t stride,
                        bool folded, PostingSource* source);

}  // namespace vellum

#endif  // VELLUM_INDEX_VLS_WRITER_H_
