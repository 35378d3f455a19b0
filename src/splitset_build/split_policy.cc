#include "splitset_build/split_policy.h"

#include <string>

#include "splitset/manifest_format.h"

namespace vellum {

Result<uint8_t> parse_policy(std::string_view name) {
  std::string lowered(name);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (std::string_view n : {"tiered", "rank", "rank_tiered"}) {
    if (lowered == n) return kPolicyTiered;
  }
  for (std::string_view n : {"stable_key", "stablekey", "stable", "ingest"}) {
    if (lowered == n) return kPolicyStableKey;
  }
  return Error(ErrorKind::kInvalidArgument,
               "unknown policy " + lowered + "; use 'tiered' or 'stable_key'");
}

}  // namespace vellum
