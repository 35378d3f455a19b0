// Validating decoder of the portable Roaring serialization, for bytes that
// come from storage. The Roaring library's own deserializer trusts container
// contents; this one checks, before anything is used:
//
//   u32 cookie: 12346, then u32 container count; or 12347 | (count - 1) << 16
//               followed by a bitset marking run containers (runs only)
//   count x (u16 high bits | u16 cardinality - 1), high bits strictly ascending
//   count x u32 container offset (absent only with runs and count < 4),
//               each equal to where its container really starts
//   containers  array (cardinality <= 4096): strictly ascending u16 values;
//               bitmap: 1024 u64 words whose population is the cardinality;
//               run: u16 run count >= 1, then (u16 start | u16 length - 1)
//               pairs, ascending, non-overlapping, within 16 bits, whose
//               lengths sum to the cardinality
//
// and that the payload ends exactly at the end of the bytes. Every writer
// of this system serializes without run containers, so its readers refuse
// them; a caller reading sets from elsewhere may allow them.
#ifndef VELLUM_READ_ROARING_CHECK_H_
#define VELLUM_READ_ROARING_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "index/bitmap.h"
#include "read/problem.h"

namespace vellum {

struct RoaringRules {
  bool allow_runs = false;
};

struct RoaringFault {
  size_t offset = 0;  // from the first byte of the payload
  std::string what;
};

struct RoaringSummary {
  uint64_t cardinality = 0;
  uint32_t min = 0;  // both 0 for the empty set
  uint32_t max = 0;
  uint32_t containers = 0;
};

// Checks `bytes` and describes the set; nullopt when the payload is sound.
std::optional<RoaringFault> check_roaring(std::string_view bytes, RoaringRules rules,
                                          RoaringSummary* summary);

// The same check, also appending the ids in ascending order to `ids`
// (which keeps what it held before; on a fault it may hold a partial set).
std::optional<RoaringFault> decode_roaring(std::string_view bytes, RoaringRules rules,
                                           RoaringSummary* summary, std::vector<uint32_t>* ids);

// For core callers that merge stored sets: the checked payload as a bitmap,
// or an error "roaring deserialize: {what} at byte {offset}".
Result<Bitmap> deserialize_roaring(std::string_view bytes, RoaringRules rules);

// A fault of the payload that starts at `base` in a file, as a Problem.
Problem roaring_problem(const ProblemSite& site, std::string_view region, uint64_t base,
                        const RoaringFault& fault);

}  // namespace vellum

#endif  // VELLUM_READ_ROARING_CHECK_H_
