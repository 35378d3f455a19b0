// Writer of the VLSF facet sidecar: header, field table, category table
// (each field's categories sorted by facet key), string blob, then each
// category's head and tail postings, in one forward pass.
#ifndef VELLUM_FACET_FACET_SIDECAR_H_
#define VELLUM_FACET_FACET_SIDECAR_H_

#include <cstdint>
#include <string>
#include <vector>

#include "common/sink.h"
#include "common/status.h"

namespace vellum {

struct FacetCategory {
  std::string name;
  std::string head;  // ids below the head boundary (split_head_tail)
  std::string tail;  // ids at or above it
  uint32_t doc_count = 0;
};

struct FacetField {
  std::string name;
  std::vector<FacetCategory> categories;  // ascending by name, by convention
};

// Writes the sidecar to `file` and closes it on every path. Fields keep the
// order given; `fold_case` selects lowercased key input and is recorded as
// the negated case_sensitive flag.
Status write_facet_sidecar(FileSink file, std::vector<FacetField> fields, bool fold_case);

// Same bytes, appended to `out`.
Status encode_facet_sidecar(std::string* out, std::vector<FacetField> fields,
                            bool fold_case);

}  // namespace vellum

#endif  // VELLUM_FACET_FACET_SIDECAR_H_
