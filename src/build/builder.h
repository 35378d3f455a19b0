// The whole-dataset builder: stages records, then writes index.vls,
// index.vlf, records.bin and records.idx into a directory, with document ids
// assigned in descending rank.
#ifndef VELLUM_BUILD_BUILDER_H_
#define VELLUM_BUILD_BUILDER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "build/staging.h"
#include "common/status.h"
#include "facet/facet_list.h"

namespace vellum {

// One record as C++ callers hand it in; it is copied into the staging.
struct StagedRecord {
  int64_t rank = 0;
  std::string text;
  std::string record;
  FacetList facets;
};

struct BuildStats {
  uint64_t docs = 0;
  uint64_t ngrams = 0;
  uint64_t fields = 0;
};

// Document ids are 32-bit, so a dataset holds fewer than 2^32 records;
// `build` checks this before writing anything.
Status check_document_count(uint64_t count);

class Builder {
 public:
  // Validates head_boundary (a multiple of 65536; 0 means 65536) and maps
  // gram_size 0 to 1.
  static Result<Builder> create(uint16_t gram_size, uint32_t head_boundary);

  void add(const StagedRecord& record);
  void add_many(const std::vector<StagedRecord>& records);
  // For callers that stage rows as they convert them (and roll a failed
  // batch back); records staged here are built like any other.
  RecordStaging& staging() { return staged_; }

  // Writes the dataset; leaves the staged records in place.
  Result<BuildStats> build(const std::string& out_dir) const;

  size_t staged_count() const { return staged_.size(); }
  uint16_t gram_size() const { return gram_size_; }
  uint32_t head_boundary() const { return head_boundary_; }

 private:
  Builder(uint16_t gram_size, uint32_t head_boundary)
      : gram_size_(gram_size), head_boundary_(head_boundary) {}

  uint16_t gram_size_;
  uint32_t head_boundary_;
  RecordStaging staged_;
};

}  // namespace vellum

#endif  // VELLUM_BUILD_BUILDER_H_
