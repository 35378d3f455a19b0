// The byte cap of each split by its sealing index: fixed, or doubling per
// split from the base cap up to a maximum.
#ifndef VELLUM_SPLITSET_BUILD_CAP_SCHEDULE_H_
#define VELLUM_SPLITSET_BUILD_CAP_SCHEDULE_H_

#include <cstdint>

namespace vellum {

class CapSchedule {
 public:
  // `byte_cap_max` 0 keeps every split at `byte_cap`.
  CapSchedule(uint64_t byte_cap, uint64_t byte_cap_max)
      : byte_cap_(byte_cap), byte_cap_max_(byte_cap_max) {}

  // min(max(byte_cap_max, byte_cap), byte_cap * 2^index), the product
  // saturating instead of wrapping.
  uint64_t cap(uint64_t index) const;

  uint64_t byte_cap() const { return byte_cap_; }

 private:
  uint64_t byte_cap_;
  uint64_t byte_cap_max_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_CAP_SCHEDULE_H_
