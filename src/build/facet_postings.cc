#include "build/facet_postings.h"

#include "index/posting.h"

namespace vellum {

FacetPostings::Categories& FacetPostings::field(std::string_view name) {
  auto it = fields_.find(name);
  if (it == fields_.end()) it = fields_.emplace(std::string(name), Categories()).first;
  return it->second;
}

Bitmap& FacetPostings::category(Categories* categories, std::string_view name) {
  auto it = categories->find(name);
  if (it == categories->end()) it = categories->emplace(std::string(name), Bitmap()).first;
  return it->second;
}

void FacetPostings::add_doc(uint32_t doc, const FacetList& facets) {
  for (const auto& [field_name, categories] : facets) {
    Categories& cats = field(field_name);
    for (const std::string& category_name : categories) category(&cats, category_name).add(doc);
  }
}

void FacetPostings::add(uint32_t doc, std::string_view field_name, std::string_view category_name) {
  category(&field(field_name), category_name).add(doc);
}

std::vector<FacetField> FacetPostings::take_fields(uint32_t head_boundary) {
  std::vector<FacetField> fields;
  fields.reserve(fields_.size());
  for (auto& [field_name, categories] : fields_) {
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
      ids.reset();
      field.categories.push_back(std::move(cat));
    }
    fields.push_back(std::move(field));
  }
  fields_.clear();
  return fields;
}

}  // namespace vellum
