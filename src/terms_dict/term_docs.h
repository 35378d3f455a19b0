// A batch of (doc_id, text) documents for the term builders, with every
// text in one buffer: converting a large batch costs no allocation per
// document.
#ifndef VELLUM_TERMS_DICT_TERM_DOCS_H_
#define VELLUM_TERMS_DICT_TERM_DOCS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

class TermDocs {
 public:
  void add(uint32_t id, std::string_view text) {
    text_.append(text);
    ids_.push_back(id);
    ends_.push_back(text_.size());
  }

  size_t size() const { return ids_.size(); }
  uint32_t id(size_t i) const { return ids_[i]; }
  std::string_view text(size_t i) const {
    const size_t start = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(start, ends_[i] - start);
  }

 private:
  std::string text_;
  std::vector<uint32_t> ids_;
  std::vector<size_t> ends_;  // end of document i's text in text_
};

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_TERM_DOCS_H_
