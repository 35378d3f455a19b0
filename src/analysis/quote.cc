#include "analysis/quote.h"

#include <cstdio>

#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_printable(char32_t cp) {
  using GC = unicode::GeneralCategory;
  if (cp == ' ') return true;
  switch (unicode::general_category(cp)) {
    case GC::kCc: case GC::kCf: case GC::kCs: case GC::kCo: case GC::kCn:
    case GC::kZl: case GC::kZp: case GC::kZs:
      return false;
    default:
      return true;
  }
}

void append_escaped(std::string* out, char32_t cp) {
  switch (cp) {
    case '"': out->append("\\\""); return;
    case '\\': out->append("\\\\"); return;
    case '\t': out->append("\\t"); return;
    case '\r': out->append("\\r"); return;
    case '\n': out->append("\\n"); return;
    case '\0': out->append("\\0"); return;
    default: break;
  }
  if (is_printable(cp)) {
    utf8::append(out, cp);
    return;
  }
  char buf[16];
  const int n = std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
  out->append(buf, static_cast<size_t>(n));
}

}  // namespace

std::string quoted_literal(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out.push_back('"');
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t at = pos;
    const char32_t cp = utf8::decode(utf8, &pos);
    // A malformed byte decodes to U+FFFD in one byte; show that it was
    // not the character itself.
    if (cp == kReplacement && pos - at == 1) {
      out.append("\\u{fffd}");
    } else {
      append_escaped(&out, cp);
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace vellum
