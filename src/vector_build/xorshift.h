// The random draws of training: one xorshift64* state, advanced by every
// draw of the coarse run and of each sub-quantizer run in turn, so the same
// seed always gives the same model.
#ifndef VELLUM_VECTOR_BUILD_XORSHIFT_H_
#define VELLUM_VECTOR_BUILD_XORSHIFT_H_

#include <cstdint>

namespace vellum {

inline constexpr uint64_t kXorshiftMultiplier = 0x2545F4914F6CDD1DULL;

// Advances `*state` and returns an index below `n` (n > 0).
inline uint64_t draw_index(uint64_t* state, uint64_t n) {
  uint64_t s = *state;
  s ^= s >> 12;
  s ^= s << 25;
  s ^= s >> 27;
  *state = s;
  return (s * kXorshiftMultiplier) % n;
}

}  // namespace vellum

#endif  // VELLUM_VECTOR_BUILD_XORSHIFT_H_
