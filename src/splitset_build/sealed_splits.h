// The splits a batch builder has sealed and must hold until it writes
// them: descriptors, bodies and the sidecars of faceted splits, in sealing
// order. The last split can be taken back, so that a build that fails to
// write can leave the builder as it found it.
#ifndef VELLUM_SPLITSET_BUILD_SEALED_SPLITS_H_
#define VELLUM_SPLITSET_BUILD_SEALED_SPLITS_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "splitset/manifest.h"
#include "splitset_build/cap_schedule.h"
#include "splitset_build/split_set_files.h"

namespace vellum {

struct SealedSplit {
  SplitMeta meta;
  NamedBytes body;
  std::optional<NamedBytes> sidecar;
};

class SealedSplits {
 public:
  void push(SealedSplit split);
  // Removes the split pushed last.
  void pop();

  size_t size() const { return metas_.size(); }
  const std::vector<SplitMeta>& metas() const { return metas_; }

  // A split of one document whose body is over its cap cannot be fixed by
  // sealing earlier: "VLSS {label} {name}: a single document's postings
  // ({size} B) exceed the byte cap ({cap} B)".
  Status check_single_document_caps(const CapSchedule& caps, std::string_view label) const;

  // Bodies in sealing order, then sidecars in sealing order.
  std::vector<const NamedBytes*> files() const;
  uint64_t total_bytes() const;

  void clear();

 private:
  std::vector<SplitMeta> metas_;
  std::vector<NamedBytes> bodies_;
  std::vector<NamedBytes> sidecars_;
  std::vector<bool> has_sidecar_;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_SEALED_SPLITS_H_
