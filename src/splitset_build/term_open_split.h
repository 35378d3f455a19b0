// The open split of a term split set: each term's local document ids,
// with a running estimate of the encoded body's size that decides a seal.
// The estimate is a fixed cost, not a measurement: a term new to the split
// counts its byte length + 26, every (term, document) posting 2.
//
// Terms come from one vocabulary kept across splits, so each distinct word
// of the corpus is stemmed once however many splits it appears in. The
// body is a VLTI index of local ids with the default dict block budget;
// term splits carry no summary entry of their own.
#ifndef VELLUM_SPLITSET_BUILD_TERM_OPEN_SPLIT_H_
#define VELLUM_SPLITSET_BUILD_TERM_OPEN_SPLIT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "splitset_build/batch_split_set.h"
#include "terms_dict/term_index_writer.h"
#include "terms_dict/term_postings_collector.h"
#include "terms_dict/term_vocabulary.h"

namespace vellum {

class TermOpenSplit final : public OpenSplitBody {
 public:
  TermOpenSplit(TermVocabulary vocab, TermIndexOptions options)
      : vocab_(std::move(vocab)), options_(options) {}

  // The distinct term ids of `text`, in order of first occurrence; valid
  // until the next call.
  const std::vector<uint32_t>& distinct_terms(std::string_view text);

  // What adding a document with these distinct terms (from distinct_terms,
  // which also readies the split after an encode) adds to the estimate.
  uint64_t doc_estimate(const std::vector<uint32_t>& terms) const;

  // Whether the estimate after a document of estimate `cost`, with the
  // comparison's slack, passes `cap`.
  bool exceeds(uint64_t cost, uint64_t cap) const;

  // Adds the document `local_id`, new to the split, with its distinct terms
  // and their doc_estimate `cost`.
  void add(uint32_t local_id, const std::vector<uint32_t>& terms, uint64_t cost);

  uint64_t estimate() const { return estimate_; }
  size_t term_count() const { return encoded_ ? encoded_->size() : postings_.term_count(); }

  // Leaves the split as it was: the postings handed to the writer are
  // kept and put back before the split is used again, unless clear()
  // drops them first (the usual seal), which saves re-inserting them.
  Status encode(std::string* body, std::string* summary) override;
  void clear() override;

 private:
  void settle();

  TermVocabulary vocab_;
  TermPostingsCollector postings_;
  std::optional<TermPostings> encoded_;  // taken out by the last encode
  TermIndexOptions options_;
  uint64_t estimate_ = 0;
  std::vector<uint32_t> terms_;  // scratch for distinct_terms
  // Per term id, the distinct_terms call that last saw it: repeats within
  // a document are dropped without sorting.
  std::vector<uint32_t> seen_in_;
  uint32_t call_ = 0;
};

}  // namespace vellum

#endif  // VELLUM_SPLITSET_BUILD_TERM_OPEN_SPLIT_H_
