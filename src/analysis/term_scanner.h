// Cuts a text into whole-term runs: maximal runs of alphanumeric code
// points (Alphabetic, or General Category Nd, Nl, No). Every other code
// point, and every byte of malformed UTF-8, ends the current run and is
// dropped. When folding, each character of a run is replaced by its whole
// default lower-case mapping, taken per character without context rules;
// the alphanumeric test is made on the original character.
//
// Runs that folding leaves unchanged (and every run when not folding) are
// returned as views into the text, without copying.
#ifndef VELLUM_ANALYSIS_TERM_SCANNER_H_
#define VELLUM_ANALYSIS_TERM_SCANNER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum {

class TermScanner {
 public:
  explicit TermScanner(bool fold);

  // Starts over on `text`, which must outlive the scan.
  void reset(std::string_view text) {
    text_ = text;
    pos_ = 0;
  }

  // Sets `*run` to the next (folded) run and returns true, or returns false
  // at the end of the text. The view stays valid until the next call to
  // next() or reset(), or until the text goes away. A run is never empty.
  bool next(std::string_view* run);

 private:
  size_t skip_separators(size_t i) const;
  size_t scan_unchanged(size_t i, bool* changed) const;
  size_t scan_folding(size_t i);
  bool fold_changes(char32_t cp, char32_t lower[3], size_t* k) const;

  bool fold_;
  const uint8_t* byte_class_;  // per byte value, for fold_
  std::string_view text_;
  size_t pos_ = 0;
  std::string folded_;  // the current run, when folding changed it
};

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_TERM_SCANNER_H_
