// What `lookup` answers for a path (see read_target.h), as a remote reader
// would: the ids of the documents matching every query text (substrings by
// n-gram keys for VLS indexes, datasets and n-gram split sets; whole terms,
// analysed with the file's own settings, for VLTI files and term split
// sets) and, when given, in a facet category. A split set also reports,
// per split, whether its summaries let a reader skip it and the global ids
// it contributes, minus tombstones. With `records`, a dataset's answer
// carries the matching records. A reference reader: ids ascending, no
// ranking.
#ifndef VELLUM_READ_LOOKUP_TARGET_H_
#define VELLUM_READ_LOOKUP_TARGET_H_

#include <optional>
#include <string>
#include <vector>

#include "read/problem.h"
#include "read/read_target.h"
#include "read/report.h"
#include "read/split_set_lookup.h"

namespace vellum {

struct TargetQuery {
  std::vector<std::string> texts;  // all must match
  std::optional<FacetSelection> facet;
  bool records = false;
};

// {"kind", "ids", "count"} plus "splits" for a split set and "records"
// when asked. A query the target cannot answer is a problem naming no file.
Checked<Report> lookup_target(const Target& target, const TargetQuery& query);

}  // namespace vellum

#endif  // VELLUM_READ_LOOKUP_TARGET_H_
