// Opens arbitrary bytes as a VLSS manifest and verifies it. A verified
// manifest must hold summaries that decode again, split by split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "read/vlss_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vellum::Checked<vellum::VlssReader> r = vellum::VlssReader::open("fuzz.vlss", bytes);
  if (!r.ok()) return 0;
  auto sums = r->verify();
  if (!sums.ok()) return 0;
  if (sums->size() != r->splits().size()) std::abort();
  for (size_t i = 0; i < r->splits().size(); ++i) {
    auto again = vellum::read_split_summary(r->site(), r->summary_at(i), r->splits()[i].summary);
    if (!again.ok()) std::abort();
    if (again->bloom) (void)again->bloom->may_contain(i);
  }
  return 0;
}
