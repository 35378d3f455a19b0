// Opens arbitrary bytes as a VLS index and verifies them. Whatever verify
// accepts must also serve every lookup: each dictionary key is found by the
// sparse-index route, with a posting that decodes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "read/vls_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vellum::Checked<vellum::VlsReader> r = vellum::VlsReader::open("fuzz.vls", bytes);
  if (!r.ok()) return 0;
  // Lookups must be safe on unverified files too.
  (void)r->find(0x616263);
  (void)r->lookup_text("abc de");
  if (!r->verify().ok()) return 0;
  for (uint32_t i = 0; i < r->header().key_count; ++i) {
    const vellum::VlsEntry e = r->entry(i);
    auto found = r->find(e.key);
    if (!found.ok() || !found->has_value() || (*found)->offset != e.offset) std::abort();
    if (!r->posting_ids(e).ok()) std::abort();
  }
  return 0;
}
