// Little-endian fixed-width encoding into byte buffers. Every on-disk
// integer is little-endian, so every format writer appends through these.
#ifndef VELLUM_COMMON_CODING_H_
#define VELLUM_COMMON_CODING_H_

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

inline void EncodeU32(char* dst, uint32_t v) {
  for (int i = 0; i < 4; ++i) dst[i] = static_cast<char>(v >> (8 * i));
}

inline void EncodeU64(char* dst, uint64_t v) {
  for (int i = 0; i < 8; ++i) dst[i] = static_cast<char>(v >> (8 * i));
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

// Readers for parsers of our own formats. Callers check the length first.
inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

}  // namespace vellum

#endif  // VELLUM_COMMON_CODING_H_
