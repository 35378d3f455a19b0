#include "terms_dict/term_index_writer.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/coding.h"
#include "index/posting.h"
#include "terms_dict/dict_block_builder.h"
#include "testing/fst_reader.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"
#include "testing/vlt_reader.h"

namespace vellum {
namespace {

using IdMap = std::map<std::string, std::vector<uint32_t>>;

TermPostings make_postings(const IdMap& terms) {
  TermPostings out;
  for (const auto& [term, ids] : terms) {
    TermPosting p{term, Bitmap()};
    p.ids.add_many(ids.data(), ids.size());
    out.push_back(std::move(p));
  }
  return out;
}

std::string encode(const IdMap& terms, const TermIndexOptions& options) {
  std::string out;
  StringSink sink(&out);
  Status s = encode_term_index(make_postings(terms), options, &sink);
  EXPECT_TRUE(s.ok()) << s.error().message();
  return out;
}

Status encode_status(TermPostings postings, const TermIndexOptions& options, std::string* out) {
  StringSink sink(out);
  return encode_term_index(std::move(postings), options, &sink);
}

std::vector<uint32_t> merged(const testing::VltTerm& t) {
  std::vector<uint32_t> ids = t.head;
  ids.insert(ids.end(), t.tail.begin(), t.tail.end());
  return ids;
}

TEST(TermIndexWriterTest, EmptyPostingsGiveHeaderAndEmptyRouter) {
  const std::string file = encode({}, {});
  const testing::VltFile f = testing::decode_vlt(file);
  EXPECT_EQ(f.header.term_count, 0u);
  EXPECT_EQ(f.header.dict_len, 0u);
  EXPECT_EQ(f.header.block_cap, 4096u);
  EXPECT_EQ(f.header.router_len, 39u);
  EXPECT_EQ(file.size(), 40u + 39u);
}

TEST(TermIndexWriterTest, SingleTermSplitsAtTheHeadBoundary) {
  TermIndexOptions o;
  o.head_boundary = 65536;
  const std::string file = encode({{"a", {1, 70000}}}, o);
  const testing::VltFile f = testing::decode_vlt(file);
  ASSERT_EQ(f.terms.size(), 1u);
  EXPECT_EQ(f.terms[0].head, std::vector<uint32_t>{1});
  EXPECT_EQ(f.terms[0].tail, std::vector<uint32_t>{70000});
  const uint64_t head_len = 8 + 8 + 2;  // cookie/count, one container, one id
  const std::string block = std::string("\x00\x01" "a" "\x00", 4) + static_cast<char>(head_len);
  ASSERT_EQ(f.header.dict_len, block.size());
  EXPECT_EQ(file.substr(f.header.dict_start(), block.size()), block);
  testing::FstImage router(file.substr(40, f.header.router_len));
  EXPECT_EQ(router.entries(), (std::vector<testing::FstEntry>{{"a", block.size()}}));
  EXPECT_EQ(GetU32(file.data() + f.header.postings_start()), head_len);  // tail holds one id too
}

TEST(TermIndexWriterTest, SecondEntryIsFrontCodedAgainstTheFirst) {
  const std::string file = encode({{"apple", {3}}, {"apply", {4, 5}}}, {});
  const testing::VltFile f = testing::decode_vlt(file);
  ASSERT_EQ(f.blocks.size(), 1u);
  const std::string block = file.substr(f.header.dict_start(), f.header.dict_len);
  const std::string second = block.substr(9);  // first entry: 0, 5, "apple", 0, 8
  // Delta 30: the apple record is 4 + empty head (8) + a one-id tail (18).
  EXPECT_EQ(second, std::string("\x04\x01y\x1e\x08", 5));
}

TEST(TermIndexWriterTest, BlockCapOneGivesOneBlockAndOneRouterKeyPerTerm) {
  TermIndexOptions o;
  o.block_cap = 1;
  IdMap terms{{"a", {1}}, {"ab", {2}}, {"abc", {3}}, {"b", {4}}};
  const std::string file = encode(terms, o);
  const testing::VltFile f = testing::decode_vlt(file);
  ASSERT_EQ(f.blocks.size(), 4u);
  for (const auto& b : f.blocks) EXPECT_EQ(b.entries, 1u);
  EXPECT_EQ(f.header.block_cap, 1u);
}

TEST(TermIndexWriterTest, HeadBoundaryZeroPutsEveryIdInTheTail) {
  const std::string file = encode({{"x", {0, 1, 70000}}, {"y", {5}}}, {});
  const testing::VltFile f = testing::decode_vlt(file);
  for (const auto& t : f.terms) EXPECT_TRUE(t.head.empty());
  EXPECT_EQ(f.terms[0].tail, (std::vector<uint32_t>{0, 1, 70000}));
  const std::vector<testing::VltEntry> entries =
      testing::decode_vlt_block(file.substr(f.header.dict_start(), f.header.dict_len));
  for (const auto& e : entries) EXPECT_EQ(e.head_len, 8u);
}

struct FlagsCase {
  std::optional<StemLanguage> language;
  bool stem, stopwords, fold;
  uint16_t flags;
  uint8_t code;
};

TEST(TermIndexWriterTest, FlagsAndLanguageCodeTable) {
  const FlagsCase cases[] = {
      {StemLanguage::kEnglish, true, true, true, 3, 1},   // stemming and stop words
      {std::nullopt, false, false, false, 4, 0},          // case-sensitive, no language
      {StemLanguage::kFrench, false, false, true, 0, 0},  // a language that changes nothing
      {StemLanguage::kFrench, true, false, false, 5, 7},  // stemming, case-sensitive
      {StemLanguage::kTurkish, false, true, true, 2, 18},  // stop words only
  };
  for (const FlagsCase& c : cases) {
    TermIndexOptions o;
    o.language = c.language;
    o.stem = c.stem;
    o.stopwords = c.stopwords;
    o.fold = c.fold;
    const testing::VltFile f = testing::decode_vlt(encode({{"t", {1}}}, o));
    EXPECT_EQ(f.header.flags, c.flags);
    EXPECT_EQ(f.header.language_code, c.code);
  }
}

TEST(TermIndexWriterTest, BlockCapOfTwoToThe32IsUsedButRecordedAsZero) {
  TermIndexOptions o;
  o.block_cap = uint64_t{1} << 32;
  IdMap terms;
  for (int i = 0; i < 3000; ++i) terms["term" + std::to_string(i)] = {static_cast<uint32_t>(i)};
  const testing::VltFile f = testing::decode_vlt(encode(terms, o), o.block_cap);
  EXPECT_EQ(f.header.block_cap, 0u);
  EXPECT_EQ(f.blocks.size(), 1u);
  o.block_cap = 0;
  EXPECT_GT(testing::decode_vlt(encode(terms, o)).blocks.size(), 1u);
}

TEST(TermIndexWriterTest, StemmingWithoutLanguageFailsAndWritesNothing) {
  for (bool stem : {true, false}) {
    TermIndexOptions o;
    o.stem = stem;
    o.stopwords = !stem;
    std::string out;
    Status s = encode_status(make_postings({{"a", {1}}}), o, &out);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
    EXPECT_EQ(s.error().message(),
              "VLTI: stemming and stop-word removal require a language, but none is set");
    EXPECT_TRUE(out.empty());
  }
}

TEST(TermIndexWriterTest, TermsOutOfOrderOrRepeatedAreRefusedBeforeWriting) {
  for (const auto& [first, second] : {std::pair{"b", "a"}, std::pair{"a", "a"}}) {
    TermPostings p;
    p.push_back({first, Bitmap()});
    p.push_back({second, Bitmap()});
    std::string out;
    Status s = encode_status(std::move(p), {}, &out);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind(), ErrorKind::kInvalidInput);
    EXPECT_TRUE(out.empty());
  }
}

TEST(TermIndexWriterTest, SortTermPostingsOrdersByUnsignedBytes) {
  TermPostings p;
  for (const char* t : {"\xc3\xa9t\xc3\xa9", "zebra", "", "Zebra", "a"}) p.push_back({t, Bitmap()});
  sort_term_postings(&p);
  std::vector<std::string> got;
  for (const auto& e : p) got.push_back(e.term);
  EXPECT_EQ(got, (std::vector<std::string>{"", "Zebra", "a", "zebra", "\xc3\xa9t\xc3\xa9"}));
}

// A head of 2048 full bitmap containers is 16,793,608 bytes: just over the
// 24-bit limit. The message quotes the term as a literal.
TEST(TermIndexWriterTest, OversizedHeadFailsWithTheQuotedTerm) {
  TermPostings p;
  p.push_back({"a", Bitmap()});
  p.back().ids.add(1);
  p.push_back({"big\"\n", Bitmap()});
  std::vector<uint32_t> ids;
  for (uint32_t c = 0; c < 2048; ++c) {
    for (uint32_t k = 0; k < 4097; ++k) ids.push_back(c << 16 | k);
  }
  p.back().ids.add_many(ids.data(), ids.size());
  TermIndexOptions o;
  o.head_boundary = UINT32_MAX;
  std::string out;
  Status s = encode_status(std::move(p), o, &out);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
  EXPECT_EQ(s.error().message(),
            "term \"big\\\"\\n\": head posting 16793608 B exceeds the 24-bit size limit");
  EXPECT_TRUE(out.empty());
}

TEST(TermIndexWriterTest, OversizedDictBlockFails) {
  TermPostings p;
  p.push_back({std::string(uint64_t{1} << 24, 'q'), Bitmap()});
  p.back().ids.add(1);
  std::string out;
  Status s = encode_status(std::move(p), {}, &out);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "dict block exceeds the 24-bit block-length limit");
  EXPECT_TRUE(out.empty());
}

class FailingSink final : public Sink {
 public:
  Status append(std::string_view) override { return Error::from_errno(28); }
};

TEST(TermIndexWriterTest, FileAndMemorySinksGetIdenticalBytesAndSinkErrorsPassThrough) {
  IdMap terms{{"alpha", {1, 2, 3}}, {"beta", {70000}}, {"gamma", {5, 131072}}};
  TermIndexOptions o;
  o.head_boundary = 65536;
  o.block_cap = 16;
  const std::string memory = encode(terms, o);
  testing::TempDir dir;
  {
    Result<FileSink> file = FileSink::create(dir.file("t.vlt"));
    ASSERT_TRUE(file.ok());
    ASSERT_TRUE(encode_term_index(make_postings(terms), o, &*file).ok());
    ASSERT_TRUE(file->close().ok());
  }
  EXPECT_EQ(testing::read_file(dir.file("t.vlt")), memory);
  FailingSink failing;
  Status s = encode_term_index(make_postings(terms), o, &failing);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kOs);
  EXPECT_EQ(s.error().os_code(), 28);
}

TEST(TermIndexWriterTest, RetainingFormKeepsThePostingsAndWritesTheSameBytes) {
  IdMap terms{{"one", {1, 80000}}, {"two", {2}}};
  TermIndexOptions o;
  o.head_boundary = 65536;
  const TermPostings kept = make_postings(terms);
  FailingSink failing;
  EXPECT_FALSE(encode_term_index_retaining(kept, o, &failing).ok());
  std::string out;
  StringSink sink(&out);
  ASSERT_TRUE(encode_term_index_retaining(kept, o, &sink).ok());
  EXPECT_EQ(out, encode(terms, o));
  EXPECT_EQ(kept[0].ids.to_vector(), (std::vector<uint32_t>{1, 80000}));
}

TEST(DictBlockBuilderTest, SealsOnlyWhenTheNextEntryWouldOverflow) {
  // Entries "aa" (0,2,"aa",0,8 = 6 bytes) and "ab" (1,1,"b",30,8 = 5 bytes).
  for (uint64_t budget : {11, 10}) {
    DictBlockBuilder b(budget);
    b.add("aa", 0, 8);
    b.add("ab", 30, 8);
    const std::vector<DictBlock> blocks = b.finish();
    ASSERT_EQ(blocks.size(), budget == 11 ? 1u : 2u);
    if (budget == 10) {
      EXPECT_EQ(blocks[1].offset, 6u);
      EXPECT_EQ(blocks[1].bytes, std::string("\x00\x02" "ab" "\x1e\x08", 6));
      EXPECT_EQ(blocks[0].last_term, "aa");
    }
  }
  DictBlockBuilder tiny(2);
  tiny.add("longer than the budget", 0, 8);
  EXPECT_EQ(tiny.finish().size(), 1u);
}

// ---- random corpora through a reader that fetches byte ranges ----

std::string random_term(std::mt19937_64& rng) {
  static const char* kPieces[] = {"a", "b", "e", "n", "s", "t", "\xc3\xa9", "\xe6\x97\xa5", "1", "9"};
  std::string t;
  const size_t n = 1 + rng() % 9;
  for (size_t i = 0; i < n; ++i) t += kPieces[rng() % 10];
  return t;
}

IdMap random_corpus(std::mt19937_64& rng, size_t terms, uint32_t docs) {
  IdMap out;
  while (out.size() < terms) {
    std::vector<uint32_t>& ids = out[random_term(rng)];
    // Mostly rare terms spread over every id; a few crowd one 65536-id
    // window with thousands of ids, which makes bitmap containers.
    if (rng() % 40 == 0) {
      const uint32_t window = static_cast<uint32_t>(rng() % (docs >> 16)) << 16;
      for (size_t i = 0; i < 6000; ++i) ids.push_back(window + static_cast<uint32_t>(rng() % 65536));
    } else {
      for (size_t i = 1 + rng() % 5; i > 0; --i) ids.push_back(static_cast<uint32_t>(rng() % docs));
    }
  }
  for (auto& [term, ids] : out) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  }
  return out;
}

TEST(TermIndexRemoteReadTest, FindsEveryTermWithItsIdsAcrossBlockCapsAndBoundaries) {
  std::mt19937_64 rng(77);
  testing::TempDir dir;
  int round = 0;
  for (uint64_t block_cap : {uint64_t{1}, uint64_t{4096}, uint64_t{1} << 20}) {
    for (uint32_t boundary : {0u, 65536u}) {
      SCOPED_TRACE(std::to_string(block_cap) + "/" + std::to_string(boundary));
      const IdMap terms = random_corpus(rng, 1500, 300000);
      TermIndexOptions o;
      o.block_cap = block_cap;
      o.head_boundary = boundary;
      const std::string path = dir.file("r" + std::to_string(round++) + ".vlt");
      {
        Result<FileSink> file = FileSink::create(path);
        ASSERT_TRUE(file.ok());
        ASSERT_TRUE(encode_term_index(make_postings(terms), o, &*file).ok());
        ASSERT_TRUE(file->close().ok());
      }
      const testing::VltFile whole = testing::decode_vlt(testing::read_file(path));
      ASSERT_EQ(whole.terms.size(), terms.size());
      testing::FileRanges ranges(path);
      testing::VltRemoteReader reader(&ranges);
      for (const auto& [term, ids] : terms) {
        const size_t before = ranges.fetches;
        const std::optional<testing::VltHit> hit = reader.lookup(term);
        ASSERT_TRUE(hit.has_value()) << term;
        EXPECT_EQ(ranges.fetches - before, 3u);  // block, head, tail
        std::vector<uint32_t> got = hit->head;
        got.insert(got.end(), hit->tail.begin(), hit->tail.end());
        ASSERT_EQ(got, ids) << term;
        for (uint32_t id : hit->head) ASSERT_LT(id, boundary);
      }
      for (const std::string& absent : {std::string(""), std::string("0"), std::string("\xff"),
                                        terms.begin()->first + "\x01"}) {
        if (terms.count(absent) == 0) {
          EXPECT_FALSE(reader.lookup(absent).has_value());
        }
      }
      for (size_t i = 0; i < whole.terms.size(); i += 97) {
        EXPECT_EQ(merged(whole.terms[i]), terms.at(whole.terms[i].term));
      }
    }
  }
}

}  // namespace
}  // namespace vellum
