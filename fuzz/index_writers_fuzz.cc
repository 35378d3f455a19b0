// Arbitrary id sets and entries through the posting encoders and the index
// and sidecar writers: sizes must match the layouts and nothing may crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/coding.h"
#include "facet/facet_sidecar.h"
#include "index/bitmap.h"
#include "index/posting.h"
#include "index/vls_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t boundary = vellum::GetU32(reinterpret_cast<const char*>(data)) & 0xFFFF0000u;
  data += 4;
  size -= 4;

  vellum::Bitmap ids;
  std::vector<vellum::IndexEntry> entries;
  for (size_t i = 0; i + 4 <= size && entries.size() < 256; i += 4) {
    const uint32_t v = vellum::GetU32(reinterpret_cast<const char*>(data + i));
    ids.add(v);
    entries.push_back({static_cast<uint64_t>(v) * 0x9E3779B97F4A7C15ULL,
                       vellum::serialize_posting(ids)});
  }
  vellum::HeadTail parts = vellum::split_head_tail(ids, boundary);
  if (parts.head.size() < 8 || parts.tail.size() < 8) std::abort();

  std::string out;
  vellum::Status s = vellum::write_index(&out, 3, size % 7, entries, size % 2 == 0);
  if (s.ok()) {
    uint64_t expected = (size % 2 == 0) ? 16 : 18;
    const uint32_t stride = size % 7 == 0 ? 512 : size % 7;
    expected += 8 * ((entries.size() + stride - 1) / stride) + 20 * entries.size();
    for (const auto& e : entries) expected += e.posting.size();
    if (out.size() != expected) std::abort();
  }

  std::vector<vellum::FacetField> fields(1);
  fields[0].name = std::string(reinterpret_cast<const char*>(data), size / 3);
  fields[0].categories.push_back({std::string(reinterpret_cast<const char*>(data), size / 5),
                                  parts.head, parts.tail,
                                  static_cast<uint32_t>(ids.cardinality())});
  std::string sidecar;
  if (vellum::encode_facet_sidecar(&sidecar, std::move(fields), true).ok()) {
    if (sidecar.size() != 24 + 16 + 36 + size / 3 + size / 5 + parts.head.size() + parts.tail.size()) {
      std::abort();
    }
  }
  return 0;
}
