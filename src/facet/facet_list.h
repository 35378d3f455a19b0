// A document's facet memberships as callers hand them in: (field name,
// category names) pairs. Order carries no meaning; every builder that
// accepts facets takes this shape.
#ifndef VELLUM_FACET_FACET_LIST_H_
#define VELLUM_FACET_FACET_LIST_H_

#include <string>
#include <utility>
#include <vector>

namespace vellum {

using FacetList = std::vector<std::pair<std::string, std::vector<std::string>>>;

}  // namespace vellum

#endif  // VELLUM_FACET_FACET_LIST_H_
