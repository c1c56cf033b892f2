#include "profile_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using standin::cell_arg;
using standin::float_arg;
using standin::float_ptr_arg;
using standin::real_image_arg;

namespace {

// Four peaks over the falling background of synthetic_profile.  The first
// is a pure Gauss peak: the radius-weighted first walk of the peak finder
// always lays its left background point on that peak's foot, where a
// Lorentz tail would bias the background under it.
const std::vector<KnownPeak> kKnownPeaks = {
    {200.0, 3000.0, 2.5, 0.0},
    {400.0, 2500.0, 3.0, 0.2},
    {600.0, 3000.0, 4.0, 0.3},
    {800.0, 2000.0, 3.5, 0.1},
};

size_t count_starting(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& s) {
    return s.compare(0, prefix.size(), prefix) == 0;
  }));
}

}  // namespace

TEST_F(ProfileTest, PeakFindPreFitThenPeakFitRecoversKnownPeaks) {
  const std::vector<double> y = synthetic_profile(1000, kKnownPeaks);
  DM_ImageToken profile = ProfileImage(y);
  DM_ImageToken peaks = nullptr;
  DM_ImageToken splines = nullptr;
  standin::CallResult r = Find("PeakFindPreFit", profile, &peaks, &splines);
  ASSERT_TRUE(r.script_errors.empty());
  ASSERT_NE(peaks, nullptr);
  ASSERT_EQ(host_.Height(peaks), kKnownPeaks.size());
  // The prefit already lands near every peak.
  for (uint32_t k = 0; k < kKnownPeaks.size(); ++k) {
    std::vector<double> p = Row(peaks, k);
    EXPECT_NEAR(p[0], kKnownPeaks[k].position, 0.5) << k;
    EXPECT_GT(p[1], 0.5 * kKnownPeaks[k].intensity) << k;
    EXPECT_GT(p[2], 0.0) << k;
  }

  host_.ClearResults();
  const std::vector<double> spline_values = host_.Pixels(splines);
  r = Fit("PeakFit", profile, peaks, splines);
  ASSERT_TRUE(r.script_errors.empty());
  const std::vector<std::string>& lines = host_.Results();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Performing first Fit (of 2). ");
  EXPECT_EQ(lines[1].rfind("Fit converged after ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "Performing second Fit (of 2). ");
  EXPECT_EQ(lines[3].rfind("Fit converged after ", 0), 0u) << lines[3];

  for (uint32_t k = 0; k < kKnownPeaks.size(); ++k) {
    const KnownPeak& want = kKnownPeaks[k];
    std::vector<double> p = Row(peaks, k);
    EXPECT_NEAR(p[0], want.position, 0.05) << k;
    EXPECT_NEAR(p[1], want.intensity, 0.01 * want.intensity) << k;
    EXPECT_NEAR(p[2], want.hwhm, 0.01 * want.hwhm) << k;
    EXPECT_GE(p[3], 0.0) << k;
    EXPECT_LE(p[3], 1.0) << k;
  }

  // Rows 1 to 3: background, profile minus background, and the model,
  // which matches what is left after the background is taken away.
  const std::vector<double> measured = Row(profile, 0), bg = Row(profile, 1), sub = Row(profile, 2),
                            model = Row(profile, 3);
  for (int i = 150; i < 850; i += 7) {
    EXPECT_EQ(measured[i], static_cast<float>(y[i])) << i;
    EXPECT_NEAR(measured[i] - bg[i], sub[i], 1e-3) << i;
    EXPECT_NEAR(model[i], sub[i], 0.01 * y[i]) << i;
  }
  // PeakFit does not write the spline image back.
  EXPECT_EQ(host_.Pixels(splines), spline_values);
  ReleaseCell(peaks);
  ReleaseCell(splines);
}

namespace {
// The sum of squares, in double, of a peak table against samples
// [first, last] of a row.
double table_residual(const std::vector<double>& table, const std::vector<double>& sub, int first,
                      int last) {
  double sum = 0.0;
  for (int i = first; i <= last; ++i) {
    double model = 0.0;
    for (size_t k = 0; k + 3 < table.size(); k += 4)
      model += pseudo_voigt(i, {table[k], std::fabs(table[k + 1]), std::fabs(table[k + 2]),
                                std::clamp(table[k + 3], 0.0, 1.0)});
    sum += (model - sub[i]) * (model - sub[i]);
  }
  return sum;
}
}  // namespace

// The whole road on a noisy profile with an overlapping pair: after PeakFit
// the table is a minimum of the second fit's problem (the final
// background-subtracted row, from the second spline point to the last), so
// that no small change of any parameter lowers the residual.
TEST_F(ProfileTest, PeakFitEndsAtAMinimumOfTheSecondFit) {
  std::vector<double> y = synthetic_profile(900, {{200.0, 3000.0, 2.5, 0.0},
                                                  {400.0, 4000.0, 3.5, 0.4},
                                                  {412.0, 2500.0, 3.0, 0.7},
                                                  {620.0, 3500.0, 5.0, 0.2},
                                                  {760.0, 2000.0, 4.0, 0.9}});
  for (size_t i = 0; i < y.size(); ++i) y[i] += 2.0 * std::sin(1.7 * i * i + 0.3 * i);
  DM_ImageToken profile = ProfileImage(y);
  DM_ImageToken peaks = nullptr;
  DM_ImageToken splines = nullptr;
  ASSERT_TRUE(Find("PeakFindPreFit", profile, &peaks, &splines).script_errors.empty());
  ASSERT_NE(peaks, nullptr);
  host_.ClearResults();
  ASSERT_TRUE(Fit("PeakFit", profile, peaks, splines).script_errors.empty());
  ASSERT_EQ(host_.Results().size(), 4u);
  EXPECT_EQ(host_.Results()[1].rfind("Fit converged after ", 0), 0u) << host_.Results()[1];
  EXPECT_EQ(host_.Results()[3].rfind("Fit converged after ", 0), 0u) << host_.Results()[3];

  const std::vector<double> sub = Row(profile, 2), sx = Row(splines, 0);
  const int first = static_cast<int>(sx[1]), last = static_cast<int>(sx.back());
  const std::vector<double> table = host_.Pixels(peaks);
  ASSERT_EQ(table.size(), 20u);
  const double best = table_residual(table, sub, first, last);
  for (size_t k = 0; k < table.size(); ++k) {
    const double steps[4] = {0.01, 1e-3 * std::fabs(table[k]), 1e-3 * std::fabs(table[k]), 0.005};
    for (double sign : {-1.0, 1.0}) {
      std::vector<double> moved = table;
      moved[k] += sign * steps[k % 4];
      if (k % 4 == 3 && (moved[k] < 0.0 || moved[k] > 1.0)) continue;
      EXPECT_GE(table_residual(moved, sub, first, last), best * (1 - 1e-7)) << k << " " << sign;
    }
    if (k % 4 == 3) {
      EXPECT_GE(table[k], 0.0);
      EXPECT_LE(table[k], 1.0);
    }
  }
  ReleaseCell(peaks);
  ReleaseCell(splines);
}

// A sample that is no number, where the fits would read it: PeakFindPreFit
// says so and writes nothing; a huge profile prefits to finite values.
TEST_F(ProfileTest, PeakFindPreFitRefusesBadSamplesAndTakesHugeOnes) {
  std::vector<double> y = synthetic_profile(1000, kKnownPeaks);
  y[405] = std::nan("");
  DM_ImageToken profile = ProfileImage(y);
  DM_ImageToken old = RealImage(1, 1, {3}, "old");
  DM_ImageToken peaks = old, splines = old;
  const std::vector<double> before = host_.Pixels(profile);
  ASSERT_TRUE(Find("PeakFindPreFit", profile, &peaks, &splines).script_errors.empty());
  EXPECT_EQ(
      host_.Results(),
      (std::vector<std::string>{
          "Estimating peakpositions and splinepoints. \n",
          "ERROR in PeakFindPreFit. The profile holds a sample that is not a finite number. \n"}));
  EXPECT_EQ(peaks, old);
  EXPECT_EQ(splines, old);
  const std::vector<double> after = host_.Pixels(profile);
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(before[i] == after[i] || (std::isnan(before[i]) && std::isnan(after[i]))) << i;

  for (double& v : y) v *= 1e30;
  y[405] = y[404];
  DM_ImageToken huge = ProfileImage(y);
  host_.ClearResults();
  ASSERT_TRUE(Find("PeakFindPreFit", huge, &peaks, &splines).script_errors.empty());
  ASSERT_NE(peaks, old);
  for (uint32_t k = 0; k < host_.Height(peaks); ++k) {
    const std::vector<double> p = Row(peaks, k);
    EXPECT_TRUE(std::isfinite(p[1]) && p[1] > 0.0) << k;
    EXPECT_NEAR(p[0], kKnownPeaks[k].position, 0.5) << k;
  }
  ReleaseCell(peaks);
  ReleaseCell(splines);
}

TEST_F(ProfileTest, PeakFindGivesPositionsOnlyAndLeavesTheProfileAlone) {
  const std::vector<double> y = synthetic_profile(1000, kKnownPeaks);
  DM_ImageToken profile = ProfileImage(y);
  const std::vector<double> before = host_.Pixels(profile);
  DM_ImageToken peaks = nullptr;
  DM_ImageToken splines = nullptr;
  Find("PeakFind", profile, &peaks, &splines);
  ASSERT_NE(peaks, nullptr);
  ASSERT_NE(splines, nullptr);
  EXPECT_EQ(host_.Results(),
            (std::vector<std::string>{"Estimating peakpositions and splinepoints. \n"}));
  EXPECT_EQ(host_.Pixels(profile), before);
  EXPECT_EQ(host_.DataChangedCount(profile), 0);
  for (uint32_t k = 0; k < host_.Height(peaks); ++k) {
    std::vector<double> p = Row(peaks, k);
    EXPECT_EQ(p[0], kKnownPeaks[k].position);
    EXPECT_EQ(p[1], 0.0);
    EXPECT_EQ(p[2], 0.0);
    EXPECT_EQ(p[3], 0.0);
  }

  // PreFit from those images: only the positions are read, so junk in the
  // other columns changes nothing.
  DM_ImageToken p1 = RealImage(4, host_.Height(peaks), host_.Pixels(peaks), "p1");
  std::vector<double> junk = host_.Pixels(peaks);
  for (size_t i = 0; i < junk.size(); ++i)
    if (i % 4) junk[i] = -77.0;
  DM_ImageToken p2 = RealImage(4, host_.Height(peaks), junk, "p2");
  DM_ImageToken s1 = RealImage(host_.Width(splines), 2, host_.Pixels(splines), "s1");
  DM_ImageToken s2 = RealImage(host_.Width(splines), 2, host_.Pixels(splines), "s2");
  DM_ImageToken y1 = ProfileImage(y);
  DM_ImageToken y2 = ProfileImage(y);
  Fit("PreFit", y1, p1, s1);
  Fit("PreFit", y2, p2, s2);
  EXPECT_EQ(host_.Pixels(p1), host_.Pixels(p2));
  EXPECT_EQ(host_.Pixels(s1), host_.Pixels(s2));
  EXPECT_EQ(host_.Pixels(y1), host_.Pixels(y2));
  EXPECT_GT(Row(p1, 0)[1], 0.0);
  EXPECT_NE(Row(y1, 1), Row(profile, 1));  // rows 1 to 3 were written
  ReleaseCell(peaks);
  ReleaseCell(splines);
}

TEST_F(ProfileTest, NoPeakLeavesTheCellsAndTheProfile) {
  DM_ImageToken profile = ProfileImage(std::vector<double>(300, 5.0));
  DM_ImageToken keep_peaks = RealImage(1, 1, {1}, "old peaks");
  DM_ImageToken keep_splines = RealImage(1, 1, {2}, "old splines");
  DM_ImageToken peaks = keep_peaks;
  DM_ImageToken splines = keep_splines;
  const std::vector<double> before = host_.Pixels(profile);
  for (const char* function : {"PeakFind", "PeakFindPreFit"}) {
    host_.ClearResults();
    Find(function, profile, &peaks, &splines);
    EXPECT_EQ(host_.Results(),
              (std::vector<std::string>{"Estimating peakpositions and splinepoints. \n",
                                        "Error found 0 peaks! \n"}))
        << function;
    EXPECT_EQ(peaks, keep_peaks);
    EXPECT_EQ(splines, keep_splines);
    EXPECT_EQ(host_.Pixels(profile), before);
  }
  // A begincut beyond endcut - 2 is the finder's own error, then no peak.
  host_.ClearResults();
  Find("PeakFind", profile, &peaks, &splines, 10, 50, 100.0f, 101.5f);
  EXPECT_EQ(host_.Results(), (std::vector<std::string>{
                                 "Estimating peakpositions and splinepoints. \n",
                                 "ERROR: The begincut-point is larger than the endcut-point! \n",
                                 "Error found 0 peaks! \n"}));
  EXPECT_EQ(peaks, keep_peaks);
}

TEST_F(ProfileTest, KirklandFitRecoversScaleAndOffsetAndFeedsCalculateRDF) {
  const std::vector<std::vector<double>> rows = {element_row(2.0, 1.5, 3.0, 0.8, 60.0),
                                                 element_row(1.0, 0.7, 1.5, 0.3, 40.0)};
  const float step = 0.05f;
  const double scale = 12.5, offset = 40.0;
  std::vector<double> y(800);
  for (int i = 0; i < 800; ++i) y[i] = scale * kirkland_value(rows, step, i) + offset;
  DM_ImageToken profile = ProfileImage(y, 3);
  DM_ImageToken elements = TableImage(rows);

  // Negative start values: the fit works on magnitudes and stores them.
  float fitted_offset = -10.0f;
  float fitted_scale = -3.0f;
  standin::CallResult r =
      KirklandFit(profile, elements, &fitted_offset, &fitted_scale, 5.0f, 700.9f, step);
  ASSERT_TRUE(r.script_errors.empty());
  ASSERT_EQ(host_.Results().size(), 1u);
  EXPECT_EQ(host_.Results()[0].rfind("Fit converged after ", 0), 0u) << host_.Results()[0];
  EXPECT_NEAR(fitted_scale, scale, 1e-3 * scale);
  EXPECT_NEAR(fitted_offset, offset, 1e-3 * offset);

  // Row 1 is the fitted curve, row 2 the reduced intensity, about 0 here.
  std::vector<double> curve = Row(profile, 1), reduced = Row(profile, 2);
  EXPECT_EQ(reduced[0], 0.0);
  for (int i = 0; i < 800; i += 37) {
    EXPECT_NEAR(curve[i], y[i], 1e-3 * y[i]) << i;
    EXPECT_NEAR(reduced[i], 0.0, 1e-3) << i;
  }

  DM_ImageToken rdf = nullptr;
  r = CalculateRdf(profile, &rdf, 0.0f, 800.0f, 1.0f);
  ASSERT_TRUE(r.script_errors.empty());
  ASSERT_NE(rdf, nullptr);
  EXPECT_EQ(host_.ImageName(rdf), "RDF");
  EXPECT_EQ(host_.Width(rdf), 1000u);
  EXPECT_EQ(host_.Height(rdf), 1u);
  EXPECT_EQ(host_.DataChangedCount(rdf), 1);
  EXPECT_EQ(host_.Pixels(rdf)[0], 0.0);
  ReleaseCell(rdf);
}

TEST_F(ProfileTest, KirklandFunctionWritesTheCurveAndKeepsTheFloats) {
  const std::vector<std::vector<double>> rows = {element_row(2.0, 1.5, 3.0, 0.8, 100.0)};
  std::vector<double> y(50, 30.0);
  DM_ImageToken profile = ProfileImage(y, 3);
  DM_ImageToken elements = TableImage(rows);
  float offset = 2.0f;
  float scale = 0.5f;
  KirklandFunction(profile, elements, &offset, &scale, 0.2f, 123.0f);
  EXPECT_EQ(offset, 2.0f);
  EXPECT_EQ(scale, 0.5f);
  EXPECT_TRUE(host_.Results().empty());
  const std::vector<double> curve = Row(profile, 1), reduced = Row(profile, 2);
  for (int i = 0; i < 50; i += 7) {
    EXPECT_NEAR(curve[i], 0.5 * kirkland_value(rows, 0.2, i) + 2.0, 1e-4 * curve[i]) << i;
    const double want = (30.0 - curve[i]) / curve[i] * i * 0.2f / 10.0;
    EXPECT_NEAR(reduced[i], want, 1e-5 * (1.0 + std::fabs(want))) << i;
  }
  // The last float is not read.
  DM_ImageToken again = ProfileImage(y, 3);
  KirklandFunction(again, elements, &offset, &scale, 0.2f, -5.0f);
  EXPECT_EQ(host_.Pixels(again), host_.Pixels(profile));
}

// A number that is no finite number would turn every value into NaN: the
// call is a script error and writes nothing.
TEST_F(ProfileTest, NonFiniteNumbersAreScriptErrors) {
  const std::vector<std::vector<double>> rows = {element_row(2.0, 1.5, 3.0, 0.8, 100.0)};
  const float nan = std::nanf(""), inf = INFINITY;
  DM_ImageToken profile = ProfileImage(std::vector<double>(50, 30.0), 3);
  DM_ImageToken elements = TableImage(rows);
  const std::vector<double> before = host_.Pixels(profile);
  auto refused = [&](const standin::CallResult& r, const std::string& text) {
    ASSERT_EQ(r.script_errors.size(), 1u);
    EXPECT_EQ(r.script_errors[0], text);
    EXPECT_EQ(host_.Pixels(profile), before);
    EXPECT_TRUE(host_.Results().empty());
  };
  for (float bad : {nan, inf}) {
    float offset = bad, scale = 0.5f;
    refused(KirklandFunction(profile, elements, &offset, &scale, 0.2f),
            "RDF_Kirklandfunction: the offset must be a finite number");
    offset = 2.0f;
    scale = bad;
    refused(KirklandFit(profile, elements, &offset, &scale, 0.0f, 40.0f, 0.2f),
            "RDF_Kirklandfit: the scale must be a finite number");
    EXPECT_TRUE(std::isnan(scale) || std::isinf(scale));
    scale = 0.5f;
    refused(KirklandFunction(profile, elements, &offset, &scale, bad),
            "RDF_Kirklandfunction: the step must be a finite number");
  }
  for (float c : {nan, -inf}) {
    DM_ImageToken rdf = nullptr;
    refused(CalculateRdf(profile, &rdf, 0.0f, 40.0f, c), "CalculateRDF: c must be a finite number");
    EXPECT_EQ(rdf, nullptr);
  }
}

// Every refused call: one ERROR line and nothing else, nothing written,
// no cell or float changed, nothing left alive.
TEST_F(ProfileTest, RefusedCallsWriteOneErrorLineAndNothingElse) {
  const std::vector<double> y = synthetic_profile(300, {{150.0, 2000.0, 4.0, 0.2}});
  const std::vector<double> element = element_row(2.0, 1.5, 3.0, 0.8, 100.0);
  const std::vector<double> spline_ok_x = {100, 200};
  const double nan = std::nan("");

  struct Case {
    const char* function;
    std::vector<std::vector<double>> peaks;    // PreFit/PeakFit peak image
    std::vector<std::vector<double>> splines;  // PreFit/PeakFit spline image
    std::vector<std::vector<double>> elements;
    uint32_t profile_rows;
    uint32_t profile_width;
    std::vector<float> floats;  // start, end (Kirkland fit)
    const char* line;
  };
  const std::vector<std::vector<double>> table = {element};
  const std::vector<std::vector<double>> one_peak = {{150, 1, 1, 0}};
  const std::vector<std::vector<double>> two_splines = {spline_ok_x, {90, 90}};
  const char* const bad_splines =
      "ERROR in PreFit. The spline positions must be finite, "
      "strictly increasing and inside the profile. \n";
  const Case cases[] = {
      {"PeakFind", {}, {}, {}, 4, 0, {}, "ERROR in PeakFind. The profile image is empty. \n"},
      {"PeakFindPreFit",
       {},
       {},
       {},
       0,
       300,
       {},
       "ERROR in PeakFindPreFit. The profile image is empty. \n"},
      {"PreFit", one_peak, {{100, 100}, {90, 90}}, {}, 4, 300, {}, bad_splines},
      {"PreFit", one_peak, {{200, 100}, {90, 90}}, {}, 4, 300, {}, bad_splines},
      {"PreFit", one_peak, {{100, nan}, {90, 90}}, {}, 4, 300, {}, bad_splines},
      {"PreFit", one_peak, {{100, 299.5}, {90, 90}}, {}, 4, 300, {}, bad_splines},
      {"PreFit",
       one_peak,
       {{100, 200}},
       {},
       4,
       300,
       {},
       "ERROR in PreFit. The spline-point image needs 2 rows. \n"},
      {"PreFit",
       {{-INFINITY, 1, 1, 0}},
       two_splines,
       {},
       4,
       300,
       {},
       "ERROR in PreFit. Every peak position must be a finite number. \n"},
      {"PeakFit",
       {{150, 1, 1, 0}, {nan, 1, 1, 0}},
       two_splines,
       {},
       4,
       300,
       {},
       "ERROR in PeakFit. Every peak position must be a finite number. \n"},
      {"PeakFit",
       one_peak,
       {spline_ok_x, {90, INFINITY}},
       {},
       4,
       300,
       {},
       "ERROR in PeakFit. Every spline height must be a finite number. \n"},
      {"PeakFit",
       one_peak,
       {{100}, {90}},
       {},
       4,
       300,
       {},
       "ERROR in PeakFit. At least 2 spline points are needed. \n"},
      {"PreFit",
       one_peak,
       {{}, {}},
       {},
       4,
       300,
       {},
       "ERROR in PreFit. At least one spline point is needed. \n"},
      {"RDF_Kirklandfit",
       {},
       {},
       {std::vector<double>(element.begin(), element.end() - 1)},
       3,
       300,
       {0, 299},
       "ERROR in RDF_Kirklandfit. The element table needs at least 14 columns. \n"},
      {"RDF_Kirklandfit",
       {},
       {},
       table,
       3,
       300,
       {10, 9},
       "ERROR in RDF_Kirklandfit. The range must satisfy 0 <= start <= end <= length-1. \n"},
      {"RDF_Kirklandfit",
       {},
       {},
       table,
       3,
       300,
       {0, 300},
       "ERROR in RDF_Kirklandfit. The range must satisfy 0 <= start <= end <= length-1. \n"},
      {"RDF_Kirklandfit",
       {},
       {},
       table,
       3,
       300,
       {-1, 100},
       "ERROR in RDF_Kirklandfit. The range must satisfy 0 <= start <= end <= length-1. \n"},
      {"RDF_Kirklandfit",
       {},
       {},
       table,
       3,
       300,
       {std::nanf(""), 100},
       "ERROR in RDF_Kirklandfit. The range must satisfy 0 <= start <= end <= length-1. \n"},
      {"RDF_Kirklandfunction",
       {},
       {},
       {{1, 2, 3}},
       3,
       300,
       {},
       "ERROR in RDF_Kirklandfunction. The element table needs at least 14 columns. \n"},
      {"RDF_Kirklandfunction",
       {},
       {},
       table,
       1,
       0,
       {},
       "ERROR in RDF_Kirklandfunction. The profile image is empty. \n"},
      {"CalculateRDF",
       {},
       {},
       {},
       2,
       300,
       {},
       "ERROR in CalculateRDF. The profile image needs at least 3 rows. \n"},
  };

  const size_t images = host_.LiveImages();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    host_.ClearResults();
    std::vector<double> pixels(static_cast<size_t>(c.profile_width) * c.profile_rows, 1.0);
    std::copy_n(y.begin(), std::min(pixels.size(), static_cast<size_t>(c.profile_width)),
                pixels.begin());
    DM_ImageToken profile = RealImage(c.profile_width, c.profile_rows, pixels);
    DM_ImageToken peaks = TableImage(c.peaks, "peaks");
    DM_ImageToken splines = TableImage(c.splines, "splines");
    DM_ImageToken elements = TableImage(c.elements, "elements");
    DM_ImageToken old = RealImage(1, 1, {3}, "old");
    DM_ImageToken cell1 = old, cell2 = old;
    float offset = -4.0f, scale = 7.0f;
    const std::vector<double> before[] = {host_.Pixels(profile), host_.Pixels(peaks),
                                          host_.Pixels(splines)};
    const std::string f = c.function;
    standin::CallResult r;
    if (f == "PeakFind" || f == "PeakFindPreFit")
      r = Find(c.function, profile, &cell1, &cell2);
    else if (f == "PreFit" || f == "PeakFit")
      r = Fit(c.function, profile, peaks, splines);
    else if (f == "RDF_Kirklandfit")
      r = KirklandFit(profile, elements, &offset, &scale, c.floats[0], c.floats[1], 0.1f);
    else if (f == "RDF_Kirklandfunction")
      r = KirklandFunction(profile, elements, &offset, &scale, 0.1f);
    else
      r = CalculateRdf(profile, &cell1, 0, 300, 1);
    EXPECT_TRUE(r.called);
    EXPECT_TRUE(r.script_errors.empty());
    EXPECT_EQ(host_.Results(), std::vector<std::string>{c.line});
    EXPECT_EQ(count_starting(host_.Results(), "ERROR"), 1u);
    const std::vector<double> after[] = {host_.Pixels(profile), host_.Pixels(peaks),
                                         host_.Pixels(splines)};
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(before[i].size(), after[i].size());
      for (size_t k = 0; k < before[i].size(); ++k)
        EXPECT_TRUE(before[i][k] == after[i][k] ||
                    (std::isnan(before[i][k]) && std::isnan(after[i][k])));
    }
    EXPECT_EQ(cell1, old);
    EXPECT_EQ(cell2, old);
    EXPECT_EQ(offset, -4.0f);
    EXPECT_EQ(scale, 7.0f);
    EXPECT_EQ(host_.LiveLocks(), 0u);
    EXPECT_EQ(host_.LiveStrings(), 0u);
    EXPECT_EQ(host_.ReferenceCount(profile), 1);
  }
  // Only the fixture's own images are alive.
  EXPECT_EQ(host_.LiveImages(), images + 5 * std::size(cases));
}

TEST_F(ProfileTest, HandlersCleanUpWhicheverHostCallFails) {
  const std::vector<double> y =
      synthetic_profile(300, {{120.0, 2000.0, 4.0, 0.2}, {200.0, 1500.0, 3.0, 0.1}});
  const std::vector<std::vector<double>> table = {element_row(2.0, 1.5, 3.0, 0.8, 100.0)};
  DM_ImageToken previous = RealImage(2, 2, {1, 2, 3, 4}, "previous");

  // Peak and spline tables from a first, normal run.
  DM_ImageToken found_peaks = nullptr, found_splines = nullptr;
  Find("PeakFind", ProfileImage(y), &found_peaks, &found_splines);
  ASSERT_NE(found_peaks, nullptr);
  const std::vector<double> peak_values = host_.Pixels(found_peaks);
  const std::vector<double> spline_values = host_.Pixels(found_splines);
  const uint32_t npeaks = host_.Height(found_peaks), nspline = host_.Width(found_splines);
  ReleaseCell(found_peaks);
  ReleaseCell(found_splines);

  auto new_real = [&](uint32_t w, uint32_t h, const std::vector<double>& v) {
    DM_ImageToken t = host_.NewImage("x", DM_TYPE_REAL4, w, h);
    host_.SetPixels(t, v);
    return t;
  };
  auto profile_values = [&](uint32_t rows) {
    std::vector<double> v(y.size() * rows, 0.0);
    std::copy(y.begin(), y.end(), v.begin());
    return v;
  };

  struct Case {
    const char* function;
    int kind;  // 0 finder, 1 fit, 2 Kirkland fit, 3 Kirkland function, 4 RDF
  };
  const Case cases[] = {{"PeakFind", 0},    {"PeakFindPreFit", 0},  {"PreFit", 1},
                        {"PeakFit", 1},     {"RDF_Kirklandfit", 2}, {"RDF_Kirklandfunction", 3},
                        {"CalculateRDF", 4}};
  for (const Case& c : cases) {
    long calls = check_host_failures(host_, c.function, [&] {
      PreparedCall call;
      DM_ImageToken profile = new_real(static_cast<uint32_t>(y.size()), 4, profile_values(4));
      DM_ImageToken peaks = new_real(4, npeaks, peak_values);
      DM_ImageToken splines = new_real(nspline, 2, spline_values);
      DM_ImageToken elements = new_real(14, 1, table[0]);
      auto cells = std::make_shared<std::vector<DM_ImageToken>>(2, previous);
      host_.Interface()->image_add_ref(previous);
      host_.Interface()->image_add_ref(previous);
      auto floats = std::make_shared<std::vector<float>>(std::vector<float>{3.0f, 2.0f});
      float* offset = &(*floats)[0];
      float* scale = &(*floats)[1];
      switch (c.kind) {
        case 0:
          call.args = {real_image_arg(profile), cell_arg(&(*cells)[0]), cell_arg(&(*cells)[1]),
                       float_arg(10),           float_arg(50),          float_arg(0),
                       float_arg(1e6f)};
          break;
        case 1:
          call.args = {real_image_arg(profile), real_image_arg(peaks), real_image_arg(splines)};
          break;
        case 2:
          call.args = {real_image_arg(profile), real_image_arg(elements),
                       float_ptr_arg(offset),   float_ptr_arg(scale),
                       float_arg(10),           float_arg(250),
                       float_arg(0.1f),         float_arg(0)};
          break;
        case 3:
          call.args = {real_image_arg(profile), real_image_arg(elements), float_ptr_arg(offset),
                       float_ptr_arg(scale),    float_arg(0.1f),          float_arg(0)};
          break;
        default:
          call.args = {real_image_arg(profile), cell_arg(&(*cells)[0]), float_arg(0),
                       float_arg(300), float_arg(1)};
      }
      const char* name = c.function;
      call.expect_untouched = [=] {
        EXPECT_EQ((*cells)[0], previous) << name;
        EXPECT_EQ((*cells)[1], previous) << name;
        EXPECT_EQ((*floats)[0], 3.0f) << name;
        EXPECT_EQ((*floats)[1], 2.0f) << name;
      };
      call.release = [=] {
        for (DM_ImageToken t : {profile, peaks, splines, elements}) host_.ReleaseImage(t);
        for (DM_ImageToken t : *cells) host_.ReleaseImage(t);
      };
      return call;
    });
    EXPECT_GE(calls, 4) << c.function;
  }
}
