#include "index/vls_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "common/coding.h"
#include "index/vls_format.h"

namespace vellum {

namespace {

class EntrySource final : public PostingSource {
 public:
  explicit EntrySource(std::vector<IndexEntry>* entries) : entries_(entries) {}
  size_t count() const override { return entries_->size(); }
  uint64_t key(size_t i) const override { return (*entries_)[i].key; }
  uint64_t size(size_t i) const override { return (*entries_)[i].posting.size(); }
  Status write(size_t i, Sink* sink) override {
    std::string& p = (*entries_)[i].posting;
    Status s = sink->append(p);
    std::string().swap(p);  // the writer owns the postings: release as we go
    return s;
  }

 private:
  std::vector<IndexEntry>* entries_;
};

// Gathers the index's many small pieces (dictionary entries, postings of a
// few ids) into large writes to the sink underneath, and counts every byte
// that passes, so a posting whose length disagrees with the dictionary is
// caught instead of shifting every later posting. Pieces of half a chunk or
// more go straight through, after what is buffered.
class ChunkedSink final : public Sink {
 public:
  explicit ChunkedSink(Sink* inner)
      : inner_(inner), buf_(std::make_unique_for_overwrite<char[]>(kChunk)) {}

  Status append(std::string_view data) override {
    count_ += data.size();
    if (data.size() <= kChunk - used_) {
      std::memcpy(buf_.get() + used_, data.data(), data.size());
      used_ += data.size();
      return Status();
    }
    VELLUM_RETURN_IF_ERROR(flush());
    if (data.size() >= kChunk / 2) return inner_->append(data);
    std::memcpy(buf_.get(), data.data(), data.size());
    used_ = data.size();
    return Status();
  }

  // Appends `n` bytes (at most a chunk) that fill(char*) writes in place:
  // fixed-width fields encoded straight into the buffer.
  template <typename Fill>
  Status put(size_t n, Fill fill) {
    if (n > kChunk - used_) VELLUM_RETURN_IF_ERROR(flush());
    fill(buf_.get() + used_);
    used_ += n;
    count_ += n;
    return Status();
  }

  Status flush() {
    if (used_ == 0) return Status();
    const size_t n = std::exchange(used_, 0);
    return inner_->append(std::string_view(buf_.get(), n));
  }

  uint64_t count() const { return count_; }

 private:
  // Above a file's own buffer, so that a full chunk reaches the file
  // without another copy.
  static constexpr size_t kChunk = size_t{1} << 20;

  Sink* inner_;
  std::unique_ptr<char[]> buf_;
  size_t used_ = 0;
  uint64_t count_ = 0;
};

Status write_header(Sink* out, bool folded, uint16_t gram_size, uint32_t count,
                    uint32_t stride) {
  std::string header(kVlsMagic);
  PutU16(&header, folded ? kVlsFoldedVersion : kVlsCaseSensitiveVersion);
  PutU16(&header, gram_size);
  PutU32(&header, count);
  PutU32(&header, stride);
  if (!folded) PutU16(&header, kVlsFlagCaseSensitive);
  return out->append(header);
}

Status write_entries(Sink* sink, uint16_t gram_size, uint32_t stride,
                     std::vector<IndexEntry> entries, bool folded) {
  std::sort(entries.begin(), entries.end(),
            [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; });
  EntrySource source(&entries);
  return write_index_from(sink, gram_size, stride, folded, &source);
}

}  // namespace

uint64_t index_bytes(size_t count, uint32_t stride, bool folded, uint64_t posting_bytes) {
  if (stride == 0) stride = kDefaultStride;
  const uint64_t blocks = (uint64_t{count} + stride - 1) / stride;
  const uint64_t header = folded ? kVlsFoldedHeaderSize : kVlsCaseSensitiveHeaderSize;
  return header + kVlsSparseEntrySize * blocks + kVlsDictEntrySize * uint64_t{count} +
         posting_bytes;
}

Status write_index_from(Sink* sink, uint16_t gram_size, uint32_t stride,
                        bool folded, PostingSource* source) {
  const size_t n = source->count();
  // key_count and the block count are 32-bit fields; more keys would wrap
  // silently into a file that points at the wrong bytes.
  if (n > std::numeric_limits<uint32_t>::max()) {
    return Error(ErrorKind::kIo, "VLS key count exceeds the 32-bit limit");
  }
  for (size_t i = 1; i < n; ++i) {
    if (source->key(i) <= source->key(i - 1)) {
      return Error(ErrorKind::kInvalidInput, "write_index requires distinct n-gram keys");
    }
  }
  if (stride == 0) stride = kDefaultStride;
  const uint32_t n32 = static_cast<uint32_t>(n);
  const uint32_t blocks = n32 / stride + (n32 % stride != 0 ? 1 : 0);
  const uint64_t header = folded ? kVlsFoldedHeaderSize : kVlsCaseSensitiveHeaderSize;
  uint64_t offset =
      header + kVlsSparseEntrySize * uint64_t{blocks} + kVlsDictEntrySize * uint64_t{n32};

  ChunkedSink out(sink);
  VELLUM_RETURN_IF_ERROR(write_header(&out, folded, gram_size, n32, stride));
  for (uint32_t b = 0; b < blocks; ++b) {
    const uint64_t key = source->key(uint64_t{b} * stride);
    VELLUM_RETURN_IF_ERROR(out.put(kVlsSparseEntrySize, [&](char* p) { EncodeU64(p, key); }));
  }
  for (size_t i = 0; i < n; ++i) {
    const uint64_t key = source->key(i);
    const uint64_t len = source->size(i);
    if (len > std::numeric_limits<uint32_t>::max()) {
      // What precedes the bad length is written, as far as its offset.
      VELLUM_RETURN_IF_ERROR(out.put(16, [&](char* p) {
        EncodeU64(p, key);
        EncodeU64(p + 8, offset);
      }));
      VELLUM_RETURN_IF_ERROR(out.flush());
      return Error(ErrorKind::kIo, "VLS posting size exceeds the 32-bit limit");
    }
    VELLUM_RETURN_IF_ERROR(out.put(kVlsDictEntrySize, [&](char* p) {
      EncodeU64(p, key);
      EncodeU64(p + 8, offset);
      EncodeU32(p + 16, static_cast<uint32_t>(len));
    }));
    offset += len;
  }
  for (size_t i = 0; i < n; ++i) {
    const uint64_t before = out.count();
    const uint64_t len = source->size(i);
    VELLUM_RETURN_IF_ERROR(source->write(i, &out));
    if (out.count() - before != len) {
      return Error(ErrorKind::kIo, "VLS posting bytes differ from the dictionary length");
    }
  }
  return out.flush();
}

Status write_index(FileSink file, uint16_t gram_size, uint32_t stride,
                   std::vector<IndexEntry> entries, bool folded) {
  return close_after(write_entries(&file, gram_size, stride, std::move(entries), folded), &file);
}

Status write_index(std::string* out, uint16_t gram_size, uint32_t stride,
                   std::vector<IndexEntry> entries, bool folded) {
  StringSink sink(out);
  return write_entries(&sink, gram_size, stride, std::move(entries), folded);
}

}  // namespace vellum
