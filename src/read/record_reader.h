// Reader of the record store. records.idx is checked from its own bytes
// plus the length of records.bin (what a remote reader learns from one
// size query): magic, version, reserved words, the exact index length,
// offsets starting at 0, never decreasing and ending at the length of
// records.bin. Record bytes are opaque and carry nothing to check.
#ifndef VELLUM_READ_RECORD_READER_H_
#define VELLUM_READ_RECORD_READER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "read/problem.h"

namespace vellum {

class RecordReader {
 public:
  // Checks the header and the length of the offset table.
  static Checked<RecordReader> open(std::string idx_file, std::string_view idx, uint64_t bin_size);

  uint32_t record_count() const { return count_; }
  uint64_t bin_size() const { return bin_size_; }

  // The whole offset table.
  Check verify() const;

  // The byte range [begin, end) of record `id` in records.bin, checked.
  struct Range {
    uint64_t begin;
    uint64_t end;
  };
  Checked<Range> range(uint32_t id) const;

 private:
  RecordReader(std::string file, std::string_view idx, uint64_t bin_size)
      : site_(std::move(file)), idx_(idx), bin_size_(bin_size) {}
  uint64_t offset_at(uint64_t i) const;

  ProblemSite site_;
  std::string_view idx_;
  uint64_t bin_size_;
  uint32_t count_ = 0;
};

}  // namespace vellum

#endif  // VELLUM_READ_RECORD_READER_H_
