#include "index/record_writer.h"

#include <string>
#include <utility>

#include "common/coding.h"

namespace vellum {

Result<RecordWriter> RecordWriter::create(FileSink bin, FileSink idx, uint32_t count) {
  std::string header;
  header.append("VLSR", 4);
  PutU16(&header, 1);  // version
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
  char b[8];
  EncodeU64(b, offset_);
  VELLUM_RETURN_IF_ERROR(idx_.append(std::string_view(b, 8)));
  ++appended_;
  return Status();
}

Status RecordWriter::finish() {
  Status a = bin_.close();
  Status b = idx_.close();
  return a.ok() ? b : a;
}

}  // namespace vellum
