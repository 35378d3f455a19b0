// CRC-32C (Castagnoli polynomial, reflected, initial value and final XOR
// all ones), the checksum that closes an FST map image. Table-driven,
// eight bytes per step.
#ifndef VELLUM_FST_MAP_CRC32C_H_
#define VELLUM_FST_MAP_CRC32C_H_

#include <cstddef>
#include <cstdint>

namespace vellum {

// Continues a CRC over `n` more bytes: crc32c_extend(crc32c(a), b) equals
// the CRC of a followed by b. The CRC of no bytes is 0.
uint32_t crc32c_extend(uint32_t crc, const char* data, size_t n);

inline uint32_t crc32c(const char* data, size_t n) { return crc32c_extend(0, data, n); }

// The stored form: rotated left by 17 bits, plus a constant, so that a
// checksum over bytes that embed checksums does not degenerate.
inline uint32_t crc32c_mask(uint32_t crc) {
  return ((crc << 17) | (crc >> 15)) + 0xA282EAD8u;
}

}  // namespace vellum

#endif  // VELLUM_FST_MAP_CRC32C_H_
