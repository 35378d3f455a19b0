// What `inspect` shows of a path (see read_target.h), as a Report: for a
// file its kind, size, header fields, size by region and a summary
// (documents, keys or terms, the posting-length distribution; lists,
// subquantizers and rotation of a vector index); for a dataset each file
// and the document count; for a split set the manifest header and one row
// per split (id range, tier, size, summary kinds, Bloom bits per key).
// Inspecting reads every byte through the validating readers, so a
// damaged target yields its first problem instead of a partial picture.
#ifndef VELLUM_READ_REPORT_TARGET_H_
#define VELLUM_READ_REPORT_TARGET_H_

#include <string>
#include <string_view>

#include "read/problem.h"
#include "read/read_target.h"
#include "read/report.h"

namespace vellum {

Checked<Report> inspect_target(const Target& target);

// One file's report from its bytes; kind as for verify_file_bytes.
Checked<Report> inspect_file_bytes(TargetKind kind, const std::string& name, std::string_view bytes);

// Posting-length buckets as report rows {"min", "max", "postings"}, from
// bucket 0 (one id) to the last non-empty one; `log2[b]` counts postings
// of 2^b to 2^(b+1) - 1 ids.
template <typename Counts>
Report posting_distribution(const Counts& log2) {
  size_t last = 0;
  for (size_t b = 0; b < log2.size(); ++b) {
    if (log2[b] != 0) last = b + 1;
  }
  Report rows = Report::list();
  for (size_t b = 0; b < last; ++b) {
    rows.push(Report::map()
                  .set("min", uint64_t{1} << b)
                  .set("max", (uint64_t{2} << b) - 1)
                  .set("postings", log2[b]));
  }
  return rows;
}

}  // namespace vellum

#endif  // VELLUM_READ_REPORT_TARGET_H_
