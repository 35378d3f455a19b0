#include "lib/term_splitset_builder_type.h"

#include <optional>
#include <string>

#include "lib/binding.h"
#include "lib/facets_arg.h"
#include "lib/sortcol_arg.h"
#include "lib/stats.h"
#include "splitset_build/term_splitset_builder.h"

namespace vellum::py {

namespace {

struct TermSplitSetBuilderClass {
  using Core = TermSplitSetBuilder;
  static constexpr const char* kName = "TermSplitSetBuilder";
};

constexpr Callable kNew{
    "TermSplitSetBuilder",
    {{"policy", "\"tiered\""},
     {"byte_cap", "33554432"},
     {"head_boundary", "0"},
     {"name_prefix", "\"split\""},
     {"sortcol", "None"},
     {"language", "None"},
     {"stem", "None"},
     {"stopwords", "False"},
     {"byte_cap_max", "0"},
     {"case_sensitive", "False"}},
    "The term/FST (`VLTI`) analogue of [`SplitSetBuilder`]: each sealed split is a term "
    "index rather than a trigram `VLS`, for a head-to-head comparison over the same "
    "corpus. `language` enables Snowball stemming (turn it off with stem=False) and "
    "`stopwords` drops the language's stop words. There is no `gram_size` or "
    "`bloom_bits_per_key`: the body tokenizes whole terms, and term-Bloom pruning is "
    "deferred. Splits are named `\xe2\x80\xb9prefix\xe2\x80\xba-s00000.vlt`."};
Result<TermSplitSetBuilder> make(std::string policy, uint64_t byte_cap, uint32_t head_boundary,
                                 std::string name_prefix, std::optional<SortColumn> sortcol,
                                 std::optional<std::string> language, std::optional<bool> stem,
                                 bool stopwords, uint64_t byte_cap_max, bool case_sensitive) {
  TermSplitSetBuilderOptions o;
  o.policy = std::move(policy);
  o.byte_cap = byte_cap;
  o.head_boundary = head_boundary;
  o.name_prefix = std::move(name_prefix);
  o.sortcol = std::move(sortcol);
  o.language = std::move(language);
  o.stem = stem;
  o.stopwords = stopwords;
  o.byte_cap_max = byte_cap_max;
  o.case_sensitive = case_sensitive;
  return TermSplitSetBuilder::create(o);
}

constexpr Callable kAdd{
    "add",
    {{"text"}},
    "Stages one document (tokenized into whole terms) and returns its global doc id.",
    Borrow::kExclusive};
Result<uint32_t> add(TermSplitSetBuilder& b, std::string text) { return b.add(text); }

constexpr Callable kAddFaceted{
    "add_faceted",
    {{"text"}, {"facets"}},
    "Stages one faceted document \xe2\x80\x94 `facets` maps each field to its categories, as "
    "in [`SplitSetBuilder.add_faceted`]. Returns the global id.",
    Borrow::kExclusive};
Result<uint32_t> add_faceted(TermSplitSetBuilder& b, std::string text, FacetList facets) {
  return b.add_faceted(text, facets);
}

constexpr Callable kDocCount{"doc_count", {}, "Total documents added so far.", Borrow::kShared};
uint64_t doc_count(TermSplitSetBuilder& b) { return b.doc_count(); }

constexpr Callable kBuild{
    "build",
    {{"out_dir"}, {"manifest_name", "\"index\""}},
    "Seals and writes the term split set into `out_dir`: `\xe2\x80\xb9manifest_name\xe2\x80\xba"
    ".vlss` plus every split `\xe2\x80\xb9prefix\xe2\x80\xba-s*.vlt` and any per-split `.vlf` "
    "facet sidecar. Consumes the builder.",
    Borrow::kExclusive};
PyObject* build(TermSplitSetBuilder& b, std::string out_dir, std::string manifest_name) {
  Result<SplitSetBuildStats> stats = b.build(out_dir, manifest_name);
  if (!stats.ok()) return raise(stats.error());
  return new_stats(StatsKind::kSplitSetBuild, {stats->splits, stats->docs, stats->total_bytes});
}

}  // namespace

PyObject* make_term_splitset_builder_type() {
  static PyMethodDef methods[] = {
      method<TermSplitSetBuilderClass, kAdd, add>(),
      method<TermSplitSetBuilderClass, kAddFaceted, add_faceted>(),
      method<TermSplitSetBuilderClass, kDocCount, doc_count>(),
      method<TermSplitSetBuilderClass, kBuild, build>(),
      kEndOfMethods,
  };
  return make_class<TermSplitSetBuilderClass, kNew, make>(methods);
}

}  // namespace vellum::py
