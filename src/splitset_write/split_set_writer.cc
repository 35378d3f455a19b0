#include "splitset_write/split_set_writer.h"

#include <utility>

#include "analysis/ngram_keys.h"
#include "index/vls_format.h"
#include "splitset/manifest_format.h"
#include "splitset/summary_format.h"
#include "splitset/summary_tlv.h"
#include "splitset/tombstones.h"
#include "splitset_build/split_name.h"
#include "splitset_build/split_policy.h"

namespace vellum {

Result<SplitSetWriter> SplitSetWriter::create(const SplitSetWriterOptions& o) {
  VELLUM_ASSIGN_OR_RETURN(uint8_t policy, parse_policy(o.policy));
  const uint32_t stride = o.stride == 0 ? kDefaultStride : o.stride;
  SplitSetWriter w(o.name_prefix, stride, o.bloom_bits_per_key,
                   o.gram_size == 0 ? uint16_t{1} : o.gram_size);
  w.params_.policy = policy;
  w.params_.tier_count = o.tier_count;
  w.params_.byte_cap = o.byte_cap;
  w.params_.sortcol = o.sortcol;
  w.fold_case_ = !o.case_sensitive;
  return w;
}

Result<uint32_t> SplitSetWriter::add(std::string_view text) {
  VELLUM_RETURN_IF_ERROR(ids_.check_available());
  const std::vector<uint64_t>& keys = keyer_.keys(text, gram_size_, fold_case_);
  if (memtable_.doc_count() == 0) memtable_first_id_ = ids_.next();
  memtable_.add(keys);
  return ids_.take();
}

Result<std::string> SplitSetWriter::manifest() const {
  ManifestParams p = params_;
  p.gram_size = gram_size_;
  p.body_kind = kBodyKindNgram;
  p.flags = kept_flags_;
  if (bloom_bits_ != 0) p.flags |= kManifestFlagBloom;
  for (const SplitMeta& s : splits_) {
    if (s.split_flags & kSplitFlagTombstones) p.flags |= kManifestFlagTombstones;
  }
  if (!fold_case_) p.flags |= kManifestFlagCaseSensitive;
  return write_manifest(splits_, p);
}

Result<std::optional<WrittenSplit>> SplitSetWriter::flush() {
  const bool has_tombstones = pending_tombstones_.cardinality() > 0;
  const uint32_t docs = memtable_.doc_count();
  if (docs == 0 && !has_tombstones) return std::optional<WrittenSplit>();
  WrittenSplit out;
  std::string bloom;
  Status encoded = memtable_.encode(gram_size_, stride_, fold_case_, bloom_bits_, &out.body, &bloom);
  if (!encoded.ok()) {
    memtable_.keep();
    return Error(ErrorKind::kIo, encoded.error().message());
  }
  SplitMeta meta;
  meta.name = split_file_name(name_prefix_, kDeltaSplitLetter, delta_seq_, ".vls");
  if (!bloom.empty()) append_tlv(&meta.summary, kTlvBloom, bloom);
  if (has_tombstones) {
    append_tlv(&meta.summary, kTlvTombstones, encode_tombstones(pending_tombstones_));
    meta.split_flags = kSplitFlagTombstones;
  }
  meta.epoch = epoch_;
  meta.size_bytes = out.body.size();
  meta.doc_count = docs;
  // The id space may be used up: a tombstone carrier then names the last id.
  const uint64_t first = docs > 0 ? memtable_first_id_ : ids_.next();
  meta.first_id = static_cast<uint32_t>(std::min<uint64_t>(first, UINT32_MAX));
  meta.last_id = docs > 0 ? static_cast<uint32_t>(first + docs - 1) : meta.first_id;
  out.name = meta.name;
  splits_.push_back(std::move(meta));
  Result<std::string> m = manifest();
  if (!m.ok()) {
    splits_.pop_back();
    memtable_.keep();
    return m.error();
  }
  out.manifest = std::move(*m);
  ++delta_seq_;
  ++epoch_;
  memtable_.clear();
  pending_tombstones_ = Bitmap();
  return std::optional<WrittenSplit>(std::move(out));
}

}  // namespace vellum
