// The lookup of a split set: one lookup_split_set call per query part (a
// substring for n-gram bodies, an analysed term for term bodies), combined
// split by split: a split is skipped when any part skips it, and its hits
// are the intersection of the parts' hits.
#include <algorithm>

#include "analysis/ngram_keys.h"
#include "read/dataset_check.h"
#include "read/id_sets.h"
#include "read/lookup_target.h"
#include "read/query_terms.h"
#include "read/vlss_reader.h"

namespace vellum {

namespace {

// Term bodies record their analysis settings; every split of a set shares
// them, so the first body present decides.
Checked<std::vector<std::string>> term_parts(const Target& t, const TargetQuery& q) {
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(t.read, t.name));
  VELLUM_CHECKED_ASSIGN(VlssReader m, VlssReader::open(t.name, bytes));
  for (const SplitRecord& s : m.splits()) {
    if (s.doc_count == 0) continue;
    VELLUM_CHECKED_ASSIGN(std::string body, fetch_file(t.read, std::string(s.name)));
    VELLUM_CHECKED_ASSIGN(VltiReader r, VltiReader::open(std::string(s.name), body));
    return analyzed_terms(r.header(), q.texts);
  }
  return std::vector<std::string>();  // no documents: nothing can match
}

// A substring without an n-gram key cannot narrow a split down.
Check check_substrings(const Target& t, const std::vector<std::string>& texts) {
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(t.read, t.name));
  VELLUM_CHECKED_ASSIGN(VlssReader m, VlssReader::open(t.name, bytes));
  const ManifestHeader& h = m.header();
  for (const std::string& text : texts) {
    if (ngram_keys(text, h.gram_size, !h.case_sensitive).empty()) {
      return query_problem("\"" + text + "\" is shorter than the gram size (" + std::to_string(h.gram_size) +
                           "): the index cannot narrow it down");
    }
  }
  return Check();
}

Checked<bool> is_term_set(const Target& t) {
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(t.read, t.name));
  VELLUM_CHECKED_ASSIGN(VlssReader m, VlssReader::open(t.name, bytes));
  return m.header().body_kind == kBodyKindTerm;
}

void combine(std::vector<SplitAnswer>* acc, std::vector<SplitAnswer> part) {
  for (size_t i = 0; i < acc->size() && i < part.size(); ++i) {
    SplitAnswer& a = (*acc)[i];
    if (a.skipped) continue;
    if (part[i].skipped) {
      a = std::move(part[i]);
    } else {
      a.global_ids = intersect_sorted(a.global_ids, part[i].global_ids);
    }
  }
}

Report answer_report(const std::vector<SplitAnswer>& answers) {
  std::vector<uint32_t> all;
  Report rows = Report::list();
  for (const SplitAnswer& a : answers) {
    all.insert(all.end(), a.global_ids.begin(), a.global_ids.end());
    Report row = Report::map().set("split", a.split).set("skipped", a.skipped);
    row.set("reason", a.skipped ? Report(a.skip_reason) : Report());
    row.set("ids", id_list(a.global_ids));
    rows.push(std::move(row));
  }
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return Report::map()
      .set("kind", target_kind_name(TargetKind::kSplitSet))
      .set("count", all.size())
      .set("ids", id_list(all))
      .set("splits", std::move(rows));
}

}  // namespace

Checked<Report> lookup_split_target(const Target& t, const TargetQuery& q) {
  VELLUM_CHECKED_ASSIGN(bool terms, is_term_set(t));
  std::vector<std::string> parts = q.texts;
  if (terms && !q.texts.empty()) {
    VELLUM_CHECKED_ASSIGN(parts, term_parts(t, q));
    if (parts.empty()) return answer_report({});  // a set without documents
  }
  if (!terms) VELLUM_CHECK(check_substrings(t, parts));
  std::optional<std::vector<SplitAnswer>> acc;
  if (parts.empty()) parts.emplace_back();  // facet alone
  for (const std::string& part : parts) {
    VELLUM_CHECKED_ASSIGN(std::vector<SplitAnswer> got, lookup_split_set(t.read, t.name, SetQuery{part, q.facet}));
    if (!acc) {
      acc = std::move(got);
    } else {
      combine(&*acc, std::move(got));
    }
  }
  return answer_report(*acc);
}

}  // namespace vellum
