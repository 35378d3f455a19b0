// SplitSetWriter::compact: minor compaction of delta and compacted splits.
#include <algorithm>

#include "common/sink.h"
#include "splitset/bloom.h"
#include "splitset/manifest_format.h"
#include "splitset/summary_format.h"
#include "splitset/summary_tlv.h"
#include "splitset/tombstones.h"
#include "splitset_build/split_name.h"
#include "splitset_write/posting_merge.h"
#include "splitset_write/split_set_writer.h"

namespace vellum {

namespace {

// The checked contents of every input, read in input order so that the
// first faulty input is the one reported.
struct CompactionInputs {
  std::vector<CheckedSplit> splits;  // per input, views into the inputs' bytes
  std::vector<uint32_t> shifts;     // added to each input's ids
  std::vector<uint32_t> deleted;  // ascending, distinct
  uint64_t epoch = 0;
};

Result<size_t> find_input(const std::vector<SplitMeta>& splits, uint32_t base_count,
                          const std::string& name) {
  auto it = std::find_if(splits.begin(), splits.end(),
                         [&](const SplitMeta& s) { return s.name == name; });
  if (it == splits.end()) {
    return Error(ErrorKind::kInvalidInput, "VLSS compact: " + name + " not in manifest");
  }
  const size_t at = static_cast<size_t>(it - splits.begin());
  if (at < base_count) {
    return Error(ErrorKind::kInvalidInput,
                 "VLSS compact: base splits need a full rebuild, not minor compaction");
  }
  return at;
}

Status add_tombstones(const SplitMeta& split, std::vector<uint32_t>* deleted) {
  FormatResult<std::optional<std::string_view>> tlv = find_tlv(split.summary, kTlvTombstones);
  if (!tlv.ok()) return tlv.error().to_error();
  if (!tlv->has_value()) return Status();
  return decode_tombstone_ids(**tlv, deleted);
}

Result<CompactionInputs> read_inputs(const std::vector<SplitMeta>& splits, uint32_t base_count,
                                     const std::vector<CompactInput>& inputs) {
  CompactionInputs in;
  in.splits.reserve(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    VELLUM_ASSIGN_OR_RETURN(size_t at, find_input(splits, base_count, inputs[i].name));
    const SplitMeta& split = splits[at];
    VELLUM_RETURN_IF_ERROR(add_tombstones(split, &in.deleted));
    VELLUM_ASSIGN_OR_RETURN(CheckedSplit checked, CheckedSplit::check(inputs[i].body));
    in.splits.push_back(std::move(checked));
    in.epoch = i == 0 ? split.epoch : std::max(in.epoch, split.epoch);
    in.shifts.push_back((split.split_flags & kSplitFlagAbsoluteIds) ? 0 : split.first_id);
  }
  std::sort(in.deleted.begin(), in.deleted.end());
  in.deleted.erase(std::unique(in.deleted.begin(), in.deleted.end()), in.deleted.end());
  return in;
}

std::string compacted_summary(const MergedPostings& merged, const std::vector<uint32_t>& deleted,
                              uint32_t bloom_bits) {
  std::string summary;
  const std::vector<uint64_t>& keys = merged.keys();
  if (bloom_bits != 0 && !keys.empty()) {
    append_tlv(&summary, kTlvBloom, build_bloom(keys.data(), keys.size(), bloom_bits));
  }
  if (!deleted.empty()) {
    Bitmap ids;
    ids.add_many(deleted.data(), deleted.size());
    append_tlv(&summary, kTlvTombstones, encode_tombstones(ids));
  }
  return summary;
}

class StringBody final : public BodyBuffer {
 public:
  char* allocate(size_t size) override {
    bytes.resize(size);
    return bytes.data();
  }
  std::string bytes;
};

// Writes the merged postings into a buffer of the index's exact length.
Status write_body(MergedPostings* merged, uint16_t gram_size, uint32_t stride, bool fold_case,
                  BodyBuffer* body, uint64_t* written) {
  const uint64_t size = index_bytes(merged->count(), stride, fold_case, merged->posting_bytes());
  if (size > SIZE_MAX) return Error(ErrorKind::kIo, "VLS body exceeds the address space");
  SpanSink sink(body->allocate(static_cast<size_t>(size)), static_cast<size_t>(size));
  VELLUM_RETURN_IF_ERROR(write_index_from(&sink, gram_size, stride, fold_case, merged));
  if (sink.used() != size) return Error(ErrorKind::kIo, "VLS body is shorter than computed");
  *written = size;
  return Status();
}

}  // namespace

Result<WrittenSplit> SplitSetWriter::compact(const std::vector<CompactInput>& inputs) {
  StringBody body;
  VELLUM_ASSIGN_OR_RETURN(WrittenSplit out, compact(inputs, &body));
  out.body = std::move(body.bytes);
  return out;
}

Result<WrittenSplit> SplitSetWriter::compact(const std::vector<CompactInput>& inputs,
                                             BodyBuffer* body) {
  VELLUM_ASSIGN_OR_RETURN(CompactionInputs in, read_inputs(splits_, params_.base_count, inputs));
  std::vector<MergeInput> merge;
  for (size_t i = 0; i < in.splits.size(); ++i) merge.push_back({&in.splits[i], in.shifts[i]});
  MergedPostings merged = merge_postings(merge, in.deleted);
  SplitMeta meta;
  meta.summary = compacted_summary(merged, in.deleted, bloom_bits_);
  // Every 32-bit id live is 2^32 documents, one more than the field holds.
  meta.doc_count = static_cast<uint32_t>(std::min<uint64_t>(merged.live, UINT32_MAX));
  meta.first_id = merged.first_id;
  meta.last_id = merged.last_id;
  WrittenSplit out;
  VELLUM_RETURN_IF_ERROR(
      write_body(&merged, gram_size_, stride_, fold_case_, body, &meta.size_bytes));
  meta.name = split_file_name(name_prefix_, kCompactedSplitLetter, compaction_seq_, ".vls");
  meta.epoch = inputs.empty() ? epoch_ : in.epoch;
  meta.split_flags = kSplitFlagAbsoluteIds | (in.deleted.empty() ? 0 : kSplitFlagTombstones);
  for (const CompactInput& i : inputs) out.removed.push_back(i.name);
  std::vector<SplitMeta> kept;
  kept.reserve(splits_.size() + 1);
  for (const SplitMeta& s : splits_) {
    const bool input = std::find(out.removed.begin(), out.removed.end(), s.name) != out.removed.end();
    if (!input) kept.push_back(s);
  }
  out.name = meta.name;
  kept.push_back(std::move(meta));
  std::swap(kept, splits_);
  Result<std::string> m = manifest();
  if (!m.ok()) {
    std::swap(kept, splits_);
    return m.error();
  }
  out.manifest = std::move(*m);
  ++compaction_seq_;
  return out;
}

}  // namespace vellum
