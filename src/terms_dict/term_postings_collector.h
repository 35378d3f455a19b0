// The set of document ids of every term of a TermVocabulary that occurs
// in the documents added, handed over as TermPostings in ascending byte
// order of the terms: terms are hashed (by the vocabulary) while adding,
// and the distinct terms are sorted once, when taken.
//
// One collector serves one index body: a TermBuilder has one, a split-set
// builder one per open split, all sharing one vocabulary and stem cache.
//
//   TermVocabulary vocab(std::move(analyzer));
//   TermPostingsCollector postings;
//   vocab.for_each_term(text, [&](uint32_t t) { postings.add(t, doc); });
//   encode_term_index(postings.take(vocab), options, &sink);
#ifndef VELLUM_TERMS_DICT_TERM_POSTINGS_COLLECTOR_H_
#define VELLUM_TERMS_DICT_TERM_POSTINGS_COLLECTOR_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/bitmap.h"
#include "terms_dict/term_postings.h"
#include "terms_dict/term_vocabulary.h"

namespace vellum {

class TermPostingsCollector {
 public:
  // Adds `doc` to the set of term `term`. Docs may come in any order and
  // repeat; adding a doc that is already in the set changes nothing.
  void add(uint32_t term, uint32_t doc) {
    if (term >= slot_of_.size()) grow_slots(term);
    uint32_t& slot = slot_of_[term];
    if (slot == 0) {
      slot = new_entry(term);
    } else if (entries_[slot - 1].last == doc) {
      return;  // the usual repeat: a term again in the same document
    }
    Entry& e = entries_[slot - 1];
    e.last = doc;
    e.ids.add(doc);
  }

  bool contains(uint32_t term) const {
    return term < slot_of_.size() && slot_of_[term] != 0;
  }

  // Distinct terms with at least one document.
  size_t term_count() const { return entries_.size(); }

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
  struct Entry {
    uint32_t term;
    uint32_t last;  // the doc added most recently
    Bitmap ids;
  };

  void grow_slots(uint32_t term);
  uint32_t new_entry(uint32_t term);

  std::vector<uint32_t> slot_of_;  // per term id: entry index + 1, 0 if absent
  std::vector<Entry> entries_;     // in order of first appearance
};

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_TERM_POSTINGS_COLLECTOR_H_
