#include "peaks.h"
#include "profile_support.h"
#include "pseudovoigt.h"

#include <gtest/gtest.h>

#include <random>

namespace {
// A falling background with peaks at 150 and 300.
std::vector<float> two_peak_profile() {
  std::vector<float> y(500);
  for (int i = 0; i < 500; ++i)
    y[i] = 200.0f + 20000.0f / (i + 10) + pseudo_voigt(i, 150, 5000, 5, 0.3) +
           pseudo_voigt(i, 300, 3000, 6, 0.5);
  return y;
}

// What the rest of the system relies on: increasing spline points inside
// the profile and a spline point on each side of every peak.
void expect_consistent_tables(const profile_data& rec) {
  for (int32_t j = 0; j < rec.nsplinepoints; ++j) {
    EXPECT_GE(rec.splinex[j], 0.0f);
    EXPECT_LE(rec.splinex[j], static_cast<float>(rec.length - 1));
    EXPECT_TRUE(j == 0 || rec.splinex[j] > rec.splinex[j - 1]);
  }
  for (int32_t k = 0; k < rec.npeaks; ++k) {
    ASSERT_GE(rec.nsplinepoints, 2);
    EXPECT_GT(rec.peaks[4 * k], rec.splinex[0]);
    EXPECT_LT(rec.peaks[4 * k], rec.splinex[rec.nsplinepoints - 1]);
  }
}
}  // namespace

TEST(FindPeaks, TwoPeaksOverAFallingBackground) {
  const auto y = two_peak_profile();
  auto rec = record_of(y);
  findpeaks(rec, 20.0f, 10.0f, 10.0f, 490.0f, 0);
  ASSERT_EQ(rec.npeaks, 2);
  EXPECT_EQ(peak_row(rec, 0), (std::vector<float>{150, 0, 0, 0}));
  EXPECT_EQ(peak_row(rec, 1), (std::vector<float>{300, 0, 0, 0}));
  expect_consistent_tables(rec);
  // The falling start is a leading maximum at 20, 116 samples before the
  // first minimum: four extra points 29 apart carry measured samples, the
  // minima smoothed values, the point closing the last peak the sample.
  ASSERT_EQ(rec.nsplinepoints, 7);
  const float expected_x[7] = {20, 49, 78, 107, 136, 272, 489};
  for (int j = 0; j < 7; ++j) EXPECT_EQ(rec.splinex[j], expected_x[j]) << j;
  for (int j : {0, 1, 2, 3, 6})
    EXPECT_EQ(rec.spliney[j], y[static_cast<size_t>(expected_x[j])]) << j;
  EXPECT_NE(rec.spliney[4], y[136]);
}

TEST(FindPeaks, CutGuardEndcutPastTheProfileAndTheLastMaximum) {
  Lines out;
  const auto y = two_peak_profile();
  auto rec = record_of(y);
  findpeaks(rec, 20.0f, 10.0f, 100.0f, 101.5f, 0);
  findpeaks(rec, 20.0f, 10.0f, 100.0f, 102.0f, 0);  // accepted
  ASSERT_EQ(out.lines.size(), 1u);
  EXPECT_EQ(out.lines[0], "ERROR: The begincut-point is larger than the endcut-point! \n");

  // An endcut far past the profile stops at its end.
  auto far = record_of(y);
  findpeaks(far, 20.0f, 10.0f, 10.0f, 1.0e6f, 0);
  auto at_end = record_of(y);
  findpeaks(at_end, 20.0f, 10.0f, 10.0f, 500.0f, 0);
  ASSERT_EQ(far.nsplinepoints, at_end.nsplinepoints);
  for (int32_t j = 0; j < far.nsplinepoints; ++j) EXPECT_EQ(far.splinex[j], at_end.splinex[j]);

  // A walk ending just after the second peak closes it with the lowest
  // sample after it, unless the profile ends high: then it is dropped.
  auto low = record_of(y);
  findpeaks(low, 20.0f, 10.0f, 10.0f, 320.0f, 0);
  ASSERT_EQ(low.npeaks, 2);
  EXPECT_EQ(low.splinex[low.nsplinepoints - 1], 319.0f);
  auto high_end = y;
  for (int i = 451; i < 500; ++i) high_end[i] += 50.0f * static_cast<float>(i - 450);
  auto high = record_of(high_end);
  findpeaks(high, 20.0f, 10.0f, 10.0f, 320.0f, 0);
  ASSERT_EQ(high.npeaks, 1);
  expect_consistent_tables(high);
}

// Random profiles and parameters, the odd ones included (negative delta,
// cuts outside the profile, profiles shorter than the first walk's start):
// the tables keep their promises and the whole peak road stays inside its
// arrays.
TEST(FindPeaks, RandomInputKeepsTheTablesConsistent) {
  Lines out;
  std::mt19937 random(12345);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  int fitted = 0;
  for (int round = 0; round < 100; ++round) {
    const int n = 5 + static_cast<int>(unit(random) * 250);
    std::vector<float> y(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
      y[i] = 100.0f * unit(random) + 400.0f * std::sin(static_cast<float>(i) * 0.2f * unit(random));
    auto rec = record_of(y);
    findpeaks(rec, 60.0f * unit(random) - 10.0f, 40.0f * unit(random) - 5.0f,
              300.0f * unit(random) - 50.0f, 400.0f * unit(random), round % 2);
    expect_consistent_tables(rec);
    if (rec.npeaks > 0) {
      ++fitted;
      ASSERT_TRUE(prefit_sequence(rec, "PeakFindPreFit"));
      ASSERT_TRUE(peakfit_sequence(rec, "PeakFit"));
    }
  }
  EXPECT_GT(fitted, 20);
}
