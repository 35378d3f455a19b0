// The 64-bit key of a (field, category) pair: FNV-1a over the field bytes, a
// 0x1F separator and the category bytes, on lowercased names when folding.
#ifndef VELLUM_FACET_FACET_KEY_H_
#define VELLUM_FACET_FACET_KEY_H_

#include <cstdint>
#include <string_view>

namespace vellum {

uint64_t facet_key(std::string_view field, std::string_view category, bool fold_case);

// The key of names that are already in their key form (lowercased by the
// caller when folding), for callers that fold a field name once for many
// categories.
uint64_t facet_key_of_prepared(std::string_view field, std::string_view category);

}  // namespace vellum

#endif  // VELLUM_FACET_FACET_KEY_H_
