#include "lib/vector_args.h"

#include <bit>
#include <cstring>
#include <string_view>

#include "lib/py_ref.h"

namespace vellum::py {

namespace {

// 'f' or 'd' in native byte order: the only layouts read directly.
char native_float_format(const char* format) {
  if (format == nullptr) return 0;
  std::string_view f(format);
  if (!f.empty() && (f[0] == '@' || f[0] == '=' ||
                     (f[0] == '<' && std::endian::native == std::endian::little))) {
    f.remove_prefix(1);
  }
  return f == "f" || f == "d" ? f[0] : 0;
}

template <typename T>
void read_strided(const Py_buffer& view, std::vector<float>* out) {
  const Py_ssize_t n = view.shape[0];
  const Py_ssize_t stride = view.strides != nullptr ? view.strides[0] : view.itemsize;
  const char* p = static_cast<const char*>(view.buf);
  for (Py_ssize_t i = 0; i < n; ++i, p += stride) {
    T v;
    std::memcpy(&v, p, sizeof v);
    out->push_back(static_cast<float>(v));
  }
}

// Reads a 1-D float32/float64 buffer; false (no exception) for anything else.
bool append_from_buffer(PyObject* o, std::vector<float>* out) {
  if (!PyObject_CheckBuffer(o)) return false;
  Py_buffer view;
  if (PyObject_GetBuffer(o, &view, PyBUF_RECORDS_RO) != 0) {
    PyErr_Clear();
    return false;
  }
  const char kind = native_float_format(view.format);
  const bool usable = view.ndim == 1 && view.shape != nullptr &&
                      ((kind == 'f' && view.itemsize == 4) || (kind == 'd' && view.itemsize == 8));
  if (usable) {
    if (out->empty()) out->reserve(static_cast<size_t>(view.shape[0]));
    if (kind == 'f') {
      read_strided<float>(view, out);
    } else {
      read_strided<double>(view, out);
    }
  }
  PyBuffer_Release(&view);
  return usable;
}

bool append_from_sequence(PyObject* o, std::vector<float>* out) {
  SeqView seq;
  if (!seq.open(o)) return false;
  const size_t before = out->size();
  if (out->empty()) out->reserve(static_cast<size_t>(seq.size()));
  for (Py_ssize_t i = 0; i < seq.size(); ++i) {
    Ref item(seq.item(i));
    double v = item ? PyFloat_AsDouble(item.get()) : -1.0;
    if (!item || (v == -1.0 && PyErr_Occurred())) {
      out->resize(before);
      return false;
    }
    out->push_back(static_cast<float>(v));
  }
  return true;
}

}  // namespace

bool append_floats(PyObject* o, std::vector<float>* out) {
  if (append_from_buffer(o, out)) return true;
  return append_from_sequence(o, out);
}

bool Arg<VectorBatch>::convert(PyObject* o, VectorBatch* out) {
  SeqView seq;
  if (!seq.open(o)) return false;
  VectorBatch batch;
  const size_t n = static_cast<size_t>(seq.size());
  batch.ids.reserve(n);
  batch.lengths.reserve(n);
  for (Py_ssize_t i = 0; i < seq.size(); ++i) {
    Ref pair(seq.item(i));
    if (!pair) return false;
    PyObject* f[2];
    uint32_t id;
    if (!unpack_tuple(pair.get(), 2, f) || !to_u32(f[0], &id)) return false;
    const size_t before = batch.values.size();
    if (!append_floats(f[1], &batch.values)) return false;
    // The first row tells how much room the whole batch needs.
    if (i == 0) batch.values.reserve(n * batch.values.size());
    batch.ids.push_back(id);
    batch.lengths.push_back(batch.values.size() - before);
  }
  *out = std::move(batch);
  return true;
}

}  // namespace vellum::py
