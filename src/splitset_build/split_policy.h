// The split-set policies by name, shared by every split-set producer.
#ifndef VELLUM_SPLITSET_BUILD_SPLIT_POLICY_H_
#define VELLUM_SPLITSET_BUILD_SPLIT_POLICY_H_

#include <cstdint>
#include <string_view>

#include "common/status.h"

namespace vellum {

// "tiered", "rank", "rank_tiered" -> tiered; "stable_key", "stablekey",
// "stable", "ingest" -> stable_key, after lower-casing ASCII letters.
// Anything else is kInvalidArgument naming the lower-cased text.
Result<uint8_t> parse_policy(std::string_view name);

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_SPLIT_POLICY_H_
