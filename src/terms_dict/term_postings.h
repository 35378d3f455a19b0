// The input of the term index writer: every distinct term with its set of
// document ids. A flat vector rather than a tree: collectors hash terms
// while adding and sort the distinct ones once, at the end.
#ifndef VELLUM_TERMS_DICT_TERM_POSTINGS_H_
#define VELLUM_TERMS_DICT_TERM_POSTINGS_H_

#include <string>
#include <vector>

#include "index/bitmap.h"

namespace vellum {

struct TermPosting {
  std::string term;  // UTF-8 as analysed; compared as raw bytes
  Bitmap ids;
};

// encode_term_index needs the terms distinct and in ascending byte order.
using TermPostings = std::vector<TermPosting>;

// Orders `postings` by term bytes, ascending. Terms must already be distinct.
void sort_term_postings(TermPostings* postings);

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_TERM_POSTINGS_H_
