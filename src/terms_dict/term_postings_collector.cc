#include "terms_dict/term_postings_collector.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace vellum {

void TermPostingsCollector::grow_slots(uint32_t term) {
  slot_of_.resize(std::max<size_t>(size_t{term} + 1, slot_of_.size() * 2));
}

uint32_t TermPostingsCollector::new_entry(uint32_t term) {
  entries_.push_back(Entry{term, Bitmap()});
  return static_cast<uint32_t>(entries_.size());
}

void TermPostingsCollector::flush() {
  if (pending_.empty()) return;
  // A stable counting sort by entry keeps each entry's docs in the order
  // they came, usually ascending, which bulk insertion is fastest at.
  starts_.assign(entries_.size() + 1, 0);
  for (uint64_t p : pending_) ++starts_[(p >> 32) + 1];
  for (size_t e = 1; e < starts_.size(); ++e) starts_[e] += starts_[e - 1];
  grouped_.resize(pending_.size());
  for (uint64_t p : pending_) grouped_[starts_[p >> 32]++] = static_cast<uint32_t>(p);
  // starts_[e] is now the end of entry e, and starts_[e - 1] its start.
  uint32_t begin = 0;
  for (size_t e = 0; e < entries_.size(); ++e) {
    const uint32_t end = starts_[e];
    entries_[e].ids.add_many(grouped_.data() + begin, end - begin);
    begin = end;
  }
  pending_.clear();
}

TermPostings TermPostingsCollector::take(const TermVocabulary& vocab) {
  flush();
  // Sorting by the first 8 bytes (big-endian, so integer order is byte
  // order) settles most comparisons without reading the terms.
  struct Key {
    uint64_t prefix;
    uint32_t entry;
  };
  std::vector<Key> keys(entries_.size());
  for (uint32_t i = 0; i < keys.size(); ++i) {
    const std::string_view t = vocab.term(entries_[i].term);
    unsigned char b[8] = {};
    std::memcpy(b, t.data(), std::min<size_t>(t.size(), 8));
    uint64_t prefix = 0;
    for (unsigned char c : b) prefix = prefix << 8 | c;
    keys[i] = Key{prefix, i};
  }
  // string_view compares as unsigned bytes, the order of the index.
  std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return vocab.term(entries_[a.entry].term) < vocab.term(entries_[b.entry].term);
  });
  std::vector<uint32_t> order(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].entry;
  TermPostings out;
  out.reserve(order.size());
  for (uint32_t i : order) {
    Entry& e = entries_[i];
    out.push_back(TermPosting{std::string(vocab.term(e.term)), std::move(e.ids)});
    slot_of_[e.term] = Slot();
  }
  std::vector<Entry>().swap(entries_);
  std::vector<uint32_t>().swap(grouped_);
  std::vector<uint32_t>().swap(starts_);
  return out;
}

void TermPostingsCollector::restore(TermPostings postings, const TermVocabulary& vocab) {
  for (TermPosting& p : postings) {
    const uint32_t term = *vocab.find_term(p.term);
    if (term >= slot_of_.size()) grow_slots(term);
    Slot& slot = slot_of_[term];
    if (slot.entry1 == 0) {
      // Any id of the set will do as the last one logged.
      slot = Slot{new_entry(term), roaring_bitmap_minimum(p.ids.get())};
      entries_[slot.entry1 - 1].ids = std::move(p.ids);
    } else {
      roaring_bitmap_or_inplace(entries_[slot.entry1 - 1].ids.get(), p.ids.get());
    }
  }
}

void TermPostingsCollector::clear() {
  std::vector<Slot>().swap(slot_of_);
  std::vector<Entry>().swap(entries_);
  std::vector<uint64_t>().swap(pending_);
  std::vector<uint32_t>().swap(grouped_);
  std::vector<uint32_t>().swap(starts_);
}

}  // namespace vellum
