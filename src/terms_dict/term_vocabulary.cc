#include "terms_dict/term_vocabulary.h"

#include <string>
#include <utility>

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

void TermVocabulary::clear() {
  words_.clear();
  std::vector<uint32_t>().swap(word_terms_);
  terms_.clear();
}

}  // namespace vellum
