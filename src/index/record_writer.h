// Writer of the record store: records.bin holds the records back to back in
// document-id order, records.idx a header and the u64 offset table
// (offsets[0] = 0, offsets[i+1] = offsets[i] + length of record i).
#ifndef VELLUM_INDEX_RECORD_WRITER_H_
#define VELLUM_INDEX_RECORD_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/sink.h"
#include "common/status.h"

namespace vellum {

class RecordWriter {
 public:
  // Writes the records.idx header for `count` records and offsets[0]. On
  // failure both files are closed (by their destructors) and the error is
  // returned.
  static Result<RecordWriter> create(FileSink bin, FileSink idx, uint32_t count);

  // Records go in document-id order. The writer does not check that exactly
  // `count` of them arrive.
  Status append(std::string_view record);
  // The same for `n` records in order, in a few large writes: records that
  // lie back to back in memory go out as one piece.
  Status append_run(const std::string_view* records, size_t n);

  // Closes both files; reports the first failure, closing both regardless.
  Status finish();

  uint32_t appended() const { return appended_; }

 private:
  RecordWriter(FileSink bin, FileSink idx)
      : bin_(std::move(bin)), idx_(std::move(idx)) {}

  FileSink bin_;
  FileSink idx_;
  uint64_t offset_ = 0;
  std::string offsets_;  // append_run scratch
  uint32_t appended_ = 0;
};

}  // namespace vellum

#endif  // VELLUM_INDEX_RECORD_WRITER_H_
