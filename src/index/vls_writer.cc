#include "index/vls_writer.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "common/coding.h"
#include "index/vls_format.h"

namespace vellum {

namespace {

constexpr size_t kChunk = 1 << 16;

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

// Counts what a PostingSource appends, so a size that disagrees with the
// dictionary is caught instead of shifting every later posting.
class CountingSink final : public Sink {
 public:
  explicit CountingSink(Sink* inner) : inner_(inner) {}
  Status append(std::string_view data) override {
    count_ += data.size();
    return inner_->append(data);
  }
  uint64_t count() const { return count_; }

 private:
  Sink* inner_;
  uint64_t count_ = 0;
};

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

  std::string buf;
  buf.reserve(kChunk + 64);
  buf.append(kVlsMagic);
  PutU16(&buf, folded ? kVlsFoldedVersion : kVlsCaseSensitiveVersion);
  PutU16(&buf, gram_size);
  PutU32(&buf, n32);
  PutU32(&buf, stride);
  if (!folded) PutU16(&buf, kVlsFlagCaseSensitive);

  for (uint32_t b = 0; b < blocks; ++b) {
    PutU64(&buf, source->key(uint64_t{b} * stride));
    if (buf.size() >= kChunk) {
      VELLUM_RETURN_IF_ERROR(sink->append(buf));
      buf.clear();
    }
  }
  for (size_t i = 0; i < n; ++i) {
    PutU64(&buf, source->key(i));
    PutU64(&buf, offset);
    const uint64_t len = source->size(i);
    if (len > std::numeric_limits<uint32_t>::max()) {
      VELLUM_RETURN_IF_ERROR(sink->append(buf));
      return Error(ErrorKind::kIo, "VLS posting size exceeds the 32-bit limit");
    }
    PutU32(&buf, static_cast<uint32_t>(len));
    offset += len;
    if (buf.size() >= kChunk) {
      VELLUM_RETURN_IF_ERROR(sink->append(buf));
      buf.clear();
    }
  }
  VELLUM_RETURN_IF_ERROR(sink->append(buf));
  std::string().swap(buf);

  CountingSink counted(sink);
  for (size_t i = 0; i < n; ++i) {
    const uint64_t before = counted.count();
    const uint64_t len = source->size(i);
    VELLUM_RETURN_IF_ERROR(source->write(i, &counted));
    if (counted.count() - before != len) {
      return Error(ErrorKind::kIo, "VLS posting bytes differ from the dictionary length");
    }
  }
  return Status();
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
