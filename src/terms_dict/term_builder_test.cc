#include "terms_dict/term_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "testing/test_decoders.h"
#include "testing/test_files.h"
#include "testing/vlt_reader.h"

namespace vellum {
namespace {

using testing::read_file;
using IdMap = std::map<std::string, std::vector<uint32_t>>;

TermBuilder make_builder(TermBuilderOptions options = {}) {
  Result<TermBuilder> b = TermBuilder::create(options);
  EXPECT_TRUE(b.ok()) << b.error().message();
  return std::move(b).value();
}

TermDocs docs_of(std::initializer_list<std::pair<uint32_t, std::string_view>> docs) {
  TermDocs out;
  for (const auto& [id, text] : docs) out.add(id, text);
  return out;
}

// Every term of a file with its ids (head then tail), read strictly.
IdMap terms_of(const testing::VltFile& f) {
  IdMap out;
  for (const testing::VltTerm& t : f.terms) {
    std::vector<uint32_t> ids = t.head;
    ids.insert(ids.end(), t.tail.begin(), t.tail.end());
    out[t.term] = ids;
  }
  return out;
}

TEST(TermBuilderTest, CollectsDistinctTermsAcrossDocuments) {
  testing::TempDir dir;
  TermBuilder b = make_builder();
  ASSERT_TRUE(b.add_many(docs_of({{5, "Red apple"}, {2, "red car"}})).ok());
  ASSERT_TRUE(b.add_many(docs_of({{5, "Red apple"}})).ok());  // the same document again
  EXPECT_EQ(b.term_count(), 3u);
  ASSERT_TRUE(b.finish(dir.file("t.vlt")).ok());
  const testing::VltFile f = testing::decode_vlt(read_file(dir.file("t.vlt")));
  EXPECT_EQ(f.header.head_boundary, 65536u);
  EXPECT_EQ(f.header.block_cap, 4096u);
  EXPECT_EQ(f.header.flags, 0);
  EXPECT_EQ(terms_of(f), (IdMap{{"apple", {5}}, {"car", {2}}, {"red", {2, 5}}}));
}

TEST(TermBuilderTest, EmptyBuilderWritesAValidFileAtExactlyThePath) {
  testing::TempDir dir;
  TermBuilder b = make_builder();
  const std::string path = dir.path() + "/no/such/dir/index";  // no extension added
  ASSERT_TRUE(b.finish(path).ok());
  const testing::VltFile f = testing::decode_vlt(read_file(path));
  EXPECT_EQ(f.header.term_count, 0u);
  EXPECT_EQ(f.header.dict_len, 0u);
  EXPECT_EQ(std::filesystem::directory_iterator(dir.path() + "/no/such/dir")->path(), path);
}

TEST(TermBuilderTest, FinishedBuilderRefusesWorkAndLeavesTheFileAlone) {
  testing::TempDir dir;
  TermBuilder b = make_builder();
  ASSERT_TRUE(b.add_many(docs_of({{1, "one two"}})).ok());
  ASSERT_TRUE(b.finish(dir.file("a.vlt")).ok());
  const std::string written = read_file(dir.file("a.vlt"));
  EXPECT_TRUE(b.finished());
  EXPECT_EQ(b.term_count(), 0u);
  for (Status s : {b.finish(dir.file("a.vlt")), b.add_many(docs_of({{2, "three"}}))}) {
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind(), ErrorKind::kFinished);
    EXPECT_EQ(s.error().message(), "TermBuilder already finished");
  }
  EXPECT_EQ(read_file(dir.file("a.vlt")), written);
}

TEST(TermBuilderTest, HeadBoundaryAndBlockCapReachTheFile) {
  testing::TempDir dir;
  TermBuilderOptions o;
  o.head_boundary = 0;
  o.block_cap = 0;
  TermBuilder b = make_builder(o);
  ASSERT_TRUE(b.add_many(docs_of({{70000, "x y"}, {3, "x"}})).ok());
  ASSERT_TRUE(b.finish(dir.file("t.vlt")).ok());
  const testing::VltFile f = testing::decode_vlt(read_file(dir.file("t.vlt")));
  EXPECT_EQ(f.header.head_boundary, 0u);
  EXPECT_EQ(f.header.block_cap, 4096u);
  for (const testing::VltTerm& t : f.terms) EXPECT_TRUE(t.head.empty()) << t.term;
  EXPECT_EQ(terms_of(f), (IdMap{{"x", {3, 70000}}, {"y", {70000}}}));
}

TEST(TermBuilderTest, AnalysisSettingsAreRecordedAndApplied) {
  testing::TempDir dir;
  TermBuilderOptions o;
  o.language = " English ";
  o.stopwords = true;
  TermBuilder b = make_builder(o);
  ASSERT_TRUE(b.add_many(docs_of({{1, "The cats and the hats"}, {2, "a cat"}})).ok());
  ASSERT_TRUE(b.finish(dir.file("t.vlt")).ok());
  const testing::VltFile f = testing::decode_vlt(read_file(dir.file("t.vlt")));
  EXPECT_EQ(f.header.flags, 3);
  EXPECT_EQ(f.header.language_code, 1);
  EXPECT_EQ(terms_of(f), (IdMap{{"cat", {1, 2}}, {"hat", {1}}}));
}

TEST(TermBuilderTest, EmptyStemIsIndexedAsTheEmptyTerm) {
  testing::TempDir dir;
  TermBuilderOptions o;
  o.language = "greek";
  o.block_cap = 1;  // the empty term is then a router key of its own
  TermBuilder b = make_builder(o);
  ASSERT_TRUE(b.add_many(docs_of({{1, "ειτε δρόμος"}, {4, "ουμε"}})).ok());
  ASSERT_TRUE(b.finish(dir.file("t.vlt")).ok());
  const testing::VltFile f = testing::decode_vlt(read_file(dir.file("t.vlt")));
  ASSERT_FALSE(f.terms.empty());
  EXPECT_EQ(f.terms[0].term, "");
  EXPECT_EQ(terms_of(f)[""], (std::vector<uint32_t>{1, 4}));
  testing::FileRanges file(dir.file("t.vlt"));
  testing::VltRemoteReader reader(&file);
  std::optional<testing::VltHit> hit = reader.lookup("");
  ASSERT_TRUE(hit.has_value());
  EXPECT_EQ(hit->head, (std::vector<uint32_t>{1, 4}));
}

TEST(TermBuilderTest, InvalidLanguageSettingsFailAtCreation) {
  TermBuilderOptions no_language;
  no_language.stopwords = true;
  TermBuilderOptions unknown;
  unknown.language = "xx";
  for (const TermBuilderOptions& o : {no_language, unknown}) {
    Result<TermBuilder> b = TermBuilder::create(o);
    ASSERT_FALSE(b.ok());
    EXPECT_EQ(b.error().kind(), ErrorKind::kInvalidArgument);
  }
  EXPECT_EQ(TermBuilder::create(unknown).error().message(),
            "unknown stemmer language \"xx\"; use a Snowball name or ISO-639-1 code "
            "(e.g. \"english\"/\"en\", \"french\"/\"fr\")");
}

// A finish that cannot create its directory or file, or cannot write it,
// keeps the postings: the retry writes what a first good call writes.
TEST(TermBuilderTest, FailedFileWorkKeepsThePostingsForARetry) {
  testing::TempDir dir;
  const TermDocs docs = docs_of({{9, "alpha beta"}, {70001, "beta gamma"}, {3, "delta"}});
  TermBuilder reference = make_builder();
  ASSERT_TRUE(reference.add_many(docs).ok());
  ASSERT_TRUE(reference.finish(dir.file("ref.vlt")).ok());

  std::ofstream(dir.file("plain")) << "not a directory";
  TermBuilder b = make_builder();
  ASSERT_TRUE(b.add_many(docs).ok());
  const std::string bad_paths[] = {
      dir.file("plain") + "/sub/t.vlt",  // the parent cannot be created
      dir.path(),                        // a directory cannot be opened as a file
      "/dev/full",                       // every write fails
  };
  for (const std::string& bad : bad_paths) {
    Status s = b.finish(bad);
    ASSERT_FALSE(s.ok()) << bad;
    EXPECT_EQ(s.error().kind(), ErrorKind::kOs) << bad;
    EXPECT_FALSE(b.finished());
    EXPECT_EQ(b.term_count(), 4u);
  }
  ASSERT_TRUE(b.finish(dir.file("retry.vlt")).ok());
  EXPECT_TRUE(b.finished());
  EXPECT_EQ(read_file(dir.file("retry.vlt")), read_file(dir.file("ref.vlt")));
}

TEST(TermBuilderTest, DocumentsAddedAfterAFailedFinishAreKept) {
  testing::TempDir dir;
  TermBuilder b = make_builder();
  ASSERT_TRUE(b.add_many(docs_of({{1, "kept"}})).ok());
  ASSERT_FALSE(b.finish("/dev/full").ok());
  ASSERT_TRUE(b.add_many(docs_of({{2, "kept later"}})).ok());
  ASSERT_TRUE(b.finish(dir.file("t.vlt")).ok());
  EXPECT_EQ(terms_of(testing::decode_vlt(read_file(dir.file("t.vlt")))),
            (IdMap{{"kept", {1, 2}}, {"later", {2}}}));
}

// A head posting over the 24-bit limit: 2048 bitmap containers of 4097 ids.
TEST(TermBuilderTest, FormatLimitConsumesTheBuilderAndLeavesAnEmptyFile) {
  testing::TempDir dir;
  TermBuilderOptions o;
  o.head_boundary = UINT32_MAX;
  TermBuilder b = make_builder(o);
  for (uint32_t c = 0; c < 2048; c += 64) {
    TermDocs batch;
    for (uint32_t k = c; k < c + 64; ++k) {
      for (uint32_t i = 0; i < 4097; ++i) batch.add(k << 16 | i, "x");
    }
    ASSERT_TRUE(b.add_many(batch).ok());
  }
  Status s = b.finish(dir.file("t.vlt"));
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
  // 8 bytes of header, then per container 8 of descriptor and offset and 8192 of bits.
  EXPECT_EQ(s.error().message(), "term \"x\": head posting 16793608 B exceeds the 24-bit size limit");
  EXPECT_TRUE(b.finished());
  EXPECT_EQ(b.term_count(), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir.file("t.vlt")));
  EXPECT_EQ(std::filesystem::file_size(dir.file("t.vlt")), 0u);
}

TEST(WriteTermIndexTest, UsesDefaultAnalysisAndCreatesTheDirectory) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/new/t.vlt";
  ASSERT_TRUE(write_term_index(path, docs_of({{7, "The Cats"}, {70000, "cats"}}), std::nullopt).ok());
  const testing::VltFile f = testing::decode_vlt(read_file(path));
  EXPECT_EQ(f.header.head_boundary, 65536u);
  EXPECT_EQ(f.header.flags, 0);
  EXPECT_EQ(f.header.language_code, 0);
  ASSERT_EQ(f.terms.size(), 2u);
  EXPECT_EQ(f.terms[0].term, "cats");
  EXPECT_EQ(f.terms[0].head, (std::vector<uint32_t>{7}));
  EXPECT_EQ(f.terms[0].tail, (std::vector<uint32_t>{70000}));

  ASSERT_TRUE(write_term_index(path, docs_of({{7, "x"}}), 0).ok());
  EXPECT_EQ(testing::decode_vlt(read_file(path)).header.head_boundary, 0u);
  Status s = write_term_index("/dev/full", docs_of({{7, "x"}}), std::nullopt);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kOs);
}

// Same documents, same bytes: write_term_index and a default TermBuilder
// agree, whatever order and batching the documents come in.
TEST(TermBuilderTest, BytesDoNotDependOnDocumentOrderOrBatching) {
  testing::TempDir dir;
  std::mt19937 rng(3);
  std::vector<std::pair<uint32_t, std::string>> docs;
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (int w = 0; w < 6; ++w) text += "w" + std::to_string(rng() % 900) + " ";
    docs.emplace_back(rng() % 300000, text);
  }
  TermDocs all;
  for (const auto& [id, text] : docs) all.add(id, text);
  ASSERT_TRUE(write_term_index(dir.file("one.vlt"), all, std::nullopt).ok());
  std::shuffle(docs.begin(), docs.end(), rng);
  TermBuilder b = make_builder();
  for (size_t i = 0; i < docs.size(); i += 700) {
    TermDocs batch;
    for (size_t j = i; j < std::min(docs.size(), i + 700); ++j) batch.add(docs[j].first, docs[j].second);
    ASSERT_TRUE(b.add_many(batch).ok());
  }
  ASSERT_TRUE(b.finish(dir.file("two.vlt")).ok());
  EXPECT_EQ(read_file(dir.file("one.vlt")), read_file(dir.file("two.vlt")));
}

}  // namespace
}  // namespace vellum
