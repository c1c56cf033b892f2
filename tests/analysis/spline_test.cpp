#include "spline.h"
#include "profile_support.h"

#include <gtest/gtest.h>

namespace {
std::vector<float> pchip(const std::vector<float>& xs, const std::vector<float>& ys) {
  std::vector<float> c(4 * xs.size(), -99.0f);
  pchip_coefficients(static_cast<int32_t>(xs.size()), xs.data(), ys.data(), c.data());
  return c;
}
}  // namespace

TEST(Pchip, SmallNodeSets) {
  EXPECT_EQ(pchip({3}, {7}), (std::vector<float>{7, 0, 0, 0}));
  EXPECT_EQ(pchip({1, 3}, {2, 6}), (std::vector<float>{2, 2, 0, 0, 6, 2, 0, 0}));
  // A straight line on uneven nodes is reproduced.
  auto line = pchip({0, 1, 3, 7}, {0, 1, 3, 7});
  for (int k = 0; k < 4; ++k) {
    EXPECT_FLOAT_EQ(line[4 * k + 1], 1.0f);
    EXPECT_NEAR(line[4 * k + 2], 0.0f, 1e-6f);
  }
  // A maximum in the middle gets slope 0; the ends take the three-point
  // slopes 3.5 and -2.5.
  const std::vector<float> peak = {0, 3.5f, -2, -3, 2, 0, -1, -3, 1, -2.5f, -4, -3};
  EXPECT_EQ(pchip({0, 1, 2}, {0, 2, 1}), peak);
  // End slopes: limited to 3 times the end interval's where the data turn,
  // 0 where the formula points against the data.
  EXPECT_FLOAT_EQ(pchip({0, 1, 11}, {0, 1, -399})[1], 3.0f);
  EXPECT_EQ(pchip({0, 1, 2}, {0, 1, 10})[1], 0.0f);
}

TEST(Background, OneSplinePointGivesAConstantAroundIt) {
  auto rec = record_of(std::vector<float>(30, 50.0f));
  set_splines(rec, {10}, {20});
  subtractbackground(rec);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(rec.background[i], i == 9 || i == 10 ? 20.0f : 0.0f) << i;
    EXPECT_EQ(rec.ysub[i], i == 9 || i == 10 ? 30.0f : 0.0f) << i;
  }
}

TEST(Background, MonotoneBetweenNodesAndClearedAfterTheLast) {
  auto rec = record_of(std::vector<float>(40, 100.0f));
  set_splines(rec, {10.5f, 20.5f, 30.5f}, {10, 12, 30});
  subtractbackground(rec);
  EXPECT_EQ(rec.background[8], 0.0f);
  for (int i = 12; i <= 30; ++i) {
    EXPECT_GE(rec.background[i], rec.background[i - 1]) << i;
    EXPECT_LE(rec.background[i], 30.0f) << i;
    EXPECT_FLOAT_EQ(rec.ysub[i], 100.0f - rec.background[i]) << i;
  }
  // The final pass clears sample 31, which the cubic part reached.
  EXPECT_EQ(rec.background[31], 0.0f);
  EXPECT_EQ(rec.ysub[31], 0.0f);
}

TEST(Background, RefusesOddTablesAndStaysInsideTheProfile) {
  Lines out;
  auto rec = record_of(std::vector<float>(20, 1.0f));
  set_splines(rec, {5, 5}, {1, 2});
  subtractbackground(rec);
  EXPECT_FALSE(rec.background);
  ASSERT_EQ(out.lines.size(), 1u);
  EXPECT_EQ(out.lines[0].rfind("ERROR in subtractbackground. ", 0), 0u);
  // Nodes on the first and last sample: everything covered, nothing
  // written past the profile (the sanitizers watch).
  set_splines(rec, {0, 19}, {1, 1});
  subtractbackground(rec);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(rec.background[i], 1.0f) << i;
}

TEST(SplineEvaluate, LocatesBothWaysAndEvaluatesEveryOrder) {
  const float up[5] = {0, 1, 2, 4, 8};
  const float down[5] = {8, 4, 2, 1, 0};
  int32_t cursor = 4;
  for (auto [xq, expected] : {std::pair{3.0f, 2}, {-1.0f, 0}, {100.0f, 4}, {4.0f, 3}})
    EXPECT_EQ(spline_locate(5, up, xq, cursor), expected) << xq;
  cursor = -20;
  EXPECT_EQ(spline_locate(5, down, 3.0f, cursor), 1);
  EXPECT_EQ(spline_locate(5, down, 0.5f, cursor), 3);

  // y = x^3 from its derivatives at 0 and 2.
  const float xs[2] = {0, 2};
  const float c[8] = {0, 0, 0, 6, 8, 12, 12, 6};
  const float xq[2] = {1, 3};
  float out[2];
  const float expected[5][2] = {{1, 27}, {3, 27}, {6, 18}, {6, 6}, {0, 0}};
  for (int order = 0; order < 5; ++order) {
    EXPECT_EQ(spline_evaluate(order == 4 ? 7 : order, 2, xs, c, 2, xq, out), 2);
    EXPECT_NEAR(out[0], expected[order][0], 1e-5f) << order;
    EXPECT_NEAR(out[1], expected[order][1], 1e-5f) << order;
  }
}

// Each evaluation hunts from a cursor of its own: eight threads evaluating
// different splines at scattered points get what each gets alone (a cursor
// shared between calls would still find the right intervals, only slower;
// ThreadSanitizer sees the race).
TEST(SplineEvaluate, ThreadedEvaluationsMatchTheCallAlone) {
  constexpr int kThreads = 8;
  constexpr int kPoints = 4000;
  auto evaluate = [](int t) {
    std::vector<float> xs, ys;
    for (int k = 0; k < 50 + 20 * t; ++k) {
      xs.push_back(static_cast<float>(k * (t + 1)) + 0.5f * std::sin(static_cast<float>(k)));
      ys.push_back(std::cos(0.3f * k + static_cast<float>(t)));
    }
    const std::vector<float> c = pchip(xs, ys);
    std::vector<float> xq(kPoints), out(kPoints);
    for (int k = 0; k < kPoints; ++k)
      xq[k] = xs.back() * static_cast<float>((k * 7919) % kPoints) / kPoints;
    spline_evaluate(t % 4, static_cast<int32_t>(xs.size()), xs.data(), c.data(), kPoints, xq.data(),
                    out.data());
    return out;
  };
  std::vector<std::vector<float>> alone, got(kThreads);
  for (int t = 0; t < kThreads; ++t) alone.push_back(evaluate(t));
  on_threads(kThreads, [&](int t) { got[t] = evaluate(t); });
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(got[t], alone[t]) << t;
}
