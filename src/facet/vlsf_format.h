// Layout of the VLSF facet sidecar, named once for its writer, the test
// decoder and the fuzz targets:
//
//   header      "VLSF" | u16 version | u16 case_sensitive | u32 field_count |
//               u32 category_count | u32 blob_size | u32 reserved
//   fields      field_count x (u32 name offset | u16 name length |
//               u16 reserved | u32 first category | u32 category count)
//   categories  category_count x (u64 facet key | u64 head offset |
//               u32 head length | u32 tail length | u32 doc_count |
//               u32 name offset | u16 name length | u16 reserved)
//   blob        every name, back to back
//   postings    each category's head then tail, in category order
#ifndef VELLUM_FACET_VLSF_FORMAT_H_
#define VELLUM_FACET_VLSF_FORMAT_H_

#include <cstdint>
#include <string_view>

namespace vellum {

inline constexpr std::string_view kVlsfMagic = "VLSF";
inline constexpr uint16_t kVlsfVersion = 1;
inline constexpr uint64_t kVlsfHeaderSize = 24;
inline constexpr uint64_t kVlsfFieldEntrySize = 16;
inline constexpr uint64_t kVlsfCategoryEntrySize = 36;
// Names carry a 16-bit length.
inline constexpr uint64_t kVlsfMaxNameLength = 0xFFFF;

}  // namespace vellum

#endif  // VELLUM_FACET_VLSF_FORMAT_H_
