// The opening checks of a format whose header has a fixed size and starts
// with a 4-byte magic and a u16 version, in the order a reader meets them.
#ifndef VELLUM_READ_FIXED_HEADER_H_
#define VELLUM_READ_FIXED_HEADER_H_

#include <cstdint>
#include <string_view>

#include "read/problem.h"

namespace vellum {

struct FixedHeader {
  std::string_view magic;  // 4 bytes
  uint16_t version;        // the one version this reader knows
  uint64_t size;           // bytes of the whole header
};

// The problem with `bytes`' size, magic or version, reported in "header".
Check check_fixed_header(const ProblemSite& site, std::string_view bytes, const FixedHeader& want);

}  // namespace vellum

#endif  // VELLUM_READ_FIXED_HEADER_H_
