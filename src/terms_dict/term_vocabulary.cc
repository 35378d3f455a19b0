#include "terms_dict/term_vocabulary.h"

#include <cstdint>
#include <string>
#include <utility>

#include "common/prefetch.h"

namespace vellum {

TermVocabulary::TermVocabulary(TermAnalyzer analyzer)
    : analyzer_(std::move(analyzer)), scanner_(analyzer_.fold()) {}

uint32_t TermVocabulary::resolve(std::string_view word) {
  if (analyzer_.drops(word)) return kDropped;
  bool inserted;
  if (!analyzer_.stem()) return terms_.find_or_insert(word, hash_string(word), &inserted);
  const std::string stem = analyzer_.stem_word(word);
  return terms_.find_or_insert(stem, hash_string(stem), &inserted);
}

bool TermVocabulary::scan_batch(std::string_view text) {
  batch_.clear();
  batch_copies_.clear();
  const auto text_begin = reinterpret_cast<uintptr_t>(text.data());
  bool more = true;
  std::string_view run;
  while (batch_.size() < kBatchWords) {
    if (!scanner_.next(&run)) {
      more = false;
      break;
    }
    // A run outside the text is the scanner's own buffer, which the next
    // run overwrites: keep a copy.
    const uintptr_t at = reinterpret_cast<uintptr_t>(run.data()) - text_begin;
    uint32_t copy_at = kInText;
    if (at >= text.size()) {
      copy_at = static_cast<uint32_t>(batch_copies_.size());
      batch_copies_.append(run);
    }
    batch_.push_back(Word{run.data(), static_cast<uint32_t>(run.size()), copy_at, 0});
  }
  for (Word& w : batch_) {
    if (w.copy_at != kInText) w.data = batch_copies_.data() + w.copy_at;
    const std::string_view word(w.data, w.size);
    w.hash = hash_string(word);
    prefetch(&recent_[w.hash & (kRecentWords - 1)]);
    words_.prefetch(w.hash);
  }
  return more;
}

void TermVocabulary::clear() {
  std::vector<RecentWord>(kRecentWords).swap(recent_);
  words_.clear();
  std::vector<uint32_t>().swap(word_terms_);
  terms_.clear();
  std::vector<Word>().swap(batch_);
  std::string().swap(batch_copies_);
}

}  // namespace vellum
