#include "analysis/ngram_keys.h"

#include <algorithm>
#include <array>
#include <bit>

#include "analysis/unicode.h"
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

// FNV-1a 64 over the gram as UTF-32LE.
uint64_t fnv1a_utf32le(const char32_t* cps, size_t n) {
  uint64_t h = kFnv1aOffset;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = cps[i];
    for (int b = 0; b < 4; ++b) h = fnv1a_byte(h, static_cast<uint8_t>(c >> (8 * b)));
  }
  return h;
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
  const size_t n = gram_size;
  if (n == 0) return out_;

  const std::array<uint8_t, 128>& ascii = fold_case ? kAsciiFolded : kAsciiExact;
  const bool packs_ascii = n >= 3 && n <= 8;
  const uint64_t pack_mask = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;

  // Kept characters of the current word. Only the last n matter for a key,
  // but hashed grams read them back, so the word is kept whole.
  if (word_.size() < 64) word_.resize(64);
  char32_t* word = word_.data();
  size_t cap = word_.size();
  size_t len = 0;        // characters of the current word
  size_t ascii_run = 0;  // trailing characters of the word below U+0080
  uint64_t packed = 0;   // those characters, 8 bits each, last one lowest

  const char* const begin = text.data();
  const size_t size = text.size();
  size_t pos = 0;
  while (pos < size) {
    const uint8_t b = static_cast<uint8_t>(begin[pos]);
    char32_t c;
    if (b < 0x80) {
      ++pos;
      const uint8_t cls = ascii[b];
      if (cls <= kSplit) {
        if (cls == kSplit) len = 0, ascii_run = 0;
        continue;
      }
      c = cls;
    } else {
      c = utf8::decode(text, &pos);
      if (unicode::is_white_space(c)) {
        len = 0, ascii_run = 0;
        continue;
      }
      // The category test is on the character as written, before folding.
      if (!unicode::is_letter_or_digit(c)) continue;
      if (fold_case) c = unicode::to_lower_first(c);
    }

    if (len == cap) {
      word_.resize(cap * 2);
      word = word_.data();
      cap = word_.size();
    }
    word[len++] = c;
    if (c < 0x80) {
      packed = (packed << 8) | c;
      ++ascii_run;
    } else {
      ascii_run = 0;
    }
    if (len < n) continue;

    uint64_t key;
    if (packs_ascii && ascii_run >= n) {
      key = packed & pack_mask;
    } else if (n == 1) {
      key = c;
    } else if (n == 2) {
      key = (uint64_t{word[len - 2]} << 32) | c;
    } else {
      key = fnv1a_utf32le(word + len - n, n);
    }
    insert(key);
  }
  return out_;
}

std::vector<uint64_t> ngram_keys(std::string_view text, size_t gram_size, bool fold_case) {
  if (gram_size == 0) return {};
  NgramKeyer keyer;
  return keyer.keys(text, gram_size, fold_case);
}

}  // namespace vellum
