#include "facet/facet_sidecar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "facet/facet_key.h"
#include "index/bitmap.h"
#include "index/posting.h"
#include "testing/test_decoders.h"
#include "testing/test_files.h"

namespace vellum {
namespace {

using testing::decode_posting;
using testing::decode_vlsf;
using testing::read_file;
using testing::TempDir;

FacetCategory category(std::string name, std::vector<uint32_t> ids, uint32_t boundary = 65536) {
  Bitmap b;
  for (uint32_t id : ids) b.add(id);
  HeadTail ht = split_head_tail(b, boundary);
  return FacetCategory{std::move(name), std::move(ht.head), std::move(ht.tail),
                       static_cast<uint32_t>(ids.size())};
}

std::string encode(std::vector<FacetField> fields, bool fold) {
  std::string out;
  Status s = encode_facet_sidecar(&out, std::move(fields), fold);
  EXPECT_TRUE(s.ok()) << s.error().message();
  return out;
}

TEST(FacetSidecar, NoFieldsIsTheHeaderAlone) {
  EXPECT_EQ(encode({}, true),
            std::string("VLSF\x01\x00\x00\x00", 8) + std::string(16, '\0'));
  auto f = decode_vlsf(encode({}, false));
  EXPECT_EQ(f.case_sensitive, 1);
  EXPECT_EQ(f.version, 1);
}

TEST(FacetSidecar, TablesBlobAndPostings) {
  std::vector<FacetField> fields;
  fields.push_back({"lang", {category("de", {1, 70000}), category("en", {0, 2, 3}),
                             category("fr", {})}});
  fields.push_back({"empty", {}});
  fields.push_back({"year", {category("2020", {65536, 65537})}});
  auto f = decode_vlsf(encode(fields, true));

  ASSERT_EQ(f.fields.size(), 3u);
  EXPECT_EQ(f.fields[0].name, "lang");
  EXPECT_EQ(f.fields[1].name, "empty");
  EXPECT_EQ(f.fields[1].count, 0u);
  EXPECT_EQ(f.fields[1].first, 3u);  // categories written before it
  EXPECT_EQ(f.fields[2].first, 3u);
  // Blob in input order, names not deduplicated.
  EXPECT_EQ(f.blob, "langdeenfremptyyear2020");

  ASSERT_EQ(f.categories.size(), 4u);
  // Within a field, categories are in key order.
  for (size_t i = 1; i < 3; ++i) EXPECT_LT(f.categories[i - 1].key, f.categories[i].key);
  for (const auto& c : f.categories) {
    SCOPED_TRACE(c.name);
    const std::string field = c.name == "2020" ? "year" : "lang";
    EXPECT_EQ(c.key, facet_key(field, c.name, true));
    auto head = decode_posting(c.head);
    auto tail = decode_posting(c.tail);
    EXPECT_EQ(head.ids.size() + tail.ids.size(), c.doc_count);
    if (c.name == "de") {
      EXPECT_EQ(head.ids, (std::vector<uint32_t>{1}));
      EXPECT_EQ(tail.ids, (std::vector<uint32_t>{70000}));
    }
    if (c.name == "2020") {
      EXPECT_TRUE(head.ids.empty());
      EXPECT_EQ(tail.ids, (std::vector<uint32_t>{65536, 65537}));
    }
    if (c.name == "fr") {
      EXPECT_EQ(c.head.size(), 8u);
      EXPECT_EQ(c.tail.size(), 8u);
    }
  }
}

TEST(FacetSidecar, NameOffsetsFollowInputOrderNotKeyOrder) {
  // Enough names that key order differs from name order.
  std::vector<FacetCategory> cats;
  std::vector<std::string> names;
  for (char c = 'a'; c <= 'p'; ++c) {
    names.push_back(std::string(1, c));
    cats.push_back(category(names.back(), {static_cast<uint32_t>(c)}));
  }
  auto f = decode_vlsf(encode({{"f", std::move(cats)}}, false));
  ASSERT_EQ(f.categories.size(), names.size());
  bool monotonic = true;
  for (size_t i = 0; i < f.categories.size(); ++i) {
    const auto& c = f.categories[i];
    // Name i of the input sits at blob offset 1 + i.
    EXPECT_EQ(c.name_offset, 1u + static_cast<uint32_t>(c.name[0] - 'a'));
    EXPECT_EQ(decode_posting(c.head).ids,
              (std::vector<uint32_t>{static_cast<uint32_t>(c.name[0])}));
    if (i > 0) {
      EXPECT_LE(f.categories[i - 1].key, c.key);
      monotonic &= f.categories[i - 1].name_offset < c.name_offset;
    }
  }
  EXPECT_FALSE(monotonic);
}

TEST(FacetSidecar, FoldedNamesShareKeysButKeepTheirBytes) {
  auto build = [](bool fold) {
    std::vector<FacetField> fields;
    // Bytewise order: "Kind" < "kind"; "A" < "a".
    fields.push_back({"Kind", {category("x", {1})}});
    fields.push_back({"kind", {category("A", {2}), category("a", {3}), category("x", {4})}});
    return decode_vlsf(encode(std::move(fields), fold));
  };
  {
    SCOPED_TRACE("folded");
    auto f = build(true);
    EXPECT_EQ(f.case_sensitive, 0);
    ASSERT_EQ(f.categories.size(), 4u);
    // "Kind"/x and "kind"/x: same key, different fields, names stored twice.
    const auto& kind_x = f.categories[0];
    EXPECT_EQ(kind_x.key, facet_key("kind", "x", false));
    EXPECT_EQ(f.fields[0].name, "Kind");
    // "A" and "a" in one field: equal keys, kept in input order, each with
    // its own name and postings.
    size_t upper_a = 0;
    for (size_t i = 1; i < 4; ++i) {
      if (f.categories[i].name == "A") upper_a = i;
    }
    ASSERT_TRUE(upper_a == 1 || upper_a == 2);
    const auto& first = f.categories[upper_a];
    const auto& second = f.categories[upper_a + 1];
    EXPECT_EQ(second.name, "a");
    EXPECT_EQ(first.key, facet_key("kind", "a", false));
    EXPECT_EQ(second.key, first.key);
    EXPECT_EQ(decode_posting(first.head).ids, (std::vector<uint32_t>{2}));
    EXPECT_EQ(decode_posting(second.head).ids, (std::vector<uint32_t>{3}));
    EXPECT_EQ(f.blob, "KindxkindAax");
  }
  {
    SCOPED_TRACE("case-sensitive");
    auto f = build(false);
    EXPECT_EQ(f.case_sensitive, 1);
    EXPECT_NE(f.categories[0].key, facet_key("kind", "x", false));
    EXPECT_EQ(f.categories[0].key, facet_key("Kind", "x", false));
    EXPECT_NE(f.categories[1].key, f.categories[2].key);
  }
}

TEST(FacetSidecar, NameLengthLimitIsCheckedBeforeOutput) {
  {
    std::vector<FacetField> fields = {{std::string(65535, 'f'), {category("c", {1})}}};
    auto f = decode_vlsf(encode(std::move(fields), true));
    EXPECT_EQ(f.fields[0].name.size(), 65535u);
  }
  for (int where = 0; where < 2; ++where) {
    SCOPED_TRACE(where);
    std::vector<FacetField> fields = {{"ok", {category("c", {1})}}};
    if (where == 0) fields.push_back({std::string(65536, 'f'), {}});
    else fields.push_back({"g", {category(std::string(65536, 'c'), {2})}});
    std::string out = "prefix";
    Status s = encode_facet_sidecar(&out, std::move(fields), true);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind(), ErrorKind::kIo);
    EXPECT_EQ(s.error().message(), "facet name exceeds the 16-bit length limit");
    EXPECT_EQ(out, "prefix");
  }
}

std::vector<FacetField> sample_fields() {
  std::vector<FacetField> fields;
  std::vector<uint32_t> many;
  for (uint32_t i = 0; i < 150000; i += 2) many.push_back(i);
  fields.push_back({"a", {category("big", many), category("small", {5, 65536})}});
  fields.push_back({"b", {category("\xC3\x89t\xC3\xA9", {9})}});
  return fields;
}

TEST(FacetSidecar, FileAndBufferFormsAreIdentical) {
  TempDir dir;
  for (bool fold : {true, false}) {
    SCOPED_TRACE(fold);
    std::string mem = encode(sample_fields(), fold);
    Result<FileSink> file = FileSink::create(dir.file("x.vlf"));
    ASSERT_TRUE(file.ok());
    Status s = write_facet_sidecar(std::move(file).value(), sample_fields(), fold);
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(read_file(dir.file("x.vlf")), mem);
    decode_vlsf(mem);
  }
}

TEST(FacetSidecar, WriteFailureReturnsTheOsErrorAndCloses) {
  const size_t fds = testing::open_fd_count();
  Result<FileSink> file = FileSink::create("/dev/full");
  ASSERT_TRUE(file.ok());
  Status s = write_facet_sidecar(std::move(file).value(), sample_fields(), true);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::kOs);
  EXPECT_EQ(s.error().os_code(), 28);
  EXPECT_EQ(testing::open_fd_count(), fds);
}

}  // namespace
}  // namespace vellum
