// SplitSetBuilder: the batch producer of an n-gram split set. Documents
// are tokenized into n-gram keys as they are added and join the open
// split; when the open split's size estimate would pass its cap, it is
// sealed into a VLS body held in memory. build() seals the last split and
// writes every body, facet sidecar and the manifest into a directory.
// Global ids follow the order of add calls, so every split covers a
// contiguous id range. Nothing is kept per document.
#ifndef VELLUM_SPLITSET_BUILD_SPLITSET_BUILDER_H_
#define VELLUM_SPLITSET_BUILD_SPLITSET_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/ngram_keys.h"
#include "common/status.h"
#include "facet/facet_map.h"
#include "splitset/manifest.h"
#include "splitset_build/batch_split_set.h"
#include "splitset_build/ngram_open_split.h"

namespace vellum {

struct SplitSetBuilderOptions {
  std::string policy = "tiered";
  uint64_t byte_cap = 33554432;
  uint16_t gram_size = 3;
  uint32_t head_boundary = 0;  // 0 means 65536
  uint32_t stride = 0;         // 0 means 512
  std::string name_prefix = "split";
  std::optional<SortColumn> sortcol;
  uint32_t bloom_bits_per_key = 10;
  uint64_t byte_cap_max = 0;
  bool case_sensitive = false;
};

class SplitSetBuilder {
 public:
  // Fails only on an unknown policy.
  static Result<SplitSetBuilder> create(const SplitSetBuilderOptions& options);

  // Stages one document and returns its global id. A seal that fails
  // leaves the builder as it was, without the document.
  Result<uint32_t> add(std::string_view text) { return add_faceted(text, FacetList()); }
  Result<uint32_t> add_faceted(std::string_view text, const FacetList& facets);

  uint64_t doc_count() const { return set_.doc_count(); }

  Result<SplitSetBuildStats> build(const std::string& out_dir, const std::string& manifest_name);

 private:
  SplitSetBuilder(BatchSplitSet set, NgramOpenSplit open, uint16_t gram_size, bool fold_case)
      : set_(std::move(set)), open_(std::move(open)), gram_size_(gram_size), fold_case_(fold_case) {}

  BatchSplitSet set_;
  NgramOpenSplit open_;
  NgramKeyer keyer_;
  uint16_t gram_size_;
  bool fold_case_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_SPLITSET_BUILDER_H_
