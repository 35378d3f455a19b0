#include "splitset_build/split_facets.h"

#include "facet/facet_presence.h"
#include "facet/facet_sidecar.h"
#include "splitset/summary_format.h"
#include "splitset/summary_tlv.h"

namespace vellum {

Status SplitFacets::check(const FacetList& facets) {
  constexpr size_t kMaxFacetName = 0xFFFF;
  for (const auto& [field, categories] : facets) {
    if (categories.empty()) continue;  // stores nothing
    bool too_long = field.size() > kMaxFacetName;
    for (const std::string& c : categories) too_long = too_long || c.size() > kMaxFacetName;
    if (too_long) return Error(ErrorKind::kIo, "facet name exceeds the 16-bit length limit");
  }
  return Status();
}

bool SplitFacets::add(uint32_t local_id, const FacetList& facets) {
  bool added = false;
  for (const auto& [field, categories] : facets) {
    if (categories.empty()) continue;
    FacetCategories& cats = facet_field(&map_, field);
    for (const std::string& c : categories) add_facet(&cats, c, local_id);
    added = true;
  }
  return added;
}

Status SplitFacets::encode(uint32_t head_boundary, bool fold_case, std::string* summary,
                           std::string* sidecar) {
  append_tlv(summary, kTlvFacetPresence, encode_facet_presence(map_, fold_case));
  return encode_facet_sidecar(sidecar, sidecar_input(&map_, head_boundary, false), fold_case);
}

}  // namespace vellum
