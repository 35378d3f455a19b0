// Conversion of Builder rows, (rank, text, record, facets-or-None) tuples,
// straight into a RecordStaging: texts and records are copied once, from
// the interpreter's own buffers into the staging's arenas, with no
// intermediate strings for `str` texts, `bytes` records and facet dicts of
// lists or tuples.
#ifndef VELLUM_LIB_BUILDER_ROWS_H_
#define VELLUM_LIB_BUILDER_ROWS_H_

#include "build/staging.h"
#include "lib/python.h"

namespace vellum::py {

// Stages one row; false with a Python exception set, in which case the row
// may be partly staged (the caller rolls back).
bool stage_row(PyObject* row, RecordStaging* staging);

// Stages every row of a sequence, or, when a row fails to convert, none:
// the staging is rolled back to where it was, and the error (the same as
// for converting the rows one by one, in order) is set.
bool stage_rows(PyObject* rows, RecordStaging* staging);

}  // namespace vellum::py

#endif  // VELLUM_LIB_BUILDER_ROWS_H_
