// Layout of the record store's records.idx, named once for its writer, the
// test decoder and the fuzz targets (records.bin is bare record bytes):
//
//   header   "VLSR" | u16 version | u16 reserved | u32 count | u32 reserved
//   offsets  (count + 1) x u64; record i is bin[offsets[i], offsets[i + 1])
#ifndef VELLUM_INDEX_RECORD_FORMAT_H_
#define VELLUM_INDEX_RECORD_FORMAT_H_

#include <cstdint>
#include <string_view>

namespace vellum {

inline constexpr std::string_view kRecordIndexMagic = "VLSR";
inline constexpr uint16_t kRecordIndexVersion = 1;
inline constexpr uint64_t kRecordIndexHeaderSize = 16;
inline constexpr uint64_t kRecordOffsetSize = 8;

}  // namespace vellum

#endif  // VELLUM_INDEX_RECORD_FORMAT_H_
