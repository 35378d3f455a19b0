#include "lib/splitset_builder_type.h"

#include <optional>
#include <string>

#include "lib/binding.h"
#include "lib/facets_arg.h"
#include "lib/sortcol_arg.h"
#include "lib/stats.h"
#include "splitset_build/splitset_builder.h"

namespace vellum::py {

namespace {

struct SplitSetBuilderClass {
  using Core = SplitSetBuilder;
  static constexpr const char* kName = "SplitSetBuilder";
};

constexpr Callable kNew{
    "SplitSetBuilder",
    {{"policy", "\"tiered\""},
     {"byte_cap", "33554432"},
     {"gram_size", "3"},
     {"head_boundary", "0"},
     {"stride", "0"},
     {"name_prefix", "\"split\""},
     {"sortcol", "None"},
     {"bloom_bits_per_key", "10"},
     {"byte_cap_max", "0"},
     {"case_sensitive", "False"}},
    "A byte-capped `VLSS` split-set builder — the batch greedy seal. Documents are "
    "tokenized into n-gram keys as they are added and join the open split; when the "
    "open split's size estimate would pass its byte cap (doubling per split up to "
    "byte_cap_max when that is non-zero), it is sealed and a new split opens. build() "
    "writes every split `‹prefix›-s00000.vls`, a `.vlf` facet sidecar for each split "
    "holding facets, and the manifest `‹manifest_name›.vlss`. policy is 'tiered' "
    "(documents in rank order; split i has tier i) or 'stable_key' (ingest order)."};
Result<SplitSetBuilder> make(std::string policy, uint64_t byte_cap, uint16_t gram_size,
                             uint32_t head_boundary, uint32_t stride, std::string name_prefix,
                             std::optional<SortColumn> sortcol, uint32_t bloom_bits_per_key,
                             uint64_t byte_cap_max, bool case_sensitive) {
  SplitSetBuilderOptions o;
  o.policy = std::move(policy);
  o.byte_cap = byte_cap;
  o.gram_size = gram_size;
  o.head_boundary = head_boundary;
  o.stride = stride;
  o.name_prefix = std::move(name_prefix);
  o.sortcol = std::move(sortcol);
  o.bloom_bits_per_key = bloom_bits_per_key;
  o.byte_cap_max = byte_cap_max;
  o.case_sensitive = case_sensitive;
  return SplitSetBuilder::create(o);
}

constexpr Callable kAdd{
    "add",
    {{"text"}},
    "Stages one document and returns its global doc id (ids count from 0 in add order).",
    Borrow::kExclusive};
Result<uint32_t> add(SplitSetBuilder& b, std::string text) { return b.add(text); }

constexpr Callable kAddFaceted{
    "add_faceted",
    {{"text"}, {"facets"}},
    "Stages one faceted document — `facets` maps each field name to a list of category "
    "names — and returns its global doc id. A field with an empty list adds nothing.",
    Borrow::kExclusive};
Result<uint32_t> add_faceted(SplitSetBuilder& b, std::string text, FacetList facets) {
  return b.add_faceted(text, facets);
}

constexpr Callable kDocCount{
    "doc_count", {}, "Total documents added so far; 0 once built.", Borrow::kShared};
uint64_t doc_count(SplitSetBuilder& b) { return b.doc_count(); }

constexpr Callable kBuild{
    "build",
    {{"out_dir"}, {"manifest_name", "\"index\""}},
    "Seals the open split and writes the split set into out_dir (created if missing): "
    "every split body, every facet sidecar, then `‹manifest_name›.vlss`. Returns "
    "SplitSetBuildStats and consumes the builder. If the directory or a file cannot be "
    "written, the builder keeps its documents and build can be called again.",
    Borrow::kExclusive};
PyObject* build(SplitSetBuilder& b, std::string out_dir, std::string manifest_name) {
  Result<SplitSetBuildStats> stats = b.build(out_dir, manifest_name);
  if (!stats.ok()) return raise(stats.error());
  return new_stats(StatsKind::kSplitSetBuild, {stats->splits, stats->docs, stats->total_bytes});
}

}  // namespace

PyObject* make_splitset_builder_type() {
  static PyMethodDef methods[] = {
      method<SplitSetBuilderClass, kAdd, add>(),
      method<SplitSetBuilderClass, kAddFaceted, add_faceted>(),
      method<SplitSetBuilderClass, kDocCount, doc_count>(),
      method<SplitSetBuilderClass, kBuild, build>(),
      kEndOfMethods,
  };
  return make_class<SplitSetBuilderClass, kNew, make>(methods);
}

}  // namespace vellum::py
