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
  DM_ImageToken full = profile_image(y, 4);
  DM_ImageToken one = profile_image(y, 1);
  DM_ImageToken two = profile_image(y, 2, -1.0);
  DM_ImageToken five = profile_image(y, 5, -1.0);
  std::vector<DM_ImageToken> cells(8, nullptr);
  find("PeakFindPreFit", full, &cells[0], &cells[1]);
  find("PeakFindPreFit", one, &cells[2], &cells[3]);
  find("PeakFindPreFit", two, &cells[4], &cells[5]);
  find("PeakFindPreFit", five, &cells[6], &cells[7]);
  for (DM_ImageToken c : cells) ASSERT_NE(c, nullptr);
  EXPECT_EQ(host.image_name(cells[0]), "Peakparameters");
  EXPECT_EQ(host.width(cells[0]), 4u);
  EXPECT_EQ(host.height(cells[0]), 2u);
  EXPECT_EQ(host.data_changed_count(cells[0]), 1);
  EXPECT_EQ(host.image_name(cells[1]), "Splinepoints");
  EXPECT_EQ(host.height(cells[1]), 2u);
  EXPECT_EQ(host.data_changed_count(cells[1]), 1);
  EXPECT_EQ(host.data_changed_count(full), 0);  // write-backs are not announced
  const std::vector<double> sx = row(cells[1], 0);
  for (size_t j = 1; j < sx.size(); ++j) EXPECT_GT(sx[j], sx[j - 1]);

  EXPECT_EQ(host.pixels(one), row(full, 0));  // a one-row profile keeps its profile
  EXPECT_EQ(row(two, 0), row(full, 0));
  EXPECT_EQ(row(two, 1), row(full, 1));  // the background
  for (uint32_t r = 0; r < 4; ++r) EXPECT_EQ(row(five, r), row(full, r)) << r;
  EXPECT_EQ(row(five, 4), std::vector<double>(300, -1.0));
  // Row 1 + row 2 = row 0 inside the spline range.
  const std::vector<double> bg = row(full, 1), sub = row(full, 2);
  for (int i = 100; i < 220; i += 5) EXPECT_NEAR(bg[i] + sub[i], y[i], 1e-3) << i;
  for (DM_ImageToken& c : cells) release_cell(c);

  // The Kirkland rows likewise.
  const std::vector<std::vector<double>> table = {element_row(2.0, 1.5, 3.0, 0.8, 100.0)};
  DM_ImageToken elements = table_image(table);
  DM_ImageToken k1 = profile_image(y, 1);
  DM_ImageToken k3 = profile_image(y, 3);
  float offset = 1.0f, scale = 1.0f;
  kirkland_function(k1, elements, &offset, &scale, 0.1f);
  kirkland_function(k3, elements, &offset, &scale, 0.1f);
  EXPECT_EQ(host.pixels(k1), row(k3, 0));
  EXPECT_NE(row(k3, 1), std::vector<double>(300, -1.0));
}

TEST_F(ProfileTest, PeakImagesOfOtherWidths) {
  const std::vector<double> y = synthetic_profile(300, kTwoPeaks);
  DM_ImageToken source_peaks = nullptr, source_splines = nullptr;
  find("PeakFind", profile_image(y), &source_peaks, &source_splines);
  ASSERT_NE(source_peaks, nullptr);
  const std::vector<double> positions = {row(source_peaks, 0)[0], row(source_peaks, 1)[0]};
  const std::vector<double> splines = host.pixels(source_splines);
  const uint32_t nspline = host.width(source_splines);
  release_cell(source_peaks);
  release_cell(source_splines);

  // Two columns: read with the standard start values, fitted, and only the
  // two columns that exist written back.
  DM_ImageToken narrow = table_image({{positions[0], 55.0}, {positions[1], 66.0}});
  DM_ImageToken s = real_image(nspline, 2, splines);
  DM_ImageToken profile = profile_image(y);
  host.clear_results();
  fit("PeakFit", profile, narrow, s);
  ASSERT_GE(host.results().size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host.results()[i], kLessLines[i]);
  EXPECT_EQ(host.width(narrow), 2u);
  for (uint32_t k = 0; k < 2; ++k) {
    EXPECT_NEAR(row(narrow, k)[0], kTwoPeaks[k].position, 0.5) << k;
    EXPECT_NE(row(narrow, k)[1], 55.0 + 11.0 * k) << k;
    EXPECT_GE(row(narrow, k)[1], 0.0) << k;
  }

  // Six columns: the first four are read and written, the rest are kept.
  DM_ImageToken wide =
      table_image({{positions[0], 1800, 5, 0.5, 41, 42}, {positions[1], 1200, 4, 0.5, 43, 44}});
  DM_ImageToken s2 = real_image(nspline, 2, splines);
  DM_ImageToken profile2 = profile_image(y);
  host.clear_results();
  fit("PeakFit", profile2, wide, s2);
  ASSERT_GE(host.results().size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host.results()[i], kMoreLines[i]);
  EXPECT_EQ(row(wide, 0)[4], 41.0);
  EXPECT_EQ(row(wide, 1)[5], 44.0);
  EXPECT_NEAR(row(wide, 1)[1], kTwoPeaks[1].intensity, 0.1 * kTwoPeaks[1].intensity);
}

TEST_F(ProfileTest, PeakRowsAreWrittenAsMagnitudesWithTheWeightClamped) {
  // A fit range of three samples is too short for the solver, so both fits
  // refuse and the table comes back as it went in, in its written form.
  std::vector<double> y(50, 10.0);
  DM_ImageToken profile = profile_image(y);
  DM_ImageToken peaks = table_image({{21.0, -500.0, -3.0, 1.4}, {21.5, 200.0, 2.0, -0.2}});
  DM_ImageToken splines = table_image({{20.0, 22.0}, {10.0, 10.0}});
  fit("PeakFit", profile, peaks, splines);
  EXPECT_EQ(host.results(),
            (std::vector<std::string>{
                "Performing first Fit (of 2). ", "ERROR! Fit aborted after 0. \n",
                "Performing second Fit (of 2). ", "ERROR! Fit aborted after 0. \n"}));
  EXPECT_EQ(host.pixels(peaks),
            (std::vector<double>{21.0, 500.0, 3.0, 1.0, 21.5, 200.0, 2.0, 0.0}));
}

TEST_F(ProfileTest, ReducedIntensityWhereTheCurveVanishes) {
  // An all-zero element row and offset 0 give a curve of 0: the reduced
  // intensity there has no finite value.
  DM_ImageToken profile = profile_image(std::vector<double>(20, 4.0), 3);
  DM_ImageToken elements = table_image({element_row(0.0, 1.0, 0.0, 0.0, 100.0)});
  float offset = 0.0f, scale = 1.0f;
  kirkland_function(profile, elements, &offset, &scale, 0.5f);
  const std::vector<double> curve = row(profile, 1), reduced = row(profile, 2);
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
  DM_ImageToken narrow_table = table_image(rows);
  DM_ImageToken wide_table = table_image(wide);
  const std::vector<double> y(40, 9.0);
  DM_ImageToken a = profile_image(y, 3);
  DM_ImageToken b = profile_image(y, 3);
  float offset = 0.5f, scale = 2.0f;
  kirkland_function(a, narrow_table, &offset, &scale, 0.3f);
  kirkland_function(b, wide_table, &offset, &scale, 0.3f);
  EXPECT_EQ(host.pixels(a), host.pixels(b));
  const std::vector<double> curve = row(a, 1);
  for (int i = 0; i < 40; i += 9)
    EXPECT_NEAR(curve[i], 2.0 * kirkland_value(rows, 0.3f, i) + 0.5, 1e-5 * curve[i]) << i;
}

TEST_F(ProfileTest, RdfOfAKnownInput) {
  // Three samples: the whole profile, Simpson weights 1 4 1.
  DM_ImageToken three = real_image(3, 3, {0, 0, 0, 0, 0, 0, 2.0, 3.0, 5.0});
  DM_ImageToken cell = nullptr;
  calculate_rdf(three, &cell, 0.0f, 3.0f, 1.0f);
  ASSERT_NE(cell, nullptr);
  const double step = 0.62831855f;  // c = 1: the float nearest 2 pi / 10
  std::vector<double> rdf = host.pixels(cell);
  ASSERT_EQ(rdf.size(), 1000u);
  EXPECT_EQ(rdf[0], 0.0);
  for (int k = 1; k < 1000; k += 111) {
    const double r = k * static_cast<double>(0.01f);
    const double s = 4.0 * 3.0 * std::sin(r * step) + 5.0 * std::sin(2.0 * r * step);
    EXPECT_NEAR(rdf[k], s * step * 4.0 / 3.0, 1e-5 * (1.0 + std::fabs(rdf[k]))) << k;
  }
  release_cell(cell);

  // Start and end are truncated; eleven samples 2 .. 12 are used.
  std::vector<double> pixels(3 * 20, 0.0);
  for (int j = 0; j < 20; ++j) pixels[40 + j] = 1.0 + 0.1 * j;
  DM_ImageToken twenty = real_image(20, 3, pixels);
  calculate_rdf(twenty, &cell, 2.9f, 13.9f, 2.0f);
  ASSERT_NE(cell, nullptr);
  rdf = host.pixels(cell);
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
  release_cell(cell);
}
