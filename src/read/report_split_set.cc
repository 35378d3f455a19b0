// The report of a split set: its manifest's header and one row per split,
// with the key count of each split body present (for Bloom bits per key).
#include "read/dataset_check.h"
#include "read/report_target.h"
#include "read/split_set_check.h"
#include "read/vls_reader.h"
#include "read/vlss_reader.h"
#include "read/vlti_reader.h"

namespace vellum {

namespace {

Report manifest_header(const VlssReader& m) {
  const ManifestHeader& h = m.header();
  Report sortcol;
  if (h.sortcol_name_len > 0 || h.sortcol_num > 0) {
    sortcol = Report::map().set("name", m.sortcol_name()).set("num", h.sortcol_num).set("flag", h.sortcol_flag != 0);
  }
  return Report::map()
      .set("version", h.version)
      .set("flags", h.flags)
      .set("policy", h.policy == kPolicyTiered ? "tiered" : "stable_key")
      .set("body_kind", h.body_kind == kBodyKindTerm ? "term" : "ngram")
      .set("tier_count", h.tier_count)
      .set("split_count", h.split_count)
      .set("base_count", h.base_count)
      .set("byte_cap", h.byte_cap)
      .set("gram_size", h.gram_size)
      .set("case_sensitive", h.case_sensitive)
      .set("sortcol", std::move(sortcol));
}

// The key (or term) count a split body declares, or nullopt when the
// body is missing or unreadable (verify says why).
std::optional<uint64_t> body_keys(const ReadFile& read, const VlssReader& m, const SplitRecord& s) {
  Checked<std::string> bytes = fetch_file(read, std::string(s.name));
  if (!bytes.ok()) return std::nullopt;
  if (m.header().body_kind == kBodyKindTerm) {
    Checked<VltiReader> r = VltiReader::open(std::string(s.name), *bytes);
    if (r.ok()) return r->header().term_count;
  } else {
    Checked<VlsReader> r = VlsReader::open(std::string(s.name), *bytes);
    if (r.ok()) return r->header().key_count;
  }
  return std::nullopt;
}

Report summary_row(const SplitSummary& sum, std::optional<uint64_t> keys) {
  Report row = Report::map();
  Report kinds = Report::list();
  if (sum.bloom) kinds.push("bloom");
  if (sum.facet_keys) kinds.push("facet presence");
  if (sum.tombstones) kinds.push("tombstones");
  row.set("summary", std::move(kinds));
  row.set("keys", keys ? Report(*keys) : Report());
  if (sum.bloom) {
    row.set("bloom_bits", sum.bloom->bits()).set("bloom_probes", sum.bloom->probes());
    row.set("bloom_bits_per_key", keys && *keys > 0 ? Report(double(sum.bloom->bits()) / double(*keys)) : Report());
  }
  if (sum.facet_keys) row.set("facet_keys", sum.facet_keys->size());
  if (sum.tombstones) row.set("tombstones", sum.tombstones->size());
  return row;
}

Report split_row(const SplitRecord& s, const SplitSummary& sum, std::optional<uint64_t> keys) {
  Report row = Report::map()
                   .set("name", s.name)
                   .set("tier", s.tier)
                   .set("first_id", s.first_id)
                   .set("last_id", s.last_id)
                   .set("doc_count", s.doc_count)
                   .set("size_bytes", s.size_bytes)
                   .set("epoch", s.epoch)
                   .set("absolute_ids", s.absolute_ids());
  const Report summary = summary_row(sum, keys);
  for (const auto& [k, v] : summary.as_map()) row.set(k, v);
  return row;
}

}  // namespace

Checked<Report> inspect_split_set(const ReadFile& read, const std::string& manifest_name) {
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(read, manifest_name));
  VELLUM_CHECKED_ASSIGN(VlssReader m, VlssReader::open(manifest_name, bytes));
  VELLUM_CHECKED_ASSIGN(std::vector<SplitSummary> sums, m.verify());
  uint64_t documents = 0, split_bytes = 0;
  Report rows = Report::list();
  for (size_t i = 0; i < m.splits().size(); ++i) {
    const SplitRecord& s = m.splits()[i];
    documents += s.doc_count;
    split_bytes += s.size_bytes;
    rows.push(split_row(s, sums[i], body_keys(read, m, s)));
  }
  uint64_t deleted = 0;
  for (const SplitSummary& s : sums) deleted += s.tombstones ? s.tombstones->size() : 0;
  return Report::map()
      .set("kind", target_kind_name(TargetKind::kSplitSet))
      .set("file", manifest_name)
      .set("size", bytes.size() + split_bytes)
      .set("manifest_bytes", bytes.size())
      .set("header", manifest_header(m))
      .set("documents", documents)
      .set("tombstones", deleted)
      .set("splits", std::move(rows));
}

}  // namespace vellum
