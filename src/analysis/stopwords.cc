#include "analysis/stopwords.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

#include "analysis/stopword_data.h"

namespace vellum {
namespace {

static_assert(kStopwordText.size() == kStemLanguageCount);

// Splits at LF, dropping one CR before it; the final line end yields no
// empty entry.
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> entries;
  while (!text.empty()) {
    size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    entries.push_back(line);
  }
  return entries;
}

struct LazyList {
  std::once_flag once;
  std::vector<std::string_view> entries;
};

// The one piece of process-wide mutable state: filled once per language.
std::array<LazyList, kStemLanguageCount>& lists() {
  static std::array<LazyList, kStemLanguageCount> all;
  return all;
}

}  // namespace

std::span<const std::string_view> stopword_list(StemLanguage lang) {
  const size_t i = language_index(lang);
  LazyList& list = lists()[i];
  std::call_once(list.once, [&] { list.entries = split_lines(kStopwordText[i]); });
  return list.entries;
}

bool contains_stopword(std::span<const std::string_view> list, std::string_view term) {
  // string_view compares bytes as unsigned char, i.e. raw byte order.
  auto it = std::lower_bound(list.begin(), list.end(), term);
  return it != list.end() && *it == term;
}

bool is_stopword(std::string_view term, StemLanguage lang) {
  return contains_stopword(stopword_list(lang), term);
}

}  // namespace vellum
