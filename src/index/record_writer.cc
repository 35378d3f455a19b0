#include "index/record_writer.h"

#include <string>
#include <utility>

#include "common/coding.h"
#include "index/record_format.h"

namespace vellum {

Result<RecordWriter> RecordWriter::create(FileSink bin, FileSink idx, uint32_t count) {
  std::string header;
  header.append(kRecordIndexMagic);
  PutU16(&header, kRecordIndexVersion);
  PutU16(&header, 0);
  PutU32(&header, count);
  PutU32(&header, 0);
  PutU64(&header, 0);  // offsets[0]
  VELLUM_RETURN_IF_ERROR(idx.append(header));
  return RecordWriter(std::move(bin), std::move(idx));
}

Status RecordWriter::append(std::string_view record) {
  VELLUM_RETURN_IF_ERROR(bin_.append(record));
  offset_ += record.size();
  char b[kRecordOffsetSize];
  EncodeU64(b, offset_);
  VELLUM_RETURN_IF_ERROR(idx_.append(std::string_view(b, sizeof b)));
  ++appended_;
  return Status();
}

Status RecordWriter::finish() {
  return close_after(bin_.close(), &idx_);
}

}  // namespace vellum
