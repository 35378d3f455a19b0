// Writer of VLVI vector index files (layout in vlvi_format.h). Every offset
// follows from the header fields and the list sizes, which the writer
// computes before its first byte; it then writes once, front to back.
#ifndef VELLUM_VECTOR_BUILD_VLVI_WRITER_H_
#define VELLUM_VECTOR_BUILD_VLVI_WRITER_H_

#include <cstdint>
#include <string>

#include "common/sink.h"
#include "common/status.h"
#include "vector_build/ivfpq.h"

namespace vellum {

// Offset of the first list's data: header, rotation, centroids, codebooks
// and directory. Callers pass values already checked to fit.
uint64_t vlvi_data_offset(uint64_t dim, uint64_t nlist, uint8_t nbits, bool rotated);

// Checks that `index` is consistent (array sizes, list counts, code lengths)
// and that its sizes fit the header, then writes it to `sink`. Nothing is
// written when a check fails; a failing append stops the writer with the
// bytes written so far left in the sink.
Status write_vlvi(const IvfPqIndex& index, Sink* sink);

// Creates the missing parents of `path` (when it has any), creates or
// truncates the file and writes `index` into it, closing it on every path.
Status write_vlvi_file(const IvfPqIndex& index, const std::string& path);

}  // namespace vellum

#endif  // VELLUM_VECTOR_BUILD_VLVI_WRITER_H_
