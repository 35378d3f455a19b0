#include "terms_dict/term_postings.h"

#include <algorithm>

namespace vellum {

void sort_term_postings(TermPostings* postings) {
  // std::string's operator< compares as unsigned bytes (char_traits<char>
  // compares through unsigned char), which is the order readers rely on.
  std::sort(postings->begin(), postings->end(),
            [](const TermPosting& a, const TermPosting& b) { return a.term < b.term; });
}

}  // namespace vellum
