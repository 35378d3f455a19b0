// Arbitrary bytes (malformed UTF-8 included) through every text-analysis
// entry point: nothing may crash or read out of bounds, and the key list
// must hold each key once, in the order the grams first give it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "analysis/lowercase.h"
#include "analysis/ngram_keys.h"
#include "facet/facet_key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t gram_size = data[0] % 12;
  const bool fold = (data[0] & 0x80) != 0;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  static vellum::NgramKeyer keyer;  // reused, as the builder does
  const std::vector<uint64_t>& keys = keyer.keys(text, gram_size, fold);
  std::unordered_set<uint64_t> seen(keys.begin(), keys.end());
  if (seen.size() != keys.size()) std::abort();
  if (vellum::ngram_keys(text, gram_size, fold) != keys) std::abort();
  // Every gram in text order: its distinct values, in order of first
  // occurrence, are the key list.
  static vellum::NgramKeyer gram_keyer;
  std::unordered_set<uint64_t> first;
  size_t next = 0;
  for (uint64_t g : gram_keyer.grams(text, gram_size, fold)) {
    if (!first.insert(g).second) continue;
    if (next == keys.size() || keys[next++] != g) std::abort();
  }
  if (next != keys.size()) std::abort();

  std::string lower = vellum::to_lower_full(text);
  const size_t cut = text.size() / 2;
  (void)vellum::facet_key(text.substr(0, cut), text.substr(cut), fold);
  (void)lower;
  return 0;
}
