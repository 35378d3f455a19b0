// SplitSetWriter::resume: a writer over a stored set, from its manifest.
#include <algorithm>

#include "index/vls_format.h"
#include "read/roaring_check.h"
#include "splitset/manifest_format.h"
#include "splitset/summary_format.h"
#include "splitset/summary_tlv.h"
#include "splitset_build/split_name.h"
#include "splitset_write/split_set_writer.h"
#include "splitset_write/split_sequence.h"

namespace vellum {

namespace {

// One past every id a split covers or a tombstone names: compaction may
// drop the highest ids of a set, and only its tombstones still name them;
// handing such an id out again would hide the new document. 64 bits, so a
// set that used id 4294967295 has no id left instead of reusing it.
Result<uint64_t> next_free_id(const std::vector<SplitMeta>& splits) {
  uint64_t next = 0;
  for (const SplitMeta& s : splits) {
    if (s.doc_count != 0) next = std::max(next, uint64_t{s.last_id} + 1);
    FormatResult<std::optional<std::string_view>> tlv = find_tlv(s.summary, kTlvTombstones);
    if (!tlv.ok()) return tlv.error().to_error(ErrorKind::kInvalidArgument);
    if (!tlv->has_value()) continue;
    RoaringSummary ids;
    if (auto fault = check_roaring(**tlv, RoaringRules{.allow_runs = true}, &ids)) {
      return Error(ErrorKind::kInvalidArgument, "roaring deserialize: " + fault->what +
                                                    " at byte " + std::to_string(fault->offset));
    }
    if (ids.cardinality > 0) next = std::max(next, uint64_t{ids.max} + 1);
  }
  return next;
}

uint64_t next_epoch(const std::vector<SplitMeta>& splits) {
  if (splits.empty()) return 1;
  uint64_t top = 0;
  for (const SplitMeta& s : splits) top = std::max(top, s.epoch);
  return top + 1;  // a stored epoch of 2^64 - 1 wraps, as any u64 counter
}

}  // namespace

Result<SplitSetWriter> SplitSetWriter::resume(std::string_view manifest,
                                              const ResumeOptions& o) {
  FormatResult<ParsedManifest> parsed = parse_manifest(manifest);
  if (!parsed.ok()) return parsed.error().to_error(ErrorKind::kInvalidArgument);
  if (parsed->body_kind != kBodyKindNgram) {
    return Error(ErrorKind::kInvalidArgument,
                 "VLSS resume: the manifest describes a term split set (body_kind " +
                     std::to_string(parsed->body_kind) +
                     "); a SplitSetWriter only appends n-gram splits");
  }
  const uint32_t stride = o.stride == 0 ? kDefaultStride : o.stride;
  SplitSetWriter w(o.name_prefix, stride, o.bloom_bits_per_key,
                   o.gram_size == 0 ? uint16_t{1} : o.gram_size);
  w.splits_ = parsed->split_metas();
  VELLUM_ASSIGN_OR_RETURN(uint64_t next, next_free_id(w.splits_));
  w.ids_ = DocIds(next);
  w.memtable_first_id_ = next;
  w.epoch_ = next_epoch(w.splits_);
  w.delta_seq_ = next_split_number(w.splits_, o.name_prefix, kDeltaSplitLetter);
  w.compaction_seq_ = next_split_number(w.splits_, o.name_prefix, kCompactedSplitLetter);
  w.params_ = parsed->params();
  w.params_.sortcol = parsed->sortcol;
  w.fold_case_ = !(parsed->flags & kManifestFlagCaseSensitive);
  w.kept_flags_ = parsed->flags & kManifestFlagFacets;
  return w;
}

}  // namespace vellum
