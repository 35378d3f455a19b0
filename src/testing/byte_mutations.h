// Test-only damage to stored bytes: every single-byte flip and every
// truncation of a file, handed to a callback that judges the reader's
// answer. Flips XOR the byte with a mask, so each position is damaged
// whatever its value.
#ifndef VELLUM_TESTING_BYTE_MUTATIONS_H_
#define VELLUM_TESTING_BYTE_MUTATIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum::testing {

// fn(position, damaged bytes) for each position, with masks 0xFF and 0x01.
template <typename Fn>
void for_each_flip(const std::string& bytes, Fn fn) {
  for (uint8_t mask : {uint8_t{0xFF}, uint8_t{0x01}}) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      std::string damaged = bytes;
      damaged[i] = static_cast<char>(damaged[i] ^ mask);
      fn(i, damaged);
    }
  }
}

// fn(prefix) for every proper prefix, the empty one included.
template <typename Fn>
void for_each_truncation(const std::string& bytes, Fn fn) {
  for (size_t n = 0; n < bytes.size(); ++n) fn(bytes.substr(0, n));
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_BYTE_MUTATIONS_H_
