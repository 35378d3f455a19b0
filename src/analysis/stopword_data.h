// The built-in stop-word lists as stored text: per language, its entries in
// ascending byte order, each followed by CR LF. Generated into
// stopword_data.cc by tools/gen_stopwords.py; read only through stopwords.h.
#ifndef VELLUM_ANALYSIS_STOPWORD_DATA_H_
#define VELLUM_ANALYSIS_STOPWORD_DATA_H_

#include <array>
#include <string_view>

namespace vellum {

// Indexed by StemLanguage.
extern const std::array<std::string_view, 18> kStopwordText;

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_STOPWORD_DATA_H_
