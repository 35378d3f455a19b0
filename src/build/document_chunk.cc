#include "build/document_chunk.h"

#include <algorithm>
#include <cstring>

#include "common/prefetch.h"

namespace vellum {

namespace {

// Prefetch distances, in documents: rows while locating, bytes while
// copying.
constexpr size_t kRowAhead = 128;
constexpr size_t kCopyAhead = 24;

}  // namespace

DocumentChunk::DocumentChunk(const RecordStaging& staged, std::span<const uint32_t> order,
                             unsigned parts, size_t byte_budget)
    : staged_(staged),
      order_(order),
      parts_(parts),
      budget_(byte_budget),
      texts_(kMaxDocs),
      records_(kMaxDocs),
      facets_(kMaxDocs) {
  if (parts_ & kText) text_bytes_ = std::make_unique_for_overwrite<char[]>(budget_);
  if (parts_ & kRecord) record_bytes_ = std::make_unique_for_overwrite<char[]>(budget_);
  if (parts_ & kFacets) {
    facet_ids_ = std::make_unique_for_overwrite<uint32_t[]>(budget_ / sizeof(uint32_t));
  }
}

size_t DocumentChunk::gather(size_t first) {
  locate(first);
  if (parts_ & kText) copy_bytes(&texts_, text_bytes_.get());
  if (parts_ & kRecord) copy_bytes(&records_, record_bytes_.get());
  if (parts_ & kFacets) copy_facets();
  return count_;
}

// Takes documents while every gathered part fits its buffer; a part bigger
// than a whole buffer stays where it is and does not count.
void DocumentChunk::locate(size_t first) {
  const size_t n = order_.size();
  const size_t end = std::min(n, first + kMaxDocs);
  const size_t facet_budget = budget_ / sizeof(uint32_t);
  size_t text_bytes = 0, record_bytes = 0, facet_count = 0;
  size_t k = 0;
  for (size_t d = first; d < end; ++d, ++k) {
    if (d + kRowAhead < n) staged_.prefetch_row(order_[d + kRowAhead]);
    const uint32_t i = order_[d];
    size_t t = 0, r = 0, f = 0;
    if (parts_ & kText) {
      texts_[k] = staged_.text(i);
      if (texts_[k].size() <= budget_) t = texts_[k].size();
    }
    if (parts_ & kRecord) {
      records_[k] = staged_.record(i);
      if (records_[k].size() <= budget_) r = records_[k].size();
    }
    if (parts_ & kFacets) {
      facets_[k] = staged_.facets(i);
      if (facets_[k].size() <= facet_budget) f = facets_[k].size();
    }
    if (k > 0 && (text_bytes + t > budget_ || record_bytes + r > budget_ ||
                  facet_count + f > facet_budget)) {
      break;
    }
    text_bytes += t;
    record_bytes += r;
    facet_count += f;
  }
  count_ = k;
}

// Copies each located part that fits the buffer, in id order, and points
// its view at the copy.
void DocumentChunk::copy_bytes(std::vector<std::string_view>* views, char* buffer) {
  std::string_view* v = views->data();
  auto fetch = [](std::string_view s) {
    prefetch(s.data());
    if (s.size() > 64) prefetch(s.data() + s.size() - 1);
  };
  for (size_t k = 0; k < std::min(kCopyAhead, count_); ++k) fetch(v[k]);
  char* out = buffer;
  for (size_t k = 0; k < count_; ++k) {
    if (k + kCopyAhead < count_) fetch(v[k + kCopyAhead]);
    if (v[k].size() > budget_ || v[k].empty()) continue;
    std::memcpy(out, v[k].data(), v[k].size());
    v[k] = std::string_view(out, v[k].size());
    out += v[k].size();
  }
}

void DocumentChunk::copy_facets() {
  std::span<const uint32_t>* v = facets_.data();
  const size_t facet_budget = budget_ / sizeof(uint32_t);
  uint32_t* out = facet_ids_.get();
  for (size_t k = 0; k < count_; ++k) {
    if (k + kCopyAhead < count_ && !v[k + kCopyAhead].empty()) {
      prefetch(v[k + kCopyAhead].data());
    }
    if (v[k].size() > facet_budget || v[k].empty()) continue;
    std::copy(v[k].begin(), v[k].end(), out);
    v[k] = std::span<const uint32_t>(out, v[k].size());
    out += v[k].size();
  }
}

}  // namespace vellum
