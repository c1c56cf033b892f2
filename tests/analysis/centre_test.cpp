#include "centre.h"
#include "azimuthal.h"
#include "numeric.h"
#include "pattern_test_support.h"
#include "ring_objectives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using pattern_tests::Lines;
using pattern_tests::Pattern;

TEST(Centre, GravityOfAKnownBlobAndThreshold) {
  Pattern p(20, 10, 0.0f);
  p.At(4, 2) = 1.0f;
  p.At(6, 2) = 1.0f;
  p.At(5, 8) = 4.0f;
  p.At(19, 9) = 0.5f;  // at the threshold: ignored
  Lines out;
  EXPECT_TRUE(findcenterofg(&p.rec, 0, 20, 0, 10, 0.5f));
  EXPECT_EQ(p.rec.center_x, 5);
  EXPECT_EQ(p.rec.center_y, 6);  // (2 + 2 + 32) / 6 = 6.0
  EXPECT_TRUE(out.lines.empty());
}

TEST(Centre, GravityRefusesBadInputWithItsText) {
  Pattern p(8, 8, 1.0f);
  p.rec.center_x = 3;
  p.rec.center_y = 4;
  Lines out;
  EXPECT_FALSE(findcenterofg(&p.rec, 0, 9, 0, 8, 0.0f));
  EXPECT_FALSE(findcenterofg_beamstop(&p.rec, -1, 8, 0, 8, 0.0f));
  // An empty window passes the corner test but has no centre.
  EXPECT_FALSE(findcenterofg(&p.rec, 4, 4, 0, 8, 0.0f));
  // A blank pattern has none either.
  Pattern blank(8, 8, 0.0f);
  blank.rec.center_x = 3;
  EXPECT_FALSE(findcenterofg(&blank.rec, 0, 8, 0, 8, 0.0f));
  EXPECT_FALSE(prefindcenter_whole(&blank.rec));  // no guess: the caller writes nothing
  image_data empty;
  EXPECT_FALSE(findcenterofg(&empty, 0, 0, 0, 0, 0.0f));
  EXPECT_FALSE(findcenterofg_beamstop(&empty, 0, 0, 0, 0, 0.0f));
  EXPECT_FALSE(prefindcenter_whole(&empty));
  const std::vector<std::string> expected = {
      "ERROR in findcenterofg. One of the corners lies outside of the image! \n",
      "ERROR in findcenterofg_beamstop. One of the corners lies outside of the image! \n",
      "ERROR in findcenterofg. The center of gravity is undefined! \n",
      "ERROR in findcenterofg. The center of gravity is undefined! \n",
      "ERROR in findcenterofg. The center of gravity is undefined! \n",
      "ERROR in findcenterofg. No image_data loaded. \n",
      "ERROR in findcenterofg_beamstop. No image_data loaded. \n",
      "ERROR in prefindcenter_whole. No image_data loaded. \n",
  };
  EXPECT_EQ(out.lines, expected);
  EXPECT_EQ(p.rec.center_x, 3);
  EXPECT_EQ(p.rec.center_y, 4);
  EXPECT_EQ(blank.rec.center_x, 3);
}

namespace {

// Both passes written the plain way, one pixel at a time.
std::pair<int32_t, int32_t> reference_gravity(const image_data& rec, int32_t x0, int32_t x1,
                                              int32_t y0, int32_t y1, float threshold,
                                              bool beamstop) {
  float sx = 0.0f, sy = 0.0f, s = 0.0f;
  for (int32_t x = x0; x < x1; ++x) {
    for (int32_t y = y0; y < y1; ++y) {
      const float v = rec.data[x + rec.width * y];
      if (!(v > threshold)) continue;
      if (beamstop) {
        const int32_t mx =
            static_cast<int32_t>(max_float(0.0f, min_float(static_cast<float>(2 * rec.center_x - x),
                                                           static_cast<float>(rec.width - 1))));
        const int32_t my =
            static_cast<int32_t>(max_float(0.0f, min_float(static_cast<float>(2 * rec.center_y - y),
                                                           static_cast<float>(rec.height - 1))));
        if (rec.data[mx + rec.width * my] == 0.0f) continue;
      }
      sx += static_cast<float>(x) * v;
      sy += static_cast<float>(y) * v;
      s += v;
    }
  }
  return {static_cast<int32_t>(sx / s), static_cast<int32_t>(sy / s)};
}

}  // namespace

// Windows wider than a strip of columns, mirrors inside and beyond the
// edges, a beam stop whose shadow has no mirror image.
TEST(Centre, GravityPassesMatchThePlainPixelOrder) {
  const int32_t w = 517, h = 301;
  SyntheticOptions o = synthetic_defaults(w, h);
  o.center_x = 140;
  o.center_y = 170;
  o.noise = 50.0;
  Pattern pattern(w, h, o);
  image_data& rec = pattern.rec;
  const int32_t windows[][4] = {{0, w, 0, h},
                                {3, 400, 10, 290},
                                {130, 517, 0, 150},
                                {0, 280, 40, 300},
                                // Narrower than one strip of columns.
                                {139, 140, 0, h},
                                {250, 255, 20, 280}};
  const int32_t centres[][2] = {{140, 170}, {400, 20}, {10, 290}, {258, 150}};
  for (const auto& win : windows) {
    for (const auto& c : centres) {
      rec.center_x = c[0];
      rec.center_y = c[1];
      const auto plain = reference_gravity(rec, win[0], win[1], win[2], win[3], 30.0f, false);
      const auto mirrored = reference_gravity(rec, win[0], win[1], win[2], win[3], 30.0f, true);
      ASSERT_TRUE(findcenterofg_beamstop(&rec, win[0], win[1], win[2], win[3], 30.0f));
      EXPECT_EQ(rec.center_x, mirrored.first);
      EXPECT_EQ(rec.center_y, mirrored.second);
      ASSERT_TRUE(findcenterofg(&rec, win[0], win[1], win[2], win[3], 30.0f));
      EXPECT_EQ(rec.center_x, plain.first);
      EXPECT_EQ(rec.center_y, plain.second);
    }
  }
}

TEST(Centre, GuessOnASyntheticPattern) {
  const int32_t w = 900, h = 800;
  const SyntheticOptions o = synthetic_defaults(w, h);
  Pattern pattern(w, h, o);
  image_data& rec = pattern.rec;
  Lines out;
  ASSERT_TRUE(prefindcenter_whole(&rec));
  EXPECT_NEAR(rec.center_x, o.center_x, 10.0);
  EXPECT_NEAR(rec.center_y, o.center_y, 10.0);
  ASSERT_EQ(out.lines.size(), 2u);
  EXPECT_EQ(out.lines[0], "Guessing the center point using the center of gravity:");
  EXPECT_EQ(out.lines[1],
            "(" + std::to_string(rec.center_x) + ", " + std::to_string(rec.center_y) + ") \n");
}

TEST(Centre, GuessUsesTheWholeWindowForAnOddWidthCentredPattern) {
  // A symmetric pattern 1025 wide whose centre of gravity is column 512:
  // the beam-stop window would start at column -1; it is clamped to 0 and
  // the pass runs instead of being refused.
  Pattern p(1025, 5, 1.0f);
  Lines out;
  ASSERT_TRUE(prefindcenter_whole(&p.rec));
  EXPECT_EQ(p.rec.center_x, 512);
  EXPECT_EQ(p.rec.center_y, 2);
  ASSERT_EQ(out.lines.size(), 2u);
  EXPECT_EQ(out.lines[1], "(512, 2) \n");
}

TEST(Centre, EllipseRadiusModel) {
  // Mean semi-axis 15, a/b = 1.5 (a = 18, b = 12), major axis at 0; one
  // sector of 4 has its middle at 2 pi (k + 0.5) / 4.
  float p[3] = {15.0f, 1.5f, static_cast<float>(kPi / 4)};
  float adata[3] = {0.0f, 1.0f, 4.0f};  // sectors 0 and 1 of 4
  float hx[2];
  ellipseradius(p, hx, 3, 2, adata);
  EXPECT_NEAR(hx[0], 18.0f, 1e-4f);  // sector 0's middle is pi/4: the major axis
  EXPECT_NEAR(hx[1], 12.0f, 1e-4f);  // sector 1's middle, 3 pi/4: the minor axis
}

TEST(Centre, NormaliseEllipse) {
  float q = 0.9f, a = 0.2f;
  ASSERT_TRUE(normalise_ellipse(q, a));
  EXPECT_EQ(q, 1.0f / 0.9f);
  EXPECT_EQ(a, 1.7707963f);
  q = 1.1f;
  a = -0.5f;
  ASSERT_TRUE(normalise_ellipse(q, a));
  EXPECT_EQ(a, static_cast<float>(-0.5 + kPi));
  a = 1e30f;  // huge but finite: reduced in closed form, no endless loop
  ASSERT_TRUE(normalise_ellipse(q, a));
  EXPECT_GE(a, 0.0f);
  EXPECT_LT(static_cast<double>(a), kPi);
  a = -3e9f;
  ASSERT_TRUE(normalise_ellipse(q, a));
  EXPECT_GE(a, 0.0f);
  EXPECT_LT(static_cast<double>(a), kPi);
  for (auto bad :
       {std::make_pair(std::nanf(""), 0.1f), std::make_pair(1.1f, INFINITY),
        std::make_pair(0.0f, 0.1f), std::make_pair(-1.1f, 0.1f), std::make_pair(1e-45f, 0.1f)}) {
    float bq = bad.first, ba = bad.second;
    EXPECT_FALSE(normalise_ellipse(bq, ba)) << bad.first << " " << bad.second;
    EXPECT_TRUE(std::isnan(bad.first) ? std::isnan(bq) : bq == bad.first);
  }
}

TEST(Centre, PrefitRefusesABadWindowAndChangesNothing) {
  Pattern p(16, 16, 1.0f);
  p.rec.axis_ratio = 1.1f;
  p.rec.angle = 0.3f;
  azimuthalint_whole(&p.rec, 4, 1);
  Lines out;
  EXPECT_FALSE(azimuthalint_guess_elliptic(&p.rec, 0, 10, 20));
  EXPECT_FALSE(azimuthalint_guess_elliptic(&p.rec, 5, 5, 20));
  EXPECT_FALSE(azimuthalint_guess_elliptic(&p.rec, 5, 10, 0));
  ASSERT_EQ(out.lines.size(), 3u);
  for (const auto& line : out.lines)
    EXPECT_EQ(line, "ERROR in azimuthalint_guess_elliptic. 0<start<end has to be fullfilled! \n");
  EXPECT_EQ(p.rec.axis_ratio, 1.1f);
  EXPECT_EQ(p.rec.angle, 0.3f);
  EXPECT_EQ(p.rec.profile_length, 4);
}

TEST(Centre, PrefitWithTooFewSectorsReportsTheFailure) {
  // Only two small patches carry a ring: the other sectors are weak and
  // dropped, and two measurements cannot fix three parameters.
  Pattern p(101, 101, 0.0f);
  p.rec.center_x = 50;
  p.rec.center_y = 50;
  p.rec.ring_start = 20;
  p.rec.ring_end = 40;
  p.At(80, 50) = 100.0f;  // radius 30, angle 0
  p.At(50, 20) = 100.0f;  // radius 30, angle pi/2
  Lines out;
  EXPECT_TRUE(azimuthalint_guess_elliptic(&p.rec, 20, 40, 20));
  ASSERT_EQ(out.lines.size(), 1u);
  EXPECT_EQ(out.lines[0], "Error whileprefitting ellipticity. \n");
  // The start values stand, as after any fit that stops without a result.
  EXPECT_EQ(p.rec.axis_ratio, 1.05f);
  EXPECT_EQ(p.rec.profile, nullptr);
  EXPECT_EQ(p.rec.profile_length, 0);
}

TEST(Centre, PrefitFindsTheEllipse) {
  const int32_t w = 900, h = 800;
  SyntheticOptions o = synthetic_defaults(w, h);
  o.axis_ratio = 1.06;
  o.angle = 2.2;
  Pattern pattern(w, h, o);
  image_data& rec = pattern.rec;
  rec.center_x = static_cast<int32_t>(o.center_x);
  rec.center_y = static_cast<int32_t>(o.center_y);
  const int32_t n = maxradius(&rec, 1) - 5;
  findring(&rec, 100, n);
  ringoffsets(&rec, n);
  Lines out;
  ASSERT_TRUE(azimuthalint_guess_elliptic(&rec, rec.ring_start, rec.ring_end, 20));
  ASSERT_EQ(out.lines.size(), 1u);
  const std::string& line = out.lines[0];
  EXPECT_EQ(line.rfind("Ellipticity has been prefitted in ", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - 5), " \xB0. \n");
  EXPECT_NEAR(rec.axis_ratio, o.axis_ratio, 0.02);
  EXPECT_NEAR(rec.angle, o.angle, 0.1);
  EXPECT_EQ(rec.profile, nullptr);
}
