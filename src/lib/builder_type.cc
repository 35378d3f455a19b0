#include "lib/builder_type.h"

#include <optional>
#include <string>
#include <vector>

#include "build/builder.h"
#include "lib/binding.h"
#include "lib/builder_rows.h"
#include "lib/facets_arg.h"
#include "lib/stats.h"

namespace vellum::py {

// The rows argument of add_many, staged straight into the builder as it is
// converted (see stage_rows).
struct Rows {
  PyObject* seq;  // borrowed for the call
};

template <>
struct Arg<Rows> {
  static bool convert(PyObject* o, Rows* out) {
    out->seq = o;
    return true;
  }
};

// The text of add: converted like a str parameter, without leaving the
// interpreter's UTF-8 copy cached in the caller's str (see TextScratch).
struct Text {
  std::string utf8;
};

template <>
struct Arg<Text> {
  static bool convert(PyObject* o, Text* out) {
    TextScratch scratch;
    std::string_view text;
    if (!scratch.utf8(o, &text)) return false;
    out->utf8.assign(text);
    return true;
  }
};

namespace {

struct BuilderClass {
  using Core = Builder;
  static constexpr const char* kName = "Builder";
};

constexpr Callable kNew{
    "Builder",
    {{"gram_size", "3"}, {"head_boundary", "65536"}},
    "Accumulates records, then writes a complete vellum dataset."};
Result<Builder> make(uint16_t gram_size, uint32_t head_boundary) {
  return Builder::create(gram_size, head_boundary);
}

constexpr Callable kAdd{
    "add",
    {{"rank"}, {"text"}, {"record"}, {"facets", "None"}},
    "Stages one record: its rank (higher ranks come first), its text, its record bytes "
    "(opaque to vellum; use any encoding — JSON, msgpack, …) and optionally a dict "
    "mapping facet field names to lists of category names.",
    Borrow::kExclusive};
void add(Builder& b, int64_t rank, Text text, Bytes record, std::optional<FacetList> facets) {
  b.staging().add(rank, text.utf8, record.data);
  if (facets) b.staging().add_facets(*facets);
}

constexpr Callable kAddMany{
    "add_many",
    {{"rows"}},
    "Stages a batch of (rank, text, record, facets-or-None) tuples. The whole batch is "
    "checked before any row is staged.",
    Borrow::kExclusive};
PyObject* add_many(Builder& b, Rows rows) {
  if (!arg("rows", stage_rows(rows.seq, &b.staging()))) return nullptr;
  Py_RETURN_NONE;
}

constexpr Callable kBuild{
    "build",
    {{"out_dir"}},
    "Writes index.vls, index.vlf, records.bin and records.idx into out_dir (created if "
    "missing) and returns BuildStats. Doc IDs are assigned in descending rank; records "
    "of equal rank keep their staging order. The staged records stay, so more can be "
    "added and the dataset built again.",
    Borrow::kShared};
PyObject* build(Builder& b, std::string out_dir) {
  Result<BuildStats> stats = b.build(out_dir);
  if (!stats.ok()) return raise(stats.error());
  return new_stats(StatsKind::kBuild, {stats->docs, stats->ngrams, stats->fields});
}

}  // namespace

PyObject* make_builder_type() {
  static PyMethodDef methods[] = {
      method<BuilderClass, kAdd, add>(),
      method<BuilderClass, kAddMany, add_many>(),
      method<BuilderClass, kBuild, build>(),
      kEndOfMethods,
  };
  return make_class<BuilderClass, kNew, make>(methods);
}

}  // namespace vellum::py
