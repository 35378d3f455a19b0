#include "build/key_postings.h"

#include <bit>
#include <utility>

namespace vellum {

namespace {

constexpr size_t kInitialSlots = size_t{1} << 12;
// One Roaring container spans 65536 ids, so a batch of that many documents
// lands as one container append per key.
constexpr uint32_t kBatchDocs = 65536;
// Large documents would make a 65536-document batch big; cap its pairs so
// the pending ids and their grouped copy stay at 4 MB each.
constexpr size_t kBatchPairs = size_t{1} << 20;

// N-gram keys of ASCII grams are packed characters, not hashes: mix them.
inline size_t slot_of(uint64_t key, unsigned shift) {
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ULL) >> shift);
}

}  // namespace

KeyPostings::KeyPostings()
    : slots_(kInitialSlots, Slot{0, 0}),
      shift_(64 - static_cast<unsigned>(std::countr_zero(kInitialSlots))) {}

void KeyPostings::grow() {
  std::vector<Slot> old(slots_.size() * 2, Slot{0, 0});
  old.swap(slots_);
  --shift_;
  const size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (s.entry == 0) continue;
    size_t i = slot_of(s.key, shift_);
    while (slots_[i].entry != 0) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

uint32_t KeyPostings::find_or_insert(uint64_t key) {
  const size_t mask = slots_.size() - 1;
  size_t i = slot_of(key, shift_);
  for (;;) {
    Slot& s = slots_[i];
    if (s.entry == 0) break;
    if (s.key == key) return s.entry - 1;
    i = (i + 1) & mask;
  }
  const uint32_t entry = static_cast<uint32_t>(keys_.size());
  slots_[i] = Slot{key, entry + 1};
  keys_.push_back(key);
  bitmaps_.emplace_back();
  counts_.push_back(0);
  if (keys_.size() * 2 > slots_.size()) grow();
  return entry;
}

void KeyPostings::add_doc(uint32_t doc, const std::vector<uint64_t>& keys) {
  if (doc_ends_.empty()) batch_first_doc_ = doc;
  for (uint64_t key : keys) pending_.push_back(find_or_insert(key));
  doc_ends_.push_back(static_cast<uint32_t>(pending_.size()));
  if (doc_ends_.size() >= kBatchDocs || pending_.size() >= kBatchPairs) flush();
}

void KeyPostings::clear() {
  for (Bitmap& b : bitmaps_) b.reset();
  KeyPostings empty;
  std::swap(*this, empty);
}

void KeyPostings::flush() {
  if (doc_ends_.empty()) return;
  // Counting sort of the batch by entry: documents are visited in order, so
  // each entry's ids come out ascending.
  for (uint32_t e : pending_) {
    if (counts_[e]++ == 0) touched_.push_back(e);
  }
  uint32_t at = 0;
  for (uint32_t e : touched_) {
    const uint32_t c = counts_[e];
    counts_[e] = at;  // now the write cursor of entry e
    at += c;
  }
  grouped_.resize(pending_.size());
  uint32_t begin = 0;
  for (size_t d = 0; d < doc_ends_.size(); ++d) {
    const uint32_t doc = batch_first_doc_ + static_cast<uint32_t>(d);
    for (uint32_t p = begin; p < doc_ends_[d]; ++p) grouped_[counts_[pending_[p]]++] = doc;
    begin = doc_ends_[d];
  }
  // After the scatter each cursor sits at the start of the next entry's run.
  uint32_t start = 0;
  for (uint32_t e : touched_) {
    const uint32_t end = counts_[e];
    bitmaps_[e].add_many(grouped_.data() + start, end - start);
    counts_[e] = 0;
    start = end;
  }
  touched_.clear();
  pending_.clear();
  doc_ends_.clear();
}

}  // namespace vellum
