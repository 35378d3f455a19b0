// Arbitrary id sets and entries through the posting encoders and the index
// and sidecar writers. Everything written is read back with the strict test
// decoders and must give back the input; a decoder fault, a mismatch or a
// crash stops the run.
//
// Input: u32 head boundary (low 16 bits dropped) | u8 options | u32 ids...
// Options: stride (bits 0-2, 0 is the default), case-sensitive index
// (bit 3), fold the sidecar's names (bit 4).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "common/coding.h"
#include "facet/facet_key.h"
#include "facet/facet_sidecar.h"
#include "facet/vlsf_format.h"
#include "index/bitmap.h"
#include "index/posting.h"
#include "index/vls_format.h"
#include "index/vls_writer.h"
#include "testing/test_decoders.h"

namespace {

using vellum::testing::decode_posting;

void check(bool cond, const char* what) {
  if (!cond) {
    std::fprintf(stderr, "index_writers_fuzz: %s\n", what);
    std::abort();
  }
}

// The ids of `ids` (ascending) below `boundary`, or at or above it.
std::vector<uint32_t> part_of(const std::vector<uint32_t>& ids, uint32_t boundary, bool head) {
  std::vector<uint32_t> out;
  for (uint32_t id : ids) {
    if ((id < boundary) == head) out.push_back(id);
  }
  return out;
}

void check_index(const std::vector<vellum::IndexEntry>& entries, uint32_t stride, bool folded) {
  std::string out;
  const vellum::Status s = vellum::write_index(&out, 3, stride, entries, folded);
  std::vector<vellum::IndexEntry> sorted = entries;
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.key < b.key; });
  bool distinct = true;
  for (size_t i = 1; i < sorted.size(); ++i) distinct &= sorted[i].key != sorted[i - 1].key;
  check(s.ok() == distinct, "write_index accepted duplicate keys or refused distinct ones");
  if (!s.ok()) {
    check(out.empty(), "write_index wrote bytes before refusing its input");
    return;
  }
  const vellum::testing::VlsFile f = vellum::testing::decode_vls(out);
  check(f.version == (folded ? vellum::kVlsFoldedVersion : vellum::kVlsCaseSensitiveVersion),
        "VLS version");
  check(f.gram_size == 3, "VLS gram size");
  check(f.stride == (stride == 0 ? vellum::kDefaultStride : stride), "VLS stride");
  check(f.entries.size() == sorted.size(), "VLS key count");
  for (size_t i = 0; i < sorted.size(); ++i) {
    check(f.entries[i].key == sorted[i].key, "VLS key");
    check(f.entries[i].posting == sorted[i].posting, "VLS posting bytes");
  }
}

void check_sidecar(std::string_view data, const vellum::HeadTail& parts, uint32_t doc_count,
                   bool fold) {
  std::vector<vellum::FacetField> fields(1);
  fields[0].name = std::string(data.substr(0, data.size() / 3));
  const std::string first(data.substr(0, data.size() / 5));
  const std::string second(data.substr(data.size() / 5, data.size() / 7));
  fields[0].categories.push_back({first, parts.head, parts.tail, doc_count});
  fields[0].categories.push_back({second, parts.tail, parts.head, doc_count / 2});
  const std::string field_name = fields[0].name;
  std::vector<vellum::FacetCategory> expected = fields[0].categories;

  std::string out;
  const vellum::Status s = vellum::encode_facet_sidecar(&out, std::move(fields), fold);
  if (!s.ok()) {
    check(field_name.size() > vellum::kVlsfMaxNameLength, "sidecar refused names that fit");
    return;
  }
  const vellum::testing::VlsfFile f = vellum::testing::decode_vlsf(out);
  check(f.version == vellum::kVlsfVersion, "VLSF version");
  check(f.case_sensitive == (fold ? 0 : 1), "VLSF case flag");
  check(f.fields.size() == 1 && f.fields[0].name == field_name, "VLSF field");
  check(f.categories.size() == 2, "VLSF category count");
  // Categories are ordered by facet key; equal keys keep their input order.
  const uint64_t k0 = vellum::facet_key(field_name, expected[0].name, fold);
  const uint64_t k1 = vellum::facet_key(field_name, expected[1].name, fold);
  if (k1 < k0) std::swap(expected[0], expected[1]);
  for (size_t i = 0; i < 2; ++i) {
    const vellum::testing::VlsfCategory& c = f.categories[i];
    check(c.key == vellum::facet_key(field_name, expected[i].name, fold), "VLSF facet key");
    check(c.name == expected[i].name, "VLSF category name");
    check(c.doc_count == expected[i].doc_count, "VLSF doc count");
    check(c.head == expected[i].head && c.tail == expected[i].tail, "VLSF posting bytes");
  }
}

void run(const uint8_t* data, size_t size) {
  const uint32_t boundary = vellum::GetU32(reinterpret_cast<const char*>(data)) & 0xFFFF0000u;
  const uint8_t options = data[4];
  data += 5;
  size -= 5;

  vellum::Bitmap ids;
  std::vector<uint32_t> seen;
  std::vector<vellum::IndexEntry> entries;
  for (size_t i = 0; i + 4 <= size && entries.size() < 256; i += 4) {
    const uint32_t v = vellum::GetU32(reinterpret_cast<const char*>(data + i));
    ids.add(v);
    const auto at = std::lower_bound(seen.begin(), seen.end(), v);
    if (at == seen.end() || *at != v) seen.insert(at, v);
    entries.push_back({static_cast<uint64_t>(v) * 0x9E3779B97F4A7C15ULL,
                       vellum::serialize_posting(ids)});
    check(decode_posting(entries.back().posting).ids == seen, "posting ids");
  }
  check(ids.to_vector() == seen, "bitmap ids");

  const vellum::HeadTail parts = vellum::split_head_tail(ids, boundary);
  check(decode_posting(parts.head).ids == part_of(seen, boundary, true), "head ids");
  check(decode_posting(parts.tail).ids == part_of(seen, boundary, false), "tail ids");

  check_index(entries, options & 7, (options & 8) == 0);
  check_sidecar(std::string_view(reinterpret_cast<const char*>(data), size), parts,
                static_cast<uint32_t>(seen.size()), (options & 16) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  try {
    run(data, size);
  } catch (const std::exception& e) {
    // The decoders throw on any layout fault in what the writers produced.
    std::fprintf(stderr, "index_writers_fuzz: %s\n", e.what());
    std::abort();
  }
  return 0;
}
