// Conversion of Builder rows, (rank, text, record, facets-or-None) tuples,
// straight into a RecordStaging, with no allocation per row for `str`
// texts, `bytes` records and facet dicts of lists or tuples.
#ifndef VELLUM_LIB_BUILDER_ROWS_H_
#define VELLUM_LIB_BUILDER_ROWS_H_

#include <memory>
#include <string_view>

#include "build/staging.h"
#include "lib/python.h"

namespace vellum::py {

// Reused buffers for the UTF-8 of texts. The interpreter's own UTF-8 form
// of a non-ASCII str is cached in the str object and lives as long as the
// caller's rows do, which would double the memory a staged text costs, so
// texts are read as code points and encoded here instead.
class TextScratch {
 public:
  // The UTF-8 of `o`, valid until the next call; the same errors as a
  // `str` parameter (TypeError, the interpreter's error for a string that
  // cannot be encoded).
  bool utf8(PyObject* o, std::string_view* out);

 private:
  std::unique_ptr<Py_UCS4[]> wide_;
  std::unique_ptr<char[]> bytes_;
  size_t cap_ = 0;
};

// Stages one row; false with a Python exception set, in which case the row
// may be partly staged (the caller rolls back).
bool stage_row(PyObject* row, RecordStaging* staging, TextScratch* text);

// Stages every row of a sequence, or, when a row fails to convert, none:
// the staging is rolled back to where it was, and the error (the same as
// for converting the rows one by one, in order) is set.
bool stage_rows(PyObject* rows, RecordStaging* staging);

}  // namespace vellum::py

#endif  // VELLUM_LIB_BUILDER_ROWS_H_
