// Facet memberships gathered while documents are indexed: field name ->
// category name -> document ids, both levels in bytewise name order, and
// its conversion into the sidecar writer's input.
#ifndef VELLUM_FACET_FACET_MAP_H_
#define VELLUM_FACET_FACET_MAP_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "facet/facet_list.h"
#include "facet/facet_sidecar.h"
#include "index/bitmap.h"

namespace vellum {

// std::string compares as unsigned bytes, which is the order files use.
using FacetCategories = std::map<std::string, Bitmap, std::less<>>;
using FacetMap = std::map<std::string, FacetCategories, std::less<>>;

// The field's categories, creating the field with none when it is new.
FacetCategories& facet_field(FacetMap* facets, std::string_view field);

// Adds `id` to the category of the field, creating both as needed.
void add_facet(FacetCategories* field, std::string_view category, uint32_t id);

// Adds `id` to every listed category; a field listed with no categories is
// still created, and counts as a field.
void add_facets(FacetMap* facets, uint32_t id, const FacetList& list);

// Sidecar input: fields and categories in map order, each category's ids
// split at `head_boundary`. With `release` each category's ids are freed
// as soon as they are encoded, which leaves the map's sets empty.
std::vector<FacetField> sidecar_input(FacetMap* facets, uint32_t head_boundary, bool release);

}  // namespace vellum

#endif  // VELLUM_FACET_FACET_MAP_H_
