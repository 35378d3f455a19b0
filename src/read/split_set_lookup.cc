#include "read/split_set_lookup.h"

#include <algorithm>

#include "analysis/ngram_keys.h"
#include "facet/facet_key.h"
#include "read/dataset_check.h"
#include "read/id_sets.h"
#include "read/split_set_check.h"
#include "read/vls_reader.h"
#include "read/vlsf_reader.h"
#include "read/vlss_reader.h"
#include "read/vlti_reader.h"

namespace vellum {

namespace {

struct Plan {
  bool terms = false;
  std::vector<uint64_t> keys;  // n-gram keys of the text
  bool by_text = false;
  std::optional<uint64_t> facet_key;
};

// Why the manifest lets a reader skip the split, or nullptr.
const char* skip_reason(const Plan& plan, const SplitSummary& s) {
  if (!plan.terms && plan.by_text && s.bloom) {
    for (uint64_t k : plan.keys) {
      if (!s.bloom->may_contain(k)) return "Bloom filter";
    }
  }
  if (plan.facet_key) {
    if (!s.facet_keys || !std::binary_search(s.facet_keys->begin(), s.facet_keys->end(), *plan.facet_key)) {
      return "facet presence";
    }
  }
  return nullptr;
}

Checked<std::vector<uint32_t>> text_ids(const Plan& plan, const SetQuery& q, const std::string& name,
                                        const std::string& bytes) {
  if (plan.terms) {
    VELLUM_CHECKED_ASSIGN(VltiReader body, VltiReader::open(name, bytes));
    return body.lookup_term(q.text);
  }
  VELLUM_CHECKED_ASSIGN(VlsReader body, VlsReader::open(name, bytes));
  VELLUM_CHECKED_ASSIGN(std::optional<std::vector<uint32_t>> ids, body.lookup_text(q.text));
  return ids ? std::move(*ids) : std::vector<uint32_t>();
}

Checked<std::vector<uint32_t>> local_hits(const ReadFile& read, const Plan& plan, const SetQuery& q,
                                          const SplitRecord& split) {
  std::optional<std::vector<uint32_t>> hits;
  if (plan.by_text) {
    VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(read, std::string(split.name)));
    VELLUM_CHECKED_ASSIGN(hits, text_ids(plan, q, std::string(split.name), bytes));
  }
  if (q.facet) {
    const std::string name = sidecar_name(split.name);
    VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(read, name));
    VELLUM_CHECKED_ASSIGN(VlsfReader sidecar, VlsfReader::open(name, bytes));
    VELLUM_CHECKED_ASSIGN(std::vector<uint32_t> ids, sidecar.lookup(q.facet->field, q.facet->category));
    hits = hits ? intersect_sorted(*hits, ids) : std::move(ids);
  }
  return std::move(*hits);
}

}  // namespace

Checked<std::vector<SplitAnswer>> lookup_split_set(const ReadFile& read, const std::string& manifest_name,
                                                   const SetQuery& query) {
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(read, manifest_name));
  VELLUM_CHECKED_ASSIGN(VlssReader manifest, VlssReader::open(manifest_name, bytes));
  VELLUM_CHECKED_ASSIGN(std::vector<SplitSummary> sums, manifest.verify());
  const ManifestHeader& h = manifest.header();
  Plan plan;
  plan.terms = h.body_kind == kBodyKindTerm;
  if (plan.terms) {
    plan.by_text = !query.text.empty();
  } else {
    plan.keys = ngram_keys(query.text, h.gram_size, !h.case_sensitive);
    plan.by_text = !plan.keys.empty();
  }
  if (query.facet) plan.facet_key = facet_key(query.facet->field, query.facet->category, !h.case_sensitive);
  if (!plan.by_text && !query.facet) return Problem{"query", "text", 0, "query selects nothing"};
  std::vector<uint32_t> deleted;
  for (const SplitSummary& s : sums) {
    if (s.tombstones) deleted = union_sorted(deleted, *s.tombstones);
  }
  std::vector<SplitAnswer> out;
  for (size_t i = 0; i < manifest.splits().size(); ++i) {
    const SplitRecord& split = manifest.splits()[i];
    SplitAnswer a;
    a.split = std::string(split.name);
    if (const char* why = skip_reason(plan, sums[i])) {
      a.skipped = true;
      a.skip_reason = why;
    } else if (split.doc_count > 0) {
      VELLUM_CHECKED_ASSIGN(std::vector<uint32_t> ids, local_hits(read, plan, query, split));
      if (!split.absolute_ids()) {
        for (uint32_t& id : ids) id += split.first_id;
      }
      a.global_ids = subtract_sorted(ids, deleted);
    }
    out.push_back(std::move(a));
  }
  return out;
}

}  // namespace vellum
