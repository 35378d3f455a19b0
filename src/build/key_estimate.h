// How many distinct n-gram keys the staged texts hold, estimated from a
// small random sample of them before postings are collected, so that the
// key table can be sized once instead of growing step by step through
// copies of itself.
//
// The sample is every document whose hashed number falls in 1/64 of the
// hash range, with the 1/128 that falls in half of that nested inside it.
// Distinct keys grow about as a power of the documents read (that power is
// below 1: common keys recur), and the two samples give that power, which
// carries the larger sample's count up to the whole corpus. The estimate
// only sizes a table: a wrong one costs memory or a late growth, never a
// wrong byte.
#ifndef VELLUM_BUILD_KEY_ESTIMATE_H_
#define VELLUM_BUILD_KEY_ESTIMATE_H_

#include <cstddef>
#include <cstdint>

#include "build/staging.h"

namespace vellum {

// 0 when the corpus is too small for a sample to tell (and its table too
// small for the estimate to matter).
size_t estimate_distinct_keys(const RecordStaging& staged, uint16_t gram_size);

}  // namespace vellum

#endif  // VELLUM_BUILD_KEY_ESTIMATE_H_
