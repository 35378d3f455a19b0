#include "splitset/bloom.h"

#include <algorithm>
#include <cmath>

#include "common/coding.h"
#include "splitset/summary_format.h"

namespace vellum {

namespace {

constexpr double kLn2 = 0.6931471805599453;
constexpr uint64_t kGoldenGamma = 0x9e3779b97f4a7c15ULL;

uint64_t splitmix64_mix(uint64_t v) {
  v ^= v >> 30;
  v *= 0xbf58476d1ce4e5b9ULL;
  v ^= v >> 27;
  v *= 0x94d049bb133111ebULL;
  v ^= v >> 31;
  return v;
}

}  // namespace

uint64_t bloom_bit_count(uint64_t key_count, uint32_t bits_per_key) {
  const uint64_t n = std::max<uint64_t>(key_count, 1);
  // Saturate rather than wrap: the result is clamped to 32 bits anyway.
  const uint64_t m = n > UINT64_MAX / std::max<uint64_t>(bits_per_key, 1)
                         ? UINT64_MAX
                         : uint64_t{bits_per_key} * n;
  if (m <= kBloomMinBits) return kBloomMinBits;
  if (m >= kBloomMaxBits) return kBloomMaxBits;
  return (m + 7) / 8 * 8;
}

uint32_t bloom_probe_count(uint32_t bits_per_key) {
  double k = std::round(static_cast<double>(bits_per_key) * kLn2);
  k = std::clamp(k, 0.0, 4294967295.0);
  const uint32_t probes = static_cast<uint32_t>(k);
  return std::clamp<uint32_t>(probes, 1, kBloomMaxProbes);
}

std::string build_bloom(const uint64_t* keys, size_t count, uint32_t bits_per_key) {
  const uint64_t m = bloom_bit_count(count, bits_per_key);
  const uint32_t k = bloom_probe_count(bits_per_key);
  std::string out;
  out.reserve(kBloomHeaderBytes + m / 8);
  PutU32(&out, k);
  PutU32(&out, static_cast<uint32_t>(m));
  out.resize(kBloomHeaderBytes + m / 8, '\0');
  unsigned char* bits = reinterpret_cast<unsigned char*>(out.data()) + kBloomHeaderBytes;
  for (size_t i = 0; i < count; ++i) {
    uint64_t h = splitmix64_mix(keys[i]);
    const uint64_t g = splitmix64_mix(keys[i] ^ kGoldenGamma) | 1;
    for (uint32_t probe = 0; probe < k; ++probe) {
      const uint64_t p = h % m;
      bits[p >> 3] |= static_cast<unsigned char>(1u << (p & 7));
      h += g;
    }
  }
  return out;
}

}  // namespace vellum
