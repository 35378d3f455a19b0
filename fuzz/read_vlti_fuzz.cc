// Opens arbitrary bytes as a VLTI term index and verifies it. When the
// first byte is odd, the router's checksum is repaired first, so that the
// node checks behind it see damaged nodes too. A verified index must find
// a term lookup answer without a problem.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/coding.h"
#include "read/fst_reader.h"
#include "read/vlti_reader.h"

namespace {

void repair_router_checksum(std::string* b) {
  if (b->size() < 40) return;
  const uint64_t len = vellum::GetU64(b->data() + 16);
  if (len < 4 || len > b->size() - 40) return;
  const uint32_t crc = vellum::crc32c_of(std::string_view(*b).substr(40, len - 4));
  vellum::EncodeU32(b->data() + 40 + len - 4, ((crc << 17) | (crc >> 15)) + 0xA282EAD8u);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) repair_router_checksum(&bytes);
  vellum::Checked<vellum::VltiReader> r = vellum::VltiReader::open("fuzz.vlt", bytes);
  if (!r.ok()) return 0;
  (void)r->lookup_term("apple");
  const bool sound = r->verify().ok();
  auto hit = r->lookup_term("b");
  if (sound && !hit.ok()) std::abort();
  return 0;
}
