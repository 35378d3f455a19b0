#include "lib/builder_rows.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "analysis/utf8_encode.h"
#include "common/prefetch.h"
#include "lib/args.h"
#include "lib/facets_arg.h"
#include "lib/py_ref.h"

namespace vellum::py {

namespace {

// Undoes a batch unless it completed, whatever ends it (a conversion error
// or an exception from the staging).
class BatchGuard {
 public:
  explicit BatchGuard(RecordStaging* staging) : staging_(staging), mark_(staging->mark()) {}
  ~BatchGuard() {
    if (!done_) staging_->rollback(mark_);
  }
  void commit() { done_ = true; }

 private:
  RecordStaging* staging_;
  RecordStaging::Mark mark_;
  bool done_ = false;
};

// Whether every value of the dict is a list or a tuple: reading those runs
// no Python code, so the dict cannot change while it is walked in place.
bool plain_values(PyObject* dict) {
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (!PyList_Check(value) && !PyTuple_Check(value)) return false;
  }
  return true;
}

// Facets of the last staged row, in the same order and with the same errors
// as to_facets.
bool stage_facets(PyObject* dict, RecordStaging* staging) {
  if (!PyDict_Check(dict)) return type_error(dict, "dict");
  if (!plain_values(dict)) {
    // Other sequences may run Python code while converting: take the
    // snapshot path.
    FacetList facets;
    if (!to_facets(dict, &facets)) return false;
    staging->add_facets(facets);
    return true;
  }
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    std::string_view field;
    if (!to_str_view(key, &field)) return false;
    const bool list = PyList_Check(value);
    const Py_ssize_t n = list ? PyList_Size(value) : PyTuple_Size(value);
    if (n == 0) staging->add_facet_field(field);
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = list ? PyList_GetItem(value, i) : PyTuple_GetItem(value, i);
      std::string_view category;
      if (item == nullptr || !to_str_view(item, &category)) return false;
      staging->add_facet(field, category);
    }
  }
  return true;
}

// Rows of a large batch sit all over the interpreter's heap, and converting
// one is mostly waiting for its objects: fetch the row tuple far ahead and,
// once it has arrived, the objects it holds.
constexpr Py_ssize_t kRowAhead = 16;
constexpr Py_ssize_t kItemsAhead = 8;

void prefetch_items(PyObject* row) {
  if (row == nullptr || !PyTuple_Check(row) || PyTuple_Size(row) != 4) return;
  for (Py_ssize_t k = 1; k < 4; ++k) {
    const char* item = reinterpret_cast<const char*>(PyTuple_GetItem(row, k));
    prefetch(item);
    prefetch(item + 64);
  }
}

}  // namespace

bool TextScratch::utf8(PyObject* o, std::string_view* out) {
  if (!PyUnicode_Check(o)) return type_error(o, "str");
  const Py_ssize_t n = PyUnicode_GetLength(o);
  if (n < 0) return false;
  const size_t len = static_cast<size_t>(n);
  if (len > cap_) {
    cap_ = std::max(len, cap_ * 2);
    wide_ = std::make_unique_for_overwrite<Py_UCS4[]>(cap_);
    bytes_ = std::make_unique_for_overwrite<char[]>(utf8::encode_room(cap_));
  }
  if (len == 0) {
    *out = std::string_view();
    return true;
  }
  if (PyUnicode_AsUCS4(o, wide_.get(), n, 0) == nullptr) return false;
  const char* end = utf8::encode(wide_.get(), len, bytes_.get());
  if (end == nullptr) {
    // A lone surrogate: the interpreter raises its own error.
    Py_ssize_t size;
    const char* bytes = PyUnicode_AsUTF8AndSize(o, &size);
    if (bytes == nullptr) return false;
    *out = std::string_view(bytes, static_cast<size_t>(size));
    return true;
  }
  *out = std::string_view(bytes_.get(), static_cast<size_t>(end - bytes_.get()));
  return true;
}

bool stage_row(PyObject* row, RecordStaging* staging, TextScratch* text_scratch) {
  PyObject* f[4];
  if (!unpack_tuple(row, 4, f)) return false;
  int64_t rank;
  std::string_view text;
  std::string_view record;
  std::string scratch;
  if (!to_i64(f[0], &rank) || !text_scratch->utf8(f[1], &text) ||
      !to_bytes_view(f[2], &record, &scratch)) {
    return false;
  }
  staging->add(rank, text, record);
  return f[3] == Py_None || stage_facets(f[3], staging);
}

bool stage_rows(PyObject* rows, RecordStaging* staging) {
  SeqView seq;
  if (!seq.open(rows)) return false;
  BatchGuard guard(staging);
  TextScratch text;
  for (Py_ssize_t i = 0; i < seq.size(); ++i) {
    prefetch(seq.peek(i + kRowAhead));
    prefetch_items(seq.peek(i + kItemsAhead));
    Ref row(seq.item(i));
    if (!row || !stage_row(row.get(), staging, &text)) return false;
  }
  guard.commit();
  return true;
}

}  // namespace vellum::py
