#include "vector_build/train_ivfpq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace vellum {
namespace {

struct Staged {
  std::vector<std::vector<float>> vectors;
  std::vector<VectorRef> refs() const {
    std::vector<VectorRef> out;
    for (size_t i = 0; i < vectors.size(); ++i) {
      out.push_back({static_cast<uint32_t>(100 + i), vectors[i]});
    }
    return out;
  }
};

IvfPqParams params(uint64_t dim, uint64_t nlist, uint64_t m, uint8_t nbits) {
  IvfPqParams p;
  p.dim = dim;
  p.nlist = nlist;
  p.m = m;
  p.nbits = nbits;
  return p;
}

Staged gaussian(size_t n, size_t dim, unsigned seed) {
  std::mt19937 g(seed);
  std::normal_distribution<float> normal;
  Staged s;
  s.vectors.assign(n, std::vector<float>(dim));
  for (auto& v : s.vectors) {
    for (float& f : v) f = normal(g);
  }
  return s;
}

std::string train_error(const Staged& s, const IvfPqParams& p) {
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), p);
  return r.ok() ? "ok" : r.error().message();
}

TEST(TrainIvfPq, ValidationMessagesInOrder) {
  Staged none;
  Staged bad_length{{{1, 2, 3, 4}, {1, 2, 3}}};
  // Each case also breaks every later check, so only the order picks the message.
  EXPECT_EQ(train_error(none, params(0, 0, 0, 0)), "no input vectors");
  EXPECT_EQ(train_error(bad_length, params(0, 0, 1, 0)), "bad params: dim/m: need dim>0, m>0, m|dim");
  EXPECT_EQ(train_error(bad_length, params(4, 0, 0, 0)), "bad params: dim/m: need dim>0, m>0, m|dim");
  EXPECT_EQ(train_error(bad_length, params(4, 0, 3, 9)), "bad params: dim/m: need dim>0, m>0, m|dim");
  EXPECT_EQ(train_error(bad_length, params(4, 0, 2, 0)), "bad params: nbits must be in 1..=8");
  EXPECT_EQ(train_error(bad_length, params(4, 0, 2, 9)), "bad params: nbits must be in 1..=8");
  EXPECT_EQ(train_error(bad_length, params(4, 0, 2, 8)), "bad params: nlist must be >= 1");
  EXPECT_EQ(train_error(bad_length, params(4, 1, 2, 8)), "a vector's length != params.dim");
  EXPECT_EQ(train_error(Staged{{{1, 2, 3, 4}}}, params(4, 1, 2, 8)), "ok");
}

TEST(TrainIvfPq, HandCheckedModel) {
  // Seed 1 draws 1, 1, 3 for the coarse run (a tie, then a re-seed),
  // 1, 0 for sub-quantizer 0 and 1, 1, 1 for sub-quantizer 1.
  Staged s{{{0, 0}, {4, 0}, {0, 2}, {4, 2}}};
  IvfPqParams p = params(2, 2, 2, 1);
  p.metric = MetricKind::kL2;
  p.kmeans_iters = 1;
  p.seed = 1;
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), p);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->centroids, (std::vector<float>{2, 1, 4, 2}));
  // Residuals: (-2,-1), (0,-2), (-2,1), (0,0).
  EXPECT_EQ(r->codebooks, (std::vector<float>{0, -2, -0.5f, -2}));
  EXPECT_EQ(r->list_ids, (std::vector<std::vector<uint32_t>>{{100, 102}, {101, 103}}));
  EXPECT_EQ(r->list_codes, (std::vector<std::vector<uint8_t>>{{1, 0, 1, 0}, {0, 1, 0, 0}}));
  EXPECT_EQ(r->n, 4u);
  EXPECT_FALSE(r->opq.has_value());
}

TEST(TrainIvfPq, SingleInnerProductVectorIsNormalisedAndCodesAreZero) {
  Staged s{{{3, 4}}};
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), params(2, 8, 1, 3));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->nlist, 1u);
  EXPECT_EQ(r->centroids, (std::vector<float>{3.0f / 5.0f, 4.0f / 5.0f}));
  EXPECT_EQ(r->codebooks, std::vector<float>(16, 0.0f));
  EXPECT_EQ(r->list_codes[0], (std::vector<uint8_t>{0}));
}

TEST(TrainIvfPq, ZeroVectorStaysZeroUnderInnerProduct) {
  Staged s{{{0, 0, 0}}};
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), params(3, 1, 1, 1));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->centroids, (std::vector<float>{0, 0, 0}));
}

TEST(TrainIvfPq, FewerVectorsThanListsAndCodebookEntries) {
  Staged s = gaussian(10, 8, 1);
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), params(8, 100, 4, 8));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->nlist, 10u);
  EXPECT_EQ(r->centroids.size(), 80u);
  EXPECT_EQ(r->codebooks.size(), 256u * 8);
  ASSERT_EQ(r->list_ids.size(), 10u);
  size_t total = 0;
  for (const auto& ids : r->list_ids) total += ids.size();
  EXPECT_EQ(total, 10u);
}

TEST(TrainIvfPq, ListsKeepStagedOrder) {
  Staged s = gaussian(300, 4, 2);
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), params(4, 7, 2, 4));
  ASSERT_TRUE(r.ok());
  size_t total = 0;
  for (size_t c = 0; c < r->nlist; ++c) {
    const auto& ids = r->list_ids[c];
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_LT(ids[i - 1], ids[i]);
    EXPECT_EQ(r->list_codes[c].size(), ids.size() * 2);
    for (uint8_t code : r->list_codes[c]) EXPECT_LT(code, 16);
    total += ids.size();
  }
  EXPECT_EQ(total, 300u);
}

TEST(TrainIvfPq, IdenticalVectorsLandInTheFirstList) {
  // Four copies, so the mean times 1/4 is exact and every centroid, updated
  // or re-seeded, equals the vector: a three-way tie at every pass.
  Staged s{std::vector<std::vector<float>>(4, {1, 2})};
  IvfPqParams p = params(2, 3, 1, 2);
  p.metric = MetricKind::kL2;
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), p);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->centroids, (std::vector<float>{1, 2, 1, 2, 1, 2}));
  EXPECT_EQ(r->list_ids[0].size(), 4u);
}

bool same_index(const IvfPqIndex& a, const IvfPqIndex& b) {
  return a.centroids == b.centroids && a.codebooks == b.codebooks && a.list_ids == b.list_ids &&
         a.list_codes == b.list_codes && a.nlist == b.nlist;
}

IvfPqIndex trained(const Staged& s, const IvfPqParams& p) {
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), p);
  EXPECT_TRUE(r.ok());
  return r.ok() ? std::move(r).value() : IvfPqIndex{};
}

TEST(TrainIvfPq, SeedZeroIsTheBuiltinSeedAndIterationsZeroIsOne) {
  Staged s = gaussian(200, 6, 3);
  IvfPqParams p = params(6, 5, 3, 3);
  p.seed = 0;
  IvfPqIndex zero = trained(s, p);
  p.seed = kBuiltinTrainSeed;
  EXPECT_TRUE(same_index(zero, trained(s, p)));
  p.seed = 12345;
  EXPECT_FALSE(same_index(zero, trained(s, p)));
  p.kmeans_iters = 0;
  IvfPqIndex none = trained(s, p);
  p.kmeans_iters = 1;
  EXPECT_TRUE(same_index(none, trained(s, p)));
  p.kmeans_iters = 2;
  EXPECT_FALSE(same_index(none, trained(s, p)));
}

TEST(TrainIvfPq, KernelsGiveTheSameIndex) {
  Staged s = gaussian(1500, 32, 4);
  IvfPqParams p = params(32, 37, 8, 6);
  p.kmeans_iters = 4;
  Result<IvfPqIndex> a = train_ivfpq(s.refs(), p, AssignKernel::kPortable);
  Result<IvfPqIndex> b = train_ivfpq(s.refs(), p, AssignKernel::kAvx2);
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_TRUE(same_index(*a, *b));
}

TEST(TrainIvfPq, NanComponentsTrainWithoutFailing) {
  Staged s = gaussian(50, 4, 5);
  s.vectors[3][1] = std::nanf("");
  s.vectors[7][0] = INFINITY;
  Result<IvfPqIndex> r = train_ivfpq(s.refs(), params(4, 4, 2, 2));
  ASSERT_TRUE(r.ok());
  size_t total = 0;
  for (const auto& ids : r->list_ids) total += ids.size();
  EXPECT_EQ(total, 50u);
}

}  // namespace
}  // namespace vellum
