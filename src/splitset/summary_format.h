// Field sizes and kinds of split summaries.
//
//   summary  := tlv*
//   tlv      := kind:u8 length:u32 payload[length]
//   bloom    := probes:u32 bits:u32 bit_array[bits / 8]   (kind 1)
//   presence := count:u32 key:u64[count], ascending        (kind 2)
//   tombstones := portable Roaring serialization            (kind 4)
//
// Bit i of a Bloom bit array is bit (i mod 8) of byte (i div 8).
#ifndef VELLUM_SPLITSET_SUMMARY_FORMAT_H_
#define VELLUM_SPLITSET_SUMMARY_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace vellum {

inline constexpr uint8_t kTlvBloom = 1;
inline constexpr uint8_t kTlvFacetPresence = 2;
inline constexpr uint8_t kTlvTombstones = 4;

inline constexpr size_t kTlvKindBytes = 1;
inline constexpr size_t kTlvLengthBytes = 4;
inline constexpr size_t kTlvHeaderBytes = kTlvKindBytes + kTlvLengthBytes;

inline constexpr size_t kBloomHeaderBytes = 8;  // probes, then bits
inline constexpr uint64_t kBloomMinBits = 64;
inline constexpr uint64_t kBloomMaxBits = 0xFFFFFFF8;
inline constexpr uint32_t kBloomMaxProbes = 16;

inline constexpr size_t kPresenceCountBytes = 4;
inline constexpr size_t kPresenceKeyBytes = 8;

}  // namespace vellum

#endif  // VELLUM_SPLITSET_SUMMARY_FORMAT_H_
