// Global document ids of a split set: dense from a starting id, 32-bit,
// and refused once the id space is used up instead of wrapping to 0.
#ifndef VELLUM_SPLITSET_BUILD_DOC_IDS_H_
#define VELLUM_SPLITSET_BUILD_DOC_IDS_H_

#include <cstdint>

#include "common/status.h"

namespace vellum {

class DocIds {
 public:
  explicit DocIds(uint64_t next = 0) : next_(next) {}

  // kIo once all 2^32 ids are taken.
  Status check_available() const;
  // The next id; only after check_available() succeeded.
  uint32_t take() { return static_cast<uint32_t>(next_++); }
  // Ids handed out so far (from 0), up to 2^32.
  uint64_t next() const { return next_; }

 private:
  uint64_t next_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_DOC_IDS_H_
