// Packed n-gram keys of long ASCII stretches, sixteen bytes at a time.
//
// A stretch is first staged: copied with its dropped characters removed,
// letters folded if asked, and white space kept as a byte <= 0x20, so that
// every staged byte above 0x20 is a kept character. The key of a gram is
// then a load of the eight staged bytes that end it, and which positions
// end a gram is a bit mask: kept, and so are the n - 1 bytes before. Both
// steps give exactly the keys of the one-character-at-a-time rules.
#ifndef VELLUM_ANALYSIS_ASCII_STAGE_H_
#define VELLUM_ANALYSIS_ASCII_STAGE_H_

#include <cstddef>
#include <cstdint>

namespace vellum::ascii_stage {

// Whether staging runs sixteen bytes at a time here (SSE2, always on
// x86-64). Elsewhere it goes byte by byte: the same keys, but slower than
// the keyer's own eight-byte loop, so the keyer uses it only when true.
#if defined(__SSE2__)
inline constexpr bool kVectorized = true;
#else
inline constexpr bool kVectorized = false;
#endif

// Staged bytes before the first new one: the end of the word so far,
// oldest first, with zeros (white space) before it.
inline constexpr size_t kContext = 8;
// Text bytes staged per round, so that the stage stays in L1 cache.
inline constexpr size_t kInput = 512;
// The whole stage: context, staged bytes and room for a 64-byte mask step.
inline constexpr size_t kStageBytes = kContext + kInput + 64;

// The instructions that staging and keying may use, each where the
// processor has it: every level gives the same bytes, and tests limit the
// level to compare them.
enum class Simd {
  kSse2,    // sixteen bytes at a time; dropped bytes taken out one by one
  kSsse3,   // dropped bytes taken out with a byte shuffle
  kAvx2,    // keys eight positions at a time; staging as with kSsse3
  kAvx512,  // 64 bytes at a time (AVX-512 BW and VBMI2)
};

// Stages the text from *pos on at `dst`: at most kInput bytes, up to the
// first byte >= 0x80 or the end. Returns how many bytes it wrote and
// advances *pos past what it read.
size_t stage(const char* text, size_t size, size_t* pos, bool fold_case, uint8_t* dst,
             Simd limit = Simd::kAvx512);

// Appends at `out` the key of every gram of 3..8 (`n`) characters that ends
// in stage[kContext, total), in order, and returns the new end. The stage
// must have room for kStageBytes; bytes past `total` are overwritten.
uint64_t* keys(uint8_t* stage, size_t total, size_t n, uint64_t* out,
               Simd limit = Simd::kAvx512);

}  // namespace vellum::ascii_stage

#endif  // VELLUM_ANALYSIS_ASCII_STAGE_H_
