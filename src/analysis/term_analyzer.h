// Whole-term analysis: the settings a term builder resolves at construction
// and the analysis of a text into terms with them. A text is cut into
// alphanumeric runs (TermScanner, folded unless case-sensitive); a run in
// the language's stop-word list is dropped when stop-word removal is on,
// checked on the folded run; a kept run is replaced by its Snowball stem
// when stemming is on. Terms keep their order and repeats.
//
// A TermAnalyzer is immutable once created and may be used from any thread.
// Callers that analyse much text can run the steps themselves, to stem
// each distinct word once:
//
//   TermScanner scanner(analyzer.fold());
//   scanner.reset(text);
//   for (std::string_view run; scanner.next(&run);) {
//     if (analyzer.drops(run)) continue;
//     term = analyzer.stem() ? cached_or(analyzer.stem_word(run)) : run;
//   }
#ifndef VELLUM_ANALYSIS_TERM_ANALYZER_H_
#define VELLUM_ANALYSIS_TERM_ANALYZER_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/stem_language.h"
#include "analysis/stemmer.h"
#include "common/status.h"

namespace vellum {

class TermAnalyzer {
 public:
  // Resolves builder parameters. Without a language, `stem` true or
  // `stopwords` true fails; `stem` nullopt means false there. With a
  // language, an unknown one fails whatever the flags, and `stem` nullopt
  // means true. Both failures are kInvalidArgument. `language` is UTF-8 as
  // the caller gave it.
  static Result<TermAnalyzer> create(std::optional<std::string_view> language,
                                     std::optional<bool> stem, bool stopwords,
                                     bool case_sensitive);

  std::optional<StemLanguage> language() const { return language_; }
  bool stem() const { return stemmer_.has_value(); }
  bool stopwords() const { return !stop_list_.empty(); }
  bool fold() const { return fold_; }

  // The language a term index header records: set only when it affects
  // analysis (stemming or stop-word removal on).
  std::optional<StemLanguage> recorded_language() const {
    return stem() || stopwords() ? language_ : std::nullopt;
  }

  // True when stop-word removal is on and `run` is in the language's list.
  bool drops(std::string_view run) const;

  // The Snowball stem of `run` when stemming is on; `run` itself otherwise.
  std::string stem_word(std::string_view run) const;

  // Appends the terms of `text` (UTF-8) to `terms`.
  void analyze(std::string_view text, std::vector<std::string>* terms) const;

 private:
  TermAnalyzer(std::optional<StemLanguage> language, std::optional<Stemmer> stemmer,
               std::span<const std::string_view> stop_list, bool fold)
      : language_(language), stemmer_(std::move(stemmer)), stop_list_(stop_list),
        fold_(fold) {}

  std::optional<StemLanguage> language_;
  std::optional<Stemmer> stemmer_;                // present exactly when stemming
  std::span<const std::string_view> stop_list_;   // empty unless removing stop words
  bool fold_;
};

// The terms of `text`, in order of occurrence, repeats kept.
std::vector<std::string> analyze_terms(const TermAnalyzer& analyzer, std::string_view text);

// The two construction failures.
inline constexpr std::string_view kNoLanguageMessage =
    "stemming and stop-word removal require a language (pass language=...)";
std::string unknown_language_message(std::string_view value);

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_TERM_ANALYZER_H_
