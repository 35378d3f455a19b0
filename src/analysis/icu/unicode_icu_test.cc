// Cross-checks the generated Unicode 16.0 tables against ICU, code point by
// code point. The ICU on the build machines is older (ICU 72 = Unicode
// 15.0), so the only differences allowed are the 15.0 -> 16.0 changes:
// characters assigned since 15.0, and the short list of property changes
// of older characters below. Anything else is a generator fault.
//
// Built as its own executable (unicode_icu_test) only when ICU is found;
// nothing else in the project links ICU.
#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/uversion.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "analysis/lowercase.h"
#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum::unicode {
namespace {

using GC = GeneralCategory;

GC from_icu(int8_t t) {
  switch (t) {
    case U_UNASSIGNED: return GC::kCn;
    case U_UPPERCASE_LETTER: return GC::kLu;
    case U_LOWERCASE_LETTER: return GC::kLl;
    case U_TITLECASE_LETTER: return GC::kLt;
    case U_MODIFIER_LETTER: return GC::kLm;
    case U_OTHER_LETTER: return GC::kLo;
    case U_NON_SPACING_MARK: return GC::kMn;
    case U_COMBINING_SPACING_MARK: return GC::kMc;
    case U_ENCLOSING_MARK: return GC::kMe;
    case U_DECIMAL_DIGIT_NUMBER: return GC::kNd;
    case U_LETTER_NUMBER: return GC::kNl;
    case U_OTHER_NUMBER: return GC::kNo;
    case U_CONNECTOR_PUNCTUATION: return GC::kPc;
    case U_DASH_PUNCTUATION: return GC::kPd;
    case U_START_PUNCTUATION: return GC::kPs;
    case U_END_PUNCTUATION: return GC::kPe;
    case U_INITIAL_PUNCTUATION: return GC::kPi;
    case U_FINAL_PUNCTUATION: return GC::kPf;
    case U_OTHER_PUNCTUATION: return GC::kPo;
    case U_MATH_SYMBOL: return GC::kSm;
    case U_CURRENCY_SYMBOL: return GC::kSc;
    case U_MODIFIER_SYMBOL: return GC::kSk;
    case U_OTHER_SYMBOL: return GC::kSo;
    case U_SPACE_SEPARATOR: return GC::kZs;
    case U_LINE_SEPARATOR: return GC::kZl;
    case U_PARAGRAPH_SEPARATOR: return GC::kZp;
    case U_CONTROL_CHAR: return GC::kCc;
    case U_FORMAT_CHAR: return GC::kCf;
    case U_SURROGATE: return GC::kCs;
    case U_PRIVATE_USE_CHAR: return GC::kCo;
  }
  ADD_FAILURE() << "unknown ICU category " << int{t};
  return GC::kCn;
}

std::vector<char32_t> icu_lower_full(char32_t cp) {
  UChar src[2];
  int32_t len = 0;
  UBool unused_err = false;
  U16_APPEND(src, len, 2, cp, unused_err);
  (void)unused_err;
  UChar dst[16];
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = u_strToLower(dst, 16, src, len, "", &status);
  EXPECT_TRUE(U_SUCCESS(status));
  std::vector<char32_t> out;
  for (int32_t i = 0; i < n;) {
    UChar32 c;
    U16_NEXT(dst, i, n, c);
    out.push_back(static_cast<char32_t>(c));
  }
  return out;
}

std::string icu_lower_string(const std::string& utf8) {
  std::vector<UChar> src(utf8.size() * 2 + 1), dst(utf8.size() * 6 + 16);
  UErrorCode status = U_ZERO_ERROR;
  int32_t src_len = 0;
  u_strFromUTF8(src.data(), static_cast<int32_t>(src.size()), &src_len, utf8.data(),
                static_cast<int32_t>(utf8.size()), &status);
  int32_t n = u_strToLower(dst.data(), static_cast<int32_t>(dst.size()), src.data(), src_len, "",
                           &status);
  std::string out(n * 3 + 1, '\0');
  int32_t out_len = 0;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &out_len, dst.data(), n, &status);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  out.resize(out_len);
  return out;
}

// Property changes of characters that ICU 72 already knows, between Unicode
// 15.0 and 16.0 (each checked against the 16.0 UCD change notes and the
// package data). A code point listed here may differ from ICU in the named
// property only.
struct KnownChange {
  char32_t first, last;
  const char* property;
  const char* why;
};
const KnownChange kKnownChanges[] = {
    // 16.0 adds the combining Latin small letters to Other_Alphabetic (so
    // Alphabetic), like the later ones of U+1DE7..U+1DF4 that already were.
    {0x0363, 0x036F, "Alphabetic", "combining Latin small letters a..x"},
    {0x1DD3, 0x1DE6, "Alphabetic", "combining Latin small letters flattened a..s"},
    // AHOM CONSONANT SIGN MEDIAL RA is a spacing sign from 16.0 on (Mn ->
    // Mc); a spacing mark is not case-ignorable, so that flips too.
    {0x1171E, 0x1171E, "General_Category", "Ahom medial ra is Mc in 16.0"},
    {0x1171E, 0x1171E, "Case_Ignorable", "follows from Mn -> Mc"},
};

bool known_change(char32_t cp, const char* property) {
  for (const KnownChange& k : kKnownChanges) {
    if (cp >= k.first && cp <= k.last && std::string(k.property) == property) return true;
  }
  return false;
}

TEST(UnicodeIcu, IcuIsUnicode15) {
  UVersionInfo v;
  u_getUnicodeVersion(v);
  // The allowed differences below are those of 15.0 -> 16.0; a different
  // ICU needs its own list.
  ASSERT_EQ(v[0], 15) << "ICU Unicode version " << int{v[0]} << "." << int{v[1]};
}

TEST(UnicodeIcu, EveryCodePointMatchesExceptTheUnicode16Changes) {
  size_t newly_assigned = 0;
  std::vector<std::string> diffs;
  auto differ = [&](char32_t cp, const char* property, const std::string& ours,
                    const std::string& icu) {
    if (known_change(cp, property)) return;
    char buf[160];
    std::snprintf(buf, sizeof buf, "U+%04X %s: ours %s, ICU %s", static_cast<unsigned>(cp),
                  property, ours.c_str(), icu.c_str());
    diffs.push_back(buf);
  };
  auto hex = [](const std::vector<char32_t>& cps) {
    std::string s;
    for (char32_t c : cps) {
      char b[12];
      std::snprintf(b, sizeof b, "%s%04X", s.empty() ? "" : " ", static_cast<unsigned>(c));
      s += b;
    }
    return s;
  };

  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    const GC icu_gc = from_icu(u_charType(static_cast<UChar32>(cp)));
    const GC gc = general_category(cp);
    if (icu_gc == GC::kCn && gc != GC::kCn) {
      ++newly_assigned;  // assigned in 15.1 or 16.0: ICU 72 has no data for it
      continue;
    }
    const UChar32 c = static_cast<UChar32>(cp);
    if (gc != icu_gc) {
      differ(cp, "General_Category", std::to_string(static_cast<int>(gc)),
             std::to_string(static_cast<int>(icu_gc)));
    }
    const struct {
      const char* name;
      bool ours;
      UProperty icu;
    } binary[] = {
        {"White_Space", is_white_space(cp), UCHAR_WHITE_SPACE},
        {"Alphabetic", is_alphabetic(cp), UCHAR_ALPHABETIC},
        {"Cased", is_cased(cp), UCHAR_CASED},
        {"Case_Ignorable", is_case_ignorable(cp), UCHAR_CASE_IGNORABLE},
    };
    for (const auto& b : binary) {
      const bool icu = u_hasBinaryProperty(c, b.icu);
      if (b.ours != icu) differ(cp, b.name, b.ours ? "yes" : "no", icu ? "yes" : "no");
    }
    char32_t full[3];
    const size_t n = to_lower_full(cp, full);
    const std::vector<char32_t> ours(full, full + n);
    const std::vector<char32_t> icu_full = icu_lower_full(cp);
    if (ours != icu_full) differ(cp, "Lowercase_Mapping", hex(ours), hex(icu_full));
    if (to_lower_first(cp) != icu_full.front()) {
      differ(cp, "first of Lowercase_Mapping", hex({to_lower_first(cp)}), hex({icu_full.front()}));
    }
    // Where the full mapping is one code point it is the simple mapping.
    if (n == 1 && full[0] != static_cast<char32_t>(u_tolower(c))) {
      differ(cp, "Simple_Lowercase_Mapping", hex({full[0]}),
             hex({static_cast<char32_t>(u_tolower(c))}));
    }
  }
  std::string report;
  for (size_t i = 0; i < diffs.size() && i < 200; ++i) report += diffs[i] + "\n";
  EXPECT_TRUE(diffs.empty()) << diffs.size() << " differences:\n" << report;
  // Unicode 15.1 added 627 characters and 16.0 added 5185.
  EXPECT_EQ(newly_assigned, 627u + 5185u);
}

// Characters whose properties ICU 72 has right for 16.0: assigned in 15.0
// and not in the change list.
bool comparable_in_context(char32_t cp) {
  if (u_charType(static_cast<UChar32>(cp)) == U_UNASSIGNED) return false;
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;  // not encodable in UTF-8
  for (const KnownChange& k : kKnownChanges) {
    if (cp >= k.first && cp <= k.last) return false;
  }
  return true;
}

std::string utf8_of(std::initializer_list<char32_t> cps) {
  std::string s;
  for (char32_t c : cps) utf8::append(&s, c);
  return s;
}

TEST(UnicodeIcu, FinalSigmaContextOfEveryCharacterMatches) {
  // Each character once before a final-sigma candidate and once after one.
  size_t checked = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (!comparable_in_context(cp)) continue;
    for (const std::string& s : {utf8_of({cp, 0x03A3}), utf8_of({0x0391, 0x03A3, cp}),
                                 utf8_of({0x0391, cp, 0x03A3})}) {
      ASSERT_EQ(::vellum::to_lower_full(s), icu_lower_string(s)) << std::hex << static_cast<unsigned>(cp);
    }
    ++checked;
  }
  EXPECT_GT(checked, 280000u);
}

TEST(UnicodeIcu, RandomStringsLowercaseLikeIcu) {
  const std::vector<char32_t> pool = {
      'A', 'b', 'Z', '1', ' ', '.', '\'', '-', ':', 0x00AD, 0x0301, 0x0345, 0x02B0,
      0x0391, 0x0392, 0x03A3, 0x03C3, 0x03C2, 0x0130, 0x0049, 0x1E9E, 0x00C9, 0x0410, 0x042F,
      0x2019, 0x200D, 0x05D0, 0x4E00, 0x1F600, 0x10400, 0x212A, 0x2160, 0x0660};
  std::mt19937_64 rng(1604);
  for (int iter = 0; iter < 20000; ++iter) {
    std::string s;
    const size_t len = rng() % 12;
    for (size_t i = 0; i < len; ++i) {
      char32_t c = pool[rng() % pool.size()];
      if (!comparable_in_context(c)) c = 0x03A3;
      utf8::append(&s, c);
    }
    ASSERT_EQ(::vellum::to_lower_full(s), icu_lower_string(s)) << s;
  }
}

}  // namespace
}  // namespace vellum::unicode
