// The facet memberships of the open split, by local id, and what a seal
// makes of them: the facet-presence summary entry and the split's sidecar.
#ifndef VELLUM_SPLITSET_BUILD_SPLIT_FACETS_H_
#define VELLUM_SPLITSET_BUILD_SPLIT_FACETS_H_

#include <cstdint>
#include <string>

#include "common/status.h"
#include "facet/facet_map.h"

namespace vellum {

class SplitFacets {
 public:
  // Refuses names the sidecar could never store, before a document is
  // staged: such a name would make every later seal of its split fail.
  static Status check(const FacetList& facets);

  // Adds `local_id` to every (field, category) pair; a field with no
  // categories adds nothing. Returns whether any pair was added.
  bool add(uint32_t local_id, const FacetList& facets);

  bool empty() const { return map_.empty(); }

  // Appends the presence TLV to `summary` and the sidecar to `sidecar`;
  // the memberships stay until clear().
  Status encode(uint32_t head_boundary, bool fold_case, std::string* summary,
                std::string* sidecar);

  void clear() { map_.clear(); }

 private:
  FacetMap map_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_SPLIT_FACETS_H_
