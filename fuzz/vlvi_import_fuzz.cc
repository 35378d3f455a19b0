// Arbitrary trained parts through import validation and the VLVI writer:
// whatever is accepted must give a file of the layout's exact size that the
// strict test decoder reads back with the same lists; nothing may crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/sink.h"
#include "testing/vlvi_decoder.h"
#include "vector_build/ivfpq_parts.h"
#include "vector_build/vlvi_writer.h"

namespace {

constexpr size_t kControlBytes = 12;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kControlBytes) return 0;
  const uint64_t dim = data[0] % 17, m = data[1] % 5, nlist = data[2] % 9;
  const uint8_t nbits = data[3] % 10;
  const std::string_view metric = data[4] & 1 ? "l2" : "IP";
  const bool rotated = data[4] & 2;
  std::string_view rest(reinterpret_cast<const char*>(data + kControlBytes), size - kControlBytes);
  // Six buffers, each as long as its control byte says (times 4 for floats).
  std::string_view parts[6];
  for (int i = 0; i < 6; ++i) {
    const size_t want = static_cast<size_t>(data[5 + (i % 7)]) * (i < 2 || i == 5 ? 4 : 1);
    const size_t len = want < rest.size() ? want : rest.size();
    parts[i] = rest.substr(0, len);
    rest.remove_prefix(len);
  }
  vellum::FaissBuffers b{parts[0], parts[1], parts[2], parts[3], parts[4], std::nullopt};
  if (rotated) b.opq = parts[5];
  vellum::Result<vellum::IvfPqIndex> index =
      vellum::ivfpq_from_buffers(dim, nlist, m, b, nbits, metric);
  if (!index.ok()) return 0;
  std::string out;
  vellum::StringSink sink(&out);
  if (!vellum::write_vlvi(*index, &sink).ok()) std::abort();
  const uint64_t d0 = vellum::vlvi_data_offset(dim, nlist, nbits, rotated);
  if (out.size() != d0 + (4 + m) * index->n) std::abort();
  const vellum::testing::VlviFile f = vellum::testing::decode_vlvi(out);
  for (size_t c = 0; c < nlist; ++c) {
    if (f.ids[c] != index->list_ids[c] || f.codes[c] != index->list_codes[c]) std::abort();
  }
  return 0;
}
