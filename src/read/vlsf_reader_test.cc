#include "read/vlsf_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/coding.h"
#include "facet/facet_key.h"
#include "facet/facet_sidecar.h"
#include "index/posting.h"
#include "testing/byte_mutations.h"
#include "testing/random_corpus.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::read_file;

std::string problem_of(const std::string& bytes) {
  Checked<VlsfReader> r = VlsfReader::open("index.vlf", bytes);
  if (!r.ok()) return r.problem().describe();
  Checked<VlsfStats> s = r->verify();
  return s.ok() ? "" : s.problem().describe();
}

bool test_decoder_accepts(const std::string& bytes) {
  try {
    for (const auto& c : testing::decode_vlsf(bytes).categories) {
      testing::decode_posting(c.head);
      testing::decode_posting(c.tail);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

FacetCategory category(std::string name, const std::vector<uint32_t>& ids, uint32_t boundary) {
  Bitmap b;
  for (uint32_t id : ids) b.add(id);
  HeadTail ht = split_head_tail(b, boundary);
  return FacetCategory{std::move(name), std::move(ht.head), std::move(ht.tail),
                       static_cast<uint32_t>(ids.size())};
}

// Two fields; "Lang" has a category whose ids straddle the boundary.
std::string small_sidecar(bool fold) {
  std::vector<FacetField> fields;
  fields.push_back({"Lang", {category("de", {1, 70000}, 65536), category("en", {0, 2}, 65536)}});
  fields.push_back({"empty", {}});
  fields.push_back({"year", {category("2020", {3}, 65536)}});
  std::string out;
  EXPECT_TRUE(encode_facet_sidecar(&out, std::move(fields), fold).ok());
  return out;
}

TEST(VlsfReader, BuilderSidecarVerifiesAndLookupsMatchTheTestDecoder) {
  testing::TempDir dir;
  const auto docs = testing::build_dataset(dir.path(), testing::random_records(6, 400, true));
  const std::string bytes = read_file(dir.file("index.vlf"));
  Checked<VlsfReader> r = VlsfReader::open("index.vlf", bytes);
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  Checked<VlsfStats> s = r->verify();
  ASSERT_TRUE(s.ok()) << s.problem().describe();
  EXPECT_LE(s->doc_span, docs.size());

  const testing::VlsfFile f = testing::decode_vlsf(bytes);
  for (const auto& fld : f.fields) {
    for (uint32_t c = fld.first; c < fld.first + fld.count; ++c) {
      std::vector<uint32_t> want = testing::decode_posting(f.categories[c].head).ids;
      for (uint32_t id : testing::decode_posting(f.categories[c].tail).ids) want.push_back(id);
      auto got = r->lookup(fld.name, f.categories[c].name);
      ASSERT_TRUE(got.ok());
      EXPECT_EQ(*got, want) << fld.name << "=" << f.categories[c].name;
    }
  }
  // Built folded: any spelling of the field finds the same documents.
  auto upper = r->lookup("YEAR", "all");
  auto lower = r->lookup("year", "all");
  ASSERT_TRUE(upper.ok() && lower.ok());
  EXPECT_FALSE(upper->empty());
  EXPECT_EQ(*upper, *lower);
  std::vector<uint32_t> want;
  for (uint32_t id = 0; id < docs.size(); ++id) {
    for (const auto& [field, cats] : docs[id].facets) {
      if (field == "Year" && std::find(cats.begin(), cats.end(), "all") != cats.end()) want.push_back(id);
    }
  }
  EXPECT_EQ(*upper, want);
  EXPECT_TRUE(r->lookup("year", "1999").value().empty());
}

TEST(VlsfReader, CaseSensitiveSidecarKeepsSpellingsApart) {
  // The reader views the bytes: they must outlive it.
  const std::string bytes = small_sidecar(false);
  Checked<VlsfReader> r = VlsfReader::open("x.vlf", bytes);
  ASSERT_TRUE(r.ok()) << r.problem().describe();
  ASSERT_TRUE(r->verify().ok());
  EXPECT_TRUE(r->header().case_sensitive);
  EXPECT_EQ(r->lookup("Lang", "de").value(), (std::vector<uint32_t>{1, 70000}));
  EXPECT_TRUE(r->lookup("lang", "de").value().empty());
  EXPECT_EQ(r->distinct_keys().size(), 3u);
}

TEST(VlsfReader, ProblemsNameRegionAndOffset) {
  const std::string b = small_sidecar(true);
  // header 24, 3 fields (48), categories from 72, 36 bytes each.
  std::string key = b;
  key[72] = static_cast<char>(key[72] ^ 1);
  EXPECT_EQ(problem_of(key), "index.vlf: category table at byte 72: key is not the key of the stored names");
  std::string count = b;
  EncodeU32(count.data() + 72 + 24, 3);
  EXPECT_EQ(problem_of(count), "index.vlf: category table at byte 96: doc_count differs from the postings");
  std::string first = b;
  EncodeU32(first.data() + 24 + 16 + 8, 1);
  EXPECT_EQ(problem_of(first),
            "index.vlf: field table at byte 48: category range does not follow the previous field's");
  EXPECT_EQ(problem_of(b + "!"), "index.vlf: postings at byte " + std::to_string(b.size()) +
                                     ": bytes follow the last tail posting");
  EXPECT_EQ(problem_of(b.substr(0, 100)),
            "index.vlf: category table at byte 100: file ends inside the category table");
  EXPECT_EQ(problem_of(b.substr(0, 190)), "index.vlf: string blob at byte 190: file ends inside the string blob");
}

TEST(VlsfReader, EverySingleByteFlipIsCaughtOrHarmless) {
  for (bool fold : {true, false}) {
    const std::string b = small_sidecar(fold);
    const uint64_t blob_at = 24 + 16 * 3 + 36 * 3;
    testing::for_each_flip(b, [&](size_t pos, const std::string& damaged) {
      const std::string p = problem_of(damaged);
      if (!test_decoder_accepts(damaged)) {
        EXPECT_NE(p, "") << pos;
      }
      // Everything before the blob is checked, keys and doc counts included;
      // in the blob a folded name may change case under the same key.
      if (pos < blob_at) {
        EXPECT_NE(p, "") << pos;
      }
      // Case-sensitive keys cover every byte of "Lang", "de" and "en" (the
      // name of the field without categories enters no key).
      if (!fold && pos >= blob_at && pos < blob_at + 8) {
        EXPECT_NE(p, "") << pos;
      }
    });
    testing::for_each_truncation(b, [](const std::string& cut) { EXPECT_NE(problem_of(cut), ""); });
  }
}

}  // namespace
}  // namespace vellum
