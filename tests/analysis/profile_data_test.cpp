#include "profile_data.h"
#include "profile_support.h"
#include "profile_utils.h"

#include <gtest/gtest.h>

TEST(ProfileChecks, SplinePointsMustBeFiniteIncreasingAndInside) {
  Lines out;
  auto rec = record_of(std::vector<float>(50, 1.0f));
  EXPECT_FALSE(check_splinepoints(rec, 1, "PreFit"));
  set_splines(rec, {10.0f}, {0.0f});
  EXPECT_TRUE(check_splinepoints(rec, 1, "PreFit"));
  EXPECT_FALSE(check_splinepoints(rec, 2, "PeakFit"));
  for (const std::vector<float>& xs : std::vector<std::vector<float>>{{10, 10, 20},
                                                                      {10, 5, 20},
                                                                      {-0.5f, 5, 20},
                                                                      {1, 5, 49.5f},
                                                                      {1, NAN, 20},
                                                                      {1, 5, INFINITY}}) {
    set_splines(rec, xs, {0, 0, 0});
    EXPECT_FALSE(check_splinepoints(rec, 2, "PeakFit"));
  }
  set_splines(rec, {0, 5, 49}, {0, 0, 0});
  EXPECT_TRUE(check_splinepoints(rec, 2, "PeakFit"));
  ASSERT_EQ(out.lines.size(), 8u);
  EXPECT_EQ(out.lines[0], "ERROR in PreFit. At least one spline point is needed. \n");
  EXPECT_EQ(out.lines[1], "ERROR in PeakFit. At least 2 spline points are needed. \n");
  EXPECT_EQ(out.lines[2],
            "ERROR in PeakFit. The spline positions must be finite, strictly increasing "
            "and inside the profile. \n");
}

TEST(ProfileChecks, PeaksAndRanges) {
  Lines out;
  profile_data empty;
  EXPECT_FALSE(check_peaks(empty, "PeakFit"));
  EXPECT_EQ(out.lines.back(), "ERROR in PeakFit. No profile loaded. \n");
  auto rec = record_of(std::vector<float>(100, 1.0f));
  EXPECT_FALSE(check_peaks(rec, "PeakFit"));
  const float peaks[8] = {10, 1, 1, 0, 99, 1, 1, 0};
  set_peaks(rec, peaks, 2);
  EXPECT_TRUE(check_peaks(rec, "PeakFit"));
  rec.peaks[4] = -99.5f;  // a fit may leave the profile; its table is still usable
  EXPECT_TRUE(check_peaks(rec, "PeakFit"));
  rec.peaks[4] = NAN;
  EXPECT_FALSE(check_peaks(rec, "PeakFit"));
  EXPECT_EQ(out.lines.back(), "ERROR in PeakFit. Every peak position must be a finite number. \n");
  rec.peaks[4] = 99.0f;
  for (int column : {1, 2, 3}) {
    rec.peaks[4 + column] = column == 2 ? -INFINITY : NAN;
    EXPECT_FALSE(check_peaks(rec, "PeakFit")) << column;
    EXPECT_EQ(
        out.lines.back(),
        "ERROR in PeakFit. Every peak intensity, HWHM and weight must be a finite number. \n");
    rec.peaks[4 + column] = 1.0f;
  }

  int32_t first = -7, last = -7;
  for (auto range : {std::pair{5.0, 100.0}, {-1.0, 50.0}, {60.0, 50.0}, {NAN, 50.0}, {0.0, 1e30}})
    EXPECT_FALSE(check_range(rec, range.first, range.second, "RDF_Kirklandfit", first, last));
  EXPECT_EQ(first, -7);
  EXPECT_EQ(out.lines.back(),
            "ERROR in RDF_Kirklandfit. The range must satisfy 0 <= start <= end <= length-1. \n");
  EXPECT_TRUE(check_range(rec, 2.9, 99.9, "RDF_Kirklandfit", first, last));
  EXPECT_EQ(first, 2);
  EXPECT_EQ(last, 99);
}

TEST(ProfileUtils, SumsEstimatesAndMatrix) {
  const float data[7] = {0, 1, 4, 8, 4, 1, 0};
  EXPECT_EQ(sum_range(5, 5, data), 0.0f);
  EXPECT_EQ(sum_range(1, 4, data), 13.0f);
  EXPECT_EQ(area_above_chord(1, 5, data), 17.0f - 4.0f);  // chord flat at 1
  EXPECT_EQ(hwhm_estimate(0, 6, data), 1.0f);             // half maximum at 2 and 4
  EXPECT_NEAR(atanh_float(0.5f), 0.5493061f, 1e-6f);
  float** m = alloc_matrix_float(3, 5);
  ASSERT_NE(m, nullptr);
  m[2][4] = 24.0f;
  EXPECT_EQ(m[1] + 5, m[2]);
  EXPECT_EQ(m[0][14], 24.0f);
  delete[] m;
  EXPECT_EQ(alloc_matrix_float(0, 5), nullptr);
}
