// Layout of the VLS n-gram text index, named once for its writer, the test
// decoder and the fuzz targets:
//
//   header    "VLSI" | u16 version | u16 gram_size | u32 key_count |
//             u32 stride | u16 flags (version 4 only)
//   sparse    u64 key of every stride-th dictionary entry
//   dict      key_count x (u64 key | u64 posting offset | u32 posting length)
//   postings  back to back, in dictionary order
#ifndef VELLUM_INDEX_VLS_FORMAT_H_
#define VELLUM_INDEX_VLS_FORMAT_H_

#include <cstdint>
#include <string_view>

namespace vellum {

inline constexpr std::string_view kVlsMagic = "VLSI";
inline constexpr uint16_t kVlsFoldedVersion = 3;         // case-folded keys
inline constexpr uint16_t kVlsCaseSensitiveVersion = 4;  // adds the flags word
inline constexpr uint64_t kVlsFoldedHeaderSize = 16;
inline constexpr uint64_t kVlsCaseSensitiveHeaderSize = 18;
inline constexpr uint16_t kVlsFlagCaseSensitive = 1;  // bit 0 of the flags word
inline constexpr uint64_t kVlsSparseEntrySize = 8;
inline constexpr uint64_t kVlsDictEntrySize = 20;

// Default dictionary entries per sparse-index block, used for stride 0.
inline constexpr uint32_t kDefaultStride = 512;

}  // namespace vellum

#endif  // VELLUM_INDEX_VLS_FORMAT_H_
