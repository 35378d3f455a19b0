#include "splitset_build/batch_split_set.h"

#include <algorithm>
#include <utility>

#include "splitset/manifest_format.h"
#include "splitset_build/split_name.h"

namespace vellum {

namespace {

constexpr uint64_t kMaxTier = 0xFFFF;

}  // namespace

BatchSplitSet::BatchSplitSet(SplitSetOptions options, SplitBodyKind kind)
    : options_(std::move(options)),
      kind_(kind),
      caps_(options_.byte_cap, options_.byte_cap_max) {}

Status BatchSplitSet::check_open() const {
  if (built_) return Error(ErrorKind::kFinished, std::string(kind_.built_message));
  return Status();
}

Status BatchSplitSet::check_add(const FacetList& facets) const {
  VELLUM_RETURN_IF_ERROR(check_open());
  VELLUM_RETURN_IF_ERROR(ids_.check_available());
  return SplitFacets::check(facets);
}

Result<SealedSplit> BatchSplitSet::encode_open(OpenSplitBody* body) {
  const uint64_t index = sealed_.size();
  SealedSplit split;
  std::string summary;
  VELLUM_RETURN_IF_ERROR(body->encode(&split.body.bytes, &summary));
  split.body.name = split_file_name(options_.name_prefix, kSealedSplitLetter, index, kind_.extension);
  if (!facets_.empty()) {
    NamedBytes sidecar;
    VELLUM_RETURN_IF_ERROR(
        facets_.encode(options_.head_boundary, options_.fold_case, &summary, &sidecar.bytes));
    sidecar.name = split_file_name(options_.name_prefix, kSealedSplitLetter, index, ".vlf");
    split.sidecar = std::move(sidecar);
  }
  SplitMeta& m = split.meta;
  m.name = split.body.name;
  m.summary = std::move(summary);
  m.size_bytes = split.body.bytes.size();
  m.doc_count = open_docs_;
  m.first_id = open_first_id_;
  m.last_id = open_first_id_ + open_docs_ - 1;
  m.tier = options_.policy == kPolicyTiered ? static_cast<uint16_t>(std::min(index, kMaxTier)) : 0;
  return split;
}

Status BatchSplitSet::seal(OpenSplitBody* body) {
  if (open_empty()) return Status();
  VELLUM_ASSIGN_OR_RETURN(SealedSplit split, encode_open(body));
  sealed_.push(std::move(split));
  body->clear();
  facets_.clear();
  open_docs_ = 0;
  open_first_id_ = static_cast<uint32_t>(ids_.next());
  return Status();
}

uint32_t BatchSplitSet::commit(const FacetList& facets) {
  if (facets_.add(open_docs_, facets)) has_facets_ = true;
  ++open_docs_;
  return ids_.take();
}

ManifestParams BatchSplitSet::manifest_params() const {
  ManifestParams p;
  p.policy = options_.policy;
  const uint64_t n = sealed_.size();
  p.tier_count = options_.policy == kPolicyTiered ? static_cast<uint16_t>(std::min(n, kMaxTier)) : 0;
  p.base_count = static_cast<uint32_t>(n);
  p.byte_cap = options_.byte_cap;
  p.gram_size = kind_.gram_size;
  p.body_kind = kind_.body_kind;
  p.sortcol = options_.sortcol;
  p.flags = kind_.body_flags;
  if (has_facets_) p.flags |= kManifestFlagFacets;
  if (!options_.fold_case) p.flags |= kManifestFlagCaseSensitive;
  return p;
}

void BatchSplitSet::finish(OpenSplitBody* body) {
  built_ = true;
  sealed_.clear();
  facets_.clear();
  body->clear();
  open_docs_ = 0;
}

Result<SplitSetBuildStats> BatchSplitSet::build(OpenSplitBody* body, const std::string& out_dir,
                                                const std::string& manifest_name) {
  VELLUM_RETURN_IF_ERROR(check_open());
  // The last split is sealed tentatively: until every file is written, the
  // open split stays as it is and the tentative split can be taken back.
  const bool tentative = !open_empty();
  if (tentative) {
    VELLUM_ASSIGN_OR_RETURN(SealedSplit last, encode_open(body));
    sealed_.push(std::move(last));
  }
  auto take_back = [&] {
    if (tentative) sealed_.pop();
  };
  if (Status caps = sealed_.check_single_document_caps(caps_, kind_.cap_label); !caps.ok()) {
    finish(body);
    return caps.error();
  }
  Result<std::string> manifest = write_manifest(sealed_.metas(), manifest_params());
  if (!manifest.ok()) {
    take_back();
    return manifest.error();
  }
  NamedBytes manifest_file{manifest_name + ".vlss", std::move(manifest).value()};
  std::vector<const NamedBytes*> files = sealed_.files();
  files.push_back(&manifest_file);
  if (Status written = write_files(out_dir, files); !written.ok()) {
    take_back();
    return written.error();
  }
  SplitSetBuildStats stats{sealed_.size(), ids_.next(), sealed_.total_bytes()};
  finish(body);
  return stats;
}

}  // namespace vellum
