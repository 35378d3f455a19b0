// Argument binding and value conversion, shared by every callable.
//
// bind() gives CPython's own TypeErrors for missing, unknown, doubled and
// surplus arguments, naming `Class.method()`. Each bound object is then
// converted in parameter order through Arg<T>, the one converter per C++
// parameter type; arg() re-raises a TypeError as "argument '{name}':
// {message}" and leaves other exceptions unchanged. A conversion writes its
// output only after the whole value has converted, so a failure changes
// nothing. Converters for one class's own argument shapes live with that
// class's binding, as further Arg<T> specialisations.
#ifndef VELLUM_LIB_ARGS_H_
#define VELLUM_LIB_ARGS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// The same conversions without a copy where the object allows it: the UTF-8
// of a `str` (cached by the interpreter) and the buffer of a `bytes`, valid
// while `o` lives and is not changed; other byte sequences are converted
// into `scratch`, which the view then points to.
bool to_str_view(PyObject* o, std::string_view* out);
bool to_bytes_view(PyObject* o, std::string_view* out, std::string* scratch);
bool to_str_list(PyObject* o, std::vector<std::string>* out);

// Sequence access shared by every batch conversion: `str` is refused, and
// lists and tuples are read without a copy.
class SeqView {
 public:
  // Returns false with TypeError when `o` is a str or not a sequence.
  bool open(PyObject* o);
  Py_ssize_t size() const { return size_; }
  // New reference to item i, or nullptr with an exception set.
  PyObject* item(Py_ssize_t i) const;
  // Item i of a list or tuple, borrowed, for a look ahead (prefetching);
  // nullptr, with no exception, when there is none or reading it could run
  // Python code.
  PyObject* peek(Py_ssize_t i) const;

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

// TypeError "'{type}' object cannot be converted to '{target}'"; returns
// false.
bool type_error(PyObject* o, const char* target);

// A `bytes` parameter: any sequence of ints in 0..255 but `str`. A distinct
// type, since `str` parameters also convert to std::string.
struct Bytes {
  std::string data;
};

// The converter of one parameter type: `static bool convert(PyObject*, T*)`,
// false with a Python exception set.
template <typename T>
struct Arg;

#define VELLUM_ARG(type, fn) \
  template <>                \
  struct Arg<type> {         \
    static bool convert(PyObject* o, type* out) { return fn(o, out); } \
  }
VELLUM_ARG(uint8_t, to_u8);
VELLUM_ARG(uint16_t, to_u16);
VELLUM_ARG(uint32_t, to_u32);
VELLUM_ARG(uint64_t, to_u64);
VELLUM_ARG(int64_t, to_i64);
VELLUM_ARG(bool, to_bool);
VELLUM_ARG(std::string, to_str);
VELLUM_ARG(std::vector<std::string>, to_str_list);
#undef VELLUM_ARG

template <>
struct Arg<Bytes> {
  static bool convert(PyObject* o, Bytes* out) { return to_bytes(o, &out->data); }
};

// None, or the inner type.
template <typename T>
struct Arg<std::optional<T>> {
  static bool convert(PyObject* o, std::optional<T>* out) {
    if (o == Py_None) {
      out->reset();
      return true;
    }
    T value;
    if (!Arg<T>::convert(o, &value)) return false;
    *out = std::move(value);
    return true;
  }
};

// A sequence (not `str`) whose elements convert as T; all or nothing.
template <typename T>
bool to_list_of(PyObject* o, std::vector<T>* out) {
  SeqView seq;
  if (!seq.open(o)) return false;
  std::vector<T> items(static_cast<size_t>(seq.size()));
  for (Py_ssize_t i = 0; i < seq.size(); ++i) {
    PyObject* item = seq.item(i);
    if (item == nullptr) return false;
    bool ok = Arg<T>::convert(item, &items[static_cast<size_t>(i)]);
    Py_DECREF(item);
    if (!ok) return false;
  }
  *out = std::move(items);
  return true;
}

}  // namespace vellum::py

#endif  // VELLUM_LIB_ARGS_H_
