// Everything a batch split-set builder does apart from its split body:
// ids, the open split's document count and facets, the cap schedule,
// sealing with names, tiers and summaries, the single-document cap check,
// the manifest and the order of writing, and the finished guard. A body
// kind supplies an OpenSplitBody and decides when to seal; the n-gram and
// the term builders differ only there.
//
// build() is all-or-nothing for the staged documents: if it fails on the
// manifest, on directory creation or on a file write, the builder keeps
// every document, stays open, and a later build writes exactly what a
// first successful one would have. Only success and the single-document
// cap failure finish the builder.
#ifndef VELLUM_SPLITSET_BUILD_BATCH_SPLIT_SET_H_
#define VELLUM_SPLITSET_BUILD_BATCH_SPLIT_SET_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/status.h"
#include "facet/facet_map.h"
#include "splitset/manifest.h"
#include "splitset_build/cap_schedule.h"
#include "splitset_build/doc_ids.h"
#include "splitset_build/sealed_splits.h"
#include "splitset_build/split_facets.h"

namespace vellum {

struct SplitSetBuildStats {
  uint64_t splits = 0;
  uint64_t docs = 0;
  uint64_t total_bytes = 0;  // split bodies and sidecars, not the manifest
};

// The open split's inverted lists, in the form of one body kind.
class OpenSplitBody {
 public:
  virtual ~OpenSplitBody() = default;
  // Appends the split body to `body` and the summary entries that precede
  // the facet entry to `summary`. Leaves the open split as it was.
  virtual Status encode(std::string* body, std::string* summary) = 0;
  // Empties the open split once it is sealed.
  virtual void clear() = 0;
};

// What distinguishes one body kind in names, manifest and messages.
struct SplitBodyKind {
  uint8_t body_kind = 0;           // manifest code
  std::string_view extension;       // ".vls"
  std::string_view cap_label;       // "split" in the single-document message
  std::string_view built_message;   // "SplitSetBuilder already built"
  uint16_t gram_size = 0;           // recorded in the manifest
  uint16_t body_flags = 0;          // manifest flags the body implies (Bloom)
};

struct SplitSetOptions {
  uint8_t policy = 0;
  uint64_t byte_cap = 0;
  uint64_t byte_cap_max = 0;
  std::string name_prefix;
  std::optional<SortColumn> sortcol;
  uint32_t head_boundary = 0;  // already normalized
  bool fold_case = true;
};

class BatchSplitSet {
 public:
  BatchSplitSet(SplitSetOptions options, SplitBodyKind kind);

  // kFinished with the kind's message once built.
  Status check_open() const;
  // Everything that may refuse a document, before anything changes.
  Status check_add(const FacetList& facets) const;

  bool open_empty() const { return open_docs_ == 0; }
  uint64_t open_cap() const { return caps_.cap(sealed_.size()); }
  uint32_t next_local_id() const { return open_docs_; }

  // Seals the open split (nothing when it is empty). On failure the open
  // split is unchanged.
  Status seal(OpenSplitBody* body);

  // Records the document the body has just taken at next_local_id():
  // its facets, the counts. Returns its global id.
  uint32_t commit(const FacetList& facets);

  // Documents added so far; 0 once built.
  uint64_t doc_count() const { return built_ ? 0 : ids_.next(); }

  Result<SplitSetBuildStats> build(OpenSplitBody* body, const std::string& out_dir,
                                   const std::string& manifest_name);

 private:
  Result<SealedSplit> encode_open(OpenSplitBody* body);
  ManifestParams manifest_params() const;
  void finish(OpenSplitBody* body);

  SplitSetOptions options_;
  SplitBodyKind kind_;
  CapSchedule caps_;
  DocIds ids_;
  SealedSplits sealed_;
  SplitFacets facets_;
  uint32_t open_docs_ = 0;
  uint32_t open_first_id_ = 0;
  bool has_facets_ = false;
  bool built_ = false;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_BATCH_SPLIT_SET_H_
