#include "rdf.h"
#include "profile_support.h"

#include <gtest/gtest.h>

namespace {
// Made-up but plausible parameters of two elements, 60 : 40.
const std::vector<float> kTwoElements = {0.49f, 0.32f, 0.14f, 0.12f, 1.80f, 9.91f, 0.24f,
                                         0.56f, 0.27f, 0.10f, 0.82f, 6.41f, 0.0f,  60.0f,
                                         0.20f, 0.34f, 0.19f, 0.21f, 2.12f, 8.77f, 0.41f,
                                         0.63f, 0.18f, 0.17f, 1.02f, 5.83f, 0.0f,  40.0f};

std::vector<float> kirkland_values(const profile_data& rec, float s0, int n) {
  std::vector<float> out(static_cast<size_t>(n), -1.0f);
  kirklandfunction(rec, s0, n, out.data());
  return out;
}

std::vector<float> transform(const std::vector<float>& y, float step, int32_t start, int32_t end) {
  auto rec = record_of(y, step);
  rdf_sinetransform(rec, start, end);
  return std::vector<float>(rec.rdf.get(), rec.rdf.get() + kRdfPoints);
}
}  // namespace

TEST(Kirkland, FunctionOfOneAndTwoRows) {
  profile_data rec;
  rec.step = 10.0f;
  std::vector<float> row(kElementColumns, 0.0f);
  row[0] = row[3] = row[4] = row[5] = 1.0f;
  row[12] = 123.0f;  // not read
  row[13] = 100.0f;
  set_elements(rec, row.data(), 1);
  EXPECT_EQ(kirkland_values(rec, 0.0f, 2), (std::vector<float>{1.0f, 0.25f}));

  std::vector<float> one(kTwoElements.begin(), kTwoElements.begin() + kElementColumns);
  one[13] = 100.0f;
  set_elements(rec, one.data(), 1);
  const auto whole = kirkland_values(rec, 0.5f, 40);
  one.insert(one.end(), one.begin(), one.end());
  one[13] = one[27] = 50.0f;
  set_elements(rec, one.data(), 2);
  const auto halves = kirkland_values(rec, 0.5f, 40);
  for (size_t i = 0; i < halves.size(); ++i) EXPECT_FLOAT_EQ(halves[i], whole[i]) << i;

  float p[2] = {-2.0f, -3.0f};
  float f2[2] = {1.0f, 2.5f};
  float hx[2];
  scale_offset_model(p, hx, 2, 2, f2);
  EXPECT_EQ(hx[0], 5.0f);
  EXPECT_EQ(hx[1], 8.0f);
}

TEST(Kirkland, FitRecoversScaleAndOffset) {
  const int n = 400;
  profile_data rec;
  rec.step = 0.02f;
  set_elements(rec, kTwoElements.data(), 2);
  const auto f2 = kirkland_values(rec, 0.0f, n);
  std::vector<float> y(n);
  for (int i = 0; i < n; ++i) y[i] = 3500.0f * f2[i] + 120.0f;
  set_profile(rec, y.data(), n);
  rec.scale = -1.0f;  // acts as its absolute value
  rec.offset = 1.0f;

  Lines out;
  EXPECT_GE(kirklandfit(rec, 30, 350), 0);
  EXPECT_NEAR(rec.scale / 3500.0f, 1.0f, 1e-4f);
  EXPECT_NEAR(rec.offset / 120.0f, 1.0f, 1e-3f);
  ASSERT_GE(out.lines.size(), 1u);
  EXPECT_EQ(out.lines[0].rfind("Fit converged after ", 0), 0u) << out.lines[0];

  // The profile is the curve: the reduced intensity is 0 everywhere.
  std::vector<float> curve(n), reduced(n);
  kirkland_curves(rec, curve.data(), reduced.data());
  for (int i = 0; i < n; i += 37) {
    EXPECT_NEAR(curve[i], y[i], 1e-3f * y[i]);
    EXPECT_NEAR(reduced[i], 0.0f, 1e-4f);
  }
  // Where the curve is 0 the reduced intensity is not finite.
  rec.scale = rec.offset = 0.0f;
  kirkland_curves(rec, curve.data(), reduced.data());
  EXPECT_FALSE(std::isfinite(reduced[5]));

  // A refused range changes nothing; one sample for two parameters makes
  // the solver refuse, and the start values come back as absolute values.
  rec.scale = -5.0f;
  EXPECT_EQ(kirklandfit(rec, 10, n), -1);
  EXPECT_EQ(rec.scale, -5.0f);
  EXPECT_EQ(kirklandfit(rec, 20, 20), -1);
  EXPECT_EQ(rec.scale, 5.0f);
  EXPECT_EQ(out.lines[1],
            "ERROR in kirklandfit. The range must satisfy 0 <= start <= end <= length-1. \n");
  EXPECT_EQ(out.lines[2], "ERROR! Fit aborted after 0. \n");
  EXPECT_FLOAT_EQ(rdf_step(1.0f), 0.62831855f);
}

TEST(Rdf, ThreeSamplesAndTheRangeRule) {
  const auto three = transform({2, 3, 5}, 1.0f, 0, 3);
  for (int k : {0, 1, 250, 999}) {
    const double r = k * static_cast<double>(0.01f);
    const float s = static_cast<float>(4 * 3.0 * std::sin(r) + 5.0 * std::sin(2 * r));
    EXPECT_FLOAT_EQ(three[k], static_cast<float>(s * 4.0 / 3.0)) << k;
  }
  std::vector<float> y(40);
  for (int i = 0; i < 40; ++i) y[i] = 1.0f + 0.1f * i;
  const auto whole = transform(y, 0.3f, 0, 40);
  EXPECT_EQ(whole[0], 0.0f);
  EXPECT_EQ(transform(y, 0.3f, 5, 15), whole);  // 10 samples: too short
  EXPECT_NE(transform(y, 0.3f, 5, 16), whole);
  EXPECT_EQ(transform(y, 0.3f, -1, 30), whole);
  EXPECT_EQ(transform(y, 0.3f, 0, 41), whole);
  EXPECT_EQ(transform(y, 0.3f, INT32_MIN, INT32_MAX), whole);
  EXPECT_EQ(transform({}, 1.0f, 0, 0)[500], 0.0f);
}

TEST(Rdf, EvenSampleCountsEndWithATrapezoid) {
  // y = 1 on s = 0 .. smax: 4 times the integral of sin(r s) is
  // 4 (1 - cos(r smax)) / r, for an odd and an even count.
  for (int n : {1001, 1000}) {
    const auto rdf = transform(std::vector<float>(static_cast<size_t>(n), 1.0f), 0.01f, 0, n);
    const double smax = (n - 1) * static_cast<double>(0.01f);
    for (int k : {50, 100, 314, 700}) {
      const double r = k * static_cast<double>(0.01f);
      EXPECT_NEAR(rdf[k], 4.0 * (1.0 - std::cos(r * smax)) / r, 2e-4) << n << " " << k;
    }
  }
  // Four samples: Simpson over three, a trapezoid over the last interval.
  const double r = 77 * static_cast<double>(0.01f);
  const double s =
      4 * 2.0 * std::sin(r) + 2.5 * 3.0 * std::sin(2 * r) + 1.5 * 4.0 * std::sin(3 * r);
  EXPECT_FLOAT_EQ(transform({1, 2, 3, 4}, 1.0f, 0, 4)[77], static_cast<float>(s * 4.0 / 3.0));
}
