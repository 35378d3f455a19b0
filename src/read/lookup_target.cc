#include "read/lookup_target.h"

#include "analysis/stem_language.h"
#include "analysis/term_analyzer.h"
#include "read/dataset_check.h"
#include "read/id_sets.h"
#include "read/query_terms.h"
#include "read/record_reader.h"
#include "read/vls_reader.h"
#include "read/vlsf_reader.h"
#include "read/vlti_reader.h"

namespace vellum {

Problem query_problem(std::string what) { return Problem{"", "query", 0, std::move(what)}; }

Checked<std::vector<std::string>> analyzed_terms(const VltiHeader& h, const std::vector<std::string>& texts) {
  std::optional<std::string_view> language;
  if (h.language_code > 0 && h.language_code <= kStemLanguageCount) {
    language = language_name(static_cast<StemLanguage>(h.language_code - 1));
  }
  Result<TermAnalyzer> analyzer = TermAnalyzer::create(language, h.stemmed(), h.stopwords_removed(), h.case_sensitive());
  if (!analyzer.ok()) return query_problem("the file's analysis settings are unusable: " + analyzer.error().describe());
  std::vector<std::string> terms;
  for (const std::string& t : texts) analyzer->analyze(t, &terms);
  if (terms.empty()) return query_problem("the query has no term left after analysis");
  return terms;
}

namespace {

// Intersects `ids` into `acc`; the first set starts it.
void narrow(std::optional<std::vector<uint32_t>>* acc, std::vector<uint32_t> ids) {
  *acc = *acc ? intersect_sorted(**acc, ids) : std::move(ids);
}

Check text_hits(const VlsReader& index, const std::vector<std::string>& texts,
                std::optional<std::vector<uint32_t>>* acc) {
  for (const std::string& t : texts) {
    VELLUM_CHECKED_ASSIGN(std::optional<std::vector<uint32_t>> ids, index.lookup_text(t));
    if (!ids) {
      return query_problem("\"" + t + "\" is shorter than the gram size (" +
                           std::to_string(index.header().gram_size) + "): the index cannot narrow it down");
    }
    narrow(acc, std::move(*ids));
  }
  return Check();
}

Check facet_hits(const ReadFile& read, const std::string& name, const FacetSelection& f,
                 std::optional<std::vector<uint32_t>>* acc) {
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(read, name));
  VELLUM_CHECKED_ASSIGN(VlsfReader sidecar, VlsfReader::open(name, bytes));
  VELLUM_CHECKED_ASSIGN(std::vector<uint32_t> ids, sidecar.lookup(f.field, f.category));
  narrow(acc, std::move(ids));
  return Check();
}

Check text_file_hits(const Target& t, const TargetQuery& q, std::optional<std::vector<uint32_t>>* acc) {
  if (q.texts.empty()) return Check();
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(t.read, t.kind == TargetKind::kDataset ? kDatasetIndex : t.name));
  VELLUM_CHECKED_ASSIGN(VlsReader index, VlsReader::open(t.kind == TargetKind::kDataset ? kDatasetIndex : t.name, bytes));
  return text_hits(index, q.texts, acc);
}

Check term_file_hits(const Target& t, const TargetQuery& q, std::optional<std::vector<uint32_t>>* acc) {
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(t.read, t.name));
  VELLUM_CHECKED_ASSIGN(VltiReader index, VltiReader::open(t.name, bytes));
  VELLUM_CHECKED_ASSIGN(std::vector<std::string> terms, analyzed_terms(index.header(), q.texts));
  for (const std::string& term : terms) {
    VELLUM_CHECKED_ASSIGN(std::vector<uint32_t> ids, index.lookup_term(term));
    narrow(acc, std::move(ids));
  }
  return Check();
}

Checked<Report> with_records(const Target& t, const std::vector<uint32_t>& ids, Report out) {
  VELLUM_CHECKED_ASSIGN(std::string bin, fetch_file(t.read, kDatasetRecords));
  VELLUM_CHECKED_ASSIGN(std::string idx, fetch_file(t.read, kDatasetRecordIndex));
  VELLUM_CHECKED_ASSIGN(RecordReader r, RecordReader::open(kDatasetRecordIndex, idx, bin.size()));
  Report records = Report::list();
  for (uint32_t id : ids) {
    VELLUM_CHECKED_ASSIGN(RecordReader::Range range, r.range(id));
    records.push(ReportBytes{bin.substr(range.begin, range.end - range.begin)});
  }
  out.set("records", std::move(records));
  return out;
}

// Which parts of a query a kind of target can answer, or why not.
Check check_query_fits(const Target& t, const TargetQuery& q) {
  const bool facets = t.kind == TargetKind::kDataset || t.kind == TargetKind::kFacets || t.kind == TargetKind::kSplitSet;
  const bool texts = t.kind != TargetKind::kFacets;
  if (t.kind == TargetKind::kVectorIndex || t.kind == TargetKind::kRecords) {
    return query_problem(std::string("a ") + target_kind_name(t.kind) + " answers no text or facet query");
  }
  if (q.facet && !facets) return query_problem(std::string("a ") + target_kind_name(t.kind) + " holds no facets");
  if (!q.texts.empty() && !texts) return query_problem("a facet sidecar answers --facet queries only");
  if (q.texts.empty() && !q.facet) return query_problem("query selects nothing");
  if (q.records && t.kind != TargetKind::kDataset) return query_problem("only a dataset directory holds records");
  return Check();
}

}  // namespace

Checked<Report> lookup_split_target(const Target& t, const TargetQuery& q);

Checked<Report> lookup_target(const Target& t, const TargetQuery& q) {
  VELLUM_CHECK(check_query_fits(t, q));
  if (t.kind == TargetKind::kSplitSet) return lookup_split_target(t, q);
  std::optional<std::vector<uint32_t>> acc;
  if (t.kind == TargetKind::kTermIndex) {
    VELLUM_CHECK(term_file_hits(t, q, &acc));
  } else {
    VELLUM_CHECK(text_file_hits(t, q, &acc));
  }
  if (q.facet) VELLUM_CHECK(facet_hits(t.read, t.kind == TargetKind::kDataset ? kDatasetSidecar : t.name, *q.facet, &acc));
  const std::vector<uint32_t> ids = std::move(*acc);
  Report out = Report::map().set("kind", target_kind_name(t.kind)).set("count", ids.size()).set("ids", id_list(ids));
  if (q.records) return with_records(t, ids, std::move(out));
  return out;
}

}  // namespace vellum
