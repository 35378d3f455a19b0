// Argument binding and conversion for every callable of the module.
//
// A callable binds its arguments once with bind(), which gives CPython's own
// TypeErrors for missing, unknown, doubled and surplus arguments, naming
// `Class.method()`. It then converts each bound object in parameter order
// with arg(), which re-raises a TypeError as "argument '{name}': {message}"
// and leaves other exceptions unchanged. A conversion writes its output only
// after the whole value has converted, so a failure changes nothing.
#ifndef VELLUM_LIB_ARGS_H_
#define VELLUM_LIB_ARGS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "build/builder.h"
#include "lib/python.h"

namespace vellum::py {

constexpr int kMaxParams = 12;

// Binds `args`/`kwargs` to `out` (borrowed references; nullptr for omitted
// optional parameters). `format` is PyArg_ParseTupleAndKeywords syntax made
// only of "O"s, e.g. "OOO|O:Builder.add"; `keywords` is nullptr-terminated.
bool bind(PyObject* args, PyObject* kwargs, const char* format,
          const char* const* keywords, PyObject* (&out)[kMaxParams]);

// Converts one argument: on failure re-raises a TypeError with the
// parameter's name and returns false.
bool arg(const char* name, bool converted);

// Value conversions. Each returns false with a Python exception set.
bool to_u8(PyObject* o, uint8_t* out);
bool to_u16(PyObject* o, uint16_t* out);
bool to_u32(PyObject* o, uint32_t* out);
bool to_u64(PyObject* o, uint64_t* out);
bool to_i64(PyObject* o, int64_t* out);
bool to_size(PyObject* o, size_t* out);
bool to_bool(PyObject* o, bool* out);
bool to_str(PyObject* o, std::string* out);
bool to_bytes(PyObject* o, std::string* out);
bool to_str_list(PyObject* o, std::vector<std::string>* out);
bool to_facets(PyObject* o, FacetList* out);  // None is the caller's business

// Sequence access shared by every batch conversion: `str` is refused, and
// lists and tuples are read without a copy.
class SeqView {
 public:
  // Returns false with TypeError when `o` is a str or not a sequence.
  bool open(PyObject* o);
  Py_ssize_t size() const { return size_; }
  // New reference to item i, or nullptr with an exception set.
  PyObject* item(Py_ssize_t i) const;

 private:
  PyObject* seq_ = nullptr;
  Py_ssize_t size_ = 0;
  int kind_ = 0;
};

// Checks that `o` is a tuple of exactly `n` elements and returns its items as
// borrowed references.
bool unpack_tuple(PyObject* o, Py_ssize_t n, PyObject** items);

// "'{type}' object" prefix helper for conversion messages.
std::string type_name(PyObject* o);

}  // namespace vellum::py

#endif  // VELLUM_LIB_ARGS_H_
