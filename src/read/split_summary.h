// Reader of one split's summary: TLVs (u8 kind | u32 length | payload)
// back to back, ending exactly at the end of the summary. Kinds are 1
// (Bloom filter: u32 probes 1..16 | u32 bits, a multiple of 8 and at least
// 64 | the bit array), 2 (facet presence: u32 n | n strictly ascending u64
// keys) and 4 (tombstones: a Roaring payload without run containers, as
// every writer serializes them), each at most once and in
// ascending kind order, as the producers write them.
#ifndef VELLUM_READ_SPLIT_SUMMARY_H_
#define VELLUM_READ_SPLIT_SUMMARY_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "read/problem.h"
#include "splitset/summary_format.h"

namespace vellum {

class BloomView {
 public:
  BloomView(uint32_t probes, uint32_t bits, std::string_view array)
      : probes_(probes), bits_(bits), array_(array) {}
  uint32_t probes() const { return probes_; }
  uint32_t bits() const { return bits_; }
  // False only when `key` is certainly not in the split.
  bool may_contain(uint64_t key) const;

 private:
  uint32_t probes_;
  uint32_t bits_;
  std::string_view array_;
};

struct SplitSummary {
  std::optional<BloomView> bloom;
  std::optional<std::vector<uint64_t>> facet_keys;
  std::optional<std::vector<uint32_t>> tombstones;  // ascending global ids
};

// `base` is the summary's offset in the file, for problem offsets.
Checked<SplitSummary> read_split_summary(const ProblemSite& site, uint64_t base,
                                         std::string_view summary);

}  // namespace vellum

#endif  // VELLUM_READ_SPLIT_SUMMARY_H_
