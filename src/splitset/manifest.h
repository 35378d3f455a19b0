// The VLSS manifest of a split set: serializer for every producer and a
// parser for stored manifests. Both are stateless and all-or-nothing: a
// failure yields no bytes and no partial result. The parser reads untrusted
// bytes and checks every length and offset before it reads.
#ifndef VELLUM_SPLITSET_MANIFEST_H_
#define VELLUM_SPLITSET_MANIFEST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/sink.h"
#include "common/status.h"
#include "splitset/format_error.h"

namespace vellum {

// One split as the producers describe it.
struct SplitMeta {
  std::string name;
  std::string summary;  // TLVs; empty means no summary
  uint64_t epoch = 0;
  uint64_t size_bytes = 0;
  uint32_t doc_count = 0;
  uint32_t first_id = 0;
  uint32_t last_id = 0;
  uint16_t tier = 0;
  uint16_t split_flags = 0;

  bool operator==(const SplitMeta&) const = default;
};

// The `sortcol` triple a caller passed; recorded, never interpreted.
struct SortColumn {
  std::string name;
  uint16_t num = 0;
  bool flag = false;

  bool operator==(const SortColumn&) const = default;
};

struct ManifestParams {
  std::optional<SortColumn> sortcol;
  uint64_t byte_cap = 0;
  uint32_t base_count = 0;
  uint16_t tier_count = 0;
  uint16_t gram_size = 0;
  uint16_t flags = 0;
  uint8_t policy = 0;
  uint8_t body_kind = 0;

  bool operator==(const ManifestParams&) const = default;
};

// Serializes the manifest, or fails (kIo) with the format-limit message.
// The sink form checks every limit before it appends anything.
Status write_manifest(const std::vector<SplitMeta>& splits, const ManifestParams& params,
                      Sink* out);
Result<std::string> write_manifest(const std::vector<SplitMeta>& splits,
                                   const ManifestParams& params);

// A split record as stored; summary_off/summary_len point into the
// manifest's copy of the summary blob.
struct ParsedSplit {
  std::string name;
  uint64_t size_bytes = 0;
  uint64_t epoch = 0;
  uint64_t summary_off = 0;
  uint32_t summary_len = 0;
  uint32_t doc_count = 0;
  uint32_t first_id = 0;
  uint32_t last_id = 0;
  uint16_t tier = 0;
  uint16_t split_flags = 0;
};

// The fixed header fields as the parser reads them (the sort column apart).
struct ManifestFields {
  uint16_t version = 0;
  uint16_t flags = 0;
  uint8_t policy = 0;
  uint8_t body_kind = 0;
  uint16_t tier_count = 0;
  uint32_t split_count = 0;
  uint32_t base_count = 0;
  uint32_t strings_len = 0;
  uint64_t summary_blob_len = 0;
  uint64_t byte_cap = 0;
  uint16_t gram_size = 0;
  bool case_sensitive = false;  // flag 0x10
};

struct ParsedManifest : ManifestFields {
  std::optional<SortColumn> sortcol;
  std::string summary_blob;
  std::vector<ParsedSplit> splits;

  // The summary bytes of split i (empty when it has none).
  std::string_view summary(size_t i) const;
  // The splits as descriptors, each owning a copy of its summary.
  std::vector<SplitMeta> split_metas() const;
  ManifestParams params() const;
};

FormatResult<ParsedManifest> parse_manifest(std::string_view bytes);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_MANIFEST_H_
