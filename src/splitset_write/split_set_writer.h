// The streaming producer of an n-gram split set: documents and deletions
// collect in a memtable; each flush seals it into one delta split and a
// complete new manifest, returned as bytes (the caller stores the split,
// then replaces the manifest). resume continues a stored set from its
// manifest; compact merges delta and compacted splits into one split of
// absolute ids without the deleted documents.
//
// flush and compact change the writer only when they succeed: on any
// error the writer is exactly as it was and nothing staged is lost.
#ifndef VELLUM_SPLITSET_WRITE_SPLIT_SET_WRITER_H_
#define VELLUM_SPLITSET_WRITE_SPLIT_SET_WRITER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/ngram_keys.h"
#include "common/status.h"
#include "index/bitmap.h"
#include "splitset/manifest.h"
#include "splitset_build/doc_ids.h"
#include "splitset_write/memtable.h"

namespace vellum {

struct SplitSetWriterOptions {
  std::string name_prefix = "split";
  std::string policy = "stable_key";
  std::optional<SortColumn> sortcol;
  uint64_t byte_cap = 33554432;
  uint32_t stride = 0;  // 0 means 512
  uint32_t bloom_bits_per_key = 10;
  uint16_t gram_size = 3;  // 0 means 1
  uint16_t tier_count = 0;
  bool case_sensitive = false;
};

struct ResumeOptions {
  std::string name_prefix = "split";
  uint32_t stride = 0;
  uint32_t bloom_bits_per_key = 10;
  uint16_t gram_size = 3;
};

// What flush and compact hand back.
struct WrittenSplit {
  std::string name;
  std::string body;
  std::string manifest;
  std::vector<std::string> removed;  // compact only: the inputs' names
};

struct CompactInput {
  std::string name;
  std::string_view body;
};

// Memory for a split body whose exact length is known before it is
// written, so that a caller can have the body written once, straight into
// the object it hands on.
class BodyBuffer {
 public:
  virtual ~BodyBuffer() = default;
  // `size` writable bytes that stay valid until the caller takes them;
  // asked at most once per call. May throw std::bad_alloc, which leaves
  // the writer unchanged.
  virtual char* allocate(size_t size) = 0;
};

class SplitSetWriter {
 public:
  // kInvalidArgument for an unknown policy.
  static Result<SplitSetWriter> create(const SplitSetWriterOptions& options);
  // kInvalidArgument with the manifest's format error, or when the set
  // cannot take n-gram deltas.
  static Result<SplitSetWriter> resume(std::string_view manifest, const ResumeOptions& options);

  // The new document's global id; kIo once every 32-bit id is taken.
  Result<uint32_t> add(std::string_view text);
  void remove(uint32_t doc_id) { pending_tombstones_.add(doc_id); }

  uint64_t memtable_bytes() const { return memtable_.bytes(); }
  uint32_t memtable_doc_count() const { return memtable_.doc_count(); }
  uint64_t doc_count() const { return ids_.next(); }

  // nullopt when there is nothing to flush.
  Result<std::optional<WrittenSplit>> flush();
  Result<WrittenSplit> compact(const std::vector<CompactInput>& inputs);
  // The same, with the body written into `body` instead of the result's
  // body string (left empty). On failure the buffer's bytes mean nothing.
  Result<WrittenSplit> compact(const std::vector<CompactInput>& inputs, BodyBuffer* body);

  const std::vector<SplitMeta>& splits() const { return splits_; }
  uint64_t epoch() const { return epoch_; }

 private:
  SplitSetWriter(std::string name_prefix, uint32_t stride, uint32_t bloom_bits, uint16_t gram_size)
      : name_prefix_(std::move(name_prefix)),
        memtable_(stride),
        stride_(stride),
        bloom_bits_(bloom_bits),
        gram_size_(gram_size) {}

  Result<std::string> manifest() const;

  std::string name_prefix_;
  std::vector<SplitMeta> splits_;
  Bitmap pending_tombstones_;
  ManifestParams params_;  // policy, tier count, cap, base count, sortcol
  Memtable memtable_;
  NgramKeyer keyer_;  // reused: its buffers stay warm across documents
  DocIds ids_;
  uint64_t epoch_ = 1;
  uint64_t delta_seq_ = 0;
  uint64_t compaction_seq_ = 0;
  uint64_t memtable_first_id_ = 0;
  uint32_t stride_;
  uint32_t bloom_bits_;
  uint16_t gram_size_;
  uint16_t kept_flags_ = 0;  // facet flag of a resumed set
  bool fold_case_ = true;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_WRITE_SPLIT_SET_WRITER_H_
