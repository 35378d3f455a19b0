// The facet presence payload of a split summary: the count, then the
// facet keys of every (field, category) pair in the split, ascending and
// without duplicates, so a reader can skip splits lacking a category.
#ifndef VELLUM_FACET_FACET_PRESENCE_H_
#define VELLUM_FACET_FACET_PRESENCE_H_

#include <string>

#include "facet/facet_map.h"

namespace vellum {

std::string encode_facet_presence(const FacetMap& facets, bool fold_case);

}  // namespace vellum

#endif  // VELLUM_FACET_FACET_PRESENCE_H_
