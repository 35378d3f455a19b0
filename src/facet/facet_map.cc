#include "facet/facet_map.h"

#include <utility>

#include "index/posting.h"

namespace vellum {

FacetCategories& facet_field(FacetMap* facets, std::string_view field) {
  auto it = facets->find(field);
  if (it == facets->end()) it = facets->emplace(std::string(field), FacetCategories()).first;
  return it->second;
}

void add_facet(FacetCategories* field, std::string_view category, uint32_t id) {
  auto it = field->find(category);
  if (it == field->end()) it = field->emplace(std::string(category), Bitmap()).first;
  it->second.add(id);
}

void add_facets(FacetMap* facets, uint32_t id, const FacetList& list) {
  for (const auto& [field_name, categories] : list) {
    FacetCategories& field = facet_field(facets, field_name);
    for (const std::string& category : categories) add_facet(&field, category, id);
  }
}

std::vector<FacetField> sidecar_input(FacetMap* facets, uint32_t head_boundary, bool release) {
  std::vector<FacetField> fields;
  fields.reserve(facets->size());
  for (auto& [field_name, categories] : *facets) {
    FacetField field;
    field.name = field_name;
    field.categories.reserve(categories.size());
    for (auto& [category_name, ids] : categories) {
      HeadTail parts = split_head_tail(ids, head_boundary);
      FacetCategory cat;
      cat.name = category_name;
      cat.doc_count = static_cast<uint32_t>(ids.cardinality());
      cat.head = std::move(parts.head);
      cat.tail = std::move(parts.tail);
      if (release) ids.reset();
      field.categories.push_back(std::move(cat));
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

}  // namespace vellum
