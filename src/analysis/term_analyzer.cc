#include "analysis/term_analyzer.h"

#include "analysis/quote.h"
#include "analysis/stopwords.h"
#include "analysis/term_scanner.h"

namespace vellum {

std::string unknown_language_message(std::string_view value) {
  return "unknown stemmer language " + quoted_literal(value) +
         "; use a Snowball name or ISO-639-1 code "
         "(e.g. \"english\"/\"en\", \"french\"/\"fr\")";
}

Result<TermAnalyzer> TermAnalyzer::create(std::optional<std::string_view> language,
                                          std::optional<bool> stem, bool stopwords,
                                          bool case_sensitive) {
  const bool fold = !case_sensitive;
  if (!language.has_value()) {
    if (stem.value_or(false) || stopwords) {
      return Error(ErrorKind::kInvalidArgument, std::string(kNoLanguageMessage));
    }
    return TermAnalyzer(std::nullopt, std::nullopt, {}, fold);
  }
  const std::optional<StemLanguage> lang = parse_language(*language);
  if (!lang.has_value()) {
    return Error(ErrorKind::kInvalidArgument, unknown_language_message(*language));
  }
  std::optional<Stemmer> stemmer;
  if (stem.value_or(true)) {
    VELLUM_ASSIGN_OR_RETURN(stemmer, Stemmer::create(*lang));
  }
  std::span<const std::string_view> stop_list;
  if (stopwords) stop_list = stopword_list(*lang);
  return TermAnalyzer(lang, std::move(stemmer), stop_list, fold);
}

bool TermAnalyzer::drops(std::string_view run) const {
  return !stop_list_.empty() && contains_stopword(stop_list_, run);
}

std::string TermAnalyzer::stem_word(std::string_view run) const {
  return stemmer_.has_value() ? stemmer_->stem(run) : std::string(run);
}

void TermAnalyzer::analyze(std::string_view text, std::vector<std::string>* terms) const {
  TermScanner scanner(fold_);
  scanner.reset(text);
  for (std::string_view run; scanner.next(&run);) {
    if (drops(run)) continue;
    terms->push_back(stem_word(run));
  }
}

std::vector<std::string> analyze_terms(const TermAnalyzer& analyzer, std::string_view text) {
  std::vector<std::string> terms;
  analyzer.analyze(text, &terms);
  return terms;
}

}  // namespace vellum
