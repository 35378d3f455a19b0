// Per-category document-id sets collected while documents are indexed in id
// order, then turned into the facet sidecar's input. Fields and categories
// come out in bytewise name order, each category split at the head
// boundary.
#ifndef VELLUM_BUILD_FACET_POSTINGS_H_
#define VELLUM_BUILD_FACET_POSTINGS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facet/facet_sidecar.h"
#include "index/bitmap.h"

namespace vellum {

// (field name, category names); order carries no meaning.
using FacetList = std::vector<std::pair<std::string, std::vector<std::string>>>;

class FacetPostings {
 public:
  // Adds `doc` to each category of each listed field. A field listed with
  // no categories is still created, and counts as a field.
  void add_doc(uint32_t doc, const FacetList& facets);

  // Adds `doc` to one category of one field, creating both as needed.
  void add(uint32_t doc, std::string_view field, std::string_view category);

  size_t field_count() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }

  // The sidecar input, each category split at `head_boundary`. Releases the
  // sets as it goes; the collection is empty afterwards.
  std::vector<FacetField> take_fields(uint32_t head_boundary);

 private:
  using Categories = std::map<std::string, Bitmap, std::less<>>;
  Categories& field(std::string_view name);
  static Bitmap& category(Categories* categories, std::string_view name);

  // std::string compares as unsigned bytes, which gives the name order.
  std::map<std::string, Categories, std::less<>> fields_;
};

}  // namespace vellum

#endif  // VELLUM_BUILD_FACET_POSTINGS_H_
