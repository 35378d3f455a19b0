#include "splitset_build/cap_schedule.h"

#include <algorithm>

namespace vellum {

uint64_t CapSchedule::cap(uint64_t index) const {
  if (byte_cap_max_ == 0) return byte_cap_;
  const uint64_t ceiling = std::max(byte_cap_max_, byte_cap_);
  const bool overflows = index >= 64 || byte_cap_ > (UINT64_MAX >> index);
  const uint64_t grown = overflows ? UINT64_MAX : byte_cap_ << index;
  return std::min(ceiling, grown);
}

}  // namespace vellum
