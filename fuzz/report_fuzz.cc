// Inspects arbitrary bytes as each single-file format. Inspecting must
// agree with verifying: a report exactly when the file verifies, and every
// region of a report inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "read/report_target.h"
#include "read/verify_target.h"

namespace {

uint64_t u64(const vellum::Report* r) { return r ? std::get<uint64_t>(r->value()) : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vellum::TargetKind;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (TargetKind kind : {TargetKind::kTextIndex, TargetKind::kFacets, TargetKind::kTermIndex,
                          TargetKind::kVectorIndex}) {
    vellum::Checked<vellum::Report> r = vellum::inspect_file_bytes(kind, "fuzz", bytes);
    if (r.ok() != vellum::verify_file_bytes(kind, "fuzz", bytes).ok()) std::abort();
    if (!r.ok()) continue;
    for (const vellum::Report& region : r->find("regions")->as_list()) {
      if (u64(region.find("offset")) + u64(region.find("bytes")) > size) std::abort();
    }
  }
  return 0;
}
