#include "terms_dict/term_postings_collector.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <utility>

namespace vellum {

void TermPostingsCollector::grow_slots(uint32_t term) {
  slot_of_.resize(std::max<size_t>(size_t{term} + 1, slot_of_.size() * 2));
}

uint32_t TermPostingsCollector::new_entry(uint32_t term) {
  entries_.push_back(Entry{term, 0, Bitmap()});
  return static_cast<uint32_t>(entries_.size());
}

TermPostings TermPostingsCollector::take(const TermVocabulary& vocab) {
  std::vector<uint32_t> order(entries_.size());
  std::iota(order.begin(), order.end(), 0);
  // string_view compares as unsigned bytes, the order of the index.
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return vocab.term(entries_[a].term) < vocab.term(entries_[b].term);
  });
  TermPostings out;
  out.reserve(order.size());
  for (uint32_t i : order) {
    Entry& e = entries_[i];
    out.push_back(TermPosting{std::string(vocab.term(e.term)), std::move(e.ids)});
    slot_of_[e.term] = 0;
  }
  std::vector<Entry>().swap(entries_);
  return out;
}

void TermPostingsCollector::restore(TermPostings postings, const TermVocabulary& vocab) {
  for (TermPosting& p : postings) {
    const uint32_t term = *vocab.find_term(p.term);
    if (term >= slot_of_.size()) grow_slots(term);
    uint32_t& slot = slot_of_[term];
    if (slot == 0) {
      slot = new_entry(term);
      Entry& e = entries_[slot - 1];
      e.ids = std::move(p.ids);
      e.last = roaring_bitmap_maximum(e.ids.get());
    } else {
      roaring_bitmap_or_inplace(entries_[slot - 1].ids.get(), p.ids.get());
    }
  }
}

void TermPostingsCollector::clear() {
  std::vector<uint32_t>().swap(slot_of_);
  std::vector<Entry>().swap(entries_);
}

}  // namespace vellum
