#include "lib/builder_type.h"

#include <string>
#include <vector>

#include "build/builder.h"
#include "lib/args.h"
#include "lib/borrow.h"
#include "lib/errors.h"
#include "lib/py_ref.h"
#include "lib/stats.h"

namespace vellum::py {

namespace {

struct BuilderObject {
  PyObject_HEAD
  Builder* core;
  BorrowFlag borrow;
};

BuilderObject* self_of(PyObject* o) { return reinterpret_cast<BuilderObject*>(o); }

// rank, text, record, facets-or-None: the fields of one staged record.
bool to_record(PyObject* rank, PyObject* text, PyObject* record, PyObject* facets,
               StagedRecord* out) {
  if (!arg("rank", to_i64(rank, &out->rank))) return false;
  if (!arg("text", to_str(text, &out->text))) return false;
  if (!arg("record", to_bytes(record, &out->record))) return false;
  if (facets != nullptr && facets != Py_None) {
    if (!arg("facets", to_facets(facets, &out->facets))) return false;
  }
  return true;
}

bool to_rows(PyObject* o, std::vector<StagedRecord>* out) {
  SeqView seq;
  if (!seq.open(o)) return false;
  std::vector<StagedRecord> rows(static_cast<size_t>(seq.size()));
  for (Py_ssize_t i = 0; i < seq.size(); ++i) {
    Ref row(seq.item(i));
    if (!row) return false;
    PyObject* f[4];
    if (!unpack_tuple(row.get(), 4, f)) return false;
    StagedRecord& r = rows[static_cast<size_t>(i)];
    if (!to_i64(f[0], &r.rank) || !to_str(f[1], &r.text) || !to_bytes(f[2], &r.record)) {
      return false;
    }
    if (f[3] != Py_None && !to_facets(f[3], &r.facets)) return false;
  }
  *out = std::move(rows);
  return true;
}

PyObject* builder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const kw[] = {"gram_size", "head_boundary", nullptr};
    PyObject* a[kMaxParams];
    if (!bind(args, kwargs, "|OO:Builder", kw, a)) return nullptr;
    uint16_t gram_size = 3;
    uint32_t head_boundary = 65536;
    if (a[0] && !arg("gram_size", to_u16(a[0], &gram_size))) return nullptr;
    if (a[1] && !arg("head_boundary", to_u32(a[1], &head_boundary))) return nullptr;
    Result<Builder> core = Builder::create(gram_size, head_boundary);
    if (!core.ok()) return raise(core.error());
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = alloc(type, 0);
    if (obj == nullptr) return nullptr;
    self_of(obj)->borrow = 0;
    self_of(obj)->core = nullptr;
    self_of(obj)->core = new Builder(std::move(core).value());
    return obj;
  });
}

void builder_dealloc(PyObject* self) {
  delete self_of(self)->core;
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

PyObject* builder_add(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Borrow borrow(self_of(self)->borrow, Borrow::kExclusive);
    if (!borrow.ok()) return nullptr;
    static const char* const kw[] = {"rank", "text", "record", "facets", nullptr};
    PyObject* a[kMaxParams];
    if (!bind(args, kwargs, "OOO|O:Builder.add", kw, a)) return nullptr;
    StagedRecord record;
    if (!to_record(a[0], a[1], a[2], a[3], &record)) return nullptr;
    self_of(self)->core->add(std::move(record));
    Py_RETURN_NONE;
  });
}

PyObject* builder_add_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Borrow borrow(self_of(self)->borrow, Borrow::kExclusive);
    if (!borrow.ok()) return nullptr;
    static const char* const kw[] = {"rows", nullptr};
    PyObject* a[kMaxParams];
    if (!bind(args, kwargs, "O:Builder.add_many", kw, a)) return nullptr;
    std::vector<StagedRecord> rows;
    if (!arg("rows", to_rows(a[0], &rows))) return nullptr;
    self_of(self)->core->add_many(std::move(rows));
    Py_RETURN_NONE;
  });
}

PyObject* builder_build(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Borrow borrow(self_of(self)->borrow, Borrow::kShared);
    if (!borrow.ok()) return nullptr;
    static const char* const kw[] = {"out_dir", nullptr};
    PyObject* a[kMaxParams];
    if (!bind(args, kwargs, "O:Builder.build", kw, a)) return nullptr;
    std::string out_dir;
    if (!arg("out_dir", to_str(a[0], &out_dir))) return nullptr;
    Result<BuildStats> stats = self_of(self)->core->build(out_dir);
    if (!stats.ok()) return raise(stats.error());
    return new_stats(StatsKind::kBuild, {stats->docs, stats->ngrams, stats->fields});
  });
}

PyMethodDef kMethods[] = {
    {"add", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(builder_add)),
     METH_VARARGS | METH_KEYWORDS,
     "add($self, rank, text, record, facets=None)\n--\n\n"
     "Stages one record: its rank (higher ranks come first), its text, its record bytes "
     "(opaque to vellum; use any encoding — JSON, msgpack, …) and optionally a dict "
     "mapping facet field names to lists of category names."},
    {"add_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(builder_add_many)),
     METH_VARARGS | METH_KEYWORDS,
     "add_many($self, rows)\n--\n\n"
     "Stages a batch of (rank, text, record, facets-or-None) tuples. The whole batch is "
     "checked before any row is staged."},
    {"build", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(builder_build)),
     METH_VARARGS | METH_KEYWORDS,
     "build($self, out_dir)\n--\n\n"
     "Writes index.vls, index.vlf, records.bin and records.idx into out_dir (created if "
     "missing) and returns BuildStats. Doc IDs are assigned in descending rank; records "
     "of equal rank keep their staging order. The staged records stay, so more can be "
     "added and the dataset built again."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* make_builder_type() {
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(
                      "Builder(gram_size=3, head_boundary=65536)\n--\n\n"
                      "Accumulates records, then writes a complete vellum dataset.")},
      {Py_tp_new, reinterpret_cast<void*>(builder_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(builder_dealloc)},
      {Py_tp_methods, kMethods},
      {0, nullptr},
  };
  PyType_Spec spec = {"vellum.Builder", sizeof(BuilderObject), 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  return PyType_FromSpec(&spec);
}

}  // namespace vellum::py
