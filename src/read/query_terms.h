// Pieces shared by the lookups of single files and of split sets: the
// problem of a query a target cannot answer, and the analysis of query
// texts into terms with the settings a VLTI header records.
#ifndef VELLUM_READ_QUERY_TERMS_H_
#define VELLUM_READ_QUERY_TERMS_H_

#include <string>
#include <vector>

#include "read/problem.h"
#include "read/vlti_reader.h"

namespace vellum {

// Names no file: the query, not stored bytes, is at fault.
Problem query_problem(std::string what);

// The terms of `texts` in order, analysed as the file's terms were; a
// problem when none is left (all stop words, or no word at all).
Checked<std::vector<std::string>> analyzed_terms(const VltiHeader& h, const std::vector<std::string>& texts);

}  // namespace vellum

#endif  // VELLUM_READ_QUERY_TERMS_H_
