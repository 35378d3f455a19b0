// Byte layout of a VLTI term index, all integers little-endian:
//
//   file     := header router dict_block* posting_record*
//   header   := "VLTI" version:u16(2) flags:u16 term_count:u32
//               head_boundary:u32 router_len:u64 dict_len:u64
//               block_cap:u32 language_code:u8 reserved:3 (zero)
//   router   := FST map: block's last term -> block offset << 24 | length
//   entry    := prefix_len suffix_len suffix offset_delta head_len
//               (varints; a block's first entry has prefix 0 and its
//               absolute record offset as delta)
//   record   := tail_len:u32 head tail      (portable Roaring, no runs)
//
// Block offsets count from the start of the dict region and record offsets
// from the start of the postings region.
#ifndef VELLUM_TERMS_DICT_VLTI_FORMAT_H_
#define VELLUM_TERMS_DICT_VLTI_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace vellum::vlti {

inline constexpr char kMagic[4] = {'V', 'L', 'T', 'I'};
inline constexpr uint16_t kVersion = 2;
inline constexpr size_t kHeaderSize = 40;

inline constexpr uint16_t kFlagStemmed = 1 << 0;
inline constexpr uint16_t kFlagStopwordsRemoved = 1 << 1;
inline constexpr uint16_t kFlagCaseSensitive = 1 << 2;

inline constexpr uint64_t kDefaultBlockCap = 4096;

// Head and block lengths share a router value or an entry with 24 bits;
// offsets have 40.
inline constexpr uint64_t kMaxHeadLen = (uint64_t{1} << 24) - 1;
inline constexpr uint64_t kMaxBlockLen = (uint64_t{1} << 24) - 1;
inline constexpr uint64_t kOffsetLimit = uint64_t{1} << 40;
inline constexpr int kBlockOffsetShift = 24;

inline constexpr size_t kTailLenSize = 4;
inline constexpr size_t kRouterInitialCapacity = 10240;

}  // namespace vellum::vlti

#endif  // VELLUM_TERMS_DICT_VLTI_FORMAT_H_
