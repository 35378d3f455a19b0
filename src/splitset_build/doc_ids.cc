#include "splitset_build/doc_ids.h"

namespace vellum {

Status DocIds::check_available() const {
  constexpr uint64_t kIdSpace = uint64_t{1} << 32;
  if (next_ >= kIdSpace) {
    return Error(ErrorKind::kIo,
                 "VLSS document ids exhausted: a split set holds at most 4294967296 documents");
  }
  return Status();
}

}  // namespace vellum
