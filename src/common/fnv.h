// 64-bit FNV-1a, the hash behind hashed n-gram keys and facet keys. Both
// are stored in files, so the constants live in exactly one place.
#ifndef VELLUM_COMMON_FNV_H_
#define VELLUM_COMMON_FNV_H_

#include <cstdint>

namespace vellum {

inline constexpr uint64_t kFnv1aOffset = 0xcbf29ce484222325ULL;
inline constexpr uint64_t kFnv1aPrime = 0x100000001b3ULL;

// Folds one byte into the running hash.
inline constexpr uint64_t fnv1a_byte(uint64_t h, uint8_t b) { return (h ^ b) * kFnv1aPrime; }

}  // namespace vellum

#endif  // VELLUM_COMMON_FNV_H_
