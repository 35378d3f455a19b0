// The document order of a batch build: document id d is the staged record
// order[d], rank descending, staging order among equal ranks.
#ifndef VELLUM_BUILD_RANK_ORDER_H_
#define VELLUM_BUILD_RANK_ORDER_H_

#include <cstdint>
#include <span>
#include <vector>

namespace vellum {

// ranks[i] is the rank of staged record i (fewer than 2^32 records).
std::vector<uint32_t> rank_order(std::span<const int64_t> ranks);

}  // namespace vellum

#endif  // VELLUM_BUILD_RANK_ORDER_H_
