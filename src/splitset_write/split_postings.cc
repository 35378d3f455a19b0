#include "splitset_write/split_postings.h"

#include <string>

#include "common/byte_reader.h"
#include "index/vls_format.h"
#include "read/roaring_check.h"

namespace vellum {

namespace {

constexpr size_t kMinHeaderBytes = 16;
constexpr size_t kVersionAt = 4;
constexpr size_t kKeyCountAt = 8;
constexpr size_t kStrideAt = 12;
constexpr RoaringRules kAcceptRuns{.allow_runs = true};

Error compact_error(std::string_view what) {
  return Error(ErrorKind::kInvalidInput, "VLSS compact: " + std::string(what));
}

Error roaring_error(const RoaringFault& fault) {
  return Error(ErrorKind::kInvalidInput,
               "roaring deserialize: " + fault.what + " at byte " + std::to_string(fault.offset));
}

uint64_t dictionary_start(std::string_view body) {
  const uint16_t version = GetU16(body.data() + kVersionAt);
  const uint64_t n = GetU32(body.data() + kKeyCountAt);
  const uint64_t s = GetU32(body.data() + kStrideAt);
  const uint64_t header =
      version == kVlsCaseSensitiveVersion ? kVlsCaseSensitiveHeaderSize : kVlsFoldedHeaderSize;
  if (n == 0 || s == 0) return header;
  return header + kVlsSparseEntrySize * ((n + s - 1) / s);
}

}  // namespace

Status read_split_postings(std::string_view body, std::vector<StoredPosting>* out) {
  if (body.size() < kMinHeaderBytes || !body.starts_with(kVlsMagic)) {
    return compact_error("input is not an VLS split");
  }
  const uint32_t n = GetU32(body.data() + kKeyCountAt);
  const uint64_t start = dictionary_start(body);
  ByteReader dict(start <= body.size() ? body.substr(start) : std::string_view());
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t key = 0, offset = 0;
    uint32_t length = 0;
    if (dict.remaining() < kVlsDictEntrySize) return compact_error("truncated dictionary");
    dict.u64(&key);
    dict.u64(&offset);
    dict.u32(&length);
    if (offset > body.size() || length > body.size() - offset) {
      return compact_error("posting out of range");
    }
    StoredPosting p{key, body.substr(offset, length), 0, 0, 0};
    RoaringSummary summary;
    if (auto fault = check_roaring(p.bytes, kAcceptRuns, &summary)) return roaring_error(*fault);
    p.ids = summary.cardinality;
    p.min = summary.min;
    p.max = summary.max;
    out->push_back(p);
  }
  return Status();
}

void decode_posting(std::string_view bytes, std::vector<uint32_t>* ids) {
  RoaringSummary summary;
  // Checked when listed; a second fault here is impossible.
  (void)decode_roaring(bytes, kAcceptRuns, &summary, ids);
}

Status decode_tombstone_ids(std::string_view payload, std::vector<uint32_t>* ids) {
  RoaringSummary summary;
  if (auto fault = decode_roaring(payload, kAcceptRuns, &summary, ids)) return roaring_error(*fault);
  return Status();
}

}  // namespace vellum
