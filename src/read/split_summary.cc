#include "read/split_summary.h"

#include "common/byte_reader.h"
#include "common/coding.h"
#include "read/roaring_check.h"

namespace vellum {

namespace {

constexpr const char* kRegion = "summary blob";

uint64_t mix(uint64_t v) {
  v ^= v >> 30;
  v *= 0xbf58476d1ce4e5b9ULL;
  v ^= v >> 27;
  v *= 0x94d049bb133111ebULL;
  v ^= v >> 31;
  return v;
}

Checked<BloomView> read_bloom(const ProblemSite& site, uint64_t at, std::string_view p) {
  if (p.size() < 8) return site.at(kRegion, at, "Bloom filter is shorter than its header");
  const uint32_t k = GetU32(p.data());
  const uint32_t m = GetU32(p.data() + 4);
  if (k < 1 || k > kBloomMaxProbes) return site.at(kRegion, at, "Bloom probe count is not between 1 and 16");
  if (m < kBloomMinBits || m % 8 != 0) {
    return site.at(kRegion, at + 4, "Bloom bit count is not a multiple of 8 of at least 64");
  }
  if (p.size() - 8 != m / 8) return site.at(kRegion, at + 4, "Bloom bit array length differs from its bit count");
  return BloomView(k, m, p.substr(8));
}

Checked<std::vector<uint64_t>> read_presence(const ProblemSite& site, uint64_t at, std::string_view p) {
  if (p.size() < 4 || (p.size() - 4) % 8 != 0 || (p.size() - 4) / 8 != GetU32(p.data())) {
    return site.at(kRegion, at, "facet presence length differs from its key count");
  }
  std::vector<uint64_t> keys((p.size() - 4) / 8);
  for (size_t i = 0; i < keys.size(); ++i) {
    keys[i] = GetU64(p.data() + 4 + 8 * i);
    if (i > 0 && keys[i] <= keys[i - 1]) {
      return site.at(kRegion, at + 4 + 8 * i, "facet presence keys are not strictly ascending");
    }
  }
  return keys;
}

}  // namespace

bool BloomView::may_contain(uint64_t key) const {
  uint64_t h = mix(key);
  const uint64_t g = mix(key ^ 0x9e3779b97f4a7c15ULL) | 1;
  for (uint32_t i = 0; i < probes_; ++i) {
    const uint64_t p = h % bits_;
    if ((static_cast<uint8_t>(array_[p / 8]) >> (p % 8) & 1) == 0) return false;
    h += g;
  }
  return true;
}

Checked<SplitSummary> read_split_summary(const ProblemSite& site, uint64_t base,
                                         std::string_view summary) {
  SplitSummary s;
  ByteReader r(summary);
  int last_kind = 0;
  while (!r.empty()) {
    const uint64_t at = base + r.offset();
    uint8_t kind;
    uint32_t len;
    std::string_view payload;
    if (!r.u8(&kind) || !r.u32(&len)) return site.at(kRegion, at, "summary ends inside a TLV header");
    if (!r.bytes(len, &payload)) return site.at(kRegion, at + 1, "TLV runs past the end of its summary");
    if (kind <= last_kind) return site.at(kRegion, at, "TLV kinds are repeated or out of order");
    last_kind = kind;
    const uint64_t payload_at = at + 5;
    if (kind == kTlvBloom) {
      VELLUM_CHECKED_ASSIGN(s.bloom, read_bloom(site, payload_at, payload));
    } else if (kind == kTlvFacetPresence) {
      VELLUM_CHECKED_ASSIGN(s.facet_keys, read_presence(site, payload_at, payload));
    } else if (kind == kTlvTombstones) {
      std::vector<uint32_t> ids;
      RoaringSummary rs;
      if (auto f = decode_roaring(payload, RoaringRules{}, &rs, &ids)) {
        return roaring_problem(site, kRegion, payload_at, *f);
      }
      s.tombstones = std::move(ids);
    } else {
      return site.at(kRegion, at, "unknown TLV kind " + std::to_string(kind));
    }
  }
  return s;
}

}  // namespace vellum
