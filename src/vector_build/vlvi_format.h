// The VLVI vector index layout, in one place for the writer, the test
// decoder and the fuzz target.
//
//   header      48 bytes: "VLVI", u16 version, u8 metric, u8 rotation flag,
//               u32 dim, u32 nlist, u32 m, u8 nbits, 3 reserved zero bytes,
//               u64 vector count, 16 reserved zero bytes
//   rotation    dim x dim f32, row-major, only when the flag is 1
//   centroids   nlist x dim f32
//   codebooks   m x 2^nbits x (dim / m) f32
//   directory   nlist x { u64 absolute offset of the list, u32 id count }
//   lists       per list: count u32 ids, then count x m code bytes
//
// Lists follow each other without gaps, so the file ends exactly at the
// last list's codes. Integers and floats are little-endian.
#ifndef VELLUM_VECTOR_BUILD_VLVI_FORMAT_H_
#define VELLUM_VECTOR_BUILD_VLVI_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace vellum::vlvi {

inline constexpr char kMagic[4] = {'V', 'L', 'V', 'I'};
inline constexpr uint16_t kVersion = 1;

inline constexpr size_t kMagicOffset = 0;
inline constexpr size_t kVersionOffset = 4;
inline constexpr size_t kMetricOffset = 6;
inline constexpr size_t kRotationFlagOffset = 7;
inline constexpr size_t kDimOffset = 8;
inline constexpr size_t kNlistOffset = 12;
inline constexpr size_t kMOffset = 16;
inline constexpr size_t kNbitsOffset = 20;
inline constexpr size_t kReservedAOffset = 21;
inline constexpr size_t kReservedASize = 3;
inline constexpr size_t kCountOffset = 24;
inline constexpr size_t kReservedBOffset = 32;
inline constexpr size_t kReservedBSize = 16;
inline constexpr size_t kHeaderSize = 48;

inline constexpr size_t kFloatSize = 4;
inline constexpr size_t kIdSize = 4;
inline constexpr size_t kDirectoryOffsetSize = 8;
inline constexpr size_t kDirectoryCountSize = 4;
inline constexpr size_t kDirectoryEntrySize = kDirectoryOffsetSize + kDirectoryCountSize;

}  // namespace vellum::vlvi

#endif  // VELLUM_VECTOR_BUILD_VLVI_FORMAT_H_
