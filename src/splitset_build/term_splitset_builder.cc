#include "splitset_build/term_splitset_builder.h"

#include <utility>

#include "splitset/manifest_format.h"
#include "splitset_build/split_policy.h"

namespace vellum {

namespace {

constexpr uint32_t kDefaultHeadBoundary = 65536;

SplitBodyKind term_body_kind() {
  SplitBodyKind kind;
  kind.body_kind = kBodyKindTerm;
  kind.extension = ".vlt";
  kind.cap_label = "term split";
  kind.built_message = "TermSplitSetBuilder already built";
  kind.gram_size = 0;
  kind.body_flags = 0;  // no Bloom summaries
  return kind;
}

TermIndexOptions body_options(const TermAnalyzer& analyzer, uint32_t head_boundary) {
  TermIndexOptions o;
  o.head_boundary = head_boundary;
  o.language = analyzer.language();
  o.stem = analyzer.stem();
  o.stopwords = analyzer.stopwords();
  o.fold = analyzer.fold();
  o.block_cap = 0;  // the default budget
  return o;
}

}  // namespace

Result<TermSplitSetBuilder> TermSplitSetBuilder::create(const TermSplitSetBuilderOptions& o) {
  std::optional<std::string_view> language;
  if (o.language) language = *o.language;
  VELLUM_ASSIGN_OR_RETURN(TermAnalyzer analyzer,
                          TermAnalyzer::create(language, o.stem, o.stopwords, o.case_sensitive));
  VELLUM_ASSIGN_OR_RETURN(const uint8_t policy, parse_policy(o.policy));
  SplitSetOptions set;
  set.policy = policy;
  set.byte_cap = o.byte_cap;
  set.byte_cap_max = o.byte_cap_max;
  set.name_prefix = o.name_prefix;
  set.sortcol = o.sortcol;
  set.head_boundary = o.head_boundary == 0 ? kDefaultHeadBoundary : o.head_boundary;
  set.fold_case = analyzer.fold();
  const TermIndexOptions body = body_options(analyzer, set.head_boundary);
  return TermSplitSetBuilder(BatchSplitSet(std::move(set), term_body_kind()),
                             TermOpenSplit(TermVocabulary(std::move(analyzer)), body));
}

Result<uint32_t> TermSplitSetBuilder::add_faceted(std::string_view text, const FacetList& facets) {
  VELLUM_RETURN_IF_ERROR(set_.check_add(facets));
  const std::vector<uint32_t>& terms = open_.distinct_terms(text);
  uint64_t cost = open_.doc_estimate(terms);
  // An empty open split takes any document, whatever its size.
  if (!set_.open_empty() && open_.exceeds(cost, set_.open_cap())) {
    VELLUM_RETURN_IF_ERROR(set_.seal(&open_));
    cost = open_.doc_estimate(terms);  // every term is new to the new split
  }
  open_.add(set_.next_local_id(), terms, cost);
  return set_.commit(facets);
}

Result<SplitSetBuildStats> TermSplitSetBuilder::build(const std::string& out_dir,
                                                      const std::string& manifest_name) {
  return set_.build(&open_, out_dir, manifest_name);
}

}  // namespace vellum
