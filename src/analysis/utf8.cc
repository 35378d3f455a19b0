#include "analysis/utf8.h"

namespace vellum::utf8 {

char32_t decode(std::string_view s, size_t* pos) {
  constexpr char32_t kReplacement = 0xFFFD;
  const size_t n = s.size();
  size_t i = *pos;
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    *pos = i + 1;
    return b0;
  }
  size_t len;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    *pos = i + 1;  // stray continuation byte, C0/C1 or F5..FF
    return kReplacement;
  }
  if (n - i < len) {
    *pos = i + 1;
    return kReplacement;
  }
  for (size_t k = 1; k < len; ++k) {
    const uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) {
      *pos = i + 1;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values above U+10FFFF are malformed.
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    *pos = i + 1;
    return kReplacement;
  }
  *pos = i + len;
  return cp;
}

bool is_valid(std::string_view s) {
  // decode() steps over a malformed byte one at a time, while a real
  // U+FFFD in the text takes its three bytes.
  constexpr size_t kReplacementBytes = 3;
  size_t pos = 0;
  while (pos < s.size()) {
    const size_t at = pos;
    if (static_cast<uint8_t>(s[pos]) < 0x80) {
      ++pos;
      continue;
    }
    if (decode(s, &pos) == 0xFFFD && pos - at != kReplacementBytes) return false;
  }
  return true;
}

void append(std::string* out, char32_t cp) {
  // Keep the output valid UTF-8 even for values that are not scalar values.
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    char b[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    out->append(b, 2);
  } else if (cp < 0x10000) {
    char b[3] = {static_cast<char>(0xE0 | (cp >> 12)),
                 static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (cp & 0x3F))};
    out->append(b, 3);
  } else {
    char b[4] = {static_cast<char>(0xF0 | (cp >> 18)),
                 static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                 static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (cp & 0x3F))};
    out->append(b, 4);
  }
}

}  // namespace vellum::utf8
