// The 18 whole-term analysis languages: their accepted spellings, the
// Snowball algorithm of each, and the code a term index header records.
#ifndef VELLUM_ANALYSIS_STEM_LANGUAGE_H_
#define VELLUM_ANALYSIS_STEM_LANGUAGE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vellum {

// The enumerator value is the language's index; file headers store it + 1.
enum class StemLanguage : uint8_t {
  kEnglish, kSpanish, kArabic, kDanish, kDutch, kFinnish,
  kFrench, kGerman, kGreek, kHungarian, kItalian, kNorwegian,
  kPortuguese, kRomanian, kRussian, kSwedish, kTamil, kTurkish,
};

inline constexpr size_t kStemLanguageCount = 18;

inline constexpr size_t language_index(StemLanguage lang) {
  return static_cast<size_t>(lang);
}

// The language code of a term index header: index + 1 (1 to 18).
inline constexpr uint8_t language_code(StemLanguage lang) {
  return static_cast<uint8_t>(language_index(lang) + 1);
}

// English name ("english"), which is also the Snowball algorithm's name.
std::string_view language_name(StemLanguage lang);

// ISO-639-1 code ("en").
std::string_view language_iso_code(StemLanguage lang);

// Accepts exactly a name or an ISO code after removing Unicode White_Space
// from both ends and lower-casing ASCII A-Z only. Anything else, the empty
// string included, is nullopt. `text` is UTF-8.
std::optional<StemLanguage> parse_language(std::string_view text);

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_STEM_LANGUAGE_H_
