// The built-in stop-word lists of the analysis languages. Each list is
// split into entries the first time its language is consulted (once per
// process, safe under concurrent first use) and is read-only afterwards;
// entries point into the built-in text and are never copied.
#ifndef VELLUM_ANALYSIS_STOPWORDS_H_
#define VELLUM_ANALYSIS_STOPWORDS_H_

#include <span>
#include <string_view>

#include "analysis/stem_language.h"

namespace vellum {

// The entries of `lang`'s list, unique and in ascending byte order. The
// span stays valid for the life of the process.
std::span<const std::string_view> stopword_list(StemLanguage lang);

// Exact, case-sensitive match of the whole of `term` (UTF-8 bytes) against
// `lang`'s list, by binary search over raw bytes.
bool is_stopword(std::string_view term, StemLanguage lang);

// The same search over a list obtained from stopword_list, for callers
// that hold on to the list.
bool contains_stopword(std::span<const std::string_view> list, std::string_view term);

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_STOPWORDS_H_
