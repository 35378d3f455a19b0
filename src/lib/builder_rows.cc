#include "lib/builder_rows.h"

#include <string>
#include <string_view>

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

}  // namespace

bool stage_row(PyObject* row, RecordStaging* staging) {
  PyObject* f[4];
  if (!unpack_tuple(row, 4, f)) return false;
  int64_t rank;
  std::string_view text;
  std::string_view record;
  std::string scratch;
  if (!to_i64(f[0], &rank) || !to_str_view(f[1], &text) ||
      !to_bytes_view(f[2], &record, &scratch)) {
    return false;
  }
  // The row keeps its text alive, and a str's UTF-8 never changes.
  staging->add(rank, text, record);
  return f[3] == Py_None || stage_facets(f[3], staging);
}

bool stage_rows(PyObject* rows, RecordStaging* staging) {
  SeqView seq;
  if (!seq.open(rows)) return false;
  BatchGuard guard(staging);
  for (Py_ssize_t i = 0; i < seq.size(); ++i) {
    Ref row(seq.item(i));
    if (!row || !stage_row(row.get(), staging)) return false;
  }
  guard.commit();
  return true;
}

}  // namespace vellum::py
