// Reports of the targets that span files: the record store, a dataset
// directory and a split set.
#include "read/dataset_check.h"
#include "read/report_target.h"
#include "read/record_reader.h"
#include "read/vls_reader.h"
#include "read/vlss_reader.h"
#include "read/vlti_reader.h"

namespace vellum {

namespace {

Checked<Report> records_report(const std::string& idx_name, std::string_view idx, std::string_view bin) {
  VELLUM_CHECKED_ASSIGN(RecordReader r, RecordReader::open(idx_name, idx, bin.size()));
  VELLUM_CHECK(r.verify());
  return Report::map()
      .set("kind", target_kind_name(TargetKind::kRecords))
      .set("file", idx_name)
      .set("size", idx.size() + bin.size())
      .set("documents", r.record_count())
      .set("records", r.record_count())
      .set("regions", ReportList{Report::map().set("name", "records.idx").set("bytes", idx.size()),
                                 Report::map().set("name", "records.bin").set("bytes", bin.size())});
}

Checked<Report> inspect_records(const ReadFile& read, const std::string& idx_name) {
  VELLUM_CHECKED_ASSIGN(std::string bin, fetch_file(read, kDatasetRecords));
  VELLUM_CHECKED_ASSIGN(std::string idx, fetch_file(read, idx_name));
  return records_report(idx_name, idx, bin);
}

Checked<Report> inspect_dataset(const ReadFile& read) {
  VELLUM_CHECKED_ASSIGN(std::string bin, fetch_file(read, kDatasetRecords));
  VELLUM_CHECKED_ASSIGN(std::string idx, fetch_file(read, kDatasetRecordIndex));
  VELLUM_CHECKED_ASSIGN(Report records, records_report(kDatasetRecordIndex, idx, bin));
  uint64_t size = bin.size() + idx.size();
  Report files = Report::list();
  const std::pair<const char*, TargetKind> parts[] = {{kDatasetIndex, TargetKind::kTextIndex},
                                                      {kDatasetSidecar, TargetKind::kFacets}};
  for (const auto& [name, kind] : parts) {
    VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(read, name));
    VELLUM_CHECKED_ASSIGN(Report file, inspect_file_bytes(kind, name, bytes));
    size += bytes.size();
    files.push(std::move(file));
  }
  const Report documents = *records.find("documents");
  files.push(std::move(records));
  return Report::map()
      .set("kind", target_kind_name(TargetKind::kDataset))
      .set("size", size)
      .set("documents", documents)
      .set("files", std::move(files));
}

}  // namespace

Checked<Report> inspect_split_set(const ReadFile& read, const std::string& manifest_name);

Checked<Report> inspect_target(const Target& t) {
  switch (t.kind) {
    case TargetKind::kDataset: return inspect_dataset(t.read);
    case TargetKind::kSplitSet: return inspect_split_set(t.read, t.name);
    case TargetKind::kRecords: return inspect_records(t.read, t.name);
    default: break;
  }
  VELLUM_CHECKED_ASSIGN(std::string bytes, fetch_file(t.read, t.name));
  return inspect_file_bytes(t.kind, t.name, bytes);
}

}  // namespace vellum
