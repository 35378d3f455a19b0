// Reader of the VLSF facet sidecar, for bytes from storage. `open` checks
// the meta region a remote reader fetches first: header, field table
// (contiguous category ranges covering the category table), category table
// (keys ascending within a field and equal to the key of the stored names,
// postings back to back from the end of the meta region to the end of the
// file) and string blob (valid UTF-8 names tiling it in writing order).
// `verify` adds every head and tail posting: sound Roaring without runs,
// head ids below tail ids, cardinalities summing to the category's
// doc_count. The reader views the caller's bytes, which must outlive it.
#ifndef VELLUM_READ_VLSF_READER_H_
#define VELLUM_READ_VLSF_READER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "read/problem.h"

namespace vellum {

struct VlsfHeader {
  uint16_t version = 0;
  bool case_sensitive = false;
  uint32_t field_count = 0;
  uint32_t category_count = 0;
  uint32_t blob_size = 0;
  uint64_t meta_size = 0;  // header, tables and blob; postings start here
};

struct VlsfField {
  std::string_view name;
  uint32_t first = 0;  // index of its first category
  uint32_t count = 0;
};

struct VlsfCategory {
  uint64_t key = 0;
  uint64_t head_offset = 0;  // absolute; the tail follows the head
  uint32_t head_len = 0;
  uint32_t tail_len = 0;
  uint32_t doc_count = 0;
  std::string_view name;
};

struct VlsfStats {
  uint64_t posting_bytes = 0;
  uint64_t memberships = 0;  // sum of doc_count
  uint64_t doc_span = 0;     // largest id + 1; 0 when no category holds an id
};

class VlsfReader {
 public:
  static Checked<VlsfReader> open(std::string file, std::string_view bytes);

  const VlsfHeader& header() const { return h_; }
  uint64_t file_size() const { return bytes_.size(); }
  const std::vector<VlsfField>& fields() const { return fields_; }
  const std::vector<VlsfCategory>& categories() const { return cats_; }
  const std::string& file() const { return site_.file(); }

  Checked<VlsfStats> verify() const;

  // Ids of category i (head and tail together), checked.
  Checked<std::vector<uint32_t>> category_ids(uint32_t i) const;

  // Ids of the documents in (field, category): every entry of a matching
  // field whose key is the pair's key (names compared folded unless the
  // file is case-sensitive, as keys are). Empty when there is none.
  Checked<std::vector<uint32_t>> lookup(std::string_view field, std::string_view category) const;

  // The distinct category keys, ascending: what a presence summary lists.
  std::vector<uint64_t> distinct_keys() const;

 private:
  VlsfReader(std::string file, std::string_view bytes) : site_(std::move(file)), bytes_(bytes) {}
  Check read_fields();
  Check read_categories();
  Check check_blob_tiling() const;
  Check check_keys() const;
  Check check_category_postings(uint32_t i, VlsfStats* s) const;
  uint64_t field_entry_at(uint32_t i) const;
  uint64_t category_entry_at(uint32_t i) const;

  ProblemSite site_;
  std::string_view bytes_;
  VlsfHeader h_;
  std::vector<VlsfField> fields_;
  std::vector<VlsfCategory> cats_;
  std::vector<uint32_t> name_offsets_;  // per category, into the blob
  std::vector<uint32_t> field_name_offsets_;
};

}  // namespace vellum

#endif  // VELLUM_READ_VLSF_READER_H_
