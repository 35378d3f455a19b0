#include "analysis/utf8_encode.h"

#include <bit>

#include "common/cpu_features.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vellum::utf8 {

namespace {

inline bool encodable(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Stores 16 code points as bytes when all are ASCII; false (nothing
// stored) otherwise.
inline bool narrow_ascii16(const uint32_t* w, char* out) {
#ifdef __SSE2__
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 4));
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 8));
  const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 12));
  const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(any, 7), _mm_setzero_si128())) != 0xFFFF) {
    return false;
  }
  // Below 0x80, so the saturating packs keep every value.
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  return true;
#else
  uint32_t any = 0;
  for (int k = 0; k < 16; ++k) any |= w[k];
  if (any >= 0x80) return false;
  for (int k = 0; k < 16; ++k) out[k] = static_cast<char>(w[k]);
  return true;
#endif
}

// ASCII sixteen code points at a time; otherwise the next sixteen one by
// one, so that text of other scripts is not tested for ASCII at every
// code point.
char* encode_one_by_one(const uint32_t* cps, size_t n, char* p) {
  for (size_t i = 0; i < n;) {
    if (i + 16 <= n && narrow_ascii16(cps + i, p)) {
      p += 16;
      i += 16;
      continue;
    }
    const size_t stop = n - i < 16 ? n : i + 16;
    for (; i < stop; ++i) {
      const uint32_t c = cps[i];
      if (c < 0x80) {
        *p++ = static_cast<char>(c);
      } else if (c < 0x800) {
        *p++ = static_cast<char>(0xC0 | (c >> 6));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        if (!encodable(c)) return nullptr;
        *p++ = static_cast<char>(0xE0 | (c >> 12));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        if (!encodable(c)) return nullptr;
        *p++ = static_cast<char>(0xF0 | (c >> 18));
        *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      }
    }
  }
  return p;
}

#if defined(__x86_64__)

// Each code point's bytes are built in its own 32-bit lane, first byte
// lowest, whatever its length; a byte compression then packs the lanes'
// leading 1 to 4 bytes together. Text that mixes scripts and ASCII costs
// the same as text of one script, and the last partial step is a masked
// load rather than a scalar tail.
// Plain vector arithmetic on 16 lanes of 32 bits; the intrinsics are
// needed only for masks and the compression.
typedef uint32_t U32x16 __attribute__((vector_size(64)));

VELLUM_AVX512 char* encode_avx512(const uint32_t* cps, size_t n, char* p) {
  // Byte k of a lane, k = 0..3, against the lane's length.
  const __m512i byte_index = _mm512_set1_epi32(0x03020100);
  const __m512i one = _mm512_set1_epi32(1);
  for (size_t i = 0; i < n; i += 16) {
    const __mmask16 lanes =
        n - i >= 16 ? __mmask16{0xFFFF} : static_cast<__mmask16>((1u << (n - i)) - 1);
    const __m512i cv = _mm512_maskz_loadu_epi32(lanes, cps + i);
    const U32x16 c = reinterpret_cast<U32x16>(cv);
    const __mmask16 two = _mm512_cmpge_epu32_mask(cv, _mm512_set1_epi32(0x80));
    if (two == 0) {  // ASCII, as most of some texts is
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm512_maskz_cvtepi32_epi8(lanes, cv));
      p += std::popcount(lanes);
      continue;
    }
    const __mmask16 three = _mm512_cmpge_epu32_mask(cv, _mm512_set1_epi32(0x800));
    const __mmask16 four = _mm512_cmpge_epu32_mask(cv, _mm512_set1_epi32(0x10000));
    const __mmask16 surrogate = _mm512_cmpeq_epi32_mask(reinterpret_cast<__m512i>(c & ~0x7FFu),
                                                        _mm512_set1_epi32(0xD800));
    const __mmask16 too_big = _mm512_cmpgt_epu32_mask(cv, _mm512_set1_epi32(0x10FFFF));
    if ((surrogate | too_big) != 0) return nullptr;
    // The continuation bytes of the last 6, 12 and 18 bits.
    const U32x16 c0 = (c & 0x3F) | 0x80;
    const U32x16 c1 = ((c >> 6) & 0x3F) | 0x80;
    const U32x16 c2 = ((c >> 12) & 0x3F) | 0x80;
    const U32x16 as2 = ((c >> 6) | 0xC0) | (c0 << 8);
    const U32x16 as3 = ((c >> 12) | 0xE0) | (c1 << 8) | (c0 << 16);
    const U32x16 as4 = ((c >> 18) | 0xF0) | (c2 << 8) | (c1 << 16) | (c0 << 24);
    __m512i v = cv;
    v = _mm512_mask_mov_epi32(v, two, reinterpret_cast<__m512i>(as2));
    v = _mm512_mask_mov_epi32(v, three, reinterpret_cast<__m512i>(as3));
    v = _mm512_mask_mov_epi32(v, four, reinterpret_cast<__m512i>(as4));
    // Lengths 1 to 4, 0 in lanes past the end, in every byte of the lane.
    __m512i len = _mm512_maskz_mov_epi32(lanes, one);
    len = _mm512_mask_add_epi32(len, two, len, one);
    len = _mm512_mask_add_epi32(len, three, len, one);
    len = _mm512_mask_add_epi32(len, four, len, one);
    len = reinterpret_cast<__m512i>(reinterpret_cast<U32x16>(len) * 0x01010101u);
    const __mmask64 keep = _mm512_cmplt_epu8_mask(byte_index, len);
    _mm512_storeu_si512(p, _mm512_maskz_compress_epi8(keep, v));
    p += _mm_popcnt_u64(keep);
  }
  return p;
}

#endif  // __x86_64__

}  // namespace

char* encode(const uint32_t* cps, size_t n, char* out, bool vectorized) {
#if defined(__x86_64__)
  if (vectorized && has_avx512()) return encode_avx512(cps, n, out);
#else
  (void)vectorized;
#endif
  return encode_one_by_one(cps, n, out);
}

}  // namespace vellum::utf8
