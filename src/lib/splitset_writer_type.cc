#include "lib/splitset_writer_type.h"

#include <new>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "lib/binding.h"
#include "lib/py_ref.h"
#include "lib/sortcol_arg.h"
#include "splitset_write/split_set_writer.h"

namespace vellum::py {

// One compaction input: a (name, split bytes) pair. A bytes object is
// read in place, held by a reference so that no later conversion can free
// it; other byte sequences are copied.
struct NamedSplit {
  std::string name;
  Ref held;
  Bytes copy;

  std::string_view body() const {
    char* p = nullptr;
    Py_ssize_t n = 0;
    if (held && PyBytes_AsStringAndSize(held.get(), &p, &n) == 0) {
      return std::string_view(p, static_cast<size_t>(n));
    }
    return copy.data;
  }
};

template <>
struct Arg<NamedSplit> {
  static bool convert(PyObject* o, NamedSplit* out) {
    PyObject* f[2];
    if (!unpack_tuple(o, 2, f) || !Arg<std::string>::convert(f[0], &out->name)) return false;
    if (PyBytes_Check(f[1])) {
      Py_INCREF(f[1]);
      out->held = Ref(f[1]);
      return true;
    }
    return Arg<Bytes>::convert(f[1], &out->copy);
  }
};

template <>
struct Arg<std::vector<NamedSplit>> {
  static bool convert(PyObject* o, std::vector<NamedSplit>* out) { return to_list_of(o, out); }
};

namespace {

struct SplitSetWriterClass {
  using Core = SplitSetWriter;
  static constexpr const char* kName = "SplitSetWriter";
};

constexpr Callable kNew{
    "SplitSetWriter",
    {{"gram_size", "3"},
     {"byte_cap", "33554432"},
     {"name_prefix", "\"split\""},
     {"policy", "\"stable_key\""},
     {"head_boundary", "0"},
     {"stride", "0"},
     {"tier_count", "0"},
     {"sortcol", "None"},
     {"bloom_bits_per_key", "10"},
     {"case_sensitive", "False"}},
    "A pure `VLSS` ingestion writer — the streaming base+delta lifecycle. add() and "
    "delete() collect documents and deletions in a memtable; flush() seals it into one "
    "delta split and returns (name, split bytes, manifest bytes) for the caller to store "
    "(the split first, then the manifest). resume() continues a stored set from its "
    "manifest; compact() merges delta splits. The writer performs no I/O."};
Result<SplitSetWriter> make(uint16_t gram_size, uint64_t byte_cap, std::string name_prefix,
                            std::string policy, uint32_t /*head_boundary*/, uint32_t stride,
                            uint16_t tier_count, std::optional<SortColumn> sortcol,
                            uint32_t bloom_bits_per_key, bool case_sensitive) {
  SplitSetWriterOptions o;
  o.gram_size = gram_size;
  o.byte_cap = byte_cap;
  o.name_prefix = std::move(name_prefix);
  o.policy = std::move(policy);
  o.stride = stride;
  o.tier_count = tier_count;
  o.sortcol = std::move(sortcol);
  o.bloom_bits_per_key = bloom_bits_per_key;
  o.case_sensitive = case_sensitive;
  return SplitSetWriter::create(o);
}

constexpr Callable kResume{
    "resume",
    {{"manifest"},
     {"gram_size", "3"},
     {"head_boundary", "0"},
     {"stride", "0"},
     {"name_prefix", "\"split\""},
     {"bloom_bits_per_key", "10"}},
    "A writer continuing the split set described by the stored manifest bytes. Pass the "
    "gram_size, stride and bloom_bits_per_key the set was built with."};
Result<SplitSetWriter> resume(Bytes manifest, uint16_t gram_size, uint32_t /*head_boundary*/,
                              uint32_t stride, std::string name_prefix,
                              uint32_t bloom_bits_per_key) {
  ResumeOptions o;
  o.gram_size = gram_size;
  o.stride = stride;
  o.name_prefix = std::move(name_prefix);
  o.bloom_bits_per_key = bloom_bits_per_key;
  return SplitSetWriter::resume(manifest.data, o);
}

constexpr Callable kAdd{
    "add", {{"text"}}, "Adds one document to the memtable and returns its global id.",
    Borrow::kExclusive};
Result<uint32_t> add(SplitSetWriter& w, std::string text) { return w.add(text); }

constexpr Callable kDelete{
    "delete", {{"doc_id"}},
    "Records a tombstone for a global document id; it is written by the next flush.",
    Borrow::kExclusive};
void delete_doc(SplitSetWriter& w, uint32_t doc_id) { w.remove(doc_id); }

constexpr Callable kMemtableBytes{
    "memtable_bytes", {}, "Size estimate of the memtable in bytes, the flush trigger."};
uint64_t memtable_bytes(SplitSetWriter& w) { return w.memtable_bytes(); }

constexpr Callable kMemtableDocCount{"memtable_doc_count", {}, "Documents in the memtable."};
uint64_t memtable_doc_count(SplitSetWriter& w) { return w.memtable_doc_count(); }

constexpr Callable kDocCount{
    "doc_count", {}, "Documents ever added to the set, including those of resumed splits."};
uint64_t doc_count(SplitSetWriter& w) { return w.doc_count(); }

using Flushed = std::tuple<std::string, Bytes, Bytes>;

constexpr Callable kFlush{
    "flush", {},
    "Seals the memtable and pending deletions into one delta split and returns (name, "
    "split bytes, manifest bytes), or None when there is nothing to flush. On error the "
    "writer is unchanged.",
    Borrow::kExclusive};
Result<std::optional<Flushed>> flush(SplitSetWriter& w) {
  VELLUM_ASSIGN_OR_RETURN(std::optional<WrittenSplit> s, w.flush());
  if (!s) return std::optional<Flushed>();
  return std::optional<Flushed>(
      Flushed{std::move(s->name), Bytes{std::move(s->body)}, Bytes{std::move(s->manifest)}});
}

using Compacted = std::tuple<std::string, Ref, Bytes, std::vector<std::string>>;

// The compacted body is written straight into the bytes object returned:
// a body of hundreds of megabytes is then neither copied nor held twice.
class BytesBody final : public BodyBuffer {
 public:
  char* allocate(size_t size) override {
    if (size > static_cast<size_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
    bytes = Ref(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    char* data = bytes ? PyBytes_AsString(bytes.get()) : nullptr;
    if (data == nullptr) {
      PyErr_Clear();
      throw std::bad_alloc();  // guarded() raises MemoryError
    }
    return data;
  }
  Ref bytes;
};

constexpr Callable kCompact{
    "compact", {{"inputs"}},
    "Merges the named delta or compacted splits, given as (name, split bytes) pairs, into "
    "one split without their deleted documents. Returns (name, split bytes, manifest "
    "bytes, removed names); delete the removed splits only after storing the manifest. "
    "On error the writer is unchanged.",
    Borrow::kExclusive};
Result<Compacted> compact(SplitSetWriter& w, std::vector<NamedSplit> inputs) {
  std::vector<CompactInput> in;
  in.reserve(inputs.size());
  for (const NamedSplit& i : inputs) in.push_back(CompactInput{i.name, i.body()});
  BytesBody body;
  VELLUM_ASSIGN_OR_RETURN(WrittenSplit s, w.compact(in, &body));
  return Compacted{std::move(s.name), std::move(body.bytes), Bytes{std::move(s.manifest)},
                   std::move(s.removed)};
}

}  // namespace

PyObject* make_splitset_writer_type() {
  static PyMethodDef methods[] = {
      static_method<SplitSetWriterClass, kResume, resume>(),
      method<SplitSetWriterClass, kAdd, add>(),
      method<SplitSetWriterClass, kDelete, delete_doc>(),
      method<SplitSetWriterClass, kMemtableBytes, memtable_bytes>(),
      method<SplitSetWriterClass, kMemtableDocCount, memtable_doc_count>(),
      method<SplitSetWriterClass, kDocCount, doc_count>(),
      method<SplitSetWriterClass, kFlush, flush>(),
      method<SplitSetWriterClass, kCompact, compact>(),
      kEndOfMethods,
  };
  return make_class<SplitSetWriterClass, kNew, make>(methods);
}

}  // namespace vellum::py
