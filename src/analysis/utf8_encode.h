// UTF-8 encoding of code point arrays, as Python strings hand them over,
// sixteen code points at a time where the processor allows.
#ifndef VELLUM_ANALYSIS_UTF8_ENCODE_H_
#define VELLUM_ANALYSIS_UTF8_ENCODE_H_

#include <cstddef>
#include <cstdint>

namespace vellum::utf8 {

// The bytes encode() may write for `n` code points: four each, and the
// slack of a 64-byte store.
constexpr size_t encode_room(size_t n) { return 4 * n + 64; }

// Writes the UTF-8 of cps[0, n) at `out`, which has encode_room(n) bytes,
// and returns the end. Returns nullptr, with `out` in some state, when a
// code point is a surrogate or above U+10FFFF: those have no UTF-8.
// `vectorized` false takes the one-at-a-time path, for tests that compare
// the two.
char* encode(const uint32_t* cps, size_t n, char* out, bool vectorized = true);

}  // namespace vellum::utf8

#endif  // VELLUM_ANALYSIS_UTF8_ENCODE_H_
