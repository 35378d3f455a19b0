#include "build/rank_order.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/mapped_array.h"

namespace vellum {

namespace {

struct Keyed {
  uint64_t key;
  uint32_t index;
};

constexpr unsigned kDigits = 8;  // of 8 bits

// Ascending keys give descending ranks: the sign bit flipped makes
// unsigned order signed order, and the complement reverses it.
inline uint64_t descending_key(int64_t rank) {
  return ~(static_cast<uint64_t>(rank) ^ (uint64_t{1} << 63));
}

using Counts = std::array<uint32_t, 256>;

// The passes of a stable least-significant-digit radix sort of `a`, pass d
// on the byte of a key at bit `shift(d)`; `counts` holds each pass's byte
// counts. Bytes that every element shares cost no pass. Ends with the
// sorted elements in `a`.
template <typename T, typename Byte>
void radix_passes(MappedArray<T>* a, MappedArray<T>* b, std::span<Counts> counts, Byte byte) {
  const size_t n = a->size();
  for (unsigned d = 0; d < counts.size(); ++d) {
    Counts& c = counts[d];
    if (c[byte((*a)[0], d)] == n) continue;
    uint32_t at = 0;
    for (uint32_t& v : c) at += std::exchange(v, at);
    for (const T& x : *a) (*b)[c[byte(x, d)]++] = x;
    std::swap(*a, *b);
  }
}

// Ranks within 2^32 of one another: the key above the least is packed with
// the record's index into one word, which sorted as a number gives the
// order (indexes break ties in staging order), at half the memory.
std::vector<uint32_t> packed_order(std::span<const int64_t> ranks, uint64_t least) {
  const size_t n = ranks.size();
  MappedArray<uint64_t> a(n), b(n);
  std::array<Counts, 4> counts{};
  for (size_t i = 0; i < n; ++i) {
    const uint64_t k = (descending_key(ranks[i]) - least) << 32 | i;
    a[i] = k;
    for (unsigned d = 0; d < 4; ++d) ++counts[d][(k >> (32 + 8 * d)) & 0xFF];
  }
  // The indexes start in order, so only the key half needs sorting.
  radix_passes(&a, &b, std::span<Counts>(counts),
               [](uint64_t x, unsigned d) { return (x >> (32 + 8 * d)) & 0xFF; });
  std::vector<uint32_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(a[i]);
  return order;
}

}  // namespace

// A stable radix sort: records start in staging order and every pass keeps
// the order of equal digits, so equal ranks stay in staging order.
std::vector<uint32_t> rank_order(std::span<const int64_t> ranks) {
  const size_t n = ranks.size();
  if (n == 0) return {};
  uint64_t least = ~uint64_t{0}, most = 0;
  for (const int64_t r : ranks) {
    least = std::min(least, descending_key(r));
    most = std::max(most, descending_key(r));
  }
  if (most - least <= UINT32_MAX) return packed_order(ranks, least);
  std::vector<uint32_t> order(n);
  MappedArray<Keyed> a(n), b(n);
  std::array<Counts, kDigits> counts{};
  for (size_t i = 0; i < n; ++i) {
    const uint64_t k = descending_key(ranks[i]);
    a[i] = Keyed{k, static_cast<uint32_t>(i)};
    for (unsigned d = 0; d < kDigits; ++d) ++counts[d][(k >> (8 * d)) & 0xFF];
  }
  radix_passes(&a, &b, std::span<Counts>(counts),
               [](const Keyed& x, unsigned d) { return (x.key >> (8 * d)) & 0xFF; });
  for (size_t i = 0; i < n; ++i) order[i] = a[i].index;
  return order;
}

}  // namespace vellum
