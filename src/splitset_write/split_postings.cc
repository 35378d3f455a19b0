#include "splitset_write/split_postings.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "common/byte_reader.h"
#include "index/posting_format.h"
#include "index/vls_format.h"
#include "read/roaring_check.h"

namespace vellum {

namespace {

constexpr size_t kMinHeaderBytes = 16;
constexpr size_t kVersionAt = 4;
constexpr size_t kKeyCountAt = 8;
constexpr size_t kStrideAt = 12;
constexpr size_t kEntryOffsetAt = 8;
constexpr size_t kEntryLengthAt = 16;
// With runs, container offsets are written only from this many containers on.
constexpr uint32_t kRunOffsetThreshold = 4;
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

// Appends the ids of one checked container.
uint32_t* decode_container(const char* p, uint32_t base, uint32_t card, bool run, uint32_t* out) {
  if (run) {
    const uint32_t runs = GetU16(p);
    for (uint32_t k = 0; k < runs; ++k) {
      const uint32_t start = GetU16(p + 2 + 4 * size_t{k});
      const uint32_t end = start + GetU16(p + 4 + 4 * size_t{k});
      for (uint32_t x = start; x <= end; ++x) *out++ = base | x;
    }
  } else if (card > kMaxArrayCardinality) {
    for (uint32_t w = 0; w < kBitmapContainerBytes / 8; ++w) {
      for (uint64_t bits = GetU64(p + 8 * size_t{w}); bits != 0; bits &= bits - 1) {
        *out++ = base | (64 * w + static_cast<uint32_t>(__builtin_ctzll(bits)));
      }
    }
  } else {
    for (uint32_t k = 0; k < card; ++k) *out++ = base | GetU16(p + 2 * size_t{k});
  }
  return out;
}

size_t container_bytes(const char* p, uint32_t card, bool run) {
  if (run) return 2 + 4 * size_t{GetU16(p)};
  return card > kMaxArrayCardinality ? kBitmapContainerBytes : 2 * size_t{card};
}

}  // namespace

Result<CheckedSplit> CheckedSplit::check(std::string_view body) {
  if (body.size() < kMinHeaderBytes || !body.starts_with(kVlsMagic)) {
    return compact_error("input is not an VLS split");
  }
  CheckedSplit split;
  split.body_ = body;
  split.n_ = GetU32(body.data() + kKeyCountAt);
  const uint64_t start = dictionary_start(body);
  const uint64_t room = start <= body.size() ? body.size() - start : 0;
  split.dict_ = body.data() + (start <= body.size() ? start : body.size());
  for (uint32_t i = 0; i < split.n_; ++i) {
    if (room / kVlsDictEntrySize <= i) return compact_error("truncated dictionary");
    const char* e = split.dict_ + kVlsDictEntrySize * size_t{i};
    const uint64_t offset = GetU64(e + kEntryOffsetAt);
    const uint32_t length = GetU32(e + kEntryLengthAt);
    if (offset > body.size() || length > body.size() - offset) {
      return compact_error("posting out of range");
    }
    RoaringSummary s;
    if (auto fault = check_roaring(body.substr(offset, length), kAcceptRuns, &s)) {
      return roaring_error(*fault);
    }
    if (s.cardinality == 0) continue;
    split.min_id_ = split.has_ids_ ? std::min(split.min_id_, s.min) : s.min;
    split.max_id_ = split.has_ids_ ? std::max(split.max_id_, s.max) : s.max;
    split.has_ids_ = true;
  }
  split.sort_if_unordered();
  return split;
}

void CheckedSplit::sort_if_unordered() {
  bool ascending = true;
  for (uint32_t i = 1; i < n_ && ascending; ++i) ascending = key(i - 1) <= key(i);
  if (ascending) return;
  std::vector<uint32_t> order(n_);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [this](uint32_t a, uint32_t b) { return key(a) < key(b); });
  order_ = std::move(order);
}

uint64_t CheckedSplit::key(uint32_t i) const {
  return GetU64(dict_ + kVlsDictEntrySize * size_t{entry(i)});
}

std::string_view CheckedSplit::posting(uint32_t i) const {
  const char* e = dict_ + kVlsDictEntrySize * size_t{entry(i)};
  return body_.substr(GetU64(e + kEntryOffsetAt), GetU32(e + kEntryLengthAt));
}

Status read_split_postings(std::string_view body, std::vector<StoredPosting>* out) {
  VELLUM_ASSIGN_OR_RETURN(CheckedSplit split, CheckedSplit::check(body));
  for (uint32_t i = 0; i < split.size(); ++i) out->push_back({split.key(i), split.posting(i)});
  return Status();
}

void decode_posting(std::string_view bytes, std::vector<uint32_t>* ids) {
  const char* p = bytes.data();
  const uint32_t cookie = GetU32(p);
  const bool has_runs = cookie != kNoRunCookie;
  const uint32_t count = has_runs ? (cookie >> 16) + 1 : GetU32(p + 4);
  const char* run_bits = p + 4;
  const char* desc = has_runs ? run_bits + (count + 7) / 8 : p + 8;
  const char* body = desc + 4 * size_t{count};
  if (!has_runs || count >= kRunOffsetThreshold) body += 4 * size_t{count};
  uint64_t total = 0;
  for (uint32_t c = 0; c < count; ++c) total += uint32_t{GetU16(desc + 4 * size_t{c} + 2)} + 1;
  const size_t from = ids->size();
  ids->resize(from + total);
  uint32_t* out = ids->data() + from;
  for (uint32_t c = 0; c < count; ++c) {
    const uint32_t base = uint32_t{GetU16(desc + 4 * size_t{c})} << 16;
    const uint32_t card = uint32_t{GetU16(desc + 4 * size_t{c} + 2)} + 1;
    const bool run = has_runs && (static_cast<uint8_t>(run_bits[c / 8]) >> (c % 8) & 1) != 0;
    out = decode_container(body, base, card, run, out);
    body += container_bytes(body, card, run);
  }
}

Status decode_tombstone_ids(std::string_view payload, std::vector<uint32_t>* ids) {
  RoaringSummary summary;
  if (auto fault = decode_roaring(payload, kAcceptRuns, &summary, ids)) return roaring_error(*fault);
  return Status();
}

}  // namespace vellum
