// Little-endian fixed-width encoding into byte buffers. Every on-disk
// integer is little-endian, so every format writer appends through these.
#ifndef VELLUM_COMMON_CODING_H_
#define VELLUM_COMMON_CODING_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vellum {

// In-place stores, for writers that fill a preallocated region.
inline void EncodeU16(char* dst, uint16_t v) {
  dst[0] = static_cast<char>(v);
  dst[1] = static_cast<char>(v >> 8);
}

// A little-endian host stores the value as it is; elsewhere, byte by byte.
inline void EncodeU32(char* dst, uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(dst, &v, sizeof v);
  } else {
    for (int i = 0; i < 4; ++i) dst[i] = static_cast<char>(v >> (8 * i));
  }
}

inline void EncodeU64(char* dst, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(dst, &v, sizeof v);
  } else {
    for (int i = 0; i < 8; ++i) dst[i] = static_cast<char>(v >> (8 * i));
  }
}

inline void PutU8(std::string* dst, uint8_t v) { dst->push_back(static_cast<char>(v)); }

inline void PutU16(std::string* dst, uint16_t v) {
  char b[2];
  EncodeU16(b, v);
  dst->append(b, 2);
}

inline void PutU32(std::string* dst, uint32_t v) {
  char b[4];
  EncodeU32(b, v);
  dst->append(b, 4);
}

inline void PutU64(std::string* dst, uint64_t v) {
  char b[8];
  EncodeU64(b, v);
  dst->append(b, 8);
}

inline void PutI64(std::string* dst, int64_t v) { PutU64(dst, static_cast<uint64_t>(v)); }

// Loads, for parsers of our own formats. Callers check the length first
// (or read through ByteReader, which does). They take the same byte type as
// the stores, so no caller needs a cast.
inline uint16_t GetU16(const char* p) {
  return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | (static_cast<uint8_t>(p[1]) << 8));
}

inline uint32_t GetU32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(p[i]);
  return v;
}

inline uint64_t GetU64(const char* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

// Unsigned LEB128, for the term index.
inline void PutVarint64(std::string* dst, uint64_t v) {
  while (v >= 0x80) {
    dst->push_back(static_cast<char>(v | 0x80));
    v >>= 7;
  }
  dst->push_back(static_cast<char>(v));
}

}  // namespace vellum

#endif  // VELLUM_COMMON_CODING_H_
