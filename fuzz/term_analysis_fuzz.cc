// Arbitrary bytes (malformed UTF-8 included) through whole-term analysis
// and the quoting helper. Nothing may crash or read out of bounds; the
// scanner's fast paths must agree with a plain code-point-at-a-time
// analysis; quoting must be reversible.
//
// Byte 0 picks the settings: bits 0-4 the language (18 and up: none),
// bit 5 stemming, bit 6 stop-word removal, bit 7 case sensitivity.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/quote.h"
#include "analysis/stem_language.h"
#include "analysis/stemmer.h"
#include "analysis/stopwords.h"
#include "analysis/term_analyzer.h"
#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace {

using vellum::StemLanguage;

void check(bool ok) {
  if (!ok) std::abort();
}

// The rules one code point at a time, without the scanner's byte classes
// or its copy-on-change.
std::vector<std::string> plain_analysis(std::string_view text, std::optional<StemLanguage> lang,
                                        bool stem, bool stopwords, bool fold) {
  std::optional<vellum::Stemmer> stemmer;
  if (stem) stemmer = std::move(vellum::Stemmer::create(*lang)).value();
  std::vector<std::string> terms;
  std::string run;
  bool in_run = false;
  auto finish = [&] {
    if (!in_run) return;
    in_run = false;
    if (stopwords && vellum::is_stopword(run, *lang)) return;
    terms.push_back(stem ? stemmer->stem(run) : run);
  };
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t at = pos;
    const char32_t cp = vellum::utf8::decode(text, &pos);
    const bool malformed = cp == 0xFFFD && pos - at == 1;
    if (malformed || !vellum::unicode::is_alphanumeric(cp)) {
      finish();
      continue;
    }
    if (!in_run) run.clear(), in_run = true;
    char32_t lower[3] = {cp};
    const size_t k = fold ? vellum::unicode::to_lower_full(cp, lower) : 1;
    for (size_t m = 0; m < k; ++m) vellum::utf8::append(&run, lower[m]);
  }
  finish();
  return terms;
}

// Inverse of quoted_literal; aborts on anything it would not produce.
std::string unquote(std::string_view q) {
  check(q.size() >= 2 && q.front() == '"' && q.back() == '"');
  q = q.substr(1, q.size() - 2);
  std::string out;
  for (size_t i = 0; i < q.size();) {
    if (q[i] == '"') std::abort();
    if (q[i] != '\\') {
      out.push_back(q[i++]);
      continue;
    }
    check(i + 1 < q.size());
    const char e = q[i + 1];
    i += 2;
    if (e == '"' || e == '\\') out.push_back(e);
    else if (e == 't') out.push_back('\t');
    else if (e == 'r') out.push_back('\r');
    else if (e == 'n') out.push_back('\n');
    else if (e == '0') out.push_back('\0');
    else {
      check(e == 'u' && i < q.size() && q[i] == '{');
      const size_t close = q.find('}', i);
      check(close != std::string_view::npos && close > i + 1);
      const std::string hex(q.substr(i + 1, close - i - 1));
      check(hex.find_first_not_of("0123456789abcdef") == std::string::npos && hex[0] != '0');
      vellum::utf8::append(&out, static_cast<char32_t>(std::strtoul(hex.c_str(), nullptr, 16)));
      i = close + 1;
    }
  }
  return out;
}

// `text` with each malformed byte replaced by U+FFFD, as quoting shows it.
std::string sanitized(std::string_view text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) vellum::utf8::append(&out, vellum::utf8::decode(text, &pos));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t sel = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const size_t li = sel & 0x1F;
  std::optional<std::string_view> language;
  if (li < vellum::kStemLanguageCount) {
    language = vellum::language_iso_code(static_cast<StemLanguage>(li));
  }
  const bool stem = (sel & 0x20) && language;
  const bool stopwords = (sel & 0x40) && language;
  const bool case_sensitive = (sel & 0x80) != 0;
  auto analyzer = vellum::TermAnalyzer::create(language, stem, stopwords, case_sensitive);
  check(analyzer.ok());
  const std::vector<std::string> terms = vellum::analyze_terms(*analyzer, text);
  const std::optional<StemLanguage> lang =
      language ? std::optional(static_cast<StemLanguage>(li)) : std::nullopt;
  check(terms == plain_analysis(text, lang, stem, stopwords, !case_sensitive));

  check(unquote(vellum::quoted_literal(text)) == sanitized(text));

  // Any text as a language: accepted exactly when it parses, and the
  // refusal quotes it.
  auto any = vellum::TermAnalyzer::create(text, false, false, false);
  check(any.ok() == vellum::parse_language(text).has_value());
  if (!any.ok()) check(any.error().message() == vellum::unknown_language_message(text));
  return 0;
}
