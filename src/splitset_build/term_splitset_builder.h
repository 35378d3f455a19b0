// TermSplitSetBuilder: the batch producer of a term split set. Documents
// are analysed into whole terms as they are added and join the open
// split; when the open split's size estimate would pass its cap, it is
// sealed into a VLTI body held in memory. Everything but the body (ids,
// caps, names, facets, the manifest and the writing, and the retry after a
// failed build) is the split-set frame that SplitSetBuilder uses too.
#ifndef VELLUM_SPLITSET_BUILD_TERM_SPLITSET_BUILDER_H_
#define VELLUM_SPLITSET_BUILD_TERM_SPLITSET_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/status.h"
#include "facet/facet_map.h"
#include "splitset/manifest.h"
#include "splitset_build/batch_split_set.h"
#include "splitset_build/term_open_split.h"

namespace vellum {

struct TermSplitSetBuilderOptions {
  std::string policy = "tiered";
  uint64_t byte_cap = 33554432;
  uint32_t head_boundary = 0;  // 0 means 65536
  std::string name_prefix = "split";
  std::optional<SortColumn> sortcol;
  std::optional<std::string> language;  // UTF-8 as the caller gave it
  std::optional<bool> stem;             // none: true exactly when a language is given
  bool stopwords = false;
  uint64_t byte_cap_max = 0;
  bool case_sensitive = false;
};

class TermSplitSetBuilder {
 public:
  // Fails (kInvalidArgument) on invalid language settings, and only then
  // on an unknown policy.
  static Result<TermSplitSetBuilder> create(const TermSplitSetBuilderOptions& options);

  // Stages one document and returns its global id. A seal that fails
  // leaves the builder as it was, without the document.
  Result<uint32_t> add(std::string_view text) { return add_faceted(text, FacetList()); }
  Result<uint32_t> add_faceted(std::string_view text, const FacetList& facets);

  uint64_t doc_count() const { return set_.doc_count(); }

  Result<SplitSetBuildStats> build(const std::string& out_dir, const std::string& manifest_name);

 private:
  TermSplitSetBuilder(BatchSplitSet set, TermOpenSplit open)
      : set_(std::move(set)), open_(std::move(open)) {}

  BatchSplitSet set_;
  TermOpenSplit open_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_TERM_SPLITSET_BUILDER_H_
