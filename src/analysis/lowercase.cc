#include "analysis/lowercase.h"

#include <vector>

#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum {
namespace {

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;

// The final-sigma context: before C is `cased case-ignorable*`, after C is
// not `case-ignorable* cased`. Case-ignorable characters are skipped before
// the cased test, as the common case-conversion libraries do, so a
// character that is both cased and case-ignorable (modifier letters such as
// U+02B0) is context, not the cased letter. Readers computing facet keys
// with those libraries then get the same bytes.
bool is_final_sigma(const std::vector<char32_t>& cps, size_t i) {
  bool cased_before = false;
  for (size_t k = i; k-- > 0;) {
    if (unicode::is_case_ignorable(cps[k])) continue;
    cased_before = unicode::is_cased(cps[k]);
    break;
  }
  if (!cased_before) return false;
  for (size_t k = i + 1; k < cps.size(); ++k) {
    if (unicode::is_case_ignorable(cps[k])) continue;
    return !unicode::is_cased(cps[k]);
  }
  return true;
}

}  // namespace

std::string to_lower_full(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  // ASCII needs no context and no table: the common case stays a byte loop.
  size_t pos = 0;
  while (pos < utf8.size() && static_cast<uint8_t>(utf8[pos]) < 0x80) {
    char c = utf8[pos++];
    out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
  }
  if (pos == utf8.size()) return out;

  // The sigma context may reach back into the ASCII prefix, so decode it all.
  std::vector<char32_t> cps;
  cps.reserve(utf8.size());
  for (size_t p = 0; p < utf8.size();) cps.push_back(utf8::decode(utf8, &p));
  char32_t mapped[3];
  for (size_t i = pos; i < cps.size(); ++i) {
    const char32_t cp = cps[i];
    if (cp == kCapitalSigma) {
      utf8::append(&out, is_final_sigma(cps, i) ? kFinalSigma : kSmallSigma);
      continue;
    }
    const size_t n = unicode::to_lower_full(cp, mapped);
    for (size_t k = 0; k < n; ++k) utf8::append(&out, mapped[k]);
  }
  return out;
}

}  // namespace vellum
