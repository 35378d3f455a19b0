// Per-key document-id sets collected while documents are indexed in id
// order. Each (key, doc) pair costs one hash probe and one 4-byte append;
// pending ids reach the Roaring bitmaps in bulk, one add_many per key per
// batch, instead of one bitmap insert per pair.
#ifndef VELLUM_BUILD_KEY_POSTINGS_H_
#define VELLUM_BUILD_KEY_POSTINGS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/bitmap.h"

namespace vellum {

class KeyPostings {
 public:
  KeyPostings();

  // Adds `doc` to the set of each key. Docs must arrive in ascending order
  // and `keys` must be distinct.
  void add_doc(uint32_t doc, const std::vector<uint64_t>& keys);

  // Moves every pending id into its bitmap. Call before reading bitmaps().
  void flush();

  // Frees every bitmap (in entry order) and buffer; the collection is then
  // empty and usable again.
  void clear();

  size_t size() const { return keys_.size(); }
  // Entry i: keys()[i] and bitmaps()[i], in order of first appearance.
  const std::vector<uint64_t>& keys() const { return keys_; }
  std::vector<Bitmap>& bitmaps() { return bitmaps_; }

 private:
  struct Slot {
    uint64_t key;
    uint32_t entry;  // index + 1; 0 marks an empty slot
  };

  uint32_t find_or_insert(uint64_t key);
  void grow();

  std::vector<Slot> slots_;  // power-of-two size, at most half full
  unsigned shift_;
  std::vector<uint64_t> keys_;
  std::vector<Bitmap> bitmaps_;

  // The pending batch: entry index of every pair, grouped by document.
  std::vector<uint32_t> pending_;
  std::vector<uint32_t> doc_ends_;  // end in pending_ of each batch document
  uint32_t batch_first_doc_ = 0;
  // Flush scratch, reused: per-entry counters (all zero between flushes),
  // the entries touched by the batch, and the ids grouped by entry.
  std::vector<uint32_t> counts_;
  std::vector<uint32_t> touched_;
  std::vector<uint32_t> grouped_;
};

}  // namespace vellum

#endif  // VELLUM_BUILD_KEY_POSTINGS_H_
