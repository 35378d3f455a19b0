// Test-only VLSS manifests and summaries assembled from the byte layout:
// records in order, names and summaries concatenated in record order, the
// sort-column name last; TLVs, Bloom filters (SplitMix64 double hashing),
// facet presence and tombstone payloads.
#ifndef VELLUM_TESTING_MANIFEST_BYTES_H_
#define VELLUM_TESTING_MANIFEST_BYTES_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/coding.h"
#include "index/posting.h"

namespace vellum::testing {

struct TestSplit {
  std::string name;
  uint32_t doc_count, first_id, last_id;
  uint16_t split_flags = 0;
  std::string summary;
  uint64_t size_bytes = 100;
  uint64_t epoch = 0;
};

inline std::string tlv(uint8_t kind, const std::string& payload) {
  std::string out(1, static_cast<char>(kind));
  PutU32(&out, static_cast<uint32_t>(payload.size()));
  return out + payload;
}

inline uint64_t splitmix(uint64_t v) {
  v ^= v >> 30;
  v *= 0xbf58476d1ce4e5b9ULL;
  v ^= v >> 27;
  v *= 0x94d049bb133111ebULL;
  return v ^ (v >> 31);
}

inline std::string bloom(const std::vector<uint64_t>& keys, uint32_t bits_per_key) {
  uint64_t m = uint64_t{bits_per_key} * std::max<size_t>(keys.size(), 1);
  m = m <= 64 ? 64 : (m + 7) / 8 * 8;
  const uint32_t k = std::min<uint32_t>(16, std::max<uint32_t>(1, std::lround(bits_per_key * 0.6931471805599453)));
  std::string bits(m / 8, '\0');
  for (uint64_t x : keys) {
    uint64_t h = splitmix(x);
    const uint64_t g = splitmix(x ^ 0x9e3779b97f4a7c15ULL) | 1;
    for (uint32_t i = 0; i < k; ++i, h += g) bits[(h % m) / 8] |= static_cast<char>(1 << (h % m % 8));
  }
  std::string out;
  PutU32(&out, k);
  PutU32(&out, static_cast<uint32_t>(m));
  return out + bits;
}

inline std::string presence(const std::vector<uint64_t>& keys) {
  std::string out;
  PutU32(&out, static_cast<uint32_t>(keys.size()));
  for (uint64_t k : keys) PutU64(&out, k);
  return out;
}

inline std::string tombstones(const std::vector<uint32_t>& ids) {
  Bitmap b;
  for (uint32_t id : ids) b.add(id);
  return serialize_posting(b);
}

inline std::string manifest(const std::vector<TestSplit>& splits, uint16_t flags, uint8_t body_kind = 0,
                     const std::string& sortcol = "", uint16_t gram_size = 3) {
  std::string strings, summaries, records;
  for (const TestSplit& s : splits) {
    PutU32(&records, static_cast<uint32_t>(strings.size()));
    PutU16(&records, static_cast<uint16_t>(s.name.size()));
    strings += s.name;
    PutU16(&records, 0);
    PutU32(&records, s.doc_count);
    PutU32(&records, s.first_id);
    PutU32(&records, s.last_id);
    PutU16(&records, s.split_flags);
    PutU16(&records, 0);
    PutU64(&records, s.size_bytes);
    PutU64(&records, s.epoch);
    PutU64(&records, s.summary.empty() ? 0 : summaries.size());
    PutU32(&records, static_cast<uint32_t>(s.summary.size()));
    PutU32(&records, 0);
    summaries += s.summary;
  }
  const uint32_t sortcol_off = sortcol.empty() ? 0 : static_cast<uint32_t>(strings.size());
  strings += sortcol;
  std::string h = "VLSS";
  PutU16(&h, 1);
  PutU16(&h, flags);
  PutU8(&h, 0);
  PutU8(&h, body_kind);
  PutU16(&h, static_cast<uint16_t>(splits.size()));
  PutU32(&h, static_cast<uint32_t>(splits.size()));
  PutU32(&h, static_cast<uint32_t>(splits.size()));
  PutU32(&h, static_cast<uint32_t>(strings.size()));
  PutU64(&h, summaries.size());
  PutU64(&h, 1 << 20);
  PutU32(&h, sortcol_off);
  PutU16(&h, static_cast<uint16_t>(sortcol.size()));
  PutU16(&h, sortcol.empty() ? 0 : 7);
  PutU8(&h, sortcol.empty() ? 0 : 1);
  PutU16(&h, gram_size);
  h.append(13, '\0');
  return h + records + strings + summaries;
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_MANIFEST_BYTES_H_
