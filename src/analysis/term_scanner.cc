#include "analysis/term_scanner.h"

#include <array>

#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum {
namespace {

// Byte classes. kKeep: an ASCII term character that folding leaves alone;
// kUpper: A-Z when folding; kSeparator: any other ASCII; kMultiByte: the
// lead or continuation byte of a longer sequence, decoded on the slow path.
enum : uint8_t { kSeparator, kKeep, kUpper, kMultiByte };

constexpr std::array<uint8_t, 256> make_byte_classes(bool fold) {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    if (c >= 0x80) {
      t[c] = kMultiByte;
    } else if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) {
      t[c] = kKeep;
    } else if (c >= 'A' && c <= 'Z') {
      t[c] = fold ? kUpper : kKeep;
    } else {
      t[c] = kSeparator;
    }
  }
  return t;
}

constexpr std::array<uint8_t, 256> kFoldClasses = make_byte_classes(true);
constexpr std::array<uint8_t, 256> kExactClasses = make_byte_classes(false);

}  // namespace

TermScanner::TermScanner(bool fold)
    : fold_(fold), byte_class_(fold ? kFoldClasses.data() : kExactClasses.data()) {}

size_t TermScanner::skip_separators(size_t i) const {
  const size_t n = text_.size();
  while (i < n) {
    const uint8_t c = byte_class_[static_cast<uint8_t>(text_[i])];
    if (c == kKeep || c == kUpper) return i;
    if (c == kSeparator) {
      ++i;
      continue;
    }
    size_t j = i;
    if (unicode::is_alphanumeric(utf8::decode(text_, &j))) return i;
    i = j;
  }
  return n;
}

// True when folding replaces `cp`; its mapping is then in lower[0..*k).
bool TermScanner::fold_changes(char32_t cp, char32_t lower[3], size_t* k) const {
  if (!fold_) return false;
  *k = unicode::to_lower_full(cp, lower);
  return *k != 1 || lower[0] != cp;
}

// Advances over run characters that folding leaves unchanged. Stops at the
// end of the run, or with *changed set at the first character it changes.
size_t TermScanner::scan_unchanged(size_t i, bool* changed) const {
  const size_t n = text_.size();
  for (;;) {
    while (i < n && byte_class_[static_cast<uint8_t>(text_[i])] == kKeep) ++i;
    if (i == n) return i;
    const uint8_t c = byte_class_[static_cast<uint8_t>(text_[i])];
    if (c == kSeparator) return i;
    if (c == kUpper) {
      *changed = true;
      return i;
    }
    size_t j = i;
    const char32_t cp = utf8::decode(text_, &j);
    char32_t lower[3];
    size_t k;
    if (!unicode::is_alphanumeric(cp)) return i;
    if (fold_changes(cp, lower, &k)) {
      *changed = true;
      return i;
    }
    i = j;
  }
}

// Appends the folded rest of the run from `i` to folded_.
size_t TermScanner::scan_folding(size_t i) {
  const size_t n = text_.size();
  for (;;) {
    size_t k = i;
    while (k < n && byte_class_[static_cast<uint8_t>(text_[k])] == kKeep) ++k;
    folded_.append(text_.data() + i, k - i);
    i = k;
    if (i == n) return i;
    const uint8_t b = static_cast<uint8_t>(text_[i]);
    const uint8_t c = byte_class_[b];
    if (c == kSeparator) return i;
    if (c == kUpper) {
      folded_.push_back(static_cast<char>(b + ('a' - 'A')));
      ++i;
      continue;
    }
    size_t j = i;
    const char32_t cp = utf8::decode(text_, &j);
    if (!unicode::is_alphanumeric(cp)) return i;
    char32_t lower[3];
    size_t count;
    if (fold_changes(cp, lower, &count)) {
      for (size_t m = 0; m < count; ++m) utf8::append(&folded_, lower[m]);
    } else {
      folded_.append(text_.data() + i, j - i);
    }
    i = j;
  }
}

bool TermScanner::next(std::string_view* run) {
  const size_t start = skip_separators(pos_);
  if (start == text_.size()) {
    pos_ = start;
    return false;
  }
  // A run is a slice of the text until folding changes a character; from
  // there on it is built in folded_.
  bool changed = false;
  size_t i = scan_unchanged(start, &changed);
  if (!changed) {
    pos_ = i;
    *run = text_.substr(start, i - start);
    return true;
  }
  folded_.assign(text_.data() + start, i - start);
  pos_ = scan_folding(i);
  *run = folded_;
  return true;
}

}  // namespace vellum
