// Default (locale-independent) full lowercase conversion of whole strings,
// including the final-sigma rule. Facet keys use it.
#ifndef VELLUM_ANALYSIS_LOWERCASE_H_
#define VELLUM_ANALYSIS_LOWERCASE_H_

#include <string>
#include <string_view>

namespace vellum {

// Full lowercase mapping of a UTF-8 string; U+03A3 becomes U+03C2 where it
// ends a word (the final-sigma condition) and U+03C3 elsewhere.
std::string to_lower_full(std::string_view utf8);

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_LOWERCASE_H_
