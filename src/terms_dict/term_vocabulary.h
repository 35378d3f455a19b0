// Analyses texts into term ids with one TermAnalyzer, remembering what
// each distinct (folded) word became: dropped as a stop word, or a term.
// A corpus has far fewer distinct words than words, so every word is
// checked against the stop-word list and stemmed once; later occurrences
// cost one hash lookup. Words with the same stem share one term id.
//
// Term ids are dense (0, 1, ... in order of first appearance) and stable
// for the life of the vocabulary, so postings collectors for different
// document sets (one per split, say) can share one vocabulary and its
// stem cache.
//
// A term may be empty: some Snowball stemmers reduce a word to nothing.
// The empty term is then a term like any other (it sorts first); it never
// arises without stemming, because words are never empty.
#ifndef VELLUM_TERMS_DICT_TERM_VOCABULARY_H_
#define VELLUM_TERMS_DICT_TERM_VOCABULARY_H_

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "analysis/term_analyzer.h"
#include "analysis/term_scanner.h"
#include "terms_dict/string_table.h"

namespace vellum {

class TermVocabulary {
 public:
  explicit TermVocabulary(TermAnalyzer analyzer);

  TermVocabulary(TermVocabulary&&) noexcept = default;
  TermVocabulary& operator=(TermVocabulary&&) noexcept = default;

  const TermAnalyzer& analyzer() const { return analyzer_; }

  // Calls `fn(term_id)` for each term of `text` (UTF-8), in order, repeats
  // included: exactly the terms analyze_terms gives.
  template <typename Fn>
  void for_each_term(std::string_view text, Fn&& fn) {
    scanner_.reset(text);
    for (bool more = true; more;) {
      more = scan_batch(text);
      for (const Word& w : batch_) {
        const uint32_t term = term_of_word(std::string_view(w.data, w.size), w.hash);
        if (term != kDropped) fn(term);
      }
    }
  }

  // Appends the term ids of `text` to `ids`.
  void analyze(std::string_view text, std::vector<uint32_t>* ids) {
    for_each_term(text, [ids](uint32_t t) { ids->push_back(t); });
  }

  // The bytes of term `id`; valid until the vocabulary next grows.
  std::string_view term(uint32_t id) const { return terms_.at(id); }

  // The id of a term seen before, if any.
  std::optional<uint32_t> find_term(std::string_view term) const {
    return terms_.find(term, hash_string(term));
  }

  // Distinct terms seen so far (not all of them need to be in a
  // collector: a collector holds only the terms of its documents).
  size_t term_count() const { return terms_.size(); }

  // Forgets every word and term and frees the memory.
  void clear();

 private:
  static constexpr uint32_t kDropped = UINT32_MAX;

  // The bytes of a word of at most 8 bytes, zero-padded, from fixed-size
  // loads: a copy of variable length would be stored byte by byte and then
  // read back whole, which stalls the processor.
  static uint64_t head_of(std::string_view word) {
    const auto* p = reinterpret_cast<const unsigned char*>(word.data());
    const size_t n = word.size();
    if (n >= 4) {
      uint32_t lo, hi;
      std::memcpy(&lo, p, 4);
      std::memcpy(&hi, p + n - 4, 4);
      return uint64_t{lo} | uint64_t{hi} << (8 * (n - 4));  // overlapping bytes agree
    }
    if (n == 0) return 0;
    return uint64_t{p[0]} | uint64_t{p[n / 2]} << (8 * (n / 2)) | uint64_t{p[n - 1]} << (8 * (n - 1));
  }
  uint32_t term_of_word(std::string_view word, uint64_t hash) {
    if (word.size() > 8) return lookup(word, hash);
    // The frequent short words stay in a small direct-mapped cache that
    // fits the processor's cache, in front of the large table.
    const uint64_t head = head_of(word);
    RecentWord& r = recent_[hash & (kRecentWords - 1)];
    if (r.head == head && r.len == word.size()) return r.term;
    const uint32_t t = lookup(word, hash);
    r = RecentWord{head, static_cast<uint32_t>(word.size()), t};
    return t;
  }

  uint32_t lookup(std::string_view word, uint64_t hash) {
    bool inserted;
    const uint32_t w = words_.find_or_insert(word, hash, &inserted);
    if (!inserted) return word_terms_[w];
    const uint32_t t = resolve(word);
    word_terms_.push_back(t);
    return t;
  }

  // The term a new word becomes, or kDropped.
  uint32_t resolve(std::string_view word);

  // Scans up to kBatchWords more words of `text` into batch_, hashed, and
  // starts loading the table slots of those the recent cache lacks, so the
  // lookups that follow overlap their memory latency. False at the end of
  // the text.
  bool scan_batch(std::string_view text);

  static constexpr size_t kBatchWords = 32;
  struct Word {
    const char* data;
    uint32_t size;
    uint32_t copy_at;  // offset in batch_copies_, or kInText
    uint64_t hash;
  };
  static constexpr uint32_t kInText = UINT32_MAX;

  static constexpr size_t kRecentWords = 4096;
  struct RecentWord {
    uint64_t head = 0;  // the word's bytes, zero-padded
    uint32_t len = UINT32_MAX;  // no word yet
    uint32_t term = 0;
  };

  TermAnalyzer analyzer_;
  TermScanner scanner_;
  std::vector<RecentWord> recent_ = std::vector<RecentWord>(kRecentWords);
  StringTable words_;               // folded words as scanned
  std::vector<uint32_t> word_terms_;  // per word id: term id or kDropped
  StringTable terms_;               // terms as indexed (stems when stemming)
  std::vector<Word> batch_;
  std::string batch_copies_;  // the batch's words that folding changed
};

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_TERM_VOCABULARY_H_
