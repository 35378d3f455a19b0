#include "analysis/ascii_stage.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/cpu_features.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vellum::ascii_stage {
namespace {

constexpr uint8_t kSpace = 0x20;  // staged white space is <= this, kept bytes above

// Bit k: a gram of n ends at byte k of a 64-byte block, whose kept bytes
// are `kept`, those of the block before being `before`.
inline uint64_t gram_ends(uint64_t kept, uint64_t before, size_t n) {
  uint64_t ends = kept;
  for (size_t i = 1; i < n; ++i) ends &= (kept << i) | (before >> (64 - i));
  return ends;
}

#if !defined(__SSE2__)

bool is_kept(uint8_t b) {
  return (b >= '0' && b <= '9') || ((b | 0x20) >= 'a' && (b | 0x20) <= 'z');
}

bool is_space(uint8_t b) { return (b >= 0x09 && b <= 0x0D) || b == ' '; }

// One byte: written always, kept (advancing `dst`) unless dropped. Returns
// false at a byte >= 0x80, which is left for the caller.
bool stage_byte(uint8_t b, bool fold_case, uint8_t** dst) {
  if (b >= 0x80) return false;
  const bool letter = (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
  **dst = fold_case && letter ? (b | 0x20) : b;
  *dst += is_kept(b) || is_space(b);
  return true;
}

// Bit k: stage[k] is a kept character.
uint64_t kept_mask(const uint8_t* stage) {
  uint64_t mask = 0;
  for (int k = 0; k < 64; ++k) mask |= uint64_t{stage[k] > kSpace} << k;
  return mask;
}

#else

// Byte k of kCompact[m] is the position of the k-th set bit of m; 0x80
// (which a byte shuffle turns into zero) pads it.
struct CompactTable {
  uint64_t order[256];
  uint8_t count[256];
};

constexpr CompactTable make_compact_table() {
  CompactTable t{};
  for (unsigned m = 0; m < 256; ++m) {
    uint64_t order = 0x8080808080808080ULL;
    unsigned k = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (((m >> bit) & 1) == 0) continue;
      order = (order & ~(uint64_t{0xFF} << (8 * k))) | (uint64_t{bit} << (8 * k));
      ++k;
    }
    t.order[m] = order;
    t.count[m] = static_cast<uint8_t>(k);
  }
  return t;
}

constexpr CompactTable kCompact = make_compact_table();

#define VELLUM_ALWAYS_INLINE inline __attribute__((always_inline))

// The next block of the text before `stop`: the first `*count` bytes of
// the result, with zeros (dropped) after them. `*count` ends before the
// first byte >= 0x80, and `*last` tells whether there is one.
VELLUM_ALWAYS_INLINE __m128i load_block(const char* text, size_t pos, size_t stop,
                                        size_t* count, bool* last) {
  size_t n = std::min<size_t>(stop - pos, 16);
  __m128i v;
  if (n == 16) {
    v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
  } else {
    alignas(16) uint8_t tail[16] = {};
    std::memcpy(tail, text + pos, n);
    v = _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
  }
  const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
  *last = high != 0;
  if (high != 0) n = std::min<size_t>(n, std::countr_zero(high));
  *count = n;
  const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_and_si128(v, _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(n)), index));
}

// Sixteen ASCII bytes with letters folded if asked; bit k of `*keep` is
// set unless byte k is dropped.
VELLUM_ALWAYS_INLINE __m128i classify(__m128i v, bool fold_case, unsigned* keep) {
  const auto in = [](__m128i x, char lo, char hi) {
    return _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(lo - 1)),
                         _mm_cmpgt_epi8(_mm_set1_epi8(hi + 1), x));
  };
  const __m128i letter = in(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'z');
  const __m128i space = _mm_or_si128(in(v, 0x09, 0x0D), _mm_cmpeq_epi8(v, _mm_set1_epi8(' ')));
  const __m128i kept = _mm_or_si128(_mm_or_si128(letter, in(v, '0', '9')), space);
  *keep = static_cast<unsigned>(_mm_movemask_epi8(kept));
  return fold_case ? _mm_or_si128(v, _mm_and_si128(letter, _mm_set1_epi8(0x20))) : v;
}

// Staging with SSE2 only: a block with dropped bytes is packed one byte at
// a time.
size_t stage_sse2(const char* text, size_t stop, size_t* pos_io, bool fold_case, uint8_t* dst) {
  size_t pos = *pos_io;
  uint8_t* d = dst;
  bool last = false;
  while (pos < stop && !last) {
    size_t count;
    unsigned keep;
    const __m128i v = classify(load_block(text, pos, stop, &count, &last), fold_case, &keep);
    pos += count;
    if (keep == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
      d += 16;
      continue;
    }
    alignas(16) uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), v);
    for (int k = 0; k < 16; ++k) {
      *d = bytes[k];
      d += (keep >> k) & 1;
    }
  }
  *pos_io = pos;
  return static_cast<size_t>(d - dst);
}

// Staging with a byte shuffle: every block is packed the same way, without
// a branch on its content.
__attribute__((target("ssse3"))) size_t stage_ssse3(const char* text, size_t stop,
                                                     size_t* pos_io, bool fold_case,
                                                     uint8_t* dst) {
  size_t pos = *pos_io;
  uint8_t* d = dst;
  bool last = false;
  while (pos < stop && !last) {
    size_t count;
    unsigned keep;
    const __m128i v = classify(load_block(text, pos, stop, &count, &last), fold_case, &keep);
    pos += count;
    const unsigned lo = keep & 0xFF;
    const unsigned hi = keep >> 8;
    const __m128i order =
        _mm_set_epi64x(static_cast<long long>(kCompact.order[hi] + 0x0808080808080808ULL),
                       static_cast<long long>(kCompact.order[lo]));
    const __m128i packed = _mm_shuffle_epi8(v, order);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), packed);
    d += kCompact.count[lo];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_unpackhi_epi64(packed, packed));
    d += kCompact.count[hi];
  }
  *pos_io = pos;
  return static_cast<size_t>(d - dst);
}

// Bit k: stage[k] is a kept character.
uint64_t kept_mask(const uint8_t* stage) {
  uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stage + 16 * k));
    const __m128i kept = _mm_cmpgt_epi8(v, _mm_set1_epi8(kSpace));
    mask |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(kept))} << (16 * k);
  }
  return mask;
}

#if defined(__x86_64__)
#define VELLUM_HAS_AVX512_PATH 1

VELLUM_AVX512 inline __m512i byte(int b) { return _mm512_set1_epi8(static_cast<char>(b)); }

// Staging 64 bytes at a time, packed with a byte compression.
VELLUM_AVX512 size_t stage_avx512(const char* text, size_t stop, size_t* pos_io, bool fold_case,
                                  uint8_t* dst) {
  size_t pos = *pos_io;
  uint8_t* d = dst;
  while (pos < stop) {
    size_t count = std::min<size_t>(stop - pos, 64);
    // Masked-off bytes are neither read nor able to fault.
    const __m512i v = _mm512_maskz_loadu_epi8(_bzhi_u64(~uint64_t{0}, count), text + pos);
    const uint64_t high = _mm512_movepi8_mask(v);
    if (high != 0) count = static_cast<size_t>(std::countr_zero(high));
    const __m512i lower = _mm512_or_si512(v, byte(0x20));
    const uint64_t letter = _mm512_cmple_epu8_mask(_mm512_sub_epi8(lower, byte('a')), byte(25));
    const uint64_t digit = _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, byte('0')), byte(9));
    const uint64_t space = _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, byte(0x09)), byte(4)) |
                           _mm512_cmpeq_epi8_mask(v, byte(' '));
    const uint64_t keep = (letter | digit | space) & _bzhi_u64(~uint64_t{0}, count);
    const __m512i folded = fold_case ? _mm512_mask_mov_epi8(v, letter, lower) : v;
    _mm512_storeu_si512(d, _mm512_maskz_compress_epi8(keep, folded));
    d += std::popcount(keep);
    pos += count;
    if (high != 0) break;
  }
  *pos_io = pos;
  return static_cast<size_t>(d - dst);
}

// keys() eight positions at a time: the key that ends at position t of a
// group is stage[t - j] in byte j, so one byte shuffle of the sixteen bytes
// before the group's end makes all eight, and the grams' ends select them.
struct GramShuffles {
  alignas(64) uint8_t order[9][64];  // by gram size; bytes past it zeroed (0x80)
};

constexpr GramShuffles make_gram_shuffles() {
  GramShuffles g{};
  for (size_t n = 0; n <= 8; ++n) {
    for (size_t t = 0; t < 8; ++t) {
      for (size_t j = 0; j < 8; ++j) g.order[n][8 * t + j] = j < n ? static_cast<uint8_t>(8 + t - j) : 0x80;
    }
  }
  return g;
}

constexpr GramShuffles kGramShuffles = make_gram_shuffles();

VELLUM_AVX512 uint64_t* keys_avx512(uint8_t* stage, size_t total, size_t n, uint64_t* out) {
  const __m512i shuffle = _mm512_load_si512(kGramShuffles.order[n]);
  std::memset(stage + total, 0, 64);
  uint64_t before = 0;  // kept mask of the previous 64 bytes
  for (size_t at = 0; at < total; at += 64) {
    const uint64_t kept = _mm512_cmpgt_epi8_mask(_mm512_loadu_si512(stage + at),
                                                 byte(kSpace));
    uint64_t ends = gram_ends(kept, before, n);
    before = kept;
    // Grams ending in the context were keyed before it was staged, and the
    // first group would read before the stage.
    static_assert(kContext == 8, "the context is the first group");
    for (size_t g = at == 0 ? 1 : 0; g < 8; ++g) {
      const unsigned m = static_cast<unsigned>(ends >> (8 * g)) & 0xFF;
      const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stage + at + 8 * g - 8));
      const __m512i grams = _mm512_shuffle_epi8(_mm512_maskz_broadcast_i32x4(0xFFFF, window), shuffle);
      const unsigned c = static_cast<unsigned>(std::popcount(m));
      _mm512_mask_storeu_epi64(out, static_cast<__mmask8>((1u << c) - 1),
                               _mm512_maskz_compress_epi64(static_cast<__mmask8>(m), grams));
      out += c;
    }
  }
  return out;
}

// Compiled for AVX2 whatever the build targets; called only where
// has_avx2() says the processor has it.
#define VELLUM_AVX2 __attribute__((target("avx2,bmi,popcnt")))

// index[m]: the permute of 32-bit lanes that moves the 64-bit lanes set in
// m to the front, in order (the lanes after them are left as lane 0).
struct Compact4Table {
  alignas(32) uint32_t index[16][8];
};

constexpr Compact4Table make_compact4_table() {
  Compact4Table t{};
  for (unsigned m = 0; m < 16; ++m) {
    unsigned k = 0;
    for (unsigned lane = 0; lane < 4; ++lane) {
      if (((m >> lane) & 1) == 0) continue;
      t.index[m][2 * k] = 2 * lane;
      t.index[m][2 * k + 1] = 2 * lane + 1;
      ++k;
    }
  }
  return t;
}

constexpr Compact4Table kCompact4 = make_compact4_table();

VELLUM_AVX2 inline __m256i load32(const void* aligned) {
  return _mm256_load_si256(static_cast<const __m256i*>(aligned));
}

// keys() with AVX2, which has no compressing store: the grams of four
// positions are packed with a lane permute and stored whole, so that a
// store may leave up to three words past its keys. Each such word is
// overwritten by the next keys; only stores that end within the call's
// keys are whole, and the last keys go one at a time, so nothing is
// written past them.
VELLUM_AVX2 uint64_t* keys_avx2(uint8_t* stage, size_t total, size_t n, uint64_t* out) {
  constexpr size_t kMaxBlocks = (kStageBytes + 63) / 64;
  std::memset(stage + total, 0, 64);
  // First the gram ends of every block, which also tells where the keys
  // of the call end.
  uint64_t ends_of[kMaxBlocks];
  const size_t blocks = (total + 63) / 64;
  size_t count = 0;
  uint64_t before = 0;  // kept mask of the previous 64 bytes
  const __m256i space = _mm256_set1_epi8(static_cast<char>(kSpace));
  for (size_t b = 0; b < blocks; ++b) {
    const uint8_t* at = stage + 64 * b;
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
    const uint64_t kept =
        uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(lo, space)))} |
        uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(hi, space)))} << 32;
    uint64_t ends = gram_ends(kept, before, n);
    before = kept;
    // Grams ending in the context were keyed before it was staged.
    if (b == 0) ends &= ~((uint64_t{1} << kContext) - 1);
    ends_of[b] = ends;
    count += static_cast<size_t>(std::popcount(ends));
  }
  uint64_t* const end = out + count;
  const __m256i shuffle_lo = load32(kGramShuffles.order[n]);
  const __m256i shuffle_hi = load32(kGramShuffles.order[n] + 32);
  for (size_t b = 0; b < blocks; ++b) {
    for (size_t g = 0; g < 8; ++g) {
      const unsigned m = static_cast<unsigned>(ends_of[b] >> (8 * g)) & 0xFF;
      if (m == 0) continue;
      // The sixteen bytes before the group's end, in both halves: the
      // shuffles pick within each half. The context makes group 0 of
      // block 0 empty, so this never reads before the stage.
      const __m128i window =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(stage + 64 * b + 8 * g - 8));
      const __m256i both = _mm256_broadcastsi128_si256(window);
      const __m256i lo = _mm256_shuffle_epi8(both, shuffle_lo);  // positions 0..3
      const __m256i hi = _mm256_shuffle_epi8(both, shuffle_hi);  // positions 4..7
      if (out + 8 <= end) {
        const __m256i pick_lo = load32(kCompact4.index[m & 15]);
        const __m256i pick_hi = load32(kCompact4.index[m >> 4]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permutevar8x32_epi32(lo, pick_lo));
        out += std::popcount(m & 15);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permutevar8x32_epi32(hi, pick_hi));
        out += std::popcount(m >> 4);
        continue;
      }
      alignas(32) uint64_t grams[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(grams), lo);
      _mm256_store_si256(reinterpret_cast<__m256i*>(grams + 4), hi);
      for (unsigned rest = m; rest != 0; rest &= rest - 1) *out++ = grams[std::countr_zero(rest)];
    }
  }
  return out;
}

#endif  // __x86_64__
#endif

}  // namespace

size_t stage(const char* text, size_t size, size_t* pos_io, bool fold_case, uint8_t* dst,
             Simd limit) {
  const size_t stop = std::min(size, *pos_io + kInput);
#if defined(__SSE2__)
#if VELLUM_HAS_AVX512_PATH
  if (limit >= Simd::kAvx512 && has_avx512()) return stage_avx512(text, stop, pos_io, fold_case, dst);
#endif
  __builtin_cpu_init();
  if (limit >= Simd::kSsse3 && __builtin_cpu_supports("ssse3")) {
    return stage_ssse3(text, stop, pos_io, fold_case, dst);
  }
  return stage_sse2(text, stop, pos_io, fold_case, dst);
#else
  (void)limit;
  size_t pos = *pos_io;
  uint8_t* d = dst;
  while (pos < stop && stage_byte(static_cast<uint8_t>(text[pos]), fold_case, &d)) ++pos;
  *pos_io = pos;
  return static_cast<size_t>(d - dst);
#endif
}

uint64_t* keys(uint8_t* stage, size_t total, size_t n, uint64_t* out, Simd limit) {
#if VELLUM_HAS_AVX512_PATH
  if (limit >= Simd::kAvx512 && has_avx512()) return keys_avx512(stage, total, n, out);
  if (limit >= Simd::kAvx2 && has_avx2()) return keys_avx2(stage, total, n, out);
#else
  (void)limit;
#endif
  const uint64_t mask = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
  std::memset(stage + total, 0, 64);
  uint64_t before = 0;  // kept mask of the previous 64 bytes
  for (size_t at = 0; at < total; at += 64) {
    const uint64_t kept = kept_mask(stage + at);
    uint64_t ends = gram_ends(kept, before, n);
    before = kept;
    // Grams ending in the context were keyed before it was staged.
    if (at == 0) ends &= ~((uint64_t{1} << kContext) - 1);
    while (ends != 0) {
      const size_t end = at + static_cast<size_t>(std::countr_zero(ends));
      ends &= ends - 1;
      uint64_t last8;
      std::memcpy(&last8, stage + end - 7, 8);
      if constexpr (std::endian::native == std::endian::little) last8 = __builtin_bswap64(last8);
      *out++ = last8 & mask;
    }
  }
  return out;
}

}  // namespace vellum::ascii_stage
