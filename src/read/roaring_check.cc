#include "read/roaring_check.h"

#include <roaring/roaring.h>

#include "common/byte_reader.h"
#include "common/coding.h"
#include "index/posting_format.h"

namespace vellum {

namespace {

constexpr uint32_t kRunCookie = 12347;
constexpr uint32_t kMaxContainers = 65536;
// With runs, offsets are written only from this many containers on.
constexpr uint32_t kRunOffsetThreshold = 4;
constexpr size_t kBitmapWords = kBitmapContainerBytes / 8;

struct Descriptor {
  uint16_t high;
  uint32_t card;
  bool run;
};

// One pass over the payload; Collect selects whether ids are materialised,
// so the pure check costs no per-id stores.
template <bool Collect>
class Parser {
 public:
  Parser(std::string_view bytes, RoaringRules rules, std::vector<uint32_t>* ids)
      : bytes_(bytes), r_(bytes), rules_(rules), ids_(ids) {}

  std::optional<RoaringFault> run(RoaringSummary* s) {
    *s = RoaringSummary();
    if (auto f = header()) return f;
    if (auto f = descriptors()) return f;
    if (auto f = offsets()) return f;
    for (uint32_t i = 0; i < count_; ++i) {
      if (auto f = container(i, s)) return f;
    }
    if (!r_.empty()) return fault(r_.offset(), "trailing bytes after the Roaring payload");
    s->containers = count_;
    return std::nullopt;
  }

 private:
  static RoaringFault fault(size_t at, std::string what) { return RoaringFault{at, std::move(what)}; }
  std::optional<RoaringFault> truncated(std::string_view what) {
    return fault(r_.offset(), "Roaring payload truncated in the " + std::string(what));
  }

  std::optional<RoaringFault> header() {
    uint32_t cookie;
    if (!r_.u32(&cookie)) return truncated("cookie");
    if (cookie == kNoRunCookie) {
      if (!r_.u32(&count_)) return truncated("container count");
      if (count_ > kMaxContainers) return fault(4, "container count exceeds 65536");
      return std::nullopt;
    }
    if ((cookie & 0xFFFF) != kRunCookie) return fault(0, "unknown Roaring cookie " + std::to_string(cookie));
    if (!rules_.allow_runs) return fault(0, "run containers are not allowed here");
    has_runs_ = true;
    count_ = (cookie >> 16) + 1;
    if (!r_.bytes((count_ + 7) / 8, &run_bits_)) return truncated("run-container bitset");
    const uint32_t spare = count_ % 8;
    if (spare != 0 && (static_cast<uint8_t>(run_bits_.back()) >> spare) != 0) {
      return fault(r_.offset() - 1, "run-container bitset marks containers past the count");
    }
    return std::nullopt;
  }

  std::optional<RoaringFault> descriptors() {
    if (r_.remaining() < size_t{4} * count_) {
      r_.skip(r_.remaining());
      return truncated("container descriptors");
    }
    desc_.resize(count_);
    for (uint32_t i = 0; i < count_; ++i) {
      const size_t at = r_.offset();
      uint16_t high, card_minus_one;
      if (!r_.u16(&high) || !r_.u16(&card_minus_one)) return truncated("container descriptors");
      if (i > 0 && high <= desc_[i - 1].high) {
        return fault(at, "container keys are not strictly ascending");
      }
      const bool run = has_runs_ && (static_cast<uint8_t>(run_bits_[i / 8]) >> (i % 8) & 1) != 0;
      desc_[i] = Descriptor{high, uint32_t{card_minus_one} + 1, run};
    }
    return std::nullopt;
  }

  // Offsets are redundant with the sizes; a sound payload has them equal.
  std::optional<RoaringFault> offsets() {
    if (has_runs_ && count_ < kRunOffsetThreshold) return std::nullopt;
    std::string_view table;
    if (!r_.bytes(size_t{4} * count_, &table)) return truncated("container offsets");
    offsets_at_ = r_.offset() - table.size();
    offset_table_ = table;
    return std::nullopt;
  }

  std::optional<RoaringFault> container(uint32_t i, RoaringSummary* s) {
    if (!offset_table_.empty()) {
      const uint32_t expect = GetU32(offset_table_.data() + 4 * size_t{i});
      if (expect != r_.offset()) {
        return fault(offsets_at_ + 4 * size_t{i}, "container offset does not match its position");
      }
    }
    const Descriptor& d = desc_[i];
    std::optional<RoaringFault> f;
    uint16_t lo = 0, hi = 0;
    if (d.run) {
      f = run_container(d, &lo, &hi);
    } else if (d.card > kMaxArrayCardinality) {
      f = bitmap_container(d, &lo, &hi);
    } else {
      f = array_container(d, &lo, &hi);
    }
    if (f) return f;
    const uint32_t base = uint32_t{d.high} << 16;
    if (i == 0) s->min = base | lo;
    s->max = base | hi;
    s->cardinality += d.card;
    return std::nullopt;
  }

  std::optional<RoaringFault> array_container(const Descriptor& d, uint16_t* lo, uint16_t* hi) {
    std::string_view v;
    const size_t at = r_.offset();
    if (!r_.bytes(2 * size_t{d.card}, &v)) return truncated("array container");
    const char* p = v.data();
    uint32_t prev = GetU16(p);
    const uint32_t base = uint32_t{d.high} << 16;
    if constexpr (Collect) ids_->push_back(base | prev);
    for (uint32_t k = 1; k < d.card; ++k) {
      const uint32_t x = GetU16(p + 2 * size_t{k});
      if (x <= prev) return fault(at + 2 * size_t{k}, "array container values are not strictly ascending");
      if constexpr (Collect) ids_->push_back(base | x);
      prev = x;
    }
    *lo = GetU16(p);
    *hi = static_cast<uint16_t>(prev);
    return std::nullopt;
  }

  std::optional<RoaringFault> bitmap_container(const Descriptor& d, uint16_t* lo, uint16_t* hi) {
    std::string_view v;
    const size_t at = r_.offset();
    if (!r_.bytes(kBitmapContainerBytes, &v)) return truncated("bitmap container");
    uint64_t pop = 0;
    int first = -1, last = -1;
    const uint32_t base = uint32_t{d.high} << 16;
    for (size_t w = 0; w < kBitmapWords; ++w) {
      uint64_t bits = GetU64(v.data() + 8 * w);
      if (bits == 0) continue;
      pop += static_cast<uint64_t>(__builtin_popcountll(bits));
      if (first < 0) first = static_cast<int>(64 * w) + __builtin_ctzll(bits);
      last = static_cast<int>(64 * w) + 63 - __builtin_clzll(bits);
      if constexpr (Collect) {
        while (bits != 0) {
          ids_->push_back(base | static_cast<uint32_t>(64 * w + __builtin_ctzll(bits)));
          bits &= bits - 1;
        }
      }
    }
    if (pop != d.card) return fault(at, "bitmap container population differs from its cardinality");
    *lo = static_cast<uint16_t>(first);
    *hi = static_cast<uint16_t>(last);
    return std::nullopt;
  }

  std::optional<RoaringFault> run_container(const Descriptor& d, uint16_t* lo, uint16_t* hi) {
    uint16_t runs;
    if (!r_.u16(&runs)) return truncated("run container");
    if (runs == 0) return fault(r_.offset() - 2, "run container holds no runs");
    std::string_view v;
    const size_t at = r_.offset();
    if (!r_.bytes(4 * size_t{runs}, &v)) return truncated("run container");
    uint64_t card = 0;
    int64_t prev_end = -1;
    const uint32_t base = uint32_t{d.high} << 16;
    for (uint32_t k = 0; k < runs; ++k) {
      const uint32_t start = GetU16(v.data() + 4 * size_t{k});
      const uint32_t end = start + GetU16(v.data() + 4 * size_t{k} + 2);
      if (end > 0xFFFF) return fault(at + 4 * size_t{k}, "run extends past its container");
      if (static_cast<int64_t>(start) <= prev_end) {
        return fault(at + 4 * size_t{k}, "runs are not ascending and disjoint");
      }
      if constexpr (Collect) {
        for (uint32_t x = start; x <= end; ++x) ids_->push_back(base | x);
      }
      card += end - start + 1;
      prev_end = end;
    }
    if (card != d.card) return fault(at, "run lengths differ from the container cardinality");
    *lo = GetU16(v.data());
    *hi = static_cast<uint16_t>(prev_end);
    return std::nullopt;
  }

  std::string_view bytes_;
  ByteReader r_;
  RoaringRules rules_;
  std::vector<uint32_t>* ids_;
  uint32_t count_ = 0;
  bool has_runs_ = false;
  std::string_view run_bits_;
  std::vector<Descriptor> desc_;
  std::string_view offset_table_;
  size_t offsets_at_ = 0;
};

}  // namespace

std::optional<RoaringFault> check_roaring(std::string_view bytes, RoaringRules rules,
                                          RoaringSummary* summary) {
  return Parser<false>(bytes, rules, nullptr).run(summary);
}

std::optional<RoaringFault> decode_roaring(std::string_view bytes, RoaringRules rules,
                                           RoaringSummary* summary, std::vector<uint32_t>* ids) {
  return Parser<true>(bytes, rules, ids).run(summary);
}

Result<Bitmap> deserialize_roaring(std::string_view bytes, RoaringRules rules) {
  RoaringSummary summary;
  if (auto f = check_roaring(bytes, rules, &summary)) {
    return Error(ErrorKind::kIo,
                 "roaring deserialize: " + f->what + " at byte " + std::to_string(f->offset));
  }
  Bitmap out(roaring_bitmap_portable_deserialize_safe(bytes.data(), bytes.size()));
  if (!out) return Error(ErrorKind::kIo, "roaring deserialize: the Roaring library refused the payload");
  return out;
}

Problem roaring_problem(const ProblemSite& site, std::string_view region, uint64_t base,
                        const RoaringFault& fault) {
  return site.at(region, base + fault.offset, fault.what);
}

}  // namespace vellum
