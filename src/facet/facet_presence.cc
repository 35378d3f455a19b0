#include "facet/facet_presence.h"

#include <algorithm>
#include <vector>

#include "common/coding.h"
#include "facet/facet_key.h"

namespace vellum {

std::string encode_facet_presence(const FacetMap& facets, bool fold_case) {
  std::vector<uint64_t> keys;
  for (const auto& [field, categories] : facets) {
    for (const auto& [category, ids] : categories) {
      keys.push_back(facet_key(field, category, fold_case));
    }
  }
  // Folding can map two pairs to one key, and keys can collide.
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::string out;
  out.reserve(4 + 8 * keys.size());
  PutU32(&out, static_cast<uint32_t>(keys.size()));
  for (uint64_t k : keys) PutU64(&out, k);
  return out;
}

}  // namespace vellum
