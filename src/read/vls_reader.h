// Reader of the VLS n-gram text index, for bytes from storage. `open`
// checks what a remote reader needs before its first range read (magic,
// version, header fields, that the sparse index and dictionary fit);
// `verify` checks everything else the layout defines: sparse keys equal to
// the block-leading dictionary keys, keys strictly ascending, postings back
// to back from the end of the dictionary to the end of the file, and every
// posting a sound Roaring payload without run containers. Lookups check the
// block and the posting they touch. The reader views the caller's bytes,
// which must outlive it.
#ifndef VELLUM_READ_VLS_READER_H_
#define VELLUM_READ_VLS_READER_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "read/problem.h"

namespace vellum {

struct VlsHeader {
  uint16_t version = 0;
  uint16_t gram_size = 0;
  uint32_t key_count = 0;
  uint32_t stride = 0;
  bool case_sensitive = false;  // version 4
  uint64_t header_size = 0;
  uint64_t block_count = 0;
  uint64_t sparse_offset = 0;
  uint64_t dict_offset = 0;
  uint64_t postings_offset = 0;
};

struct VlsEntry {
  uint64_t key = 0;
  uint64_t offset = 0;  // absolute
  uint32_t length = 0;
};

// Postings by number of ids: bucket b counts postings holding 2^b to
// 2^(b+1) - 1 ids; `empty_postings` those holding none.
struct VlsStats {
  uint64_t posting_bytes = 0;
  uint64_t total_ids = 0;     // sum of posting cardinalities
  uint64_t doc_span = 0;      // largest id + 1; 0 when no posting holds an id
  uint64_t empty_postings = 0;
  std::array<uint64_t, 32> cardinality_log2{};
};

class VlsReader {
 public:
  static Checked<VlsReader> open(std::string file, std::string_view bytes);

  const VlsHeader& header() const { return h_; }
  uint64_t file_size() const { return bytes_.size(); }
  const std::string& file() const { return site_.file(); }

  Checked<VlsStats> verify() const;

  // Dictionary entry i (< key_count); `open` made sure it lies in the file.
  VlsEntry entry(uint32_t i) const;

  // The entry of `key`, found like a remote reader would: the sparse index
  // picks the block, a search of that block finds the key.
  Checked<std::optional<VlsEntry>> find(uint64_t key) const;

  Checked<std::vector<uint32_t>> posting_ids(const VlsEntry& e) const;

  // Candidate documents for a substring query: the n-gram keys of `query`
  // (this file's gram size, folded for version 3) with their postings
  // intersected. nullopt when the query has no n-gram key, so the index
  // cannot narrow it down.
  Checked<std::optional<std::vector<uint32_t>>> lookup_text(std::string_view query) const;

 private:
  VlsReader(std::string file, std::string_view bytes) : site_(std::move(file)), bytes_(bytes) {}
  Check verify_sparse() const;
  Check verify_dictionary() const;
  Check check_block(uint64_t block) const;

  ProblemSite site_;
  std::string_view bytes_;
  VlsHeader h_;
};

}  // namespace vellum

#endif  // VELLUM_READ_VLS_READER_H_
