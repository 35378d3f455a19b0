#include "common/quote.h"

#include <cstdio>

#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum {

namespace {

bool is_printable(char32_t cp) {
  using unicode::GeneralCategory;
  switch (unicode::general_category(cp)) {
    case GeneralCategory::kCc:
    case GeneralCategory::kCf:
    case GeneralCategory::kCs:
    case GeneralCategory::kCo:
    case GeneralCategory::kCn:
    case GeneralCategory::kZl:
    case GeneralCategory::kZp:
      return false;
    case GeneralCategory::kZs:
      return cp == U' ';
    default:
      return true;
  }
}

void append_escape(std::string* out, char32_t cp) {
  switch (cp) {
    case U'"': *out += "\\\""; return;
    case U'\\': *out += "\\\\"; return;
    case U'\t': *out += "\\t"; return;
    case U'\r': *out += "\\r"; return;
    case U'\n': *out += "\\n"; return;
    case U'\0': *out += "\\0"; return;
    default: break;
  }
  if (is_printable(cp)) {
    utf8::append(out, cp);
    return;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
  *out += buf;
}

}  // namespace

std::string quote_literal(std::string_view text) {
  std::string out = "\"";
  for (size_t pos = 0; pos < text.size();) append_escape(&out, utf8::decode(text, &pos));
  out += '"';
  return out;
}

}  // namespace vellum
