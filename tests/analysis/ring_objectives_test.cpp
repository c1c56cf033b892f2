#include "ring_objectives.h"
#include "azimuthal.h"
#include "centre.h"
#include "numeric.h"
#include "pattern_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using pattern_tests::Lines;
using pattern_tests::Pattern;

namespace {

double evaluate(Minimize& f, double a, double b) {
  const double x[2] = {a, b};
  return f.value(x, 2);
}

double degrees(double radians) {
  return radians / kPi * 180.0;
}

// The smallest angle between two major-axis directions (period pi).
double axis_difference(double a, double b) {
  double d = std::fmod(std::fabs(a - b), kPi);
  return std::min(d, kPi - d);
}

}  // namespace

TEST(RingObjectives, OffsetTablesHoldEveryPixelOfEachRing) {
  image_data rec;
  rec.ring_start = 0;  // raised to 1
  rec.ring_end = 500;  // lowered to rmax - 1
  ringoffsets(&rec, 40);
  EXPECT_EQ(rec.ring_start, 1);
  EXPECT_EQ(rec.ring_end, 39);
  ASSERT_EQ(rec.nrings, 38);
  const int32_t nr = rec.nrings;
  for (int32_t k = 0; k < nr; ++k) {
    // Every offset of the ring, counted directly, is in the table in
    // scan order (dx ascending, then dy).
    std::vector<std::pair<int32_t, int32_t>> expected;
    for (int32_t dx = -40; dx <= 40; ++dx)
      for (int32_t dy = -40; dy <= 40; ++dy)
        if (static_cast<int32_t>(std::sqrt(static_cast<float>(dx * dx + dy * dy))) ==
            rec.ring_start + k)
          expected.emplace_back(dx, dy);
    ASSERT_EQ(rec.ring_points[k], static_cast<int32_t>(expected.size())) << "ring " << k;
    for (size_t j = 0; j < expected.size(); ++j) {
      const size_t i = static_cast<size_t>(k) + j * nr;
      ASSERT_LT(i, static_cast<size_t>(rec.xoffsets_capacity));
      EXPECT_EQ(rec.xoffsets[i], expected[j].first);
      EXPECT_EQ(rec.yoffsets[i], expected[j].second);
    }
  }
}

TEST(RingObjectives, InvertedWindowGivesNoRings) {
  image_data rec;
  rec.ring_start = 30;
  rec.ring_end = 50;
  ringoffsets(&rec, 10);  // ring_end becomes 9, below the start
  EXPECT_EQ(rec.nrings, 0);
  EXPECT_EQ(rec.ring_start, 30);
  EXPECT_EQ(rec.ring_end, 30);
  maxazimuthalintcenter f(rec);
  EXPECT_EQ(evaluate(f, 0.0, 0.0), 0.0);
}

TEST(RingObjectives, CentreSearchBoxAndNotANumber) {
  Pattern p(200, 200, 1.0f);
  p.rec.center_x = 100;
  p.rec.center_y = 100;
  p.rec.ring_start = 10;
  p.rec.ring_end = 20;
  ringoffsets(&p.rec, 40);
  maxazimuthalintcenter f(p.rec);
  maxazimuthalintcenter_sektor g(p.rec);
  EXPECT_LT(evaluate(f, 150.0, 100.0), 0.0);  // exactly 50 off: still evaluated
  EXPECT_EQ(evaluate(f, 150.5, 100.0), 0.0);
  EXPECT_EQ(evaluate(f, 100.0, 49.5), 0.0);
  EXPECT_LT(evaluate(g, 200.0, 100.0), 0.0);  // the whole-pattern objective allows 100
  EXPECT_EQ(evaluate(g, 200.5, 100.0), 0.0);
  const double nan = std::nan("");
  EXPECT_EQ(evaluate(f, nan, 100.0), 0.0);
  EXPECT_EQ(evaluate(g, 100.0, nan), 0.0);
}

TEST(RingObjectives, RingValueOfAConstantPatternIsItsCircumference) {
  // Every ring's mean is 1, so ring k is worth 2 pi (ring_start + k); the
  // outermost ring wins.  With smoothing 1 ring k is 2 v[k-1] + v[k], the
  // index clamped at the window's edge.
  Pattern p(200, 200, 1.0f);
  p.rec.center_x = 100;
  p.rec.center_y = 100;
  p.rec.ring_start = 10;
  p.rec.ring_end = 20;
  ringoffsets(&p.rec, 40);
  auto ring = [](int32_t r) {
    return static_cast<float>(1.0 * 2.0 * kPi * static_cast<double>(static_cast<float>(r)));
  };
  maxazimuthalintcenter plain(p.rec);
  EXPECT_EQ(evaluate(plain, 100.0, 100.0), -static_cast<double>(ring(19)));
  p.rec.smoothing = 1;
  maxazimuthalintcenter smooth(p.rec);
  float s = 0.0f;
  s += (ring(18) * 2.0f) / 1.0f;
  s += (ring(19) * 1.0f) / 1.0f;
  s += (ring(19) * 0.0f) / 1.0f;
  EXPECT_EQ(evaluate(smooth, 100.0, 100.0), -static_cast<double>(s));
}

TEST(RingObjectives, WholePatternObjectiveMatchesThePlainPixelOrder) {
  const int32_t w = 300, h = 233;
  SyntheticOptions o = synthetic_defaults(w, h);
  o.noise = 60.0;
  Pattern p(w, h, o);
  p.rec.center_x = 140;
  p.rec.center_y = 120;
  for (int32_t smoothing : {0, 2}) {
    p.rec.smoothing = smoothing;
    maxazimuthalintcenter_sektor f(p.rec);
    const double candidates[][2] = {{140.0, 120.0}, {137.6, 125.2}, {201.0, 60.0}};
    for (const auto& c : candidates) {
      const float X = static_cast<float>(c[0]), Y = static_cast<float>(c[1]);
      const int32_t nR = static_cast<int32_t>(min_float(max_float(static_cast<float>(w) - X, X),
                                                        max_float(static_cast<float>(h) - Y, Y)) -
                                              1.0f);
      std::vector<float> sums(nR, 0.0f);
      for (int32_t x = 0; x < w; ++x)
        for (int32_t y = 0; y < h; ++y) {
          const float dx = static_cast<float>(x) - X, dy = static_cast<float>(y) - Y;
          const int32_t r = static_cast<int32_t>(std::sqrt(dx * dx + dy * dy));
          if (r < nR) sums[r] += p.pixels[x + w * y];
        }
      float best = 0.0f;
      for (int32_t k = nR / 4; k < nR; ++k) {
        float v = sums[k];
        if (smoothing > 0) {
          v = 0.0f;
          for (int32_t d = -smoothing; d <= smoothing; ++d) {
            const int32_t i = std::max(std::min(k + d, nR - 1), 0);
            v += (sums[i] * static_cast<float>(smoothing - d)) / static_cast<float>(smoothing);
          }
        }
        if (v > best) best = v;
      }
      EXPECT_EQ(evaluate(f, c[0], c[1]), static_cast<double>(-best)) << c[0] << "," << c[1];
    }
  }
}

TEST(RingObjectives, EllipseRatioRange) {
  Pattern p(200, 200, 1.0f);
  p.rec.center_x = 100;
  p.rec.center_y = 100;
  p.rec.ring_start = 10;
  p.rec.ring_end = 20;
  ringoffsets(&p.rec, 40);
  maxazimuthalintell f(p.rec);
  maxazimuthalintell_sektor g(p.rec);
  EXPECT_EQ(evaluate(f, 0.3, 1.2), 0.0);  // the float 1.2 lies above the double 1.2
  EXPECT_LT(evaluate(f, 0.3, 1.1999999284744263), 0.0);
  EXPECT_EQ(evaluate(f, 0.3, 0.999), 0.0);
  EXPECT_LT(evaluate(f, 0.3, 1.0), 0.0);
  EXPECT_EQ(evaluate(f, std::nan(""), 1.1), 0.0);
  EXPECT_EQ(evaluate(f, 0.3, std::nan("")), 0.0);
  EXPECT_EQ(evaluate(g, 0.3, 1.1), evaluate(f, 0.3, 1.1));
}

namespace {

struct Refinement {
  SyntheticOptions truth;
  Pattern pattern;
  Refinement(int32_t w, int32_t h, double ratio, double angle)
      : truth(Make(w, h, ratio, angle)), pattern(w, h, truth) {}
  static SyntheticOptions Make(int32_t w, int32_t h, double ratio, double angle) {
    SyntheticOptions o = synthetic_defaults(w, h);
    o.axis_ratio = ratio;
    o.angle = angle;
    return o;
  }
};

}  // namespace

// The road of the centre refinement: a guess, the ring window, the tables,
// the simplex.
TEST(RingObjectives, RefineCentreOnSyntheticPatterns) {
  const int32_t offsets[][2] = {{6, -5}, {-12, 9}, {0, 0}};
  Refinement r(900, 800, 1.0, 0.0);
  image_data& rec = r.pattern.rec;
  for (const auto& off : offsets) {
    rec.center_x = static_cast<int32_t>(r.truth.center_x) + off[0];
    rec.center_y = static_cast<int32_t>(r.truth.center_y) + off[1];
    const int32_t n = maxradius(&rec, 1) - 5;
    findring(&rec, 100, n);
    ringoffsets(&rec, n);
    Lines out;
    ASSERT_TRUE(optimizecenter(&rec, 0, 0));
    EXPECT_NEAR(rec.center_x, r.truth.center_x, 1.0) << off[0] << "," << off[1];
    EXPECT_NEAR(rec.center_y, r.truth.center_y, 1.0) << off[0] << "," << off[1];
    ASSERT_EQ(out.lines.size(), 1u);
    const std::string tail = "New center is: (" + std::to_string(rec.center_x) + ", " +
                             std::to_string(rec.center_y) + ") \n";
    EXPECT_EQ(out.lines[0].rfind("Center has been refined in ", 0), 0u);
    EXPECT_NE(out.lines[0].find(" steps using downhill simplex. " + tail), std::string::npos)
        << out.lines[0];
  }
}

// The road of RefineCenterEllipticity: guess, window, tables, prefit,
// centre, ellipse.  Returns the messages.
std::vector<std::string> refine_centre_and_ellipse(image_data& rec) {
  Lines out;
  EXPECT_TRUE(prefindcenter_whole(&rec));
  const int32_t n = maxradius(&rec, 1) - 5;
  findring(&rec, 100, n);
  ringoffsets(&rec, n);
  azimuthalint_guess_elliptic(&rec, rec.ring_start, rec.ring_end, 20);
  if (static_cast<double>(rec.axis_ratio) > 1.2) rec.axis_ratio = 1.0f;
  EXPECT_TRUE(optimizecenter(&rec, 0, 0));
  EXPECT_TRUE(optimizeellipticity(&rec, 0, 0));
  return out.lines;
}

TEST(RingObjectives, RefineCentreAndEllipseOnSyntheticPatterns) {
  // A 5 % ellipse on the strongest ring at radius 112: its semi-axes differ
  // by 6 pixels, enough for the angle to be well defined.
  for (double angle : {0.3, 1.4, 2.6}) {
    Refinement r(900, 800, 1.05, angle);
    image_data& rec = r.pattern.rec;
    const std::vector<std::string> lines = refine_centre_and_ellipse(rec);
    EXPECT_NEAR(rec.center_x, r.truth.center_x, 1.0);
    EXPECT_NEAR(rec.center_y, r.truth.center_y, 1.0);
    EXPECT_NEAR(rec.axis_ratio, 1.05, 0.01) << "angle " << angle;
    EXPECT_LT(degrees(axis_difference(rec.angle, angle)), 2.0) << "angle " << angle;
    EXPECT_GE(rec.angle, 0.0f);
    EXPECT_LT(static_cast<double>(rec.angle), kPi);
    ASSERT_FALSE(lines.empty());
    const std::string& last = lines.back();
    EXPECT_EQ(last.rfind("Ellipticity has been refined in ", 0), 0u) << last;
    EXPECT_NE(last.find(" steps using downhill simplex. a/b="), std::string::npos) << last;
    EXPECT_EQ(last.substr(last.size() - 5), " \xB0. \n");
  }
}

TEST(RingObjectives, RefineWeakEllipseAndDefaultPattern) {
  // A weak ellipse leaves the angle loosely defined (the simplex stops at
  // 0.1 rad); centre and ratio are still found.
  Refinement weak(900, 800, 1.02, 0.9);
  refine_centre_and_ellipse(weak.pattern.rec);
  EXPECT_NEAR(weak.pattern.rec.center_x, weak.truth.center_x, 1.0);
  EXPECT_NEAR(weak.pattern.rec.center_y, weak.truth.center_y, 1.0);
  EXPECT_NEAR(weak.pattern.rec.axis_ratio, 1.02, 0.01);

  const SyntheticOptions o = synthetic_defaults(1024, 1024);
  Pattern p(1024, 1024, o);
  refine_centre_and_ellipse(p.rec);
  EXPECT_NEAR(p.rec.center_x, o.center_x, 1.0);
  EXPECT_NEAR(p.rec.center_y, o.center_y, 1.0);
  EXPECT_NEAR(p.rec.axis_ratio, o.axis_ratio, 0.01);
  EXPECT_LT(degrees(axis_difference(p.rec.angle, o.angle)), 2.0);
}

TEST(RingObjectives, OtherMethodsStayNearTheTruth) {
  Refinement r(600, 560, 1.0, 0.0);
  image_data& rec = r.pattern.rec;
  Lines out;
  rec.center_x = static_cast<int32_t>(r.truth.center_x) + 3;
  rec.center_y = static_cast<int32_t>(r.truth.center_y) - 2;
  const int32_t n = maxradius(&rec, 1) - 5;
  findring(&rec, 100, n);
  ringoffsets(&rec, n);
  ASSERT_TRUE(optimizecenter(&rec, 1, 0));
  EXPECT_NEAR(rec.center_x, r.truth.center_x, 2.0);
  EXPECT_NEAR(rec.center_y, r.truth.center_y, 2.0);
  EXPECT_NE(out.lines.back().find("using the Powell algorithm. New center is: ("),
            std::string::npos);
  rec.center_x = static_cast<int32_t>(r.truth.center_x) + 3;
  rec.center_y = static_cast<int32_t>(r.truth.center_y) - 2;
  ASSERT_TRUE(optimizecenter(&rec, 0, 1));
  EXPECT_NEAR(rec.center_x, r.truth.center_x, 2.0);
  EXPECT_NEAR(rec.center_y, r.truth.center_y, 2.0);
  ASSERT_TRUE(optimizeellipticity(&rec, 1, 0));
  EXPECT_GE(rec.axis_ratio, 1.0f);
  EXPECT_LE(rec.axis_ratio, 1.2f);
}

namespace {

// The full-ring objective step by step, straight from its definition: each
// ring's entries in table order, its mean times its circumference, then the
// one-sided ramp over d = -W..W with the ring index clamped to the window.
double stepwise_centre_merit(const image_data& rec, float X, float Y) {
  const int32_t nr = rec.nrings;
  std::vector<float> value(static_cast<size_t>(nr));
  for (int32_t k = 0; k < nr; ++k) {
    float sum = 0.0f;
    int32_t count = 0;
    for (int32_t j = 0; j < rec.ring_points[k]; ++j) {
      const int32_t i = k + j * nr;
      const int32_t px = static_cast<int32_t>(static_cast<float>(rec.xoffsets[i]) + X);
      const int32_t py = static_cast<int32_t>(static_cast<float>(rec.yoffsets[i]) + Y);
      if (px > 0 && px < rec.width && py > 0 && py < rec.height) {
        sum += rec.data[px + rec.width * py];
        ++count;
      }
    }
    value[k] = static_cast<float>(
        static_cast<double>(sum / static_cast<float>(count)) * 2.0 * kPi *
        static_cast<double>(static_cast<float>(rec.ring_start) + static_cast<float>(k)));
  }
  const int32_t W = rec.smoothing;
  float best = 0.0f;
  for (int32_t k = 0; k < nr; ++k) {
    float s = value[k];
    if (W >= 1) {
      s = 0.0f;
      for (int32_t d = -W; d <= W; ++d) {
        const int32_t c = static_cast<int32_t>(
            max_float(min_float(static_cast<float>(k + d), static_cast<float>(nr - 1)), 0.0f));
        s += (value[c] * static_cast<float>(W - d)) / static_cast<float>(W);
      }
    }
    if (s > best) best = s;
  }
  return static_cast<double>(-best);
}

}  // namespace

TEST(RingObjectives, EverySmoothingWithinTheWindowIsTheStepwiseSum) {
  SyntheticOptions o = synthetic_defaults(400, 360);
  o.noise = 40.0;
  Pattern p(400, 360, o);
  p.rec.center_x = static_cast<int32_t>(o.center_x);
  p.rec.center_y = static_cast<int32_t>(o.center_y);
  const int32_t n = maxradius(&p.rec, 1) - 5;
  findring(&p.rec, 100, n);
  ringoffsets(&p.rec, n);
  const int32_t nr = p.rec.nrings;
  ASSERT_GE(nr, 10);
  ASSERT_EQ(max_smoothing(p.rec), nr);
  for (int32_t W : {0, 1, 2, 3, 7, nr / 2, nr - 1, nr}) {
    p.rec.smoothing = W;
    maxazimuthalintcenter f(p.rec);
    for (const auto& c : {std::pair<double, double>{o.center_x, o.center_y},
                          {o.center_x - 2.6, o.center_y + 1.3}}) {
      const double got = evaluate(f, c.first, c.second);
      EXPECT_EQ(got, stepwise_centre_merit(p.rec, static_cast<float>(c.first),
                                           static_cast<float>(c.second)))
          << "W " << W;
      EXPECT_LT(got, 0.0) << "W " << W;
    }
  }
}

TEST(RingObjectives, SmoothingWiderThanTheWindowIsRefusedAtOnce) {
  Refinement r(300, 280, 1.0, 0.0);
  image_data& rec = r.pattern.rec;
  rec.center_x = static_cast<int32_t>(r.truth.center_x) + 2;
  rec.center_y = static_cast<int32_t>(r.truth.center_y) - 1;
  const int32_t n = maxradius(&rec, 1) - 5;
  findring(&rec, 100, n);
  ringoffsets(&rec, n);
  const int32_t cx = rec.center_x, cy = rec.center_y;
  // Widths that would take hours step by step answer at once.
  for (int32_t W : {rec.nrings + 1, 100000000, 2147483647}) {
    Lines out;
    rec.smoothing = W;
    EXPECT_FALSE(optimizecenter(&rec, 0, 0));
    EXPECT_EQ(rec.center_x, cx);
    EXPECT_EQ(rec.center_y, cy);
    EXPECT_EQ(out.lines, std::vector<std::string>{"ERROR! The smoothing of " + std::to_string(W) +
                                                  " rings is wider than the ring window of " +
                                                  std::to_string(rec.nrings) + " rings. \n"});
  }
  rec.smoothing = rec.nrings;
  EXPECT_TRUE(optimizecenter(&rec, 0, 0));
}
