#include "splitset_build/sealed_splits.h"

#include <string>
#include <utility>

namespace vellum {

void SealedSplits::push(SealedSplit split) {
  metas_.push_back(std::move(split.meta));
  bodies_.push_back(std::move(split.body));
  has_sidecar_.push_back(split.sidecar.has_value());
  if (split.sidecar) sidecars_.push_back(std::move(*split.sidecar));
}

void SealedSplits::pop() {
  if (has_sidecar_.back()) sidecars_.pop_back();
  has_sidecar_.pop_back();
  bodies_.pop_back();
  metas_.pop_back();
}

Status SealedSplits::check_single_document_caps(const CapSchedule& caps,
                                                std::string_view label) const {
  for (size_t i = 0; i < metas_.size(); ++i) {
    const SplitMeta& m = metas_[i];
    const uint64_t cap = caps.cap(i);
    if (m.doc_count == 1 && m.size_bytes > cap) {
      return Error(ErrorKind::kIo, "VLSS " + std::string(label) + " " + m.name +
                                       ": a single document's postings (" +
                                       std::to_string(m.size_bytes) + " B) exceed the byte cap (" +
                                       std::to_string(cap) + " B)");
    }
  }
  return Status();
}

std::vector<const NamedBytes*> SealedSplits::files() const {
  std::vector<const NamedBytes*> out;
  out.reserve(bodies_.size() + sidecars_.size());
  for (const NamedBytes& b : bodies_) out.push_back(&b);
  for (const NamedBytes& s : sidecars_) out.push_back(&s);
  return out;
}

uint64_t SealedSplits::total_bytes() const {
  uint64_t total = 0;
  for (const NamedBytes& b : bodies_) total += b.bytes.size();
  for (const NamedBytes& s : sidecars_) total += s.bytes.size();
  return total;
}

void SealedSplits::clear() { *this = SealedSplits(); }

}  // namespace vellum
