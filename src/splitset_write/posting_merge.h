// The merge pass of compaction: the checked postings of several splits,
// each shifted to global ids, united key by key in one pass over the
// inputs' sorted dictionaries, with the deleted ids removed. Output
// postings never hold run containers, whatever the inputs held, since they
// are encoded from plain ascending ids.
#ifndef VELLUM_SPLITSET_WRITE_POSTING_MERGE_H_
#define VELLUM_SPLITSET_WRITE_POSTING_MERGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "index/vls_writer.h"
#include "splitset_write/split_postings.h"

namespace vellum {

struct MergeInput {
  const CheckedSplit* split;
  uint32_t shift;  // added to every id, saturating at 4294967295
};

// The merged postings, serialized back to back in chunks, for the index
// writer: each is handed over once, in key order, and its chunk is freed
// once written, so the postings are never held twice.
class MergedPostings final : public PostingSource {
 public:
  size_t count() const override { return keys_.size(); }
  uint64_t key(size_t i) const override { return keys_[i]; }
  uint64_t size(size_t i) const override { return sizes_[i]; }
  Status write(size_t i, Sink* sink) override;

  const std::vector<uint64_t>& keys() const { return keys_; }  // ascending, none empty
  uint64_t posting_bytes() const { return posting_bytes_; }

  uint64_t live = 0;      // distinct ids left in some posting
  uint32_t first_id = 0;  // smallest and largest of them (0 when none)
  uint32_t last_id = 0;

  // Appends the posting of `n` strictly ascending ids under a key above
  // every earlier one.
  void append(uint64_t key, const uint32_t* ids, size_t n);

 private:
  std::vector<uint64_t> keys_;
  std::vector<uint64_t> sizes_;
  std::vector<std::string> chunks_;
  uint64_t posting_bytes_ = 0;
  size_t next_ = 0;   // the posting write() expects
  size_t chunk_ = 0;  // where it starts
  size_t at_ = 0;
};

// `deleted` ascending and distinct. The order of `inputs` among equal keys
// does not matter (a union).
MergedPostings merge_postings(const std::vector<MergeInput>& inputs,
                              const std::vector<uint32_t>& deleted);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_WRITE_POSTING_MERGE_H_
