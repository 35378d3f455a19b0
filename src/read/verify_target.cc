#include "read/verify_target.h"

#include "read/dataset_check.h"
#include "read/record_reader.h"
#include "read/split_set_check.h"
#include "read/vls_reader.h"
#include "read/vlsf_reader.h"
#include "read/vlss_reader.h"
#include "read/vlti_reader.h"
#include "read/vlvi_reader.h"

namespace vellum {

namespace {

template <typename Reader>
Check open_and_verify(const std::string& name, std::string_view bytes) {
  VELLUM_CHECKED_ASSIGN(Reader r, Reader::open(name, bytes));
  return r.verify().check();
}

Check verify_records(const Target& t) {
  VELLUM_CHECKED_ASSIGN(std::string bin, fetch_file(t.read, kDatasetRecords));
  VELLUM_CHECKED_ASSIGN(std::string idx, fetch_file(t.read, t.name));
  VELLUM_CHECKED_ASSIGN(RecordReader r, RecordReader::open(t.name, idx, bin.size()));
  return r.verify();
}

}  // namespace

Check verify_file_bytes(TargetKind kind, const std::string& name, std::string_view bytes) {
  switch (kind) {
    case TargetKind::kTextIndex: return open_and_verify<VlsReader>(name, bytes);
    case TargetKind::kFacets: return open_and_verify<VlsfReader>(name, bytes);
    case TargetKind::kTermIndex: return open_and_verify<VltiReader>(name, bytes);
    case TargetKind::kVectorIndex: return open_and_verify<VlviReader>(name, bytes);
    case TargetKind::kSplitSet: return open_and_verify<VlssReader>(name, bytes);
    case TargetKind::kDataset:
    case TargetKind::kRecords: break;
  }
  return Problem{name, "file", 0, "is not a single-file format"};
}

std::vector<Problem> verify_target(const Target& t) {
  switch (t.kind) {
    case TargetKind::kDataset: return verify_dataset(t.read);
    case TargetKind::kSplitSet: return verify_split_set(t.read, t.name);
    case TargetKind::kRecords: {
      Check c = verify_records(t);
      if (c.ok()) return {};
      return {c.problem()};
    }
    default: break;
  }
  Checked<std::string> bytes = fetch_file(t.read, t.name);
  if (!bytes.ok()) return {bytes.problem()};
  Check c = verify_file_bytes(t.kind, t.name, *bytes);
  if (c.ok()) return {};
  return {c.problem()};
}

}  // namespace vellum
