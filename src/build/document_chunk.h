// The staged documents of a run of consecutive document ids, gathered into
// reused contiguous buffers.
//
// Document ids follow rank order, so visiting them one by one lands on
// staged records at random, and every row and text is a cache miss that the
// work on the document then waits for. A chunk instead locates a run of
// documents first (rows fetched well ahead) and copies their bytes into one
// buffer in id order (texts fetched ahead), two tight loops whose misses
// overlap; the consumer then reads the buffer from cache.
//
// Memory stays bounded: a chunk holds at most kMaxDocs documents and about
// kByteBudget bytes of each gathered part. A document bigger than the budget
// is not copied; its view points into the staging.
#ifndef VELLUM_BUILD_DOCUMENT_CHUNK_H_
#define VELLUM_BUILD_DOCUMENT_CHUNK_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "build/staging.h"

namespace vellum {

class DocumentChunk {
 public:
  // What to gather of each document; views of other parts are empty.
  enum Part : unsigned { kText = 1, kRecord = 2, kFacets = 4 };

  static constexpr size_t kMaxDocs = 4096;
  static constexpr size_t kByteBudget = size_t{256} << 10;

  // `order` maps document id to staged record; both must outlive the chunk
  // and stay unchanged while it is used.
  DocumentChunk(const RecordStaging& staged, std::span<const uint32_t> order, unsigned parts,
                size_t byte_budget = kByteBudget);

  // Gathers the documents from id `first` on (first < the document count),
  // as many as fit the limits and at least one; returns how many. Views
  // from an earlier gather become invalid.
  size_t gather(size_t first);

  // Document `first + k` of the last gather.
  size_t size() const { return count_; }
  std::string_view text(size_t k) const { return texts_[k]; }
  std::string_view record(size_t k) const { return records_[k]; }
  std::span<const uint32_t> facets(size_t k) const { return facets_[k]; }
  // The records of the whole chunk, in id order.
  std::span<const std::string_view> records() const { return {records_.data(), count_}; }

 private:
  void locate(size_t first);
  void copy_bytes(std::vector<std::string_view>* views, char* buffer);
  void copy_facets();

  const RecordStaging& staged_;
  std::span<const uint32_t> order_;
  unsigned parts_;
  size_t budget_;
  size_t count_ = 0;
  // Per document of the chunk, each part (kMaxDocs entries; parts not
  // gathered stay empty).
  std::vector<std::string_view> texts_;
  std::vector<std::string_view> records_;
  std::vector<std::span<const uint32_t>> facets_;
  // The copies (budget_ bytes each).
  std::unique_ptr<char[]> text_bytes_;
  std::unique_ptr<char[]> record_bytes_;
  std::unique_ptr<uint32_t[]> facet_ids_;
};

}  // namespace vellum

#endif  // VELLUM_BUILD_DOCUMENT_CHUNK_H_
