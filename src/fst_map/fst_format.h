// Byte layout of an FST map image (format version 3, type 0), as the
// builder writes it:
//
//   image    := version:u64 type:u64 node* key_count:u64 root:u64 crc:u32
//   crc      := masked CRC-32C of every byte before it
//
// A node's address is the position of its last byte, its state byte;
// address 0 is the final node with no transitions and no output, which is
// never written. Transition targets are stored as deltas from the position
// of the node's first byte (0 for the empty address). Integers are packed
// little-endian in the fewest bytes that hold them (one byte for 0).
//
//   next-chained := [input] state(11 rank)        target: the node just before
//   single       := [output] delta sizes [input] state(10 rank)
//   general      := [outputs] deltas inputs [index] sizes [count] state(0f n)
//
// Bracketed fields are conditional; the node writer says when.
#ifndef VELLUM_FST_MAP_FST_FORMAT_H_
#define VELLUM_FST_MAP_FST_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace vellum::fst {

inline constexpr uint64_t kVersion = 3;
inline constexpr uint64_t kMapType = 0;
inline constexpr size_t kHeaderSize = 16;
// Key count, root address and checksum.
inline constexpr size_t kFooterSize = 20;
inline constexpr uint64_t kEmptyAddress = 0;

inline constexpr uint8_t kStateNextChained = 0xC0;
inline constexpr uint8_t kStateSingle = 0x80;
inline constexpr uint8_t kStateFinal = 0x40;
// Transition counts from 1 to this one fit in a general node's state byte.
inline constexpr size_t kMaxStateCount = 63;
// General nodes with more transitions than this carry a 256-byte index.
inline constexpr size_t kIndexThreshold = 32;
inline constexpr uint8_t kNoIndexEntry = 255;

// The 63 bytes with a common-input rank, rank 1 first.
inline constexpr char kCommonInputs[] =
    "te/oasripcnw.hlm-du012g=:bf3y5&_4v9678k%?xCDASFIBEjPTzRNM+LOqHG";

// One-based common-input rank of `b`, 0 when it has none.
uint8_t common_input_rank(uint8_t b);

// Fewest bytes that hold `v`, and 1 for 0.
inline int pack_size(uint64_t v) {
  int n = 1;
  while (n < 8 && (v >> (8 * n)) != 0) ++n;
  return n;
}

}  // namespace vellum::fst

#endif  // VELLUM_FST_MAP_FST_FORMAT_H_
