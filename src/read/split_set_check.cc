#include "read/split_set_check.h"

#include <algorithm>
#include <set>

#include "index/bitmap.h"
#include "read/dataset_check.h"
#include "read/vls_reader.h"
#include "read/vlsf_reader.h"
#include "read/vlss_reader.h"
#include "read/vlti_reader.h"

namespace vellum {

std::string sidecar_name(std::string_view split_name) {
  const size_t dot = split_name.rfind('.');
  return std::string(split_name.substr(0, dot == std::string_view::npos ? split_name.size() : dot)) + ".vlf";
}

namespace {

constexpr const char* kRecords = "split records";

struct SplitContext {
  const VlssReader& manifest;
  const SplitRecord& split;
  const SplitSummary& summary;
  Problem record_problem(uint64_t field, std::string what) const {
    return manifest.site().at(kRecords, split.record_offset + field, std::move(what));
  }
};

// Ids of a relative split are local: below doc_count. Absolute ones are
// global and, all postings together, are exactly the doc_count documents
// from first_id to last_id.
Check check_absolute_ids(const SplitContext& c, const VlsReader& body) {
  Bitmap all;
  for (uint32_t i = 0; i < body.header().key_count; ++i) {
    VELLUM_CHECKED_ASSIGN(std::vector<uint32_t> ids, body.posting_ids(body.entry(i)));
    all.add_many(ids.data(), ids.size());
  }
  if (all.cardinality() != c.split.doc_count) return c.record_problem(8, "doc_count differs from the split's documents");
  if (c.split.doc_count > 0 && (roaring_bitmap_minimum(all.get()) != c.split.first_id ||
                                roaring_bitmap_maximum(all.get()) != c.split.last_id)) {
    return c.record_problem(12, "id range differs from the split's documents");
  }
  return Check();
}

Check check_ngram_split(const SplitContext& c, const std::string& bytes) {
  VELLUM_CHECKED_ASSIGN(VlsReader body, VlsReader::open(std::string(c.split.name), bytes));
  VELLUM_CHECKED_ASSIGN(VlsStats stats, body.verify());
  const ManifestHeader& h = c.manifest.header();
  if (body.header().case_sensitive != h.case_sensitive) {
    return Problem{std::string(c.split.name), "header", 4, "version disagrees with the manifest's case flag"};
  }
  if (body.header().gram_size != h.gram_size) {
    return Problem{std::string(c.split.name), "header", 6, "gram size differs from the manifest's"};
  }
  if (c.split.absolute_ids()) {
    VELLUM_CHECK(check_absolute_ids(c, body));
  } else if (stats.doc_span > c.split.doc_count) {
    return c.record_problem(8, "split holds local id " + std::to_string(stats.doc_span - 1) +
                                   ", beyond its doc_count");
  }
  if (c.summary.bloom) {
    for (uint32_t i = 0; i < body.header().key_count; ++i) {
      if (!c.summary.bloom->may_contain(body.entry(i).key)) {
        return c.manifest.site().at("summary blob", c.manifest.summary_at(&c.split - c.manifest.splits().data()),
                                    "Bloom filter rules out key " + std::to_string(body.entry(i).key) +
                                        " of the split");
      }
    }
  }
  return Check();
}

Check check_term_split(const SplitContext& c, const std::string& bytes) {
  VELLUM_CHECKED_ASSIGN(VltiReader body, VltiReader::open(std::string(c.split.name), bytes));
  VELLUM_CHECKED_ASSIGN(VltiStats stats, body.verify());
  if (body.header().case_sensitive() != c.manifest.header().case_sensitive) {
    return Problem{std::string(c.split.name), "header", 6, "case flag disagrees with the manifest's"};
  }
  if (stats.doc_span > c.split.doc_count) {
    return c.record_problem(8, "split holds local id " + std::to_string(stats.doc_span - 1) +
                                   ", beyond its doc_count");
  }
  return Check();
}

Check check_split_body(const ReadFile& read, const SplitContext& c) {
  const bool terms = c.manifest.header().body_kind == kBodyKindTerm;
  const std::string_view ext = terms ? ".vlt" : ".vls";
  const std::string_view name = c.split.name;
  if (name.size() < ext.size() || name.substr(name.size() - ext.size()) != ext) {
    return c.record_problem(0, "split name does not end in " + std::string(ext));
  }
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(read, std::string(name)));
  if (bytes.size() != c.split.size_bytes) {
    return c.record_problem(24, "size_bytes " + std::to_string(c.split.size_bytes) +
                                    " differs from the file's " + std::to_string(bytes.size()) + " bytes");
  }
  return terms ? check_term_split(c, bytes) : check_ngram_split(c, bytes);
}

Check check_sidecar(const ReadFile& read, const SplitContext& c) {
  const std::string name = sidecar_name(c.split.name);
  Result<std::optional<std::string>> got = read(name);
  if (!got.ok()) return Problem{name, "file", 0, "cannot be read: " + got.error().describe()};
  if (!c.summary.facet_keys) {
    if (got.value()) return Problem{name, "file", 0, "sidecar exists but its split lists no facet presence"};
    return Check();
  }
  if (!got.value()) return Problem{name, "file", 0, "file is missing"};
  VELLUM_CHECKED_ASSIGN(VlsfReader sidecar, VlsfReader::open(name, *got.value()));
  VELLUM_CHECKED_ASSIGN(VlsfStats stats, sidecar.verify());
  if (sidecar.header().case_sensitive != c.manifest.header().case_sensitive) {
    return Problem{name, "header", 6, "case flag disagrees with the manifest's"};
  }
  if (sidecar.distinct_keys() != *c.summary.facet_keys) {
    return Problem{name, "category table", sidecar.header().meta_size - sidecar.header().blob_size,
                   "categories differ from the split's facet presence"};
  }
  if (!c.split.absolute_ids() && stats.doc_span > c.split.doc_count) {
    return Problem{name, "postings", sidecar.header().meta_size, "holds a local id beyond the split's doc_count"};
  }
  return Check();
}

}  // namespace

std::vector<Problem> verify_split_set(const ReadFile& read, const std::string& manifest_name) {
  Checked<std::string> bytes = fetch_file(read, manifest_name);
  if (!bytes.ok()) return {bytes.problem()};
  Checked<VlssReader> manifest = VlssReader::open(manifest_name, *bytes);
  if (!manifest.ok()) return {manifest.problem()};
  Checked<std::vector<SplitSummary>> sums = manifest->verify();
  if (!sums.ok()) return {sums.problem()};
  std::vector<Problem> problems;
  std::set<std::string_view> seen;
  for (size_t i = 0; i < manifest->splits().size(); ++i) {
    const SplitContext c{*manifest, manifest->splits()[i], (*sums)[i]};
    if (!seen.insert(c.split.name).second) {
      problems.push_back(c.record_problem(0, "split name is used by an earlier split"));
      continue;
    }
    if (Check body = check_split_body(read, c); !body.ok()) problems.push_back(body.problem());
    if (Check side = check_sidecar(read, c); !side.ok()) problems.push_back(side.problem());
  }
  return problems;
}

}  // namespace vellum
