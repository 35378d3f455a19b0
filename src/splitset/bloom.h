// The Bloom filter of a split's n-gram keys, as stored in its summary:
// b bits per key, round(b ln 2) probes, and SplitMix64 double hashing. A
// reader repeats the hashing to test a key, so every step is fixed.
#ifndef VELLUM_SPLITSET_BLOOM_H_
#define VELLUM_SPLITSET_BLOOM_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum {

// m for n distinct keys: b * max(n, 1), at least 64, a multiple of 8, at
// most 0xFFFFFFF8.
uint64_t bloom_bit_count(uint64_t key_count, uint32_t bits_per_key);

// k: round(b ln 2), half away from zero, within 1 to 16.
uint32_t bloom_probe_count(uint32_t bits_per_key);

// The payload: k, m, then the m / 8 bytes of the bit array. `keys` must be
// distinct (a repeated key only sets its bits again). Callers skip the
// filter altogether when bits_per_key is 0.
std::string build_bloom(const uint64_t* keys, size_t count, uint32_t bits_per_key);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BLOOM_H_
