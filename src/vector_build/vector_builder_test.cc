#include "vector_build/vector_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "testing/test_decoders.h"
#include "testing/test_files.h"
#include "testing/vlvi_decoder.h"
#include "vector_build/train_ivfpq.h"

namespace vellum {
namespace {

std::string create_error(uint64_t dim, uint64_t nlist, uint64_t m, uint8_t nbits,
                         std::string_view metric) {
  Result<VectorBuilder> b = VectorBuilder::create(dim, nlist, m, nbits, metric, 25, std::nullopt);
  return b.ok() ? "ok" : b.error().message();
}

TEST(VectorBuilder, ConstructorChecksInOrder) {
  EXPECT_EQ(create_error(4, 16, 3, 8, "ip"), "need dim > 0, m > 0, and m to divide dim");
  EXPECT_EQ(create_error(0, 0, 1, 0, "?"), "need dim > 0, m > 0, and m to divide dim");
  EXPECT_EQ(create_error(4, 0, 0, 0, "?"), "need dim > 0, m > 0, and m to divide dim");
  EXPECT_EQ(create_error(4, 0, 2, 0, "?"), "nbits must be in 1..=8");
  EXPECT_EQ(create_error(4, 0, 2, 9, "?"), "nbits must be in 1..=8");
  EXPECT_EQ(create_error(4, 0, 2, 8, "?"), "nlist must be >= 1");
  EXPECT_EQ(create_error(4, 1, 2, 8, "ManHattan"), "unknown metric manhattan; use 'ip' (cosine) or 'l2'");
  for (const char* name : {"ip", "COSINE", "Dot", "inner_product", "L2", "euclidean"}) {
    EXPECT_EQ(create_error(4, 1, 2, 8, name), "ok") << name;
  }
  EXPECT_EQ(*parse_metric("EUCLIDEAN"), MetricKind::kL2);
  EXPECT_EQ(*parse_metric("Cosine"), MetricKind::kInnerProduct);
}

TEST(VectorBuilder, SeedDefaultsAndExplicitZero) {
  EXPECT_EQ(VectorBuilder::create(2, 1, 1, 8, "ip", 25, std::nullopt)->params().seed,
            0x56515649564C5649u);
  EXPECT_EQ(VectorBuilder::create(2, 1, 1, 8, "ip", 25, 0)->params().seed, 0u);
  EXPECT_EQ(VectorBuilder::create(2, 1, 1, 8, "l2", 3, 99)->params().kmeans_iters, 3u);
}

VectorBuilder builder(uint64_t dim, uint64_t nlist, std::optional<uint64_t> seed = std::nullopt) {
  return std::move(VectorBuilder::create(dim, nlist, 2, 4, "l2", 5, seed)).value();
}

std::vector<float> random_vector(size_t dim, std::mt19937* g) {
  std::normal_distribution<float> normal;
  std::vector<float> v(dim);
  for (float& f : v) f = normal(*g);
  return v;
}

TEST(VectorBuilder, AddRefusesWrongLengths) {
  VectorBuilder b = builder(4, 2);
  Status s = b.add(1, std::vector<float>{1, 2, 3});
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "vector has length 3, expected dim 4");
  EXPECT_EQ(b.staged_count(), 0u);
}

TEST(VectorBuilder, AddManyStagesUpToTheFirstBadPair) {
  VectorBuilder b = builder(4, 2);
  VectorBatch batch;
  batch.append(1, std::vector<float>{1, 2, 3, 4});
  batch.append(2, std::vector<float>{5, 6, 7, 8});
  batch.append(3, std::vector<float>{1, 2, 3, 4, 5});
  batch.append(4, std::vector<float>{1, 2, 3, 4});
  Status s = b.add_many(batch);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "vector has length 5, expected dim 4");
  EXPECT_EQ(b.staged_count(), 2u);
}

TEST(VectorBuilder, BuildWithNothingStagedCreatesNoFile) {
  testing::TempDir dir;
  const std::string path = dir.file("sub/none.vlvi");
  Result<VectorBuildStats> r = builder(4, 2).build(path);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "no input vectors");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(dir.file("sub")));
}

TEST(VectorBuilder, BuildsAreRepeatableAndDoNotConsume) {
  testing::TempDir dir;
  std::mt19937 g(1);
  VectorBuilder b = builder(6, 100);
  for (uint32_t i = 0; i < 10; ++i) ASSERT_TRUE(b.add(30 - i, random_vector(6, &g)).ok());
  Result<VectorBuildStats> st = b.build(dir.file("x/a.vlvi"));
  ASSERT_TRUE(st.ok());
  EXPECT_EQ(st->vectors, 10u);
  EXPECT_EQ(st->nlist, 10u);
  EXPECT_EQ(st->dim, 6u);
  EXPECT_EQ(st->m, 2u);
  EXPECT_EQ(st->nbits, 4u);
  ASSERT_TRUE(b.build(dir.file("b.vlvi")).ok());
  const std::string a = testing::read_file(dir.file("x/a.vlvi"));
  EXPECT_EQ(a, testing::read_file(dir.file("b.vlvi")));
  const testing::VlviFile f = testing::decode_vlvi(a);
  EXPECT_EQ(f.nlist, 10u);
  EXPECT_EQ(f.n, 10u);
  ASSERT_TRUE(b.add(99, random_vector(6, &g)).ok());
  ASSERT_TRUE(b.build(dir.file("c.vlvi")).ok());
  EXPECT_EQ(testing::decode_vlvi(testing::read_file(dir.file("c.vlvi"))).n, 11u);
}

TEST(VectorBuilder, DefaultSeedDiffersFromSeedZero) {
  std::mt19937 g(2);
  std::vector<std::vector<float>> vs;
  for (int i = 0; i < 60; ++i) vs.push_back(random_vector(4, &g));
  auto model = [&](std::optional<uint64_t> seed) {
    VectorBuilder b = builder(4, 4, seed);
    for (size_t i = 0; i < vs.size(); ++i) EXPECT_TRUE(b.add(static_cast<uint32_t>(i), vs[i]).ok());
    return std::move(b.train()).value().centroids;
  };
  EXPECT_EQ(model(std::nullopt), model(kDefaultVectorSeed));
  EXPECT_EQ(model(0), model(kBuiltinTrainSeed));
  EXPECT_NE(model(std::nullopt), model(0));
}

TEST(VectorBuilder, UnwritablePathIsAnOsError) {
  testing::TempDir dir;
  std::mt19937 g(3);
  VectorBuilder b = builder(4, 1);
  ASSERT_TRUE(b.add(0, random_vector(4, &g)).ok());
  ASSERT_TRUE(b.build(dir.file("file")).ok());
  Result<VectorBuildStats> r = b.build(dir.file("file/below.vlvi"));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::kOs);
}

}  // namespace
}  // namespace vellum
