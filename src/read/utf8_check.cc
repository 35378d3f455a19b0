#include "read/utf8_check.h"

#include <cstddef>
#include <cstdint>

namespace vellum {

bool is_valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t n;
    uint32_t cp, min;
    if ((b & 0xE0) == 0xC0) {
      n = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      n = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      n = 3, cp = b & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (s.size() - i <= n) return false;
    for (size_t k = 1; k <= n; ++k) {
      const uint8_t c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace vellum
