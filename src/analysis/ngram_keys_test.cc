#include "analysis/ngram_keys.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "analysis/unicode.h"
#include "analysis/utf8.h"

namespace vellum {
namespace {

using Keys = std::vector<uint64_t>;

Keys folded(std::string_view text, size_t n) { return ngram_keys(text, n, true); }

TEST(NgramKeys, PunctuationDroppedInsideWordsAndCapitalsFolded) {
  EXPECT_EQ(folded("Hello, World!", 3),
            (Keys{0x68656C, 0x656C6C, 0x6C6C6F, 0x776F72, 0x6F726C, 0x726C64}));
}

TEST(NgramKeys, NonAsciiGramIsHashedAsUtf32le) {
  // afé: FNV-1a 64 of 61 00 00 00 66 00 00 00 E9 00 00 00.
  EXPECT_EQ(folded("caf\u00E9", 3), (Keys{0x636166, 0x02D04A2D96CF1A1BULL}));
  // Folding happens before the ASCII test: É becomes é and is hashed too.
  EXPECT_EQ(folded("CAF\u00C9", 3), (Keys{0x636166, 0x02D04A2D96CF1A1BULL}));
  // Non-ASCII anywhere in the gram, not only at its end.
  EXPECT_EQ(folded("\u03A3BC", 3), (Keys{0x09A4CF411F988B0AULL}));
  EXPECT_EQ(folded("\u4E2D\u6587\u5B57", 3), (Keys{0xD237A4D1A8C158A0ULL}));
}

TEST(NgramKeys, GramSizesOneAndTwoPackCodePoints) {
  EXPECT_EQ(folded("a b", 1), (Keys{0x61, 0x62}));
  EXPECT_EQ(folded("ab", 2), (Keys{0x6100000062}));
  // Packing also covers non-ASCII characters for n = 1 and 2.
  EXPECT_EQ(folded("\u00C9", 1), (Keys{0xE9}));
  EXPECT_EQ(folded("\u00E9a", 2), (Keys{0xE900000061}));
  EXPECT_EQ(folded("a\U00010400", 2), (Keys{0x6100010428}));  // Deseret folds to U+10428
}

TEST(NgramKeys, AsciiPackingUpToEightThenHashing) {
  EXPECT_EQ(folded("abcd", 4), (Keys{0x61626364}));
  EXPECT_EQ(folded("abcdefgh", 8), (Keys{0x6162636465666768ULL}));
  EXPECT_EQ(folded("abcdefghij", 9), (Keys{0xE1E763E0C23D1304ULL, 0xB3F4D30727D074BFULL}));
  EXPECT_EQ(folded("a\u03A3b", 3), (Keys{0x2D2FD476D2463B80ULL}));
}

// Keys of 2^32 and above are hashes for exactly the gram sizes whose packed
// keys (characters of grams of up to eight) all stay below 2^32.
TEST(NgramKeys, HashedAbove32BitsExactlyWherePackedKeysStayBelow) {
  for (size_t n = 1; n <= 12; ++n) {
    const uint64_t key = folded(std::string(n, 'z'), n).at(0);
    const bool packed_above = n <= 8 && key >> 32 != 0;
    EXPECT_EQ(ngram_keys_hashed_above_32_bits(n), !packed_above) << "gram size " << n;
  }
}

TEST(NgramKeys, DroppedCharactersDoNotSplitWords) {
  EXPECT_EQ(folded("e-mail", 3), folded("email", 3));
  EXPECT_EQ(folded("a\u0301bc", 3), (Keys{0x616263}));  // Mn combining acute
  // Nl, No and symbols are dropped, Nd digits of any script are kept.
  EXPECT_EQ(folded("a\u2160b\u00B2c\U0001F600", 3), (Keys{0x616263}));
  EXPECT_EQ(folded("1\u0660", 2), (Keys{0x3100000660}));
}

TEST(NgramKeys, WhiteSpaceIsExactlyTheUnicodeSet) {
  // Information separators and zero width space are not white space.
  for (const char* sep : {"\x1C", "\x1D", "\x1E", "\x1F", "\u200B"}) {
    EXPECT_EQ(folded(std::string("ab") + sep + "cd", 3), (Keys{0x616263, 0x626364})) << sep;
  }
  // These split words: no gram crosses them.
  for (const char* sep : {"\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00A0", "\u1680",
                          "\u2000", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F",
                          "\u3000"}) {
    EXPECT_EQ(folded(std::string("abc") + sep + sep + "def", 3), (Keys{0x616263, 0x646566}))
        << sep;
  }
}

TEST(NgramKeys, EmptyResults) {
  EXPECT_TRUE(folded("ab cd", 3).empty());
  EXPECT_TRUE(folded("!?., ;-- ", 3).empty());
  EXPECT_TRUE(folded(" \t\n ", 1).empty());
  EXPECT_TRUE(folded("", 3).empty());
  EXPECT_TRUE(folded("Hello world", 0).empty());
  EXPECT_TRUE(ngram_keys("Hello", 0, false).empty());
  EXPECT_TRUE(folded("hello", 6).empty());
}

TEST(NgramKeys, DistinctKeysInFirstOccurrenceOrder) {
  EXPECT_EQ(folded("aaaa", 3), (Keys{0x616161}));
  EXPECT_EQ(folded("abc xab ABC bca", 3), (Keys{0x616263, 0x786162, 0x626361}));
}

TEST(NgramKeys, FoldFlag) {
  EXPECT_EQ(ngram_keys("Abc", 3, false), (Keys{0x416263}));
  EXPECT_EQ(ngram_keys("abc", 3, false), (Keys{0x616263}));
  EXPECT_EQ(ngram_keys("\u00C9", 1, false), (Keys{0xC9}));
  EXPECT_EQ(ngram_keys("\u0130", 1, false), (Keys{0x130}));
}

TEST(NgramKeys, FoldKeepsFirstCodePointWithoutContext) {
  // U+0130 lowercases to i + U+0307; only the i enters the gram, which is
  // then ASCII and packed.
  EXPECT_EQ(folded("\u0130", 1), (Keys{0x69}));
  EXPECT_EQ(folded("\u0130AB", 3), (Keys{0x696162}));
  // Kelvin sign folds to ASCII k.
  EXPECT_EQ(folded("\u212AAB", 3), (Keys{0x6B6162}));
  // Capital sigma is always small sigma, also at the end of a word.
  EXPECT_EQ(folded("\u0391\u03A3", 1), (Keys{0x3B1, 0x3C3}));
  EXPECT_EQ(folded("\u0391\u03A3", 2), (Keys{0x000003B1000003C3ULL}));
}

TEST(NgramKeys, Unicode16Mappings) {
  EXPECT_EQ(folded("\u1C89", 1), (Keys{0x1C8A}));
  EXPECT_EQ(folded("\uA7DC", 1), (Keys{0x019B}));
}

TEST(NgramKeys, MalformedUtf8IsDroppedWithoutSplitting) {
  EXPECT_EQ(folded("ab\xFF" "c", 3), (Keys{0x616263}));
  EXPECT_EQ(folded("ab\xE2\x82", 2), (Keys{0x6100000062}));
}

TEST(NgramKeyer, ReuseStartsEachTextWithAnEmptySet) {
  NgramKeyer keyer;
  EXPECT_EQ(keyer.keys("abc abd", 3, true), (Keys{0x616263, 0x616264}));
  EXPECT_EQ(keyer.keys("abd abc", 3, true), (Keys{0x616264, 0x616263}));
  EXPECT_TRUE(keyer.keys("", 3, true).empty());
  EXPECT_EQ(keyer.keys("Abc", 3, false), (Keys{0x416263}));
  EXPECT_EQ(keyer.keys("abc", 3, false), (Keys{0x616263}));
}

// ---------------------------------------------------------------------------
// A slow reference, written from the rules without any of the fast paths.

bool ref_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool ref_kept(char32_t c) {
  using GC = unicode::GeneralCategory;
  switch (unicode::general_category(c)) {
    case GC::kLu: case GC::kLl: case GC::kLt: case GC::kLm: case GC::kLo: case GC::kNd:
      return true;
    default:
      return false;
  }
}

uint64_t ref_key(const std::vector<char32_t>& g) {
  const size_t n = g.size();
  if (n == 1) return g[0];
  if (n == 2) return (uint64_t{g[0]} << 32) + g[1];
  bool ascii = true;
  for (char32_t c : g) ascii = ascii && c < 0x80;
  if (n <= 8 && ascii) {
    uint64_t k = 0;
    for (size_t i = 0; i < n; ++i) k += uint64_t{g[i]} << (8 * (n - 1 - i));
    return k;
  }
  std::string bytes;
  for (char32_t c : g)
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<char>((c >> (8 * b)) & 0xFF));
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char b : bytes) h = (h ^ b) * 0x100000001b3ULL;
  return h;
}

// Every gram's key in text order with `repeats`, else the distinct keys.
Keys reference_keys(std::string_view text, size_t n, bool fold, bool repeats = false) {
  Keys out;
  if (n == 0) return out;
  std::vector<std::vector<char32_t>> words(1);
  for (size_t pos = 0; pos < text.size();) {
    char32_t c = utf8::decode(text, &pos);
    if (ref_white_space(c)) {
      words.emplace_back();
      continue;
    }
    if (!ref_kept(c)) continue;
    if (fold) {
      char32_t full[3];
      unicode::to_lower_full(c, full);
      c = full[0];
    }
    words.back().push_back(c);
  }
  std::set<uint64_t> seen;
  for (const auto& w : words) {
    for (size_t i = 0; i + n <= w.size(); ++i) {
      uint64_t k = ref_key(std::vector<char32_t>(w.begin() + i, w.begin() + i + n));
      if (seen.insert(k).second || repeats) out.push_back(k);
    }
  }
  return out;
}

std::string random_text(std::mt19937_64& rng, size_t pieces) {
  static const std::vector<std::string> pool = {
      "a", "b", "e", "s", "t", "Q", "Z", "0", "7", " ", " ", " ", "\t", "\n", "-", ",", "'",
      "\x1C", "\x7F", "\u0085", "\u00A0", "\u2003", "\u3000", "\u200B", "\u00E9", "\u00C9",
      "\u00DF", "\u0130", "\u03A3", "\u03C3", "\u0301", "\u1C89", "\uA7DC", "\u212A", "\u4E2D",
      "\U0001F600", "\u0660", "\u2160", "\u00B2", "\U00010400", "\uFFFD", "\xFF", "\x80",
      "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF"};
  std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
  std::string s;
  for (size_t i = 0; i < pieces; ++i) s += pool[pick(rng)];
  return s;
}

TEST(NgramKeyer, MatchesReferenceOnRandomMixedText) {
  std::mt19937_64 rng(20240611);
  NgramKeyer keyer;  // one keyer across all texts: reuse must not leak state
  for (int iter = 0; iter < 600; ++iter) {
    std::string text = random_text(rng, 1 + rng() % 120);
    size_t n = rng() % 11;
    bool fold = rng() & 1;
    ASSERT_EQ(keyer.keys(text, n, fold), reference_keys(text, n, fold))
        << "n=" << n << " fold=" << fold << " text=" << text;
  }
}

TEST(NgramKeyer, MatchesReferenceWhenTheSetGrows) {
  // Enough distinct grams to outgrow the initial set several times, first
  // after a small text so the set starts small.
  std::mt19937_64 rng(7);
  NgramKeyer keyer;
  EXPECT_EQ(keyer.keys("tiny", 3, true), (Keys{0x74696E, 0x696E79}));
  std::string text = random_text(rng, 400000);
  for (size_t n : {2, 3, 5, 9}) {
    Keys got = keyer.keys(text, n, true);
    ASSERT_EQ(got, reference_keys(text, n, true)) << n;
    EXPECT_GT(got.size(), 100u);  // far beyond the 64 slots of the start
  }
  EXPECT_EQ(keyer.keys("tiny", 3, true), (Keys{0x74696E, 0x696E79}));
}

TEST(NgramKeyer, GramsMatchReferenceOnRandomText) {
  // Mostly ASCII with some multi-byte characters, as in real prose: the
  // ASCII runs take a separate path, and grams span both.
  static const std::vector<std::string> rare = {"\u00E9", "\u00C9", "\u212A", "\u0130", "\u4E2D",
                                                "\u00A0", "\u0301", "\xFF", "\u03A3"};
  std::mt19937_64 rng(99);
  NgramKeyer keyer;
  for (int iter = 0; iter < 1500; ++iter) {
    std::string text = iter % 2 ? random_text(rng, 1 + rng() % 150) : std::string();
    if (iter % 2 == 0) {
      const size_t len = 1 + rng() % 300;
      for (size_t i = 0; i < len; ++i) {
        const uint64_t r = rng() % 100;
        if (r < 3) {
          text += rare[rng() % rare.size()];
        } else if (r < 10 && iter % 10 != 0) {
          text += " .-\t\nAZ"[rng() % 7];
        } else {
          // Now and then a word far beyond the initial word buffer.
          text += static_cast<char>('a' + rng() % (iter % 10 == 0 ? 2 : 26));
        }
      }
    }
    const size_t n = 1 + rng() % 9;
    const bool fold = rng() & 1;
    std::span<const uint64_t> got = keyer.grams(text, n, fold);
    ASSERT_EQ(Keys(got.begin(), got.end()), reference_keys(text, n, fold, true))
        << "n=" << n << " fold=" << fold << " text=" << text;
  }
}

TEST(NgramKeyer, GramsAcrossMultiByteCharactersAndEightByteRuns) {
  // ASCII is taken eight bytes at a time only while the current word holds
  // no multi-byte character; these words start, end or break with one at
  // every offset of such a run, and run long enough to cross several.
  NgramKeyer keyer;
  const std::string marks[] = {"\u00E9", "\u4E2D", "\u212A", "\u00A0", "\u0301"};
  for (const std::string& mark : marks) {
    for (size_t at = 0; at < 20; ++at) {
      std::string text = "Xy, " + std::string(at, 'q') + mark + "abcdefghijklmnopqrstu" + mark +
                         " Zz9 " + std::string(at % 9, 'w') + "-_.";
      for (size_t n = 1; n <= 9; ++n) {
        for (bool fold : {false, true}) {
          std::span<const uint64_t> got = keyer.grams(text, n, fold);
          ASSERT_EQ(Keys(got.begin(), got.end()), reference_keys(text, n, fold, true))
              << "n=" << n << " text=" << text;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Randomized comparison against the reference, aimed at the fast paths:
// sixteen-byte ASCII blocks, the 512-byte stage and its 64-byte masks, the
// eight bytes of a word carried between them, and multi-byte characters,
// malformed bytes and white space falling on each of their edges.

// Any ASCII byte: letters, digits, white space and every dropped kind.
char random_ascii(std::mt19937_64& rng) {
  const uint64_t r = rng() % 100;
  if (r < 55) return static_cast<char>('a' + rng() % 26);
  if (r < 65) return static_cast<char>('A' + rng() % 26);
  if (r < 70) return static_cast<char>('0' + rng() % 10);
  if (r < 82) return " \t\n\v\f\r"[rng() % (r < 79 ? 1 : 6)];
  return static_cast<char>(rng() % 128);  // controls, 0x1C..0x1F, punctuation, DEL
}

const std::vector<std::string>& odd_pieces() {
  static const std::vector<std::string> pieces = {
      "\u00E9", "\u00C9", "\u0416", "\u0436", "\u03A3", "\u05D0", "\u0628", "\u4E2D",
      "\u3042", "\uAC00", "\u0130", "\u212A", "\u1C89", "\U0001F600", "\U00010400",
      "\u0301", "\u00A0", "\u0085", "\u2003", "\u3000", "\u200B", "\uFFFD", "\x80",
      "\xBF", "\xC2", "\xE4\xB8", "\xF0\x9F\x98", "\xED\xA0\x80", "\xC0\xAF", "\xFF", "\xF5\x80"};
  return pieces;
}

// Mostly ASCII prose with a multi-byte or malformed piece now and then;
// `odd` in 1000 characters is not ASCII, `long_words` makes words run on.
std::string random_prose(std::mt19937_64& rng, size_t bytes, unsigned odd, bool long_words) {
  std::string s;
  while (s.size() < bytes) {
    if (rng() % 1000 < odd) {
      s += odd_pieces()[rng() % odd_pieces().size()];
    } else {
      char c = random_ascii(rng);
      if (long_words && (c == ' ' || c == '\t' || c == '\n') && rng() % 8 != 0) c = 'x';
      s += c;
    }
  }
  return s;
}

void expect_matches_reference(NgramKeyer& keyer, const std::string& text, size_t n, bool fold) {
  std::span<const uint64_t> got = keyer.grams(text, n, fold);
  ASSERT_EQ(Keys(got.begin(), got.end()), reference_keys(text, n, fold, true))
      << "grams n=" << n << " fold=" << fold << " size=" << text.size() << " text=" << text;
  ASSERT_EQ(keyer.keys(text, n, fold), reference_keys(text, n, fold))
      << "keys n=" << n << " fold=" << fold << " text=" << text;
}

TEST(NgramKeyerRandom, AsciiMixedAndMalformedText) {
  std::mt19937_64 rng(0x6b657965);
  NgramKeyer keyer;
  const unsigned odd_rates[] = {0, 0, 2, 20, 200, 700};
  for (int iter = 0; iter < 1200; ++iter) {
    const size_t bytes = rng() % 4 == 0 ? rng() % 2000 : rng() % 80;
    const unsigned odd = odd_rates[rng() % std::size(odd_rates)];
    const std::string text = random_prose(rng, bytes, odd, rng() % 3 == 0);
    const size_t n = 1 + rng() % 12;
    expect_matches_reference(keyer, text, n, rng() & 1);
  }
}

TEST(NgramKeyerRandom, ArbitraryBytes) {
  std::mt19937_64 rng(31337);
  NgramKeyer keyer;
  for (int iter = 0; iter < 600; ++iter) {
    std::string text(rng() % 200, '\0');
    for (char& c : text) c = static_cast<char>(rng() % 3 == 0 ? rng() : random_ascii(rng));
    expect_matches_reference(keyer, text, 1 + rng() % 10, rng() & 1);
  }
}

TEST(NgramKeyerRandom, BoundariesAtBlockAndStageEdges) {
  // One ASCII word stretch with a single white-space, dropped, multi-byte
  // or malformed piece placed just before, at and after every multiple of
  // 8 up to past the 512-byte stage, both from the start of the text and
  // after a multi-byte character that the first word must carry.
  const std::string breaks[] = {" ", "\n", ",", "\x1F", "\u00E9", "\u4E2D", "\u00A0", "\xFF", "Q"};
  std::mt19937_64 rng(5);
  NgramKeyer keyer;
  for (const std::string& lead : {std::string(), std::string("\u0416ab"), std::string("\u0416")}) {
    for (size_t at = 1; at < 560; at += (at % 8 == 7 || at % 8 == 0 || at % 8 == 1) ? 1 : 5) {
      std::string body(600 + rng() % 100, 'a');
      for (char& c : body) c = static_cast<char>('a' + rng() % 3);
      for (size_t k = 9 + rng() % 30; k < body.size(); k += 9 + rng() % 30) body[k] = ' ';
      const std::string& br = breaks[rng() % std::size(breaks)];
      const std::string text = lead + body.substr(0, at) + br + body.substr(at);
      const size_t n = 1 + rng() % 9;
      expect_matches_reference(keyer, text, n, rng() & 1);
    }
  }
}

TEST(NgramKeyerRandom, LongWordsAcrossStages) {
  // Words longer than the stage, so the eight characters carried between
  // stages decide every key, with and without one multi-byte character.
  std::mt19937_64 rng(77);
  NgramKeyer keyer;
  for (int iter = 0; iter < 60; ++iter) {
    std::string text(500 + rng() % 3000, 'a');
    for (char& c : text) c = static_cast<char>("abAB09"[rng() % (iter % 2 ? 2 : 6)]);
    if (iter % 3 == 1) text.insert(rng() % text.size(), "\u00C9");
    if (iter % 3 == 2) text.insert(rng() % text.size(), ".");
    for (size_t n = 1; n <= 9; ++n) expect_matches_reference(keyer, text, n, iter % 4 < 2);
  }
}

TEST(NgramKeyerRandom, TrigramsOverMixedScripts) {
  // Trigram hashes are carried along a word from character to character;
  // these words mix letters of several scripts (astral ones and ones that
  // fold to ASCII among them) with ASCII pieces of every length, so that
  // the ASCII path takes over and hands back at every point of a word.
  static const std::vector<std::string> letters = {
      "\u0436", "\u0416", "\u0628", "\u4E2D", "\u3042", "\u00E9", "\u00C9", "\u03A3",
      "\u212A", "\u0130", "\U00010400", "\U00020000", "\u0660"};
  static const std::vector<std::string> others = {"\u3001", "\u00AB", "\u0301", "\u3000",
                                                  "\u00A0", "\xE4\xB8", "\xFF", "\uFFFD"};
  std::mt19937_64 rng(0x74726967);
  NgramKeyer keyer;
  for (int iter = 0; iter < 3000; ++iter) {
    std::string text;
    const size_t pieces = 1 + rng() % 40;
    const size_t longest_ascii = iter % 4 == 0 ? 40 : 10;
    for (size_t i = 0; i < pieces; ++i) {
      const uint64_t r = rng() % 10;
      if (r < 5) {
        text += letters[rng() % letters.size()];
      } else if (r < 8) {
        const size_t run = 1 + rng() % longest_ascii;
        for (size_t k = 0; k < run; ++k) text += random_ascii(rng);
      } else if (r < 9) {
        text += others[rng() % others.size()];
      } else {
        text += ' ';
      }
    }
    expect_matches_reference(keyer, text, iter % 8 == 0 ? 2 + rng() % 4 : 3, rng() & 1);
  }
}

}  // namespace
}  // namespace vellum
