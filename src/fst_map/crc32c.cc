#include "fst_map/crc32c.h"

#include <array>

namespace vellum {

namespace {

constexpr uint32_t kReflectedPoly = 0x82F63B78u;

// tables[0] is the classic byte table; tables[k][b] is the CRC of byte b
// followed by k zero bytes, which lets eight bytes fold in one step.
constexpr std::array<std::array<uint32_t, 256>, 8> make_tables() {
  std::array<std::array<uint32_t, 256>, 8> t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b;
    for (int i = 0; i < 8; ++i) c = (c >> 1) ^ ((c & 1) ? kReflectedPoly : 0);
    t[0][b] = c;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t b = 0; b < 256; ++b) {
      const uint32_t prev = t[k - 1][b];
      t[k][b] = (prev >> 8) ^ t[0][prev & 0xFF];
    }
  }
  return t;
}

constexpr auto kTables = make_tables();

inline uint32_t byte_at(const char* p, int i) { return static_cast<uint8_t>(p[i]); }

}  // namespace

uint32_t crc32c_extend(uint32_t crc, const char* data, size_t n) {
  uint32_t c = ~crc;
  while (n >= 8) {
    const uint32_t lo = c ^ (byte_at(data, 0) | byte_at(data, 1) << 8 | byte_at(data, 2) << 16 |
                             byte_at(data, 3) << 24);
    c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
        kTables[4][lo >> 24] ^ kTables[3][byte_at(data, 4)] ^ kTables[2][byte_at(data, 5)] ^
        kTables[1][byte_at(data, 6)] ^ kTables[0][byte_at(data, 7)];
    data += 8;
    n -= 8;
  }
  while (n-- > 0) c = (c >> 8) ^ kTables[0][(c ^ byte_at(data++, 0)) & 0xFF];
  return ~c;
}

}  // namespace vellum
