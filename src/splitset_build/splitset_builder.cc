#include "splitset_build/splitset_builder.h"

#include <utility>

#include "index/vls_writer.h"
#include "splitset/manifest_format.h"
#include "splitset_build/split_policy.h"

namespace vellum {

namespace {

constexpr uint32_t kDefaultHeadBoundary = 65536;

}  // namespace

Result<SplitSetBuilder> SplitSetBuilder::create(const SplitSetBuilderOptions& o) {
  VELLUM_ASSIGN_OR_RETURN(const uint8_t policy, parse_policy(o.policy));
  const uint16_t gram_size = o.gram_size == 0 ? 1 : o.gram_size;
  const uint32_t stride = o.stride == 0 ? kDefaultStride : o.stride;
  const bool fold_case = !o.case_sensitive;
  SplitSetOptions set;
  set.policy = policy;
  set.byte_cap = o.byte_cap;
  set.byte_cap_max = o.byte_cap_max;
  set.name_prefix = o.name_prefix;
  set.sortcol = o.sortcol;
  set.head_boundary = o.head_boundary == 0 ? kDefaultHeadBoundary : o.head_boundary;
  set.fold_case = fold_case;
  SplitBodyKind kind;
  kind.body_kind = kBodyKindNgram;
  kind.extension = ".vls";
  kind.cap_label = "split";
  kind.built_message = "SplitSetBuilder already built";
  kind.gram_size = gram_size;
  kind.body_flags = o.bloom_bits_per_key != 0 ? kManifestFlagBloom : 0;
  return SplitSetBuilder(BatchSplitSet(std::move(set), kind),
                         NgramOpenSplit(gram_size, stride, fold_case, o.bloom_bits_per_key),
                         gram_size, fold_case);
}

Result<uint32_t> SplitSetBuilder::add_faceted(std::string_view text, const FacetList& facets) {
  VELLUM_RETURN_IF_ERROR(set_.check_add(facets));
  const std::vector<uint64_t>& keys = keyer_.keys(text, gram_size_, fold_case_);
  // An empty open split takes any document, whatever its size.
  if (!set_.open_empty() && open_.exceeds(keys, set_.open_cap())) {
    VELLUM_RETURN_IF_ERROR(set_.seal(&open_));
  }
  open_.add(set_.next_local_id(), keys);
  return set_.commit(facets);
}

Result<SplitSetBuildStats> SplitSetBuilder::build(const std::string& out_dir,
                                                  const std::string& manifest_name) {
  return set_.build(&open_, out_dir, manifest_name);
}

}  // namespace vellum
