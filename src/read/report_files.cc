// Reports of the single-file formats.
#include "analysis/stem_language.h"
#include "read/report_target.h"
#include "read/vls_reader.h"
#include "read/vlsf_reader.h"
#include "read/vlti_reader.h"
#include "read/vlvi_reader.h"

namespace vellum {

namespace {

constexpr uint64_t kVltiHeaderBytes = 40;
constexpr uint64_t kVlviHeaderBytes = 48;

Report region(const char* name, uint64_t begin, uint64_t end) {
  return Report::map().set("name", name).set("offset", begin).set("bytes", end - begin);
}

Report file_report(TargetKind kind, const std::string& name, uint64_t size) {
  return Report::map().set("kind", target_kind_name(kind)).set("file", name).set("size", size);
}

// Opens and verifies a file with `Reader`, then lets `describe(reader,
// stats, report)` fill in the file's report.
template <typename Reader, typename Describe>
Checked<Report> inspect_with(TargetKind kind, const std::string& name, std::string_view bytes,
                             Describe describe) {
  VELLUM_CHECKED_ASSIGN(Reader r, Reader::open(name, bytes));
  VELLUM_CHECKED_ASSIGN(auto s, r.verify());
  Report out = file_report(kind, name, bytes.size());
  describe(r, s, out);
  return out;
}

template <typename Stats>
Report postings_report(uint64_t count, const Stats& s) {
  return Report::map()
      .set("count", count)
      .set("bytes", s.posting_bytes)
      .set("total_ids", s.total_ids)
      .set("distribution", posting_distribution(s.cardinality_log2));
}

void describe_vls(const VlsReader& r, const VlsStats& s, Report& out) {
  const VlsHeader& h = r.header();
  const uint64_t size = r.file_size();
  out.set("header", Report::map()
                        .set("version", h.version)
                        .set("gram_size", h.gram_size)
                        .set("key_count", h.key_count)
                        .set("stride", h.stride)
                        .set("case_sensitive", h.case_sensitive)
                        .set("block_count", h.block_count));
  out.set("documents", s.doc_span).set("keys", h.key_count);
  out.set("regions", ReportList{region("header", 0, h.header_size),
                                region("sparse index", h.sparse_offset, h.dict_offset),
                                region("dictionary", h.dict_offset, h.postings_offset),
                                region("postings", h.postings_offset, size)});
  out.set("postings", postings_report(h.key_count, s).set("empty", s.empty_postings));
}

Report vlsf_fields(const VlsfReader& r) {
  Report fields = Report::list();
  for (const VlsfField& f : r.fields()) {
    uint64_t memberships = 0;
    for (uint32_t i = f.first; i < f.first + f.count; ++i) memberships += r.categories()[i].doc_count;
    fields.push(Report::map().set("name", f.name).set("categories", f.count).set("memberships", memberships));
  }
  return fields;
}

void describe_vlsf(const VlsfReader& r, const VlsfStats& s, Report& out) {
  const VlsfHeader& h = r.header();
  out.set("header", Report::map()
                        .set("version", h.version)
                        .set("case_sensitive", h.case_sensitive)
                        .set("field_count", h.field_count)
                        .set("category_count", h.category_count)
                        .set("blob_size", h.blob_size));
  out.set("documents", s.doc_span).set("memberships", s.memberships);
  out.set("regions", ReportList{region("tables and names", 0, h.meta_size),
                                region("postings", h.meta_size, r.file_size())});
  out.set("fields", vlsf_fields(r));
}

Report language_of(uint8_t code) {
  if (code == 0 || code > kStemLanguageCount) return Report();
  return Report(language_name(static_cast<StemLanguage>(code - 1)));
}

void describe_vlti(const VltiReader& r, const VltiStats& s, Report& out) {
  const VltiHeader& h = r.header();
  const uint64_t size = r.file_size();
  out.set("header", Report::map()
                        .set("version", h.version)
                        .set("flags", h.flags)
                        .set("stemmed", h.stemmed())
                        .set("stopwords_removed", h.stopwords_removed())
                        .set("case_sensitive", h.case_sensitive())
                        .set("language", language_of(h.language_code))
                        .set("term_count", h.term_count)
                        .set("head_boundary", h.head_boundary)
                        .set("block_cap", h.block_cap));
  out.set("documents", s.doc_span).set("terms", h.term_count).set("blocks", s.blocks);
  out.set("regions", ReportList{region("header", 0, kVltiHeaderBytes),
                                region("router", kVltiHeaderBytes, h.dict_offset),
                                region("dictionary", h.dict_offset, h.postings_offset),
                                region("postings", h.postings_offset, size)});
  out.set("postings", postings_report(h.term_count, s));
}

void describe_vlvi(const VlviReader& r, const VlviStats& s, Report& out) {
  const VlviHeader& h = r.header();
  out.set("header", Report::map()
                        .set("version", h.version)
                        .set("metric", h.metric == 0 ? "inner product" : "L2")
                        .set("rotated", h.rotated)
                        .set("dim", h.dim)
                        .set("nlist", h.nlist)
                        .set("m", h.m)
                        .set("nbits", h.nbits)
                        .set("vector_count", h.vector_count));
  out.set("vectors", h.vector_count).set("lists", h.nlist).set("subquantizers", h.m);
  out.set("rotation", h.rotated).set("empty_lists", s.empty_lists).set("largest_list", s.largest_list);
  const uint64_t model_at = h.rotated ? h.rotation_offset : h.centroids_offset;
  out.set("regions", ReportList{region("header", 0, kVlviHeaderBytes),
                                region("rotation", model_at, h.centroids_offset),
                                region("centroids", h.centroids_offset, h.codebooks_offset),
                                region("codebooks", h.codebooks_offset, h.directory_offset),
                                region("list directory", h.directory_offset, h.data_offset),
                                region("list data", h.data_offset, r.file_size())});
}

}  // namespace

Checked<Report> inspect_file_bytes(TargetKind kind, const std::string& name, std::string_view bytes) {
  switch (kind) {
    case TargetKind::kTextIndex: return inspect_with<VlsReader>(kind, name, bytes, describe_vls);
    case TargetKind::kFacets: return inspect_with<VlsfReader>(kind, name, bytes, describe_vlsf);
    case TargetKind::kTermIndex: return inspect_with<VltiReader>(kind, name, bytes, describe_vlti);
    case TargetKind::kVectorIndex: return inspect_with<VlviReader>(kind, name, bytes, describe_vlvi);
    default: break;
  }
  return Problem{name, "file", 0, "is not a single-file format"};
}

}  // namespace vellum
