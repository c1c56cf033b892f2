// The image layouts the profile functions read and write, seen through the
// host.
#include "profile_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const std::vector<KnownPeak> kTwoPeaks = {{120.0, 2000.0, 4.0, 0.2}, {200.0, 1500.0, 3.0, 0.1}};

const char* const kLessLines[] = {
    "There are less than 4 provided fit parameters! Input requested is an image containing "
    "three collums, ",
    "1: Position, 2: integrated intensity; 3: HWHM; 4:Cauchy/Gauss weight (0 - Gauss, 1 - "
    "Cauchy).",
    "Taking some standard value for the the first four parameters! \n"};
const char* const kMoreLines[] = {
    "There are more than 4 provided fit parameters! Input requested is an image containing "
    "three collums, ",
    "1: Position, 2: integrated intensity; 3: HWHM; 4:Cauchy/Gauss weight (0 - Gauss, 1 - "
    "Cauchy). ",
    "Taking the first four parameters! \n"};

}  // namespace

TEST_F(ProfileTest, UpdatersWriteOnlyTheRowsTheProfileHas) {
  const std::vector<double> y = synthetic_profile(300, kTwoPeaks);
  DM_ImageToken full = ProfileImage(y, 4);
  DM_ImageToken one = ProfileImage(y, 1);
  DM_ImageToken two = ProfileImage(y, 2, -1.0);
  DM_ImageToken five = ProfileImage(y, 5, -1.0);
  std::vector<DM_ImageToken> cells(8, nullptr);
  Find("PeakFindPreFit", full, &cells[0], &cells[1]);
  Find("PeakFindPreFit", one, &cells[2], &cells[3]);
  Find("PeakFindPreFit", two, &cells[4], &cells[5]);
  Find("PeakFindPreFit", five, &cells[6], &cells[7]);
  for (DM_ImageToken c : cells) ASSERT_NE(c, nullptr);
  EXPECT_EQ(host_.ImageName(cells[0]), "Peakparameters");
  EXPECT_EQ(host_.Width(cells[0]), 4u);
  EXPECT_EQ(host_.Height(cells[0]), 2u);
  EXPECT_EQ(host_.DataChangedCount(cells[0]), 1);
  EXPECT_EQ(host_.ImageName(cells[1]), "Splinepoints");
  EXPECT_EQ(host_.Height(cells[1]), 2u);
  EXPECT_EQ(host_.DataChangedCount(cells[1]), 1);
  EXPECT_EQ(host_.DataChangedCount(full), 0);  // write-backs are not announced
  const std::vector<double> sx = Row(cells[1], 0);
  for (size_t j = 1; j < sx.size(); ++j) EXPECT_GT(sx[j], sx[j - 1]);

  EXPECT_EQ(host_.Pixels(one), Row(full, 0));  // a one-row profile keeps its profile
  EXPECT_EQ(Row(two, 0), Row(full, 0));
  EXPECT_EQ(Row(two, 1), Row(full, 1));  // the background
  for (uint32_t r = 0; r < 4; ++r) EXPECT_EQ(Row(five, r), Row(full, r)) << r;
  EXPECT_EQ(Row(five, 4), std::vector<double>(300, -1.0));
  // Row 1 + row 2 = row 0 inside the spline range.
  const std::vector<double> bg = Row(full, 1), sub = Row(full, 2);
  for (int i = 100; i < 220; i += 5) EXPECT_NEAR(bg[i] + sub[i], y[i], 1e-3) << i;
  for (DM_ImageToken& c : cells) ReleaseCell(c);

  // The Kirkland rows likewise.
  const std::vector<std::vector<double>> table = {element_row(2.0, 1.5, 3.0, 0.8, 100.0)};
  DM_ImageToken elements = TableImage(table);
  DM_ImageToken k1 = ProfileImage(y, 1);
  DM_ImageToken k3 = ProfileImage(y, 3);
  float offset = 1.0f, scale = 1.0f;
  KirklandFunction(k1, elements, &offset, &scale, 0.1f);
  KirklandFunction(k3, elements, &offset, &scale, 0.1f);
  EXPECT_EQ(host_.Pixels(k1), Row(k3, 0));
  EXPECT_NE(Row(k3, 1), std::vector<double>(300, -1.0));
}

TEST_F(ProfileTest, PeakImagesOfOtherWidths) {
  const std::vector<double> y = synthetic_profile(300, kTwoPeaks);
  DM_ImageToken source_peaks = nullptr, source_splines = nullptr;
  Find("PeakFind", ProfileImage(y), &source_peaks, &source_splines);
  ASSERT_NE(source_peaks, nullptr);
  const std::vector<double> positions = {Row(source_peaks, 0)[0], Row(source_peaks, 1)[0]};
  const std::vector<double> splines = host_.Pixels(source_splines);
  const uint32_t nspline = host_.Width(source_splines);
  ReleaseCell(source_peaks);
  ReleaseCell(source_splines);

  // Two columns: read with the standard start values, fitted, and only the
  // two columns that exist written back.
  DM_ImageToken narrow = TableImage({{positions[0], 55.0}, {positions[1], 66.0}});
  DM_ImageToken s = RealImage(nspline, 2, splines);
  DM_ImageToken profile = ProfileImage(y);
  host_.ClearResults();
  Fit("PeakFit", profile, narrow, s);
  ASSERT_GE(host_.Results().size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host_.Results()[i], kLessLines[i]);
  EXPECT_EQ(host_.Width(narrow), 2u);
  for (uint32_t k = 0; k < 2; ++k) {
    EXPECT_NEAR(Row(narrow, k)[0], kTwoPeaks[k].position, 0.5) << k;
    EXPECT_NE(Row(narrow, k)[1], 55.0 + 11.0 * k) << k;
    EXPECT_GE(Row(narrow, k)[1], 0.0) << k;
  }

  // Six columns: the first four are read and written, the rest are kept.
  DM_ImageToken wide =
      TableImage({{positions[0], 1800, 5, 0.5, 41, 42}, {positions[1], 1200, 4, 0.5, 43, 44}});
  DM_ImageToken s2 = RealImage(nspline, 2, splines);
  DM_ImageToken profile2 = ProfileImage(y);
  host_.ClearResults();
  Fit("PeakFit", profile2, wide, s2);
  ASSERT_GE(host_.Results().size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host_.Results()[i], kMoreLines[i]);
  EXPECT_EQ(Row(wide, 0)[4], 41.0);
  EXPECT_EQ(Row(wide, 1)[5], 44.0);
  EXPECT_NEAR(Row(wide, 1)[1], kTwoPeaks[1].intensity, 0.1 * kTwoPeaks[1].intensity);
}

TEST_F(ProfileTest, PeakRowsAreWrittenAsMagnitudesWithTheWeightClamped) {
  // A fit range of three samples is too short for the solver, so both fits
  // refuse and the table comes back as it went in, in its written form.
  std::vector<double> y(50, 10.0);
  DM_ImageToken profile = ProfileImage(y);
  DM_ImageToken peaks = TableImage({{21.0, -500.0, -3.0, 1.4}, {21.5, 200.0, 2.0, -0.2}});
  DM_ImageToken splines = TableImage({{20.0, 22.0}, {10.0, 10.0}});
  Fit("PeakFit", profile, peaks, splines);
  EXPECT_EQ(host_.Results(),
            (std::vector<std::string>{
                "Performing first Fit (of 2). ", "ERROR! Fit aborted after 0. \n",
                "Performing second Fit (of 2). ", "ERROR! Fit aborted after 0. \n"}));
  EXPECT_EQ(host_.Pixels(peaks),
            (std::vector<double>{21.0, 500.0, 3.0, 1.0, 21.5, 200.0, 2.0, 0.0}));
}

TEST_F(ProfileTest, ReducedIntensityWhereTheCurveVanishes) {
  // An all-zero element row and offset 0 give a curve of 0: the reduced
  // intensity there has no finite value.
  DM_ImageToken profile = ProfileImage(std::vector<double>(20, 4.0), 3);
  DM_ImageToken elements = TableImage({element_row(0.0, 1.0, 0.0, 0.0, 100.0)});
  float offset = 0.0f, scale = 1.0f;
  KirklandFunction(profile, elements, &offset, &scale, 0.5f);
  const std::vector<double> curve = Row(profile, 1), reduced = Row(profile, 2);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(curve[i], 0.0) << i;
    EXPECT_FALSE(std::isfinite(reduced[i])) << i;
  }
}

TEST_F(ProfileTest, WideElementTablesKeepTheirRowsApart) {
  const std::vector<std::vector<double>> rows = {element_row(2.0, 1.5, 3.0, 0.8, 70.0),
                                                 element_row(1.0, 0.7, 1.5, 0.3, 30.0)};
  std::vector<std::vector<double>> wide = rows;
  for (auto& r : wide) r.insert(r.end(), {99.0, -99.0});
  DM_ImageToken narrow_table = TableImage(rows);
  DM_ImageToken wide_table = TableImage(wide);
  const std::vector<double> y(40, 9.0);
  DM_ImageToken a = ProfileImage(y, 3);
  DM_ImageToken b = ProfileImage(y, 3);
  float offset = 0.5f, scale = 2.0f;
  KirklandFunction(a, narrow_table, &offset, &scale, 0.3f);
  KirklandFunction(b, wide_table, &offset, &scale, 0.3f);
  EXPECT_EQ(host_.Pixels(a), host_.Pixels(b));
  const std::vector<double> curve = Row(a, 1);
  for (int i = 0; i < 40; i += 9)
    EXPECT_NEAR(curve[i], 2.0 * kirkland_value(rows, 0.3f, i) + 0.5, 1e-5 * curve[i]) << i;
}

TEST_F(ProfileTest, RdfOfAKnownInput) {
  // Three samples: the whole profile, Simpson weights 1 4 1.
  DM_ImageToken three = RealImage(3, 3, {0, 0, 0, 0, 0, 0, 2.0, 3.0, 5.0});
  DM_ImageToken cell = nullptr;
  CalculateRdf(three, &cell, 0.0f, 3.0f, 1.0f);
  ASSERT_NE(cell, nullptr);
  const double step = 0.62831855f;  // c = 1: the float nearest 2 pi / 10
  std::vector<double> rdf = host_.Pixels(cell);
  ASSERT_EQ(rdf.size(), 1000u);
  EXPECT_EQ(rdf[0], 0.0);
  for (int k = 1; k < 1000; k += 111) {
    const double r = k * static_cast<double>(0.01f);
    const double s = 4.0 * 3.0 * std::sin(r * step) + 5.0 * std::sin(2.0 * r * step);
    EXPECT_NEAR(rdf[k], s * step * 4.0 / 3.0, 1e-5 * (1.0 + std::fabs(rdf[k]))) << k;
  }
  ReleaseCell(cell);

  // Start and end are truncated; eleven samples 2 .. 12 are used.
  std::vector<double> pixels(3 * 20, 0.0);
  for (int j = 0; j < 20; ++j) pixels[40 + j] = 1.0 + 0.1 * j;
  DM_ImageToken twenty = RealImage(20, 3, pixels);
  CalculateRdf(twenty, &cell, 2.9f, 13.9f, 2.0f);
  ASSERT_NE(cell, nullptr);
  rdf = host_.Pixels(cell);
  const double step2 = static_cast<float>(2.0 * 2.0 * 3.14159265358979 / 10.0);
  for (int k = 3; k < 1000; k += 97) {
    const double r = k * static_cast<double>(0.01f);
    double s = 0.0;
    for (int j = 0; j < 11; ++j) {
      const double w = (j == 0 || j == 10) ? 1.0 : (j % 2 ? 4.0 : 2.0);
      s += w * (1.0 + 0.1 * (2 + j)) * std::sin(r * (2 + j) * step2);
    }
    EXPECT_NEAR(rdf[k], s * step2 * 4.0 / 3.0, 1e-4 * (1.0 + std::fabs(rdf[k]))) << k;
  }
  ReleaseCell(cell);
}
