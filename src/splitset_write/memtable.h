// The memtable of a split-set writer: each n-gram key's local document ids
// (0, 1, 2, ... in add order), and a running size estimate kept exact as
// ids arrive, so that asking for it after every document costs nothing:
//
//   sum over keys of (portable Roaring size of the key's ids + 8)
//     + 24 K + 8 ceil(K / stride) + 20          for K keys
//
// The portable size of a set without run containers is 8 bytes of header,
// 8 per container (key, cardinality, offset), then 2 bytes per id up to
// 4096 ids per container (an array) and 8192 bytes beyond (a bitmap).
#ifndef VELLUM_SPLITSET_WRITE_MEMTABLE_H_
#define VELLUM_SPLITSET_WRITE_MEMTABLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "build/key_postings.h"
#include "common/status.h"

namespace vellum {

class Memtable {
 public:
  explicit Memtable(uint32_t stride) : stride_(stride == 0 ? 1 : stride) {}

  // Adds the next document (local id = doc_count()) with its distinct keys.
  void add(const std::vector<uint64_t>& keys);

  uint64_t bytes() const;
  uint32_t doc_count() const { return doc_count_; }
  size_t key_count() const { return postings_.key_count(); }

  // The VLS body of the local ids and, when bloom_bits is non-zero and a
  // document was added, the Bloom payload over the keys (else empty). On
  // Afterwards the memtable still holds its documents; call clear() to
  // drop them or keep() to go on collecting.
  Status encode(uint16_t gram_size, uint32_t stride, bool fold_case, uint32_t bloom_bits,
                std::string* body, std::string* bloom);

  // After an encode whose result is not used: recomputes the per-key
  // container state, as encode puts the entries in key order.
  void keep();

  void clear();

 private:
  void note(uint32_t entry, uint32_t window);

  KeyPostings postings_;
  // Per entry: 1 + the 65536-id window of its last container, and the ids
  // in that container.
  std::vector<uint32_t> window_;
  std::vector<uint32_t> in_window_;
  std::vector<uint32_t> entry_of_;  // scratch for add
  uint64_t serialized_ = 0;         // sum of the keys' portable sizes
  uint32_t doc_count_ = 0;
  uint32_t stride_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_WRITE_MEMTABLE_H_
