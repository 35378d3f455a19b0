// The set of document ids of every term of a TermVocabulary that occurs
// in the documents added, handed over as TermPostings in ascending byte
// order of the terms: terms are hashed (by the vocabulary) while adding,
// and the distinct terms are sorted once, when taken.
//
// Most terms of a large corpus are rare, so a set starts inline in its
// entry (up to kInlineIds ids), moves to pooled blocks of 8, 16, ... ids
// as it grows, and becomes a Roaring bitmap only past kPromoteAt ids.
// Sets that never got that far are encoded straight from their ids.
//
// One collector serves one index body: a TermBuilder has one, a split-set
// builder one per open split, all sharing one vocabulary and stem cache.
//
//   TermVocabulary vocab(std::move(analyzer));
//   TermPostingsCollector postings;
//   vocab.for_each_term(text, [&](uint32_t t) { postings.add(t, doc); });
//   postings.encode(vocab, options, &sink);  // or: take(vocab), for the sets
#ifndef VELLUM_TERMS_DICT_TERM_POSTINGS_COLLECTOR_H_
#define VELLUM_TERMS_DICT_TERM_POSTINGS_COLLECTOR_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/bitmap.h"
#include "common/prefetch.h"
#include "common/sink.h"
#include "common/status.h"
#include "terms_dict/term_index_writer.h"
#include "terms_dict/term_postings.h"
#include "terms_dict/term_vocabulary.h"

namespace vellum {

class TermPostingsCollector {
 public:
  // Adds `doc` to the set of term `term`. Docs may come in any order and
  // repeat; adding a doc that is already in the set changes nothing.
  void add(uint32_t term, uint32_t doc) {
    if (term >= slot_of_.size()) grow_slots(term);
    Slot& slot = slot_of_[term];
    if (slot.entry1 == 0) {
      slot.entry1 = new_entry(term);
    } else if (slot.last_doc == doc) {
      return;  // the same term again in one document: already logged
    }
    slot.last_doc = doc;
    pending_.push_back(uint64_t{slot.entry1 - 1} << 32 | doc);
    if (pending_.size() == kPendingPairs) flush();
  }

  // Starts loading what add(term, ...) reads first.
  void prefetch(uint32_t term) const {
    if (term < slot_of_.size()) vellum::prefetch(&slot_of_[term]);
  }

  bool contains(uint32_t term) const {
    return term < slot_of_.size() && slot_of_[term].entry1 != 0;
  }

  // Distinct terms with at least one document.
  size_t term_count() const { return entries_.size(); }

  // Writes the index of the sets to `sink` (as encode_term_index would
  // for take(vocab)), keeping them: a failed write loses nothing.
  Status encode(const TermVocabulary& vocab, const TermIndexOptions& options, Sink* sink);

  // Moves every set out, in ascending byte order of the terms of `vocab`
  // (the vocabulary the term ids came from). The collector is then empty
  // and can collect again.
  TermPostings take(const TermVocabulary& vocab);

  // Puts back what take() handed over, for a caller whose write failed:
  // afterwards the collector holds what it held before take(), plus
  // anything added since.
  void restore(TermPostings postings, const TermVocabulary& vocab);

  // Empties the collector and frees its memory.
  void clear();

 private:
  // Pairs wait in a log and reach the sets in batches, grouped by term:
  // a set is then visited once per batch, not once per occurrence.
  static constexpr size_t kPendingPairs = size_t{1} << 20;

  static constexpr uint32_t kInlineIds = 4;
  static constexpr uint32_t kPromoteAt = 64;  // a power of two, at least 8

  // While ids holds nothing the set is a list of `count` ascending ids:
  // in `small` up to kInlineIds, else in the pool block at small[0],
  // whose capacity is the smallest power of two >= max(count, 8).
  struct Entry {
    uint32_t term;
    uint32_t count = 0;
    uint32_t small[kInlineIds];
    Bitmap ids{nullptr};  // the set, once it outgrew kPromoteAt
  };
  class SortedRecords;
  // Beside the entry index sits the doc last logged for the term, in the
  // same cache line, so repeats within a document cost no pending pair.
  struct Slot {
    uint32_t entry1 = 0;    // entry index + 1, 0 if absent
    uint32_t last_doc = 0;  // meaningful only when entry1 != 0
  };

  void grow_slots(uint32_t term);
  uint32_t new_entry(uint32_t term);
  // Moves the pending pairs into the sets.
  void flush();
  void add_ids(Entry* e, const uint32_t* docs, size_t n);
  // Adds `doc` to a listed set; false when the set must become a bitmap.
  bool add_listed(Entry* e, uint32_t doc);
  const uint32_t* listed_ids(const Entry& e) const {
    return e.count <= kInlineIds ? e.small : pool_.data() + e.small[0];
  }
  // Turns a listed set into a bitmap, returning its block to the pool.
  void promote(Entry* e);
  uint32_t alloc_block(uint32_t cap);
  void free_block(uint32_t at, uint32_t cap);
  void clear_pool();
  // Entry indexes in ascending byte order of their terms.
  std::vector<uint32_t> sorted_entries(const TermVocabulary& vocab) const;
  // Frees every bitmap, in the order of their addresses.
  void free_sets();

  std::vector<Slot> slot_of_;      // per term id
  std::vector<Entry> entries_;     // in order of first appearance
  std::vector<uint64_t> pending_;  // entry index << 32 | doc, in order added
  std::vector<uint32_t> grouped_;  // flush scratch: pending docs by entry
  std::vector<uint32_t> starts_;   // flush scratch: per entry, its first in grouped_
  std::vector<uint32_t> pool_;     // id blocks of listed sets
  // Freed blocks by size class (8 << c ids), reused before the pool grows.
  std::vector<uint32_t> free_blocks_[std::bit_width(kPromoteAt) - 3];
};

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_TERM_POSTINGS_COLLECTOR_H_
