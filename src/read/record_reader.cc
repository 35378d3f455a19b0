#include "read/record_reader.h"

#include "common/byte_reader.h"
#include "common/coding.h"
#include "index/record_format.h"

namespace vellum {

namespace {

constexpr const char* kHeader = "header";
constexpr const char* kOffsets = "offsets";

}  // namespace

Checked<RecordReader> RecordReader::open(std::string idx_file, std::string_view idx,
                                         uint64_t bin_size) {
  RecordReader rr(std::move(idx_file), idx, bin_size);
  const ProblemSite& site = rr.site_;
  ByteReader r(idx);
  std::string_view magic;
  uint16_t version, reserved16;
  uint32_t reserved32;
  if (!r.bytes(kRecordIndexMagic.size(), &magic) || !r.u16(&version) || !r.u16(&reserved16) ||
      !r.u32(&rr.count_) || !r.u32(&reserved32)) {
    return site.at(kHeader, 0, "file is shorter than the header");
  }
  if (magic != kRecordIndexMagic) return site.at(kHeader, 0, "bad magic, expected VLSR");
  if (version != kRecordIndexVersion) {
    return site.at(kHeader, 4, "unsupported version " + std::to_string(version));
  }
  if (reserved16 != 0) return site.at(kHeader, 6, "reserved field is not 0");
  if (reserved32 != 0) return site.at(kHeader, 12, "reserved field is not 0");
  const uint64_t want = kRecordIndexHeaderSize + kRecordOffsetSize * (uint64_t{rr.count_} + 1);
  if (idx.size() < want) return site.at(kOffsets, idx.size(), "file ends inside the offset table");
  if (idx.size() > want) return site.at(kOffsets, want, "bytes follow the offset table");
  return rr;
}

uint64_t RecordReader::offset_at(uint64_t i) const {
  return GetU64(idx_.data() + kRecordIndexHeaderSize + kRecordOffsetSize * i);
}

Check RecordReader::verify() const {
  if (offset_at(0) != 0) return site_.at(kOffsets, kRecordIndexHeaderSize, "first offset is not 0");
  for (uint64_t i = 1; i <= count_; ++i) {
    if (offset_at(i) < offset_at(i - 1)) {
      return site_.at(kOffsets, kRecordIndexHeaderSize + kRecordOffsetSize * i, "offsets decrease");
    }
  }
  if (offset_at(count_) != bin_size_) {
    return site_.at(kOffsets, kRecordIndexHeaderSize + kRecordOffsetSize * count_,
                    "last offset is not the length of records.bin (" + std::to_string(bin_size_) + ")");
  }
  return Check();
}

Checked<RecordReader::Range> RecordReader::range(uint32_t id) const {
  if (id >= count_) {
    return site_.at(kOffsets, kRecordIndexHeaderSize, "no record " + std::to_string(id));
  }
  const Range r{offset_at(id), offset_at(uint64_t{id} + 1)};
  if (r.begin > r.end || r.end > bin_size_) {
    return site_.at(kOffsets, kRecordIndexHeaderSize + kRecordOffsetSize * id,
                    "record range lies outside records.bin");
  }
  return r;
}

}  // namespace vellum
