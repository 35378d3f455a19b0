// Split bytes and summaries handed to compact are untrusted. The input is
// a summary length (2 bytes), the summary TLVs of the split named as the
// input, then its body. compact must refuse them cleanly or write a split
// without run containers whose postings hold only live ids, and a failure
// must leave the writer's manifest as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/coding.h"
#include "read/roaring_check.h"
#include "splitset/manifest.h"
#include "splitset_write/split_set_writer.h"
#include "splitset_write/split_postings.h"

namespace {

void check(bool cond) {
  if (!cond) std::abort();
}

std::string manifest_with(std::string_view summary) {
  vellum::SplitMeta m;
  m.name = "f-d00000.vls";
  m.summary = std::string(summary);
  m.epoch = 1;
  m.doc_count = 100;
  m.first_id = 1000;
  m.last_id = 1099;
  m.split_flags = 1;
  vellum::ManifestParams p;
  p.gram_size = 3;
  p.policy = 1;
  p.flags = 0x08;
  vellum::Result<std::string> bytes = vellum::write_manifest({m}, p);
  check(bytes.ok());
  return *bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.size() < 2) return 0;
  const size_t summary_len = std::min<size_t>(vellum::GetU16(in.data()), in.size() - 2);
  const std::string_view summary = in.substr(2, summary_len);
  const std::string_view body = in.substr(2 + summary_len);
  vellum::ResumeOptions options;
  options.name_prefix = "f";
  vellum::Result<vellum::SplitSetWriter> w =
      vellum::SplitSetWriter::resume(manifest_with(summary), options);
  if (!w.ok()) return 0;
  const std::vector<vellum::SplitMeta> before = w->splits();
  vellum::Result<vellum::WrittenSplit> out = w->compact({{"f-d00000.vls", body}});
  if (!out.ok()) {
    check(w->splits() == before);
    return 0;
  }
  std::vector<vellum::StoredPosting> postings;
  check(vellum::read_split_postings(out->body, &postings).ok());
  for (const vellum::StoredPosting& p : postings) {
    vellum::RoaringSummary s;
    check(!vellum::check_roaring(p.bytes, vellum::RoaringRules{}, &s).has_value());
    check(s.cardinality > 0);
  }
  check(w->splits().size() == 1 && w->splits()[0].size_bytes == out->body.size());
  return 0;
}
