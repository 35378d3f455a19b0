// Opens arbitrary bytes as a VLVI vector index and verifies it. A verified
// index must give every list's ids.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "read/vlvi_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vellum::Checked<vellum::VlviReader> r = vellum::VlviReader::open("fuzz.vlvi", bytes);
  if (!r.ok()) return 0;
  (void)r->list_ids(0);
  if (!r->verify().ok()) return 0;
  for (uint32_t i = 0; i < r->header().nlist; ++i) {
    auto ids = r->list_ids(i);
    if (!ids.ok() || ids->size() != r->list(i).count) std::abort();
  }
  return 0;
}
