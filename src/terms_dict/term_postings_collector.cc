#include "terms_dict/term_postings_collector.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "terms_dict/posting_record.h"

namespace vellum {

namespace {

// Inserts `doc` into the ascending ids[0..*count); false when the ids are
// full and `doc` is not among them.
bool insert_inline(uint32_t* ids, uint32_t* count, uint32_t cap, uint32_t doc) {
  uint32_t i = *count;
  while (i > 0 && ids[i - 1] > doc) --i;
  if (i > 0 && ids[i - 1] == doc) return true;
  if (*count == cap) return false;
  std::memmove(ids + i + 1, ids + i, sizeof(uint32_t) * (*count - i));
  ids[i] = doc;
  ++*count;
  return true;
}

}  // namespace

// The collector's sets in term order, for the writer.
class TermPostingsCollector::SortedRecords final : public TermRecordSource {
 public:
  SortedRecords(const TermPostingsCollector& c, const TermVocabulary& vocab)
      : c_(c), order_(c.sorted_entries(vocab)) {
    // The writer reads each term more than once: look them up once.
    terms_.reserve(order_.size());
    for (uint32_t e : order_) terms_.push_back(vocab.term(c.entries_[e].term));
  }
  size_t count() const override { return order_.size(); }
  std::string_view term(size_t i) const override { return terms_[i]; }
  uint64_t append_record(size_t i, uint32_t boundary, std::string* out) override {
    const Entry& e = c_.entries_[order_[i]];
    if (e.ids) return append_posting_record(e.ids, boundary, out, &scratch_);
    return append_sorted_ids_record(c_.listed_ids(e), e.count, boundary, out);
  }

 private:
  const TermPostingsCollector& c_;
  std::vector<uint32_t> order_;
  std::vector<std::string_view> terms_;
  std::vector<uint32_t> scratch_;
};

void TermPostingsCollector::grow_slots(uint32_t term) {
  slot_of_.resize(std::max<size_t>(size_t{term} + 1, slot_of_.size() * 2));
}

uint32_t TermPostingsCollector::new_entry(uint32_t term) {
  entries_.emplace_back();
  entries_.back().term = term;
  return static_cast<uint32_t>(entries_.size());
}

uint32_t TermPostingsCollector::alloc_block(uint32_t cap) {
  std::vector<uint32_t>& free = free_blocks_[std::countr_zero(cap) - 3];
  if (!free.empty()) {
    const uint32_t at = free.back();
    free.pop_back();
    return at;
  }
  const auto at = static_cast<uint32_t>(pool_.size());
  pool_.resize(pool_.size() + cap);
  return at;
}

void TermPostingsCollector::free_block(uint32_t at, uint32_t cap) {
  free_blocks_[std::countr_zero(cap) - 3].push_back(at);
}

bool TermPostingsCollector::add_listed(Entry* e, uint32_t doc) {
  if (e->count < kInlineIds) return insert_inline(e->small, &e->count, kInlineIds, doc);
  const uint32_t cap = std::max<uint32_t>(8, std::bit_ceil(e->count));
  if (e->count == kInlineIds || e->count == cap) {
    // Full: a repeat still fits, anything else needs more room.
    uint32_t* ids = const_cast<uint32_t*>(listed_ids(*e));
    if (std::binary_search(ids, ids + e->count, doc)) return true;
    if (e->count == kPromoteAt) return false;
    const uint32_t grown = e->count == kInlineIds ? 8 : cap * 2;
    const uint32_t at = alloc_block(grown);  // may move the pool
    std::memcpy(pool_.data() + at, listed_ids(*e), sizeof(uint32_t) * e->count);
    if (e->count > kInlineIds) free_block(e->small[0], cap);
    e->small[0] = at;
    uint32_t count = e->count;
    insert_inline(pool_.data() + at, &count, grown, doc);
    e->count = count;
    return true;
  }
  return insert_inline(pool_.data() + e->small[0], &e->count, cap, doc);
}

void TermPostingsCollector::promote(Entry* e) {
  e->ids = Bitmap();
  e->ids.add_many(listed_ids(*e), e->count);
  if (e->count > kInlineIds) free_block(e->small[0], std::max<uint32_t>(8, std::bit_ceil(e->count)));
  e->count = 0;
}

void TermPostingsCollector::add_ids(Entry* e, const uint32_t* docs, size_t n) {
  if (!e->ids) {
    size_t k = 0;
    while (k < n && add_listed(e, docs[k])) ++k;
    if (k == n) return;
    promote(e);
    docs += k;
    n -= k;
  }
  e->ids.add_many(docs, n);
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
    if (end != begin) add_ids(&entries_[e], grouped_.data() + begin, end - begin);
    begin = end;
  }
  pending_.clear();
}

std::vector<uint32_t> TermPostingsCollector::sorted_entries(const TermVocabulary& vocab) const {
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
  return order;
}

Status TermPostingsCollector::encode(const TermVocabulary& vocab, const TermIndexOptions& options,
                                     Sink* sink) {
  flush();
  SortedRecords records(*this, vocab);
  return encode_term_index(&records, options, sink);
}

TermPostings TermPostingsCollector::take(const TermVocabulary& vocab) {
  flush();
  const std::vector<uint32_t> order = sorted_entries(vocab);
  TermPostings out;
  out.reserve(order.size());
  for (uint32_t i : order) {
    Entry& e = entries_[i];
    if (!e.ids) promote(&e);
    out.push_back(TermPosting{std::string(vocab.term(e.term)), std::move(e.ids)});
    slot_of_[e.term] = Slot();
  }
  std::vector<Entry>().swap(entries_);
  std::vector<uint32_t>().swap(grouped_);
  std::vector<uint32_t>().swap(starts_);
  clear_pool();
  return out;
}

void TermPostingsCollector::restore(TermPostings postings, const TermVocabulary& vocab) {
  flush();
  for (TermPosting& p : postings) {
    const uint32_t term = *vocab.find_term(p.term);
    if (term >= slot_of_.size()) grow_slots(term);
    Slot& slot = slot_of_[term];
    if (slot.entry1 == 0) {
      // Any id of the set will do as the last one logged.
      slot = Slot{new_entry(term), roaring_bitmap_minimum(p.ids.get())};
      entries_[slot.entry1 - 1].ids = std::move(p.ids);
      continue;
    }
    Entry& e = entries_[slot.entry1 - 1];
    if (!e.ids) promote(&e);
    roaring_bitmap_or_inplace(e.ids.get(), p.ids.get());
  }
}

void TermPostingsCollector::free_sets() {
  // In the order of their addresses, which is roughly the order they were
  // allocated in: the allocator then works through its memory front to
  // back instead of at random, as term order would have it.
  std::vector<Bitmap*> sets;
  for (Entry& e : entries_) {
    if (e.ids) sets.push_back(&e.ids);
  }
  std::sort(sets.begin(), sets.end(), [](const Bitmap* a, const Bitmap* b) {
    return std::less<const void*>()(a->get(), b->get());
  });
  for (Bitmap* s : sets) s->reset();
}

void TermPostingsCollector::clear() {
  free_sets();
  std::vector<Slot>().swap(slot_of_);
  std::vector<Entry>().swap(entries_);
  std::vector<uint64_t>().swap(pending_);
  std::vector<uint32_t>().swap(grouped_);
  std::vector<uint32_t>().swap(starts_);
  clear_pool();
}

void TermPostingsCollector::clear_pool() {
  std::vector<uint32_t>().swap(pool_);
  for (std::vector<uint32_t>& free : free_blocks_) std::vector<uint32_t>().swap(free);
}

}  // namespace vellum
