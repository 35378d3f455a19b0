#include "facet/facet_key.h"

#include <string>

#include "analysis/lowercase.h"
#include "common/fnv.h"

namespace vellum {

namespace {

uint64_t fnv_step(uint64_t h, std::string_view bytes) {
  for (char c : bytes) {
    h = fnv1a_byte(h, static_cast<uint8_t>(c));
  }
  return h;
}

}  // namespace

uint64_t facet_key_of_prepared(std::string_view field, std::string_view category) {
  uint64_t h = fnv_step(kFnv1aOffset, field);
  h = fnv_step(h, std::string_view("\x1F", 1));
  return fnv_step(h, category);
}

uint64_t facet_key(std::string_view field, std::string_view category, bool fold_case) {
  if (!fold_case) return facet_key_of_prepared(field, category);
  return facet_key_of_prepared(to_lower_full(field), to_lower_full(category));
}

}  // namespace vellum
