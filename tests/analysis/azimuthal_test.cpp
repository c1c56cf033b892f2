#include "azimuthal.h"
#include "numeric.h"
#include "pattern_test_support.h"
#include "same_bits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

using pattern_tests::Lines;
using pattern_tests::Pattern;

namespace {

// The kernels written the plain way: columns outer, rows inner, one pixel
// at a time.  The fast kernels must agree with it bit for bit.
enum class Shape { kCircle, kEllipse };
std::vector<float> reference_profile(const image_data& rec, Shape shape, int32_t nbins, bool sector,
                                     float a0, float a1, int32_t average, int32_t start = 0) {
  std::vector<float> sum(nbins, 0.0f);
  std::vector<int32_t> count(nbins, 0);
  for (int32_t x = 0; x < rec.width; ++x) {
    for (int32_t y = 0; y < rec.height; ++y) {
      const float dx = static_cast<float>(x - rec.center_x);
      const float dy = static_cast<float>(y - rec.center_y);
      float r;
      if (shape == Shape::kCircle) {
        r = std::sqrt(dx * dx + dy * dy);
      } else {
        const float q = rec.axis_ratio;
        const float t = -rec.angle;
        const float c = std::cos(t);
        const float s = std::sin(t);
        const float u = (c / q) * dx + (s / q) * dy;
        const float v = (-s) * dx + c * dy;
        r = std::sqrt(u * u + v * v);
      }
      if (sector) {
        const float phi = sector_angle(dx, dy);
        const bool in =
            a1 > a0 ? (a0 < phi && phi < a1) : (a0 > a1 ? (phi > a0 || phi < a1) : false);
        if (!in) continue;
      }
      const float value = rec.data[x + rec.width * y];
      if (value == 0.0f || !(r < static_cast<float>(nbins))) continue;
      const int32_t k = static_cast<int32_t>(r);
      sum[k] += value;
      ++count[k];
    }
  }
  for (int32_t k = std::max(start, 0); k < nbins; ++k) {
    sum[k] = sum[k] / max_float(static_cast<float>(count[k]), 1.0f);
    if (average != 1) sum[k] = sum[k] * static_cast<float>(k);
  }
  return sum;
}

void expect_same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  EXPECT_TRUE(SameBits(a, b));
}

}  // namespace

TEST(Azimuthal, ConstantPatternAverageAndIntegral) {
  Pattern p(41, 37, 2.5f);
  p.rec.center_x = 20;
  p.rec.center_y = 18;
  azimuthalint_whole(&p.rec, 15, 1);
  ASSERT_EQ(p.rec.profile_length, 15);
  for (float v : p.Profile()) EXPECT_EQ(v, 2.5f);
  azimuthalint_whole(&p.rec, 15, 0);
  for (int32_t k = 0; k < 15; ++k) EXPECT_EQ(p.rec.profile[k], 2.5f * k);
  EXPECT_EQ(p.rec.peak_radius, 14);
  EXPECT_EQ(p.rec.peak_value, 35);
}

TEST(Azimuthal, MaskedAndEmptyBinsAreZero) {
  Pattern p(21, 21, 3.0f);
  p.rec.center_x = 10;
  p.rec.center_y = 10;
  // Mask the whole ring of radius 4: its bin has no pixel and reads 0.0.
  for (int32_t x = 0; x < 21; ++x)
    for (int32_t y = 0; y < 21; ++y)
      if (static_cast<int32_t>(
              std::sqrt(static_cast<float>((x - 10) * (x - 10) + (y - 10) * (y - 10)))) == 4)
        p.At(x, y) = 0.0f;
  p.At(10, 13) = -0.0f;  // negative zero is masked too (bin 3 keeps mean 3)
  azimuthalint_whole(&p.rec, 30, 1);
  EXPECT_EQ(p.rec.profile[3], 3.0f);
  EXPECT_EQ(p.rec.profile[4], 0.0f);
  EXPECT_EQ(p.rec.profile[29], 0.0f);  // beyond the corners

  // All masked: zeros everywhere and no peak.
  std::fill(p.pixels.begin(), p.pixels.end(), 0.0f);
  p.rec.peak_radius = 7;
  azimuthalintell(&p.rec, 12, 0);
  for (float v : p.Profile()) EXPECT_EQ(v, 0.0f);
  EXPECT_EQ(p.rec.peak_radius, 0);
  EXPECT_EQ(p.rec.peak_value, 0);
}

TEST(Azimuthal, StartLeavesRawSumsBelowAndPeaksAbove) {
  Pattern p(9, 1, 1.0f);
  p.rec.center_x = 0;
  p.rec.center_y = 0;
  p.At(1, 0) = 50.0f;  // bin 1: the largest value, but below start
  azimuthalint(&p.rec, 3, 9, 1);
  EXPECT_EQ(p.rec.profile[1], 50.0f);  // raw sum, not multiplied
  EXPECT_EQ(p.rec.profile[3], 1.0f);
  EXPECT_EQ(p.rec.peak_radius, 3);
  // A negative start normalises from bin 0 and writes nothing outside.
  azimuthalint(&p.rec, -5, 9, 0);
  EXPECT_EQ(p.rec.profile[1], 50.0f);
  EXPECT_EQ(p.rec.profile[2], 2.0f);
  EXPECT_EQ(p.rec.peak_radius, 1);
}

TEST(Azimuthal, SectorEdgesAndWrap) {
  // A plus-shaped set of pixels around the centre, distance 3 in each
  // direction: right (angle 0), up (pi/2), left (pi), down (3 pi/2).
  Pattern p(7, 7, 0.0f);
  p.rec.center_x = 3;
  p.rec.center_y = 3;
  p.At(6, 3) = 1.0f;  // right
  p.At(3, 0) = 2.0f;  // up
  p.At(0, 3) = 4.0f;  // left
  p.At(3, 6) = 8.0f;  // down
  auto bin3 = [&](float a0, float a1) {
    azimuthalint_sektor(&p.rec, 5, a0, a1, 1);
    return p.rec.profile[3];
  };
  EXPECT_EQ(bin3(1.0f, 2.0f), 2.0f);                         // up only
  EXPECT_EQ(bin3(4.0f, 5.0f), 8.0f);                         // down only
  EXPECT_EQ(bin3(3.0f, 3.3f), 4.0f);                         // left (angle pi)
  EXPECT_EQ(bin3(6.0f, 0.5f), 1.0f);                         // wrap through 0: right only
  EXPECT_EQ(bin3(0.0f, 1.0f), 0.0f);                         // angle 0 is not above a0 = 0
  EXPECT_EQ(bin3(-0.5f, 1.0f), 1.0f);                        // ... but above -0.5
  EXPECT_EQ(bin3(2.0f, 2.0f), 0.0f);                         // a0 == a1: nothing
  EXPECT_EQ(bin3(static_cast<float>(kHalfPi), 2.0f), 0.0f);  // edges are strict
  EXPECT_EQ(bin3(1.0f, 6.3f), (2.0f + 4.0f + 8.0f) / 3.0f);
}

TEST(Azimuthal, SectorAngleOfTheCentreColumn) {
  EXPECT_EQ(sector_angle(0.0f, -5.0f), static_cast<float>(kHalfPi));       // straight up
  EXPECT_EQ(sector_angle(0.0f, 5.0f), static_cast<float>(kPi + kHalfPi));  // straight down
  EXPECT_EQ(sector_angle(0.0f, 0.0f), 0.0f);                               // the centre
  EXPECT_EQ(sector_angle(1.0f, 0.0f), 0.0f);
  EXPECT_EQ(sector_angle(-1.0f, 0.0f), static_cast<float>(kPi));
  EXPECT_EQ(sector_angle(1.0f, 1.0f), static_cast<float>(std::atan(-1.0f) + kTwoPi));
}

TEST(Azimuthal, KnownEllipticBin) {
  // Axis ratio 2 along +x: the pixel 8 columns right of the centre has
  // elliptic radius 4, the pixel 4 rows above has 4 as well, and the pixel
  // 4 columns right has 2.
  Pattern p(21, 21, 0.0f);
  p.rec.center_x = 10;
  p.rec.center_y = 10;
  p.rec.axis_ratio = 2.0f;
  p.rec.angle = 0.0f;
  p.At(18, 10) = 3.0f;
  p.At(10, 6) = 5.0f;
  p.At(14, 10) = 7.0f;
  azimuthalintell(&p.rec, 10, 1);
  EXPECT_EQ(p.rec.profile[4], 4.0f);
  EXPECT_EQ(p.rec.profile[2], 7.0f);
  // Turned by pi/2 the major axis is vertical: (10, 2) lies on bin 4.
  p.At(18, 10) = p.At(10, 6) = p.At(14, 10) = 0.0f;
  p.rec.angle = static_cast<float>(kHalfPi);
  p.At(10, 2) = 9.0f;
  azimuthalintell(&p.rec, 10, 1);
  EXPECT_EQ(p.rec.profile[4], 9.0f);
}

TEST(Azimuthal, NegativeBinCountIsALengthErrorAndKeepsProfile) {
  Pattern p(4, 4, 1.0f);
  azimuthalint_whole(&p.rec, 3, 1);
  float* before = p.rec.profile;
  EXPECT_THROW(azimuthalint_whole(&p.rec, -1, 1), std::length_error);
  EXPECT_THROW(azimuthalintell_sektor(&p.rec, -1, 0.0f, 1.0f, 1), std::length_error);
  EXPECT_EQ(p.rec.profile, before);
  EXPECT_EQ(p.rec.profile_length, 3);
}

TEST(Azimuthal, DegenerateRatioAndFarCentreAreSafe) {
  // Axis ratio 0 or NaN gives no radius: such pixels lie in no bin.
  Pattern p(11, 11, 1.0f);
  p.rec.center_x = 5;
  p.rec.center_y = 5;
  for (float q : {0.0f, std::nanf("")}) {
    p.rec.axis_ratio = q;
    azimuthalintell(&p.rec, 8, 1);
    for (float v : p.Profile()) EXPECT_EQ(v, 0.0f);
    azimuthalintell_sektor(&p.rec, 8, 0.5f, 2.0f, 0);
    for (float v : p.Profile()) EXPECT_EQ(v, 0.0f);
  }
  // Distances from a centre at the int32 limits do not overflow.
  p.rec.axis_ratio = 1.0f;
  p.rec.center_x = INT32_MIN;
  p.rec.center_y = INT32_MAX;
  azimuthalint_whole(&p.rec, 4, 1);
  for (float v : p.Profile()) EXPECT_EQ(v, 0.0f);
}

// Every kernel, on a synthetic pattern with a masked beam stop, an
// off-middle centre and an odd size (partial strips).
TEST(Azimuthal, KernelsMatchThePlainPixelOrderBitForBit) {
  const int32_t w = 203, h = 157;
  SyntheticOptions o = synthetic_defaults(w, h);
  o.noise = 40.0;
  Pattern pattern(w, h, o);
  image_data& rec = pattern.rec;
  rec.center_x = static_cast<int32_t>(o.center_x);
  rec.center_y = static_cast<int32_t>(o.center_y);
  rec.axis_ratio = 1.07f;
  rec.angle = 0.8f;
  const int32_t nbins = maxradius(&rec, 0);
  auto got = [&] { return std::vector<float>(rec.profile, rec.profile + rec.profile_length); };
  for (int32_t average : {0, 1}) {
    azimuthalint_whole(&rec, nbins, average);
    expect_same_bits(got(), reference_profile(rec, Shape::kCircle, nbins, false, 0, 0, average));
    azimuthalint(&rec, 17, nbins, average);
    expect_same_bits(got(),
                     reference_profile(rec, Shape::kCircle, nbins, false, 0, 0, average, 17));
    azimuthalintell(&rec, nbins, average);
    expect_same_bits(got(), reference_profile(rec, Shape::kEllipse, nbins, false, 0, 0, average));
    azimuthalint_sektor(&rec, nbins, 5.5f, 0.7f, average);
    expect_same_bits(got(),
                     reference_profile(rec, Shape::kCircle, nbins, true, 5.5f, 0.7f, average));
    azimuthalintell_sektor(&rec, nbins, 0.3f, 2.9f, average);
    expect_same_bits(got(),
                     reference_profile(rec, Shape::kEllipse, nbins, true, 0.3f, 2.9f, average));
  }
}

TEST(Azimuthal, NarrowPatternsMatchThePlainPixelOrder) {
  for (const int32_t w : {1, 3, 129}) {
    const int32_t h = 301;
    SyntheticOptions o = synthetic_defaults(w, h);
    o.noise = 40.0;
    Pattern pattern(w, h, o);
    image_data& rec = pattern.rec;
    rec.center_x = w / 2;
    rec.center_y = 140;
    rec.axis_ratio = 1.1f;
    rec.angle = 0.4f;
    const int32_t nbins = maxradius(&rec, 0);
    azimuthalint_whole(&rec, nbins, 0);
    expect_same_bits(pattern.Profile(),
                     reference_profile(rec, Shape::kCircle, nbins, false, 0, 0, 0));
    azimuthalintell_sektor(&rec, nbins, 4.0f, 1.0f, 1);
    expect_same_bits(pattern.Profile(),
                     reference_profile(rec, Shape::kEllipse, nbins, true, 4.0f, 1.0f, 1));
  }
}

TEST(Azimuthal, MaxRadiusModes) {
  image_data rec;
  rec.width = 1024;
  rec.height = 1024;
  rec.center_x = 512;
  rec.center_y = 512;
  EXPECT_EQ(maxradius(&rec, 0), 715);  // trunc(724.077 + 1) - 10
  EXPECT_EQ(maxradius(&rec, 1), 511);
  rec.center_x = 338;  // just inside the middle third: nearest edge 338
  EXPECT_EQ(maxradius(&rec, 1), 337);
  rec.width = 1000;
  rec.center_x = 330;  // exactly 0.33 of the width: not centred
  EXPECT_EQ(maxradius(&rec, 1), 511);
  EXPECT_EQ(maxradius(&rec, 2), 511);
  rec.center_x = INT32_MAX;  // far off: no overflow
  EXPECT_GT(maxradius(&rec, 0), 1000000);
}

TEST(Azimuthal, FindRingWindow) {
  const int32_t w = 600, h = 600;
  SyntheticOptions o;
  o.center_x = 300;
  o.center_y = 300;
  o.radii = {160.5};
  o.heights = {1000.0};
  o.noise = 0.0;
  o.beam_stop_radius = 0.0;
  o.beam_stop_arm = 0.0;
  Pattern pattern(w, h, o);
  image_data& rec = pattern.rec;
  rec.center_x = 300;
  rec.center_y = 300;
  findring(&rec, 100, 290);
  EXPECT_EQ(rec.peak_radius, 160);
  EXPECT_LE(rec.ring_start, 155);
  EXPECT_GE(rec.ring_start, 110);
  EXPECT_GE(rec.ring_end, 165);
  EXPECT_LE(rec.ring_end, 210);

  // No bins: nothing is read, the window is built around bin 0.
  findring(&rec, 100, 0);
  EXPECT_EQ(rec.profile_length, 0);
  EXPECT_EQ(rec.ring_start, -5);
  EXPECT_EQ(rec.ring_end, 5);
}

TEST(Azimuthal, PolarProjectionSizes) {
  Pattern p(64, 64, 1.0f);
  p.rec.center_x = 32;
  p.rec.center_y = 32;
  polarprojection(&p.rec, 1, 101, 1);
  EXPECT_EQ(p.rec.projection_rows, 100);
  EXPECT_EQ(p.rec.projection_cols, 162);
  polarprojection(&p.rec, 1, 100, 0);
  EXPECT_EQ(p.rec.projection_cols, 628);
  polarprojection(&p.rec, 5, 5, 7);
  EXPECT_EQ(p.rec.projection_rows, 0);

  // Negative sizes, and two negative factors, are refused; the old
  // projection stays.
  polarprojection(&p.rec, 1, 11, 8);
  float* before = p.rec.projection;
  EXPECT_THROW(polarprojection(&p.rec, 10, 1, 8), std::length_error);
  EXPECT_THROW(polarprojection(&p.rec, 1, 11, -8), std::length_error);
  EXPECT_THROW(polarprojection(&p.rec, 10, 1, -8), std::length_error);
  EXPECT_THROW(polarprojection(&p.rec, 0, 2000000000, 0), std::length_error);
  EXPECT_THROW(polarprojection(&p.rec, -2000000000, 2000000000, 2), std::length_error);
  EXPECT_THROW(polarprojection(&p.rec, -2000000000, 2000000000, 0), std::length_error);
  // A size no memory holds is refused before it is asked for.
  EXPECT_THROW(polarprojection(&p.rec, 1, 501, 1000000000), std::length_error);
  EXPECT_EQ(p.rec.projection, before);
  EXPECT_EQ(p.rec.projection_rows, 10);
  EXPECT_EQ(p.rec.projection_cols, 8);
}

TEST(Azimuthal, PolarProjectionSamplesNearestPixelAndNeverTheLastRowOrColumn) {
  Pattern p(10, 10, 0.0f);
  for (int32_t x = 0; x < 10; ++x)
    for (int32_t y = 0; y < 10; ++y) p.At(x, y) = static_cast<float>(1 + x + 10 * y);
  p.rec.center_x = 5;
  p.rec.center_y = 5;
  polarprojection(&p.rec, 1, 5, 4);  // radii 1..4, angles 0, pi/2, pi, 3pi/2 (clockwise)
  auto at = [&](int32_t i, int32_t j) { return p.rec.projection[j + p.rec.projection_cols * i]; };
  EXPECT_EQ(at(0, 0), p.At(6, 5));  // radius 1 toward +x
  EXPECT_EQ(at(0, 1), p.At(5, 6));  // toward increasing row
  EXPECT_EQ(at(2, 0), p.At(8, 5));  // radius 3: column 8 is still sampled
  EXPECT_EQ(at(3, 0), 0.0f);        // radius 4: column 9, the last, is not
  EXPECT_EQ(at(3, 1), 0.0f);        // row 9, the last, is not either
}

// The sector kernels settle most pixels without the arctangent; bounds on or
// next to actual pixel angles, and at 0, pi/2, pi, 3 pi/2 and 2 pi, must
// still give exactly the plain per-pixel result.
TEST(Azimuthal, SectorKernelsMatchThePlainPixelOrderForManyBounds) {
  const int32_t w = 131, h = 117;
  SyntheticOptions o = synthetic_defaults(w, h);
  o.center_x = 50;
  o.center_y = 70;
  Pattern pattern(w, h, o);
  image_data& rec = pattern.rec;
  rec.center_x = 50;
  rec.center_y = 70;
  rec.axis_ratio = 1.1f;
  rec.angle = 2.0f;
  const float on_pixel = sector_angle(7.0f, -3.0f);
  const float on_pixel_left = sector_angle(-40.0f, 9.0f);
  const float bounds[] = {0.0f,
                          1e-7f,
                          -0.25f,
                          on_pixel,
                          std::nextafter(on_pixel, 10.0f),
                          on_pixel_left,
                          std::nextafter(on_pixel_left, 0.0f),
                          static_cast<float>(kHalfPi),
                          static_cast<float>(kPi),
                          static_cast<float>(kPi + kHalfPi),
                          6.2831850f,
                          static_cast<float>(kTwoPi),
                          7.5f};
  const int32_t nbins = 90;
  for (float a0 : bounds) {
    for (float a1 : bounds) {
      azimuthalint_sektor(&rec, nbins, a0, a1, 0);
      expect_same_bits(std::vector<float>(rec.profile, rec.profile + nbins),
                       reference_profile(rec, Shape::kCircle, nbins, true, a0, a1, 0));
      azimuthalintell_sektor(&rec, nbins, a0, a1, 0);
      expect_same_bits(std::vector<float>(rec.profile, rec.profile + nbins),
                       reference_profile(rec, Shape::kEllipse, nbins, true, a0, a1, 0));
    }
  }
}

TEST(Azimuthal, SetCenterRefusesUnusableCentres) {
  image_data rec;
  rec.width = 100;
  rec.height = 50;
  EXPECT_TRUE(set_center(rec, 10.9f, -3.7f));
  EXPECT_EQ(rec.center_x, 10);
  EXPECT_EQ(rec.center_y, -3);
  EXPECT_TRUE(set_center(rec, -100.0f, 150.0f));  // as far out as the image is large
  EXPECT_FALSE(set_center(rec, -101.0f, 20.0f));
  EXPECT_FALSE(set_center(rec, 20.0f, 151.0f));
  EXPECT_FALSE(set_center(rec, std::nanf(""), 20.0f));
  EXPECT_FALSE(set_center(rec, 20.0f, INFINITY));
  EXPECT_FALSE(set_center(rec, 3e9f, 20.0f));
  EXPECT_EQ(rec.center_x, -100);
  EXPECT_EQ(rec.center_y, 150);
}
