#include "analysis/stem_language.h"

#include <array>
#include <string>

#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum {
namespace {

struct Spelling {
  std::string_view name;
  std::string_view iso;
};

// In StemLanguage order.
constexpr std::array<Spelling, kStemLanguageCount> kSpellings = {{
    {"english", "en"},   {"spanish", "es"},    {"arabic", "ar"},     {"danish", "da"},
    {"dutch", "nl"},     {"finnish", "fi"},    {"french", "fr"},     {"german", "de"},
    {"greek", "el"},     {"hungarian", "hu"},  {"italian", "it"},    {"norwegian", "no"},
    {"portuguese", "pt"}, {"romanian", "ro"},  {"russian", "ru"},    {"swedish", "sv"},
    {"tamil", "ta"},     {"turkish", "tr"},
}};

// `text` without the White_Space code points at either end.
std::string_view trim_white_space(std::string_view text) {
  size_t begin = text.size();
  size_t end = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t at = pos;
    const char32_t cp = utf8::decode(text, &pos);
    if (unicode::is_white_space(cp)) continue;
    if (begin == text.size()) begin = at;
    end = pos;
  }
  return begin < end ? text.substr(begin, end - begin) : std::string_view();
}

}  // namespace

std::string_view language_name(StemLanguage lang) {
  return kSpellings[language_index(lang)].name;
}

std::string_view language_iso_code(StemLanguage lang) {
  return kSpellings[language_index(lang)].iso;
}

std::optional<StemLanguage> parse_language(std::string_view text) {
  std::string key(trim_white_space(text));
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  for (size_t i = 0; i < kSpellings.size(); ++i) {
    if (key == kSpellings[i].name || key == kSpellings[i].iso) {
      return static_cast<StemLanguage>(i);
    }
  }
  return std::nullopt;
}

}  // namespace vellum
