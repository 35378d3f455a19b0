// Reader reports as Python objects: maps become dicts (keys in report
// order), lists lists, text str, bytes bytes, numbers int or float, null
// None; and reader problems as dicts or as a ValueError.
#ifndef VELLUM_LIB_REPORT_PY_H_
#define VELLUM_LIB_REPORT_PY_H_

#include "lib/python.h"
#include "read/problem.h"
#include "read/report.h"

namespace vellum::py {

PyObject* to_py(const Report& report);

// {"file", "region", "offset", "what"}.
PyObject* problem_to_py(const Problem& p);

// Raises ValueError with the problem's description (only what is wrong
// for a problem naming no file); returns nullptr.
PyObject* raise_problem(const Problem& p);

}  // namespace vellum::py

#endif  // VELLUM_LIB_REPORT_PY_H_
