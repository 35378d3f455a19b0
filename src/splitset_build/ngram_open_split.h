// The open split of an n-gram split set: each key's local document ids,
// with running counts of distinct keys and of (key, document) postings,
// from which the size estimate that decides a seal is computed at every
// document. Its body is a VLS index of local ids, and its summary a Bloom
// filter over its keys.
#ifndef VELLUM_SPLITSET_BUILD_NGRAM_OPEN_SPLIT_H_
#define VELLUM_SPLITSET_BUILD_NGRAM_OPEN_SPLIT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/ngram_keys.h"
#include "build/key_postings.h"
#include "splitset_build/batch_split_set.h"

namespace vellum {

class NgramOpenSplit final : public OpenSplitBody {
 public:
  NgramOpenSplit(uint16_t gram_size, uint32_t stride, bool fold_case, uint32_t bloom_bits_per_key)
      : postings_(ngram_keys_hashed_above_32_bits(gram_size)),
        gram_size_(gram_size),
        stride_(stride),
        fold_case_(fold_case),
        bloom_bits_(bloom_bits_per_key) {}

  // 2n + 64(K + N) + postings + 8 ceil(K / stride) + 20 for a document of n
  // distinct keys of which N are new to the split's K keys.
  uint64_t estimate_with(const std::vector<uint64_t>& keys) const;

  // Whether that estimate passes `cap`. The exact count of new keys is
  // looked up only when the bounds N = 0 and N = n disagree, which near
  // the cap is a handful of documents per split.
  bool exceeds(const std::vector<uint64_t>& keys, uint64_t cap) const;

  // Adds the document `local_id` (ascending) with its distinct keys.
  void add(uint32_t local_id, const std::vector<uint64_t>& keys);

  Status encode(std::string* body, std::string* summary) override;
  void clear() override;

  uint64_t key_count() const { return postings_.key_count(); }
  uint64_t posting_estimate() const { return posting_estimate_; }

 private:
  uint64_t estimate_without_new(size_t n) const;

  KeyPostings postings_;
  uint64_t posting_estimate_ = 0;  // 2 bytes per (key, document)
  uint16_t gram_size_;
  uint32_t stride_;
  bool fold_case_;
  uint32_t bloom_bits_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_NGRAM_OPEN_SPLIT_H_
