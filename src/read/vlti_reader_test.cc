#include "read/vlti_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/coding.h"
#include "testing/byte_mutations.h"
#include "testing/vlti_bytes.h"

namespace vellum {
namespace {

using Terms = std::map<std::string, std::vector<uint32_t>>;

std::string problem_of(const std::string& bytes) {
  Checked<VltiReader> r = VltiReader::open("t.vlt", bytes);
  if (!r.ok()) return r.problem().describe();
  Checked<VltiStats> s = r->verify();
  return s.ok() ? "" : s.problem().describe();
}

Terms random_terms(uint32_t seed, size_t n) {
  std::mt19937 rng(seed);
  Terms t;
  while (t.size() < n) {
    std::string term;
    for (size_t k = 1 + rng() % 8; k > 0; --k) term.push_back(static_cast<char>('a' + rng() % 6));
    std::vector<uint32_t> ids;
    for (uint32_t id = rng() % 5; id < 200000; id += 1 + rng() % 40000) ids.push_back(id);
    t[term] = ids;
  }
  return t;
}

TEST(VltiReader, VerifiesAndLooksUpEveryTerm) {
  for (uint64_t cap : {uint64_t{1}, uint64_t{64}, uint64_t{4096}}) {
    const Terms terms = random_terms(static_cast<uint32_t>(cap), 150);
    testing::VltiOptions opt;
    opt.block_cap = cap;
    const std::string b = testing::vlti_bytes(terms, opt);
    Checked<VltiReader> r = VltiReader::open("t.vlt", b);
    ASSERT_TRUE(r.ok()) << r.problem().describe();
    Checked<VltiStats> s = r->verify();
    ASSERT_TRUE(s.ok()) << s.problem().describe();
    EXPECT_EQ(r->header().term_count, terms.size());
    if (cap == 1) {
      EXPECT_EQ(s->blocks, terms.size());  // one entry per block
    }
    for (const auto& [term, ids] : terms) {
      auto got = r->lookup_term(term);
      ASSERT_TRUE(got.ok()) << got.problem().describe();
      EXPECT_EQ(*got, ids) << term;
      EXPECT_TRUE(r->lookup_term(term + "z").value().empty());
    }
    EXPECT_TRUE(r->lookup_term("").value().empty());
    EXPECT_TRUE(r->lookup_term("zzzz").value().empty());
  }
}

TEST(VltiReader, EmptyIndexAndHeaderRules) {
  EXPECT_EQ(problem_of(testing::vlti_bytes({})), "");
  testing::VltiOptions stemmed;
  stemmed.flags = 3;
  stemmed.language_code = 1;
  EXPECT_EQ(problem_of(testing::vlti_bytes({{"run", {1}}}, stemmed)), "");
  stemmed.language_code = 0;
  EXPECT_EQ(problem_of(testing::vlti_bytes({{"run", {1}}}, stemmed)),
            "t.vlt: header at byte 36: language code disagrees with the stemming and stop-word flags");
  testing::VltiOptions zero;
  zero.head_boundary = 0;
  EXPECT_EQ(problem_of(testing::vlti_bytes({{"a", {0, 5}}}, zero)), "");
}

TEST(VltiReader, ProblemsOfDamagedRecords) {
  const std::string b = testing::vlti_bytes({{"a", {1, 70000}}});
  // Postings: tail_len, head {1}, tail {70000}; the file ends with the tail.
  const size_t tail_value_at = b.size() - 2;
  std::string below = b;
  EncodeU16(below.data() + tail_value_at - 8, 0);  // tail container key 1 -> 0
  EXPECT_EQ(problem_of(below).find("tail holds an id below head_boundary") != std::string::npos, true)
      << problem_of(below);
  EXPECT_EQ(problem_of(b + "x"), "t.vlt: postings at byte " + std::to_string(b.size()) +
                                     ": bytes follow the last posting record");
  std::string count = b;
  EncodeU32(count.data() + 8, 2);
  EXPECT_EQ(problem_of(count), "t.vlt: header at byte 8: term_count differs from the dictionary");
}

TEST(VltiReader, EverySingleByteFlipIsCaughtOrHarmless) {
  testing::VltiOptions opt;
  opt.block_cap = 16;
  const std::string b = testing::vlti_bytes({{"apple", {1, 2}}, {"apply", {70000}}, {"banana", {3}}}, opt);
  const uint64_t router_end = 40 + GetU64(b.data() + 16);
  const uint64_t dict_end = router_end + GetU64(b.data() + 24);
  testing::for_each_flip(b, [&](size_t pos, const std::string& damaged) {
    const std::string p = problem_of(damaged);
    // Only head_boundary, block_cap, the bytes of a term that is not the
    // last of its block (while terms stay ordered) and ids inside records
    // can take other values; the router is checksummed and the dictionary
    // cross-checked with it and with the records.
    const size_t apple = b.find("apple", router_end);
    const bool free_field = (pos >= 12 && pos < 16) || (pos >= 32 && pos < 36) ||
                            (pos >= apple && pos < apple + 5) || pos >= dict_end;
    if (!free_field) {
      EXPECT_NE(p, "") << pos;
    }
  });
  testing::for_each_truncation(b, [](const std::string& cut) { EXPECT_NE(problem_of(cut), ""); });
}

}  // namespace
}  // namespace vellum
