#include "read/dataset_check.h"

#include "read/record_reader.h"
#include "read/vls_reader.h"
#include "read/vlsf_reader.h"

namespace vellum {

Checked<std::string> fetch_file(const ReadFile& read, const std::string& name) {
  Result<std::optional<std::string>> r = read(name);
  if (!r.ok()) return Problem{name, "file", 0, "cannot be read: " + r.error().describe()};
  if (!r.value()) return Problem{name, "file", 0, "file is missing"};
  return std::move(*r.value());
}

namespace {

Problem beyond_records(const std::string& file, std::string_view region, uint64_t offset,
                       uint64_t span, uint32_t records) {
  return Problem{file, std::string(region), offset,
                 "holds document id " + std::to_string(span - 1) + ", but records.idx has " +
                     std::to_string(records) + " records"};
}

}  // namespace

std::vector<Problem> verify_dataset(const ReadFile& read) {
  std::vector<Problem> problems;
  std::optional<uint32_t> records;
  Checked<std::string> idx = fetch_file(read, kDatasetRecordIndex);
  Checked<std::string> bin = fetch_file(read, kDatasetRecords);
  if (!bin.ok()) problems.push_back(bin.problem());
  if (!idx.ok()) {
    problems.push_back(idx.problem());
  } else if (bin.ok()) {
    Checked<RecordReader> r = RecordReader::open(kDatasetRecordIndex, *idx, bin->size());
    Check c = r.ok() ? r->verify() : r.check();
    if (c.ok()) {
      records = r->record_count();
    } else {
      problems.push_back(c.problem());
    }
  }
  if (Checked<std::string> vls = fetch_file(read, kDatasetIndex); !vls.ok()) {
    problems.push_back(vls.problem());
  } else if (Checked<VlsReader> r = VlsReader::open(kDatasetIndex, *vls); !r.ok()) {
    problems.push_back(r.problem());
  } else if (Checked<VlsStats> s = r->verify(); !s.ok()) {
    problems.push_back(s.problem());
  } else if (records && s->doc_span > *records) {
    problems.push_back(beyond_records(kDatasetIndex, "postings", r->header().postings_offset, s->doc_span, *records));
  }
  if (Checked<std::string> vlf = fetch_file(read, kDatasetSidecar); !vlf.ok()) {
    problems.push_back(vlf.problem());
  } else if (Checked<VlsfReader> r = VlsfReader::open(kDatasetSidecar, *vlf); !r.ok()) {
    problems.push_back(r.problem());
  } else if (Checked<VlsfStats> s = r->verify(); !s.ok()) {
    problems.push_back(s.problem());
  } else if (records && s->doc_span > *records) {
    problems.push_back(beyond_records(kDatasetSidecar, "postings", r->header().meta_size, s->doc_span, *records));
  }
  return problems;
}

}  // namespace vellum
