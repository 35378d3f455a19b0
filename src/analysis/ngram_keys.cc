#include "analysis/ngram_keys.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "analysis/ascii_stage.h"
#include "analysis/key_char_table.h"
#include "analysis/unicode.h"
#include "analysis/unicode_record.h"
#include "analysis/utf8.h"
#include "common/fnv.h"

namespace vellum {
namespace {

// ASCII classes: kDrop, kSplit, or the kept character itself (always >= '0').
constexpr uint8_t kDrop = 0;
constexpr uint8_t kSplit = 1;

constexpr std::array<uint8_t, 128> make_ascii_table(bool fold) {
  std::array<uint8_t, 128> t{};
  for (int c = 0; c < 128; ++c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x20) {
      t[c] = kSplit;
    } else if (c >= '0' && c <= '9') {
      t[c] = static_cast<uint8_t>(c);
    } else if (c >= 'a' && c <= 'z') {
      t[c] = static_cast<uint8_t>(c);
    } else if (c >= 'A' && c <= 'Z') {
      t[c] = static_cast<uint8_t>(fold ? c + 32 : c);
    } else {
      t[c] = kDrop;
    }
  }
  return t;
}

constexpr std::array<uint8_t, 128> kAsciiFolded = make_ascii_table(true);
constexpr std::array<uint8_t, 128> kAsciiExact = make_ascii_table(false);

constexpr uint64_t kFnv1aPrime3 = kFnv1aPrime * kFnv1aPrime * kFnv1aPrime;

// FNV-1a 64 over the gram as UTF-32LE. XOR with a zero byte changes
// nothing, so below U+10000 the two high bytes are one multiplication by
// the prime cubed: the same hash with half the multiplications.
[[gnu::always_inline]] inline uint64_t fnv1a_utf32le(const char32_t* cps, size_t n) {
  uint64_t h = kFnv1aOffset;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = cps[i];
    if (c < 0x10000) {
      h = fnv1a_byte(h, static_cast<uint8_t>(c));
      h = (h ^ (c >> 8)) * kFnv1aPrime3;
      continue;
    }
    for (int b = 0; b < 4; ++b) h = fnv1a_byte(h, static_cast<uint8_t>(c >> (8 * b)));
  }
  return h;
}

// One character into a running FNV-1a 64 over UTF-32LE: fnv1a_utf32le()
// is this for each character in turn, from kFnv1aOffset.
[[gnu::always_inline]] inline uint64_t fnv1a_char(uint64_t h, char32_t c) {
  if (c < 0x10000) [[likely]] {
    h = fnv1a_byte(h, static_cast<uint8_t>(c));
    return (h ^ (c >> 8)) * kFnv1aPrime3;
  }
  for (int b = 0; b < 4; ++b) h = fnv1a_byte(h, static_cast<uint8_t>(c >> (8 * b)));
  return h;
}

// The hashes of the trigrams to come, carried along a word: `one` has
// taken the word's last character and `two` its last two, so the key of
// the trigram that the next character ends is one step from `two`, and
// no gram is hashed from the start. Each step needs the states of the
// character before it; states of a word too short for them are never
// used.
struct TrigramHashes {
  uint64_t one = kFnv1aOffset;
  uint64_t two = kFnv1aOffset;

  // Takes `c`, the next kept character.
  void push(char32_t c) {
    two = fnv1a_char(one, c);
    one = fnv1a_char(kFnv1aOffset, c);
  }

  // The states after the last characters of `word` (`len` of them), as
  // when the ASCII path has taken characters without them.
  void restart(const char32_t* word, size_t len) {
    if (len >= 1) one = fnv1a_char(kFnv1aOffset, word[len - 1]);
    if (len >= 2) two = fnv1a_char(fnv1a_char(kFnv1aOffset, word[len - 2]), word[len - 1]);
  }
};

// True when the 8 bytes at `p` are all ASCII.
inline bool ascii8(const char* p) {
  uint64_t a;
  std::memcpy(&a, p, 8);
  return (a & 0x8080808080808080ULL) == 0;
}

// utf8::decode, with the two- and three-byte forms of most scripts inline.
inline char32_t decode_at(std::string_view text, size_t* pos) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data()) + *pos;
  const size_t left = text.size() - *pos;
  const uint8_t b0 = p[0];
  if (b0 >= 0xC2 && b0 <= 0xDF && left >= 2 && (p[1] & 0xC0) == 0x80) {
    *pos += 2;
    return (char32_t{b0 & 0x1Fu} << 6) | (p[1] & 0x3Fu);
  }
  if ((b0 & 0xF0) == 0xE0 && left >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
    const char32_t c =
        (char32_t{b0 & 0x0Fu} << 12) | (char32_t{p[1] & 0x3Fu} << 6) | (p[2] & 0x3Fu);
    // Overlong forms and surrogates are decode()'s to reject.
    if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) {
      *pos += 3;
      return c;
    }
  }
  return utf8::decode(text, pos);
}

// True when the 16 bytes at `p` are all ASCII.
inline bool ascii16(const char* p) {
  uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  return ((a | b) & 0x8080808080808080ULL) == 0;
}

// The last `count` characters of `packed` (last one lowest) as bytes
// oldest first at stage[8 - count, 8), zeros (white space) before them.
inline void put_last_eight(uint8_t* stage, uint64_t packed, size_t count) {
  if constexpr (std::endian::native == std::endian::little) packed = __builtin_bswap64(packed);
  std::memcpy(stage, &packed, 8);
  std::memset(stage, 0, 8 - count);
}

constexpr size_t kMinSlots = 64;
// The first allocation is sized from the text, but a huge first text
// should not reserve its worst case up front; the set grows instead.
constexpr size_t kMaxInitialSlots = size_t{1} << 16;

}  // namespace

NgramKeyer::NgramKeyer() = default;

void NgramKeyer::reset_set(size_t text_bytes) {
  out_.clear();
  if (slots_.empty()) {
    // A text of b bytes has at most b grams, and natural text repeats
    // enough that b slots rarely reach the growth threshold of one half.
    size_t want = std::clamp(std::bit_ceil(text_bytes), kMinSlots, kMaxInitialSlots);
    slots_.assign(want, Slot{0, 0});
    shift_ = 64 - std::countr_zero(want);
    generation_ = 0;
  }
  if (++generation_ == 0) {
    for (Slot& s : slots_) s.stamp = 0;
    generation_ = 1;
  }
}

void NgramKeyer::grow() {
  size_t size = slots_.size() * 2;
  slots_.assign(size, Slot{0, 0});
  shift_ = 64 - std::countr_zero(size);
  generation_ = 1;
  // Every key in the set is in out_, so it is the list to re-insert.
  const size_t mask = size - 1;
  for (uint64_t key : out_) {
    size_t i = (key * 0x9E3779B97F4A7C15ULL) >> shift_;
    while (slots_[i].stamp == generation_) i = (i + 1) & mask;
    slots_[i] = Slot{key, generation_};
  }
}

inline void NgramKeyer::insert(uint64_t key) {
  const size_t mask = slots_.size() - 1;
  size_t i = (key * 0x9E3779B97F4A7C15ULL) >> shift_;
  for (;;) {
    Slot& s = slots_[i];
    if (s.stamp != generation_) {
      s = Slot{key, generation_};
      out_.push_back(key);
      if (out_.size() * 2 > slots_.size()) grow();
      return;
    }
    if (s.key == key) return;
    i = (i + 1) & mask;
  }
}

const std::vector<uint64_t>& NgramKeyer::keys(std::string_view text, size_t gram_size,
                                              bool fold_case) {
  reset_set(text.size());
  scan<true, false>(text, gram_size, fold_case, nullptr);
  return out_;
}

std::span<const uint64_t> NgramKeyer::grams(std::string_view text, size_t gram_size,
                                            bool fold_case) {
  // A gram ends at a kept character, which takes at least one byte.
  if (grams_cap_ < text.size()) {
    grams_cap_ = std::max(text.size(), grams_cap_ * 2);
    grams_ = std::make_unique_for_overwrite<uint64_t[]>(grams_cap_);
  }
  const uint64_t* end = grams(text, gram_size, fold_case, grams_.get());
  return {grams_.get(), static_cast<size_t>(end - grams_.get())};
}

uint64_t* NgramKeyer::grams(std::string_view text, size_t gram_size, bool fold_case, uint64_t* out) {
  return gram_size == 3 ? scan<false, true>(text, 3, fold_case, out)
                        : scan<false, false>(text, gram_size, fold_case, out);
}

// The key of the gram that ends the word; `ascii_run` and `packed` are the
// word's trailing ASCII characters, as kept by scan().
inline uint64_t NgramKeyer::gram_key(const char32_t* word, size_t len, size_t n,
                                     size_t ascii_run, uint64_t packed) {
  if (n >= 3 && n <= 8 && ascii_run >= n) {
    return n == 8 ? packed : packed & ((uint64_t{1} << (8 * n)) - 1);
  }
  if (n == 1) return word[len - 1];
  if (n == 2) return (uint64_t{word[len - 2]} << 32) | word[len - 1];
  return fnv1a_utf32le(word + len - n, n);
}

char32_t* NgramKeyer::grow_word() {
  word_.resize(word_.size() * 2);
  return word_.data();
}

char32_t* NgramKeyer::grow_word(size_t* capacity) {
  char32_t* word = grow_word();
  *capacity = word_.size();
  return word;
}

// The grams of the ASCII bytes from `pos` on, until the first byte of a
// multi-byte character or the end; returns where it stopped. State is
// that of scan(). Word boundaries and dropped characters are too frequent
// in prose to branch on, so every byte takes the same steps: its slot in
// the word and the next key are written whatever it is, and only the
// counts decide what stays. A key always fits: each gram ends at a kept
// character, so at most `pos` keys precede byte `pos`, and `out` holds at
// least one key per byte of the text.
size_t NgramKeyer::ascii_grams(std::string_view text, size_t pos, size_t n, bool fold_case,
                               const std::array<uint8_t, 128>& ascii, char32_t** word,
                               size_t* len_io, size_t* run_io, uint64_t* packed_io,
                               uint64_t** out_io) {
  const uint64_t mask = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
  const char* const begin = text.data();
  const size_t size = text.size();
  char32_t* w = *word;
  size_t len = *len_io;
  size_t run = *run_io;
  uint64_t packed = *packed_io;
  uint64_t* out = *out_io;
  for (;;) {
    // Sixteen bytes at a time where they are ASCII and no gram that ends in
    // them can reach a multi-byte character of the word.
    if (ascii_stage::kVectorized && (run == len || run + 1 >= n) && size - pos >= 16 &&
        ascii16(begin + pos)) {
      pos = staged_ascii_grams(text, pos, n, fold_case, w, &len, &run, &packed, &out);
      break;
    }
    // Eight bytes at a time while they are ASCII and so is the word so far:
    // then the word is one ASCII run and every gram is a packed key.
    while (run == len && pos + 8 <= size) {
      uint64_t chunk;
      std::memcpy(&chunk, begin + pos, 8);
      if ((chunk & 0x8080808080808080ULL) != 0) break;
      if (len + 8 > word_.size()) w = grow_word();
#pragma GCC unroll 8
      for (int k = 0; k < 8; ++k) {
        const uint32_t cls = ascii[(chunk >> (8 * k)) & 0x7F];
        // Arithmetic rather than comparisons, so that no branch is taken
        // on the character: kept characters are >= 2, kSplit is 1.
        const size_t keep = (cls + 254) >> 8;
        const size_t stay = -(((cls ^ kSplit) + 255) >> 8);  // all ones unless a split
        w[len] = cls;  // overwritten later unless kept
        packed = (packed << (keep << 3)) | (cls & -keep);
        len = (len + keep) & stay;
        *out = packed & mask;
        out += keep & (len >= n);
      }
      run = len;
      pos += 8;
    }
    if (pos == size) break;
    const uint8_t b = static_cast<uint8_t>(begin[pos]);
    if (b >= 0x80) break;
    ++pos;
    // One byte, where the word may hold a multi-byte character.
    const uint32_t cls = ascii[b];
    const size_t keep = (cls + 254) >> 8;
    const size_t stay = -(((cls ^ kSplit) + 255) >> 8);
    if (len == word_.size()) w = grow_word();
    w[len] = cls;
    packed = (packed << (keep << 3)) | (cls & -keep);
    len = (len + keep) & stay;
    run = (run + keep) & stay;
    if (keep == 0 || len < n) continue;
    // A gram of the run's last n characters, or one that reaches back to a
    // multi-byte character of the word.
    *out++ = run >= n ? packed & mask : fnv1a_utf32le(w + len - n, n);
  }
  *word = w;
  *len_io = len;
  *run_io = run;
  *packed_io = packed;
  *out_io = out;
  return pos;
}

// The grams of the ASCII text from `pos` on, up to the first byte >= 0x80
// or the end, through the stage of ascii_stage; returns where it stopped.
// The stage starts with the word's last characters, and afterwards holds
// its new last ones: the state of scan() is taken from it and given back
// with the word cut to at most its last eight characters, all ASCII, which
// is all that a gram of eight or fewer can reach.
size_t NgramKeyer::staged_ascii_grams(std::string_view text, size_t pos, size_t n,
                                      bool fold_case, char32_t* word, size_t* len_io,
                                      size_t* run_io, uint64_t* packed_io, uint64_t** out_io) {
  namespace st = ascii_stage;
  if (!stage_) stage_ = std::make_unique_for_overwrite<uint8_t[]>(st::kStageBytes);
  uint8_t* const stage = stage_.get();
  static_assert(st::kContext == 8);
  put_last_eight(stage, *packed_io, std::min<size_t>(*run_io, 8));
  uint64_t* out = *out_io;
  for (;;) {
    const size_t staged = st::stage(text.data(), text.size(), &pos, fold_case, stage + 8);
    out = st::keys(stage, 8 + staged, n, out);
    std::memmove(stage, stage + staged, 8);
    if (pos == text.size() || static_cast<uint8_t>(text[pos]) >= 0x80) break;
  }
  size_t run = 0;
  while (run < 8 && stage[7 - run] > ' ') ++run;
  uint64_t packed;
  std::memcpy(&packed, stage, 8);
  if constexpr (std::endian::native == std::endian::little) packed = __builtin_bswap64(packed);
  for (size_t k = 0; k < run; ++k) word[k] = stage[8 - run + k];
  *len_io = run;
  *run_io = run;
  *packed_io = packed;
  *out_io = out;
  return pos;
}

// One pass over the text. With kDistinct each key goes through the set of
// seen keys into out_; otherwise every key is stored at `out`, and the end
// of what was stored is returned. kTrigrams (with gram_size 3) hashes grams
// through TrigramHashes rather than from the word.
template <bool kDistinct, bool kTrigrams>
uint64_t* NgramKeyer::scan(std::string_view text, size_t gram_size, bool fold_case,
                           uint64_t* out) {
  const size_t n = gram_size;
  if (n == 0) return out;
  const std::array<uint8_t, 128>& ascii = fold_case ? kAsciiFolded : kAsciiExact;
  const unicode::KeyCharTable& key_table = unicode::KeyCharTable::get();

  // Kept characters of the current word. Only the last n matter for a key,
  // but hashed grams read them back, so the word is kept whole.
  if (word_.size() < 64) word_.resize(64);
  char32_t* word = word_.data();
  size_t word_cap = word_.size();
  size_t len = 0;        // characters of the current word
  size_t ascii_run = 0;  // trailing characters of the word below U+0080
  uint64_t packed = 0;   // those characters, 8 bits each, last one lowest
  TrigramHashes hashes;

  const char* const begin = text.data();
  const size_t size = text.size();
  size_t pos = 0;
  while (pos < size) {
    const uint8_t b = static_cast<uint8_t>(begin[pos]);
    char32_t c;
    if (b < 0x80) {
      if constexpr (!kDistinct) {
        // Short ASCII pieces, as between the words of other scripts, are
        // cheaper here than through the set-up of the ASCII path, and so
        // are the first characters after a multi-byte one in a word, whose
        // grams are hashed.
        if (n >= 3 && n <= 8 && (ascii_run + 1 >= n || ascii_run == len) && size - pos >= 8 &&
            ascii8(begin + pos)) {
          pos = ascii_grams(text, pos, n, fold_case, ascii, &word, &len, &ascii_run, &packed, &out);
          if constexpr (kTrigrams) hashes.restart(word, len);
          continue;  // at a multi-byte character or the end
        }
      }
      ++pos;
      const uint8_t cls = ascii[b];
      if (cls <= kSplit) {
        if (cls == kSplit) len = 0, ascii_run = 0;
        continue;
      }
      c = cls;
      packed = (packed << 8) | c;
      ++ascii_run;
    } else {
      size_t at = pos;  // pos itself stays in a register
      const char32_t cp = decode_at(text, &at);
      pos = at;
      if (cp < unicode::KeyCharTable::kLimit) {
        c = key_table.lookup(cp, fold_case);
      } else {
        c = unicode::key_char_inline(cp, fold_case);
      }
      if (c - 0x80 < unicode::kDropChar - 0x80) [[likely]] {  // kept, not ASCII
        ascii_run = 0;
      } else if (c < 0x80) {
        packed = (packed << 8) | c;
        ++ascii_run;
      } else {
        if (c == unicode::kSplitChar) len = 0, ascii_run = 0;
        continue;
      }
    }

    if (len == word_cap) word = grow_word(&word_cap);
    word[len++] = c;
    uint64_t key;
    if constexpr (kTrigrams) {
      const uint64_t two = hashes.two;
      hashes.push(c);
      if (len < 3) continue;
      key = ascii_run >= 3 ? packed & 0xFFFFFF : fnv1a_char(two, c);
    } else {
      if (len < n) continue;
      key = gram_key(word, len, n, ascii_run, packed);
    }
    if constexpr (kDistinct) {
      insert(key);
    } else {
      *out++ = key;
    }
  }
  return out;
}

bool ngram_keys_hashed_above_32_bits(size_t gram_size) {
  return gram_size != 2 && (gram_size < 5 || gram_size > 8);
}

std::vector<uint64_t> ngram_keys(std::string_view text, size_t gram_size, bool fold_case) {
  if (gram_size == 0) return {};
  NgramKeyer keyer;
  return keyer.keys(text, gram_size, fold_case);
}

}  // namespace vellum
