// Stored manifests and split summaries are untrusted: the parser and the
// TLV lookup must reject any bytes cleanly, never read past them, and a
// manifest they accept must serialize back to the bytes it was parsed from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "splitset/manifest.h"
#include "splitset/manifest_format.h"
#include "splitset/summary_tlv.h"
#include "splitset/tombstones.h"

namespace {

void check(bool cond) {
  if (!cond) std::abort();
}

void walk_summary(std::string_view summary) {
  for (uint8_t kind : {uint8_t{1}, uint8_t{2}, uint8_t{4}, uint8_t{0xFF}}) {
    vellum::FormatResult<std::optional<std::string_view>> tlv = vellum::find_tlv(summary, kind);
    if (!tlv.ok() || !tlv->has_value()) continue;
    const std::string_view payload = **tlv;
    check(payload.data() >= summary.data() &&
          payload.data() + payload.size() <= summary.data() + summary.size());
    if (kind == 4) (void)vellum::decode_tombstones(payload);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  walk_summary(bytes);
  vellum::FormatResult<vellum::ParsedManifest> parsed = vellum::parse_manifest(bytes);
  if (!parsed.ok()) return 0;
  for (size_t i = 0; i < parsed->splits.size(); ++i) walk_summary(parsed->summary(i));
  // Whatever was accepted serializes again and parses back to the same value.
  vellum::Result<std::string> again =
      vellum::write_manifest(parsed->split_metas(), parsed->params());
  check(again.ok());
  check(again->size() >= vellum::kManifestHeaderBytes +
                             vellum::kSplitRecordBytes * parsed->splits.size());
  vellum::FormatResult<vellum::ParsedManifest> twice = vellum::parse_manifest(*again);
  check(twice.ok());
  check(twice->split_metas() == parsed->split_metas());
  check(twice->params() == parsed->params());
  return 0;
}
