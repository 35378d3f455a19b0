// Opens arbitrary bytes as a VLSF facet sidecar and verifies them. A
// verified sidecar must answer a lookup of every stored (field, category).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "read/vlsf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vellum::Checked<vellum::VlsfReader> r = vellum::VlsfReader::open("fuzz.vlf", bytes);
  if (!r.ok()) return 0;
  (void)r->lookup("lang", "en");
  if (!r->verify().ok()) return 0;
  for (const vellum::VlsfField& f : r->fields()) {
    for (uint32_t c = f.first; c < f.first + f.count; ++c) {
      auto ids = r->lookup(f.name, r->categories()[c].name);
      if (!ids.ok() || ids->size() < r->categories()[c].doc_count) std::abort();
    }
  }
  return 0;
}
