#include "lib/args.h"

#include <limits>

#include "lib/py_ref.h"

namespace vellum::py {

namespace {

constexpr const char kOutOfRange[] = "out of range integral type conversion attempted";

// Integers go through the index protocol, then the interpreter's own
// conversion to a machine integer, then the parameter's range.
template <typename T>
bool to_small_unsigned(PyObject* o, T* out) {
  Ref index(PyNumber_Index(o));
  if (!index) return false;
  long long v = PyLong_AsLongLong(index.get());
  if (v == -1 && PyErr_Occurred()) return false;
  if (v < 0 || static_cast<unsigned long long>(v) > std::numeric_limits<T>::max()) {
    PyErr_SetString(PyExc_OverflowError, kOutOfRange);
    return false;
  }
  *out = static_cast<T>(v);
  return true;
}

}  // namespace

bool type_error(PyObject* o, const char* target) {
  PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'",
               type_name(o).c_str(), target);
  return false;
}

std::string type_name(PyObject* o) {
  Ref name(PyType_GetName(Py_TYPE(o)));
  if (!name) {
    PyErr_Clear();
    return "object";
  }
  Py_ssize_t len = 0;
  const char* s = PyUnicode_AsUTF8AndSize(name.get(), &len);
  if (s == nullptr) {
    PyErr_Clear();
    return "object";
  }
  return std::string(s, static_cast<size_t>(len));
}

bool bind(PyObject* args, PyObject* kwargs, const char* format,
          const char* const* keywords, PyObject* (&o)[kMaxParams]) {
  for (PyObject*& p : o) p = nullptr;
  // Unused trailing pointers are ignored: the format says how many it reads.
  return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords),
                                     &o[0], &o[1], &o[2], &o[3], &o[4], &o[5], &o[6],
                                     &o[7], &o[8], &o[9], &o[10], &o[11]) != 0;
}

bool arg(const char* name, bool converted) {
  if (converted) return true;
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  Ref t(type), v(value), trace(tb);
  Ref text(v ? PyObject_Str(v.get()) : nullptr);
  if (!text) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "argument '%s': conversion failed", name);
    return false;
  }
  PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text.get());
  return false;
}

bool to_u8(PyObject* o, uint8_t* out) { return to_small_unsigned(o, out); }
bool to_u16(PyObject* o, uint16_t* out) { return to_small_unsigned(o, out); }
bool to_u32(PyObject* o, uint32_t* out) { return to_small_unsigned(o, out); }

bool to_u64(PyObject* o, uint64_t* out) {
  Ref index(PyNumber_Index(o));
  if (!index) return false;
  unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  *out = v;
  return true;
}

bool to_size(PyObject* o, size_t* out) {
  uint64_t v;
  if (!to_u64(o, &v)) return false;
  *out = static_cast<size_t>(v);
  return true;
}

bool to_i64(PyObject* o, int64_t* out) {
  if (PyLong_Check(o)) {  // already an int: no index object to make
    long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) return false;
    *out = v;
    return true;
  }
  Ref index(PyNumber_Index(o));
  if (!index) return false;
  long long v = PyLong_AsLongLong(index.get());
  if (v == -1 && PyErr_Occurred()) return false;
  *out = v;
  return true;
}

bool to_bool(PyObject* o, bool* out) {
  if (PyBool_Check(o)) {
    *out = (o == Py_True);
    return true;
  }
  // NumPy's boolean scalar is not a bool subclass but means the same.
  std::string name = type_name(o);
  if (name == "bool_" || name == "bool") {
    Ref module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__module__"));
    if (module && PyUnicode_Check(module.get()) &&
        PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0) {
      int truth = PyObject_IsTrue(o);
      if (truth < 0) return false;
      *out = truth != 0;
      return true;
    }
    PyErr_Clear();
  }
  return type_error(o, "bool");
}

bool to_str_view(PyObject* o, std::string_view* out) {
  if (!PyUnicode_Check(o)) return type_error(o, "str");
  Py_ssize_t len = 0;
  const char* s = PyUnicode_AsUTF8AndSize(o, &len);  // raises on lone surrogates
  if (s == nullptr) return false;
  *out = std::string_view(s, static_cast<size_t>(len));
  return true;
}

bool to_str(PyObject* o, std::string* out) {
  std::string_view s;
  if (!to_str_view(o, &s)) return false;
  out->assign(s);
  return true;
}

PyObject* SeqView::peek(Py_ssize_t i) const {
  if (kind_ == 1) return i < PyList_Size(seq_) ? PyList_GetItem(seq_, i) : nullptr;
  if (kind_ == 2) return i < size_ ? PyTuple_GetItem(seq_, i) : nullptr;
  return nullptr;
}

bool to_bytes_view(PyObject* o, std::string_view* out, std::string* scratch) {
  if (PyBytes_Check(o)) {
    char* p = nullptr;
    Py_ssize_t n = 0;
    if (PyBytes_AsStringAndSize(o, &p, &n) < 0) return false;
    *out = std::string_view(p, static_cast<size_t>(n));
    return true;
  }
  if (!to_bytes(o, scratch)) return false;
  *out = *scratch;
  return true;
}

bool SeqView::open(PyObject* o) {
  if (PyUnicode_Check(o)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (PyList_Check(o)) {
    kind_ = 1;
  } else if (PyTuple_Check(o)) {
    kind_ = 2;
  } else if (PySequence_Check(o)) {
    kind_ = 3;
  } else {
    return type_error(o, "Sequence");
  }
  Py_ssize_t n = PySequence_Size(o);
  if (n < 0) return false;
  seq_ = o;
  size_ = n;
  return true;
}

PyObject* SeqView::item(Py_ssize_t i) const {
  PyObject* it = nullptr;
  // A list may shrink while its elements convert (they can run Python code),
  // so the borrowed forms are bounds-checked by the interpreter on each read.
  if (kind_ == 1) {
    it = PyList_GetItem(seq_, i);
    Py_XINCREF(it);
  } else if (kind_ == 2) {
    it = PyTuple_GetItem(seq_, i);
    Py_XINCREF(it);
  } else {
    it = PySequence_GetItem(seq_, i);
  }
  return it;
}

bool to_bytes(PyObject* o, std::string* out) {
  if (PyBytes_Check(o)) {
    char* p = nullptr;
    Py_ssize_t n = 0;
    if (PyBytes_AsStringAndSize(o, &p, &n) < 0) return false;
    out->assign(p, static_cast<size_t>(n));
    return true;
  }
  if (PyByteArray_Check(o)) {
    out->assign(PyByteArray_AsString(o), static_cast<size_t>(PyByteArray_Size(o)));
    return true;
  }
  SeqView seq;
  if (!seq.open(o)) return false;
  std::string bytes;
  bytes.reserve(static_cast<size_t>(seq.size()));
  for (Py_ssize_t i = 0; i < seq.size(); ++i) {
    Ref item(seq.item(i));
    if (!item) return false;
    uint8_t b;
    if (!to_u8(item.get(), &b)) return false;
    bytes.push_back(static_cast<char>(b));
  }
  *out = std::move(bytes);
  return true;
}

bool to_str_list(PyObject* o, std::vector<std::string>* out) {
  return to_list_of<std::string>(o, out);
}

bool unpack_tuple(PyObject* o, Py_ssize_t n, PyObject** items) {
  if (!PyTuple_Check(o)) return type_error(o, "tuple");
  Py_ssize_t len = PyTuple_Size(o);
  if (len != n) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd",
                 n, len);
    return false;
  }
  for (Py_ssize_t i = 0; i < n; ++i) items[i] = PyTuple_GetItem(o, i);
  return true;
}

}  // namespace vellum::py
