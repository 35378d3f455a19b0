// N-gram keys: the 64-bit keys that every n-gram index is built from and
// that readers query with. Every rule here is part of the on-disk contract.
#ifndef VELLUM_ANALYSIS_NGRAM_KEYS_H_
#define VELLUM_ANALYSIS_NGRAM_KEYS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vellum {

// Reusable key generator: keeps its buffers and its de-duplication set
// between texts, so that indexing millions of texts allocates nothing per
// text once warmed up.
class NgramKeyer {
 public:
  NgramKeyer();

  // The distinct keys of `text` in order of first occurrence. The returned
  // reference stays valid until the next call.
  const std::vector<uint64_t>& keys(std::string_view text, size_t gram_size,
                                    bool fold_case);

 private:
  // ... private state (word buffer, open-addressing set, output vector)
};

// One-shot form.
std::vector<uint64_t> ngram_keys(std::string_view text, size_t gram_size,
                                 bool fold_case);

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_NGRAM_KEYS_H_
