// Opens arbitrary bytes as records.idx; the first byte picks the length of
// records.bin. A verified index must give every record a range inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "read/record_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint64_t bin_size = data[0];
  std::string_view idx(reinterpret_cast<const char*>(data + 1), size - 1);
  vellum::Checked<vellum::RecordReader> r = vellum::RecordReader::open("records.idx", idx, bin_size);
  if (!r.ok()) return 0;
  const bool sound = r->verify().ok();
  for (uint32_t i = 0; i < r->record_count(); ++i) {
    auto range = r->range(i);
    if (sound && (!range.ok() || range->end > bin_size)) std::abort();
  }
  return 0;
}
