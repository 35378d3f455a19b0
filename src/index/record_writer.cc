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

Status RecordWriter::append_run(const std::string_view* records, size_t n) {
  offsets_.resize(n * kRecordOffsetSize);
  char* out = offsets_.data();
  size_t k = 0;
  while (k < n) {
    const char* begin = nullptr;
    size_t len = 0;
    for (; k < n; ++k, out += kRecordOffsetSize) {
      const std::string_view r = records[k];
      if (len == 0) {
        begin = r.data();
      } else if (!r.empty() && r.data() != begin + len) {
        break;
      }
      len += r.size();
      offset_ += r.size();
      EncodeU64(out, offset_);
    }
    VELLUM_RETURN_IF_ERROR(bin_.append(std::string_view(begin, len)));
  }
  VELLUM_RETURN_IF_ERROR(idx_.append(offsets_));
  appended_ += static_cast<uint32_t>(n);
  return Status();
}

Status RecordWriter::finish() {
  return close_after(bin_.close(), &idx_);
}

}  // namespace vellum
