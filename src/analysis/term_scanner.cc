#include "analysis/term_scanner.h"

#include <array>
#include <cstdint>

#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum {
namespace {

// ASCII: 0 for a separator, else the character itself.
constexpr std::array<uint8_t, 128> kAsciiTermChar = [] {
  std::array<uint8_t, 128> t{};
  for (int c = 0; c < 128; ++c) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    t[c] = alnum ? static_cast<uint8_t>(c) : 0;
  }
  return t;
}();

inline bool is_ascii_upper(uint8_t b) { return static_cast<uint8_t>(b - 'A') < 26u; }

}  // namespace

size_t TermScanner::skip_separators(size_t i) const {
  const size_t n = text_.size();
  while (i < n) {
    const uint8_t b = static_cast<uint8_t>(text_[i]);
    if (b < 0x80) {
      if (kAsciiTermChar[b] != 0) return i;
      ++i;
      continue;
    }
    size_t j = i;
    if (unicode::is_alphanumeric(utf8::decode(text_, &j))) return i;
    i = j;
  }
  return n;
}

void TermScanner::start_copy(size_t start, size_t i) {
  folded_.assign(text_.data() + start, i - start);
}

bool TermScanner::next(std::string_view* run) {
  const size_t n = text_.size();
  const size_t start = skip_separators(pos_);
  if (start == n) {
    pos_ = n;
    return false;
  }
  // Until a character changes under folding the run is a slice of the
  // text; from then on it is built in folded_.
  bool copying = false;
  size_t i = start;
  while (i < n) {
    const uint8_t b = static_cast<uint8_t>(text_[i]);
    if (b < 0x80) {
      if (kAsciiTermChar[b] == 0) break;
      if (fold_ && is_ascii_upper(b)) {
        if (!copying) start_copy(start, i), copying = true;
        folded_.push_back(static_cast<char>(b + ('a' - 'A')));
      } else if (copying) {
        folded_.push_back(static_cast<char>(b));
      }
      ++i;
      continue;
    }
    size_t j = i;
    const char32_t cp = utf8::decode(text_, &j);
    if (!unicode::is_alphanumeric(cp)) break;
    if (fold_) {
      char32_t lower[3];
      const size_t k = unicode::to_lower_full(cp, lower);
      if (k != 1 || lower[0] != cp) {
        if (!copying) start_copy(start, i), copying = true;
        for (size_t m = 0; m < k; ++m) utf8::append(&folded_, lower[m]);
      } else if (copying) {
        folded_.append(text_.data() + i, j - i);
      }
    }
    i = j;
  }
  pos_ = i;
  *run = copying ? std::string_view(folded_) : text_.substr(start, i - start);
  return true;
}

}  // namespace vellum
