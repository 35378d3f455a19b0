// N-gram keys: the 64-bit keys that every n-gram index is built from and
// that readers query with. Every rule here is part of the on-disk contract.
#ifndef VELLUM_ANALYSIS_NGRAM_KEYS_H_
#define VELLUM_ANALYSIS_NGRAM_KEYS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
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

  // The key of every gram of `text` in text order, repeats included: the
  // keys above are its distinct values. For a consumer that discards
  // repeats more cheaply itself. Valid until the next call.
  std::span<const uint64_t> grams(std::string_view text, size_t gram_size, bool fold_case);
  // The same keys written to `out`, which has room for text.size() of them
  // (a gram ends at a kept character, which takes at least one byte), for
  // a caller that gathers the keys of many texts. Returns their end.
  uint64_t* grams(std::string_view text, size_t gram_size, bool fold_case, uint64_t* out);

 private:
  // Open-addressing set of the keys seen in the current text. A slot is
  // in use only when its stamp equals the current generation, so clearing
  // between texts is one increment, and every u64 (0 included) is a key.
  struct Slot {
    uint64_t key;
    uint32_t stamp;
  };

  template <bool kDistinct, bool kTrigrams>
  uint64_t* scan(std::string_view text, size_t gram_size, bool fold_case, uint64_t* out);
  size_t ascii_grams(std::string_view text, size_t pos, size_t n, bool fold_case,
                     const std::array<uint8_t, 128>& ascii, char32_t** word, size_t* len,
                     size_t* ascii_run, uint64_t* packed, uint64_t** out);
  size_t staged_ascii_grams(std::string_view text, size_t pos, size_t n, bool fold_case,
                            char32_t* word, size_t* len, size_t* ascii_run, uint64_t* packed,
                            uint64_t** out);
  char32_t* grow_word();
  char32_t* grow_word(size_t* capacity);
  static uint64_t gram_key(const char32_t* word, size_t len, size_t n, size_t ascii_run,
                           uint64_t packed);
  void reset_set(size_t text_bytes);
  void insert(uint64_t key);
  void grow();

  std::vector<char32_t> word_;  // kept (folded) characters of the current word
  std::vector<Slot> slots_;     // power-of-two size
  unsigned shift_ = 64;         // 64 - log2(slots_.size())
  uint32_t generation_ = 0;
  std::vector<uint64_t> out_;
  std::unique_ptr<uint64_t[]> grams_;
  std::unique_ptr<uint8_t[]> stage_;  // long ASCII stretches, see staged_ascii_grams()
  size_t grams_cap_ = 0;
};

// One-shot form.
std::vector<uint64_t> ngram_keys(std::string_view text, size_t gram_size,
                                 bool fold_case);

// True when every key of 2^32 and above among the keys of `gram_size` is
// an FNV-1a hash, whose high bits are spread evenly. Grams of two
// characters and ASCII grams of five to eight are keyed by their packed
// characters instead.
bool ngram_keys_hashed_above_32_bits(size_t gram_size);

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_NGRAM_KEYS_H_
