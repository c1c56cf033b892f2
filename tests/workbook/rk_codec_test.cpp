#include "rk_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace YCompoundFiles {
namespace YExcel {
namespace {

TEST(RKCodecTest, EncodesDoublesWithScaleFlagWhenTheyHaveHundredths) {
  EXPECT_EQ(RKCodec::FromDouble(1.5), 0x4062C001u);
  EXPECT_EQ(RKCodec::FromDouble(-1.25), 0xC05F4001u);
  EXPECT_EQ(RKCodec::FromDouble(100.0), 0x40590000u);
  EXPECT_EQ(RKCodec::FromDouble(0.0), 0u);
  for (double x : {1.5, -1.25, 100.0, 0.0})
    EXPECT_EQ(RKCodec::ToDouble(RKCodec::FromDouble(x)), x) << x;
  // 0.07 * 100.0 is 7.000000000000001, whose upper bits are those of 7.0.
  EXPECT_EQ(RKCodec::FromDouble(0.07), 0x401C0001u);
  EXPECT_EQ(RKCodec::ToDouble(0x401C0001u), 7.0 * 0.01);
  EXPECT_FALSE(RKCodec::HasIntegerForm(0x4062C001u));
  EXPECT_TRUE(RKCodec::HasDoubleForm(0x4062C001u));
}

TEST(RKCodecTest, IntegerFormKeepsThirtyBits) {
  EXPECT_EQ(RKCodec::FromInteger(5), 0x16u);
  EXPECT_TRUE(RKCodec::HasIntegerForm(0x16u));
  EXPECT_EQ(RKCodec::ToInteger(0x16u), 5);
  EXPECT_EQ(RKCodec::ToInteger(RKCodec::FromInteger(-536870912)), -536870912);
  EXPECT_EQ(RKCodec::ToInteger(RKCodec::FromInteger(536870911)), 536870911);
  EXPECT_EQ(RKCodec::FromInteger(536870912), 0x80000002u);
  EXPECT_EQ(RKCodec::ToInteger(0x80000002u), -536870912);
  EXPECT_TRUE(RKCodec::IntegerFits(-536870912));
  EXPECT_FALSE(RKCodec::IntegerFits(536870912));
  // Scaled integers lose their hundredths toward zero.
  EXPECT_EQ(RKCodec::ToInteger(0x25Bu), 1);
  EXPECT_EQ(RKCodec::ToInteger(0xFFFFFDABu), -1);
  EXPECT_EQ(RKCodec::ToInteger((57u << 2) | 3u), 0);
}

TEST(RKCodecTest, TwoDecimalTestFollowsDoubleArithmetic) {
  for (double x : {1.5, 0.07, 0.3, 21474.83, 5368709.12, -0.0})
    EXPECT_TRUE(RKCodec::FitsTwoDecimals(x)) << x;
  for (double x : {3.14159, 0.57, 214748.36, 1e9, 5368709.13, 214748.3648,
                   std::numeric_limits<double>::quiet_NaN()})
    EXPECT_FALSE(RKCodec::FitsTwoDecimals(x)) << x;
}

TEST(RKCodecTest, RoundTripTestCatchesValuesTheRKFormWouldChange) {
  for (double x : {1.5, 0.5, 2.25, 0.07, -1.25, 100.0, 0.0, -0.0})
    EXPECT_TRUE(RKCodec::DoubleRoundTrips(x)) << x;
  // Both pass the two-decimal test but come back changed.
  EXPECT_TRUE(RKCodec::FitsTwoDecimals(10000.25));
  EXPECT_FALSE(RKCodec::DoubleRoundTrips(10000.25));
  EXPECT_FALSE(RKCodec::DoubleRoundTrips(21474.83));
  // 3 * 1.1 comes back through * 0.01 but not through / 100.
  EXPECT_EQ(RKCodec::ToDouble(RKCodec::FromDouble(3 * 1.1)), 3 * 1.1);
  EXPECT_FALSE(RKCodec::DoubleRoundTrips(3 * 1.1));
}

TEST(RKCodecTest, Trunc32SaturatesToTheSameSentinel) {
  EXPECT_EQ(RKCodec::Trunc32(2.7), 2);
  EXPECT_EQ(RKCodec::Trunc32(-2.7), -2);
  EXPECT_EQ(RKCodec::Trunc32(3e10), INT32_MIN);
  EXPECT_EQ(RKCodec::Trunc32(-3e10), INT32_MIN);
  EXPECT_EQ(RKCodec::Trunc32(std::nan("")), INT32_MIN);
  EXPECT_EQ(RKCodec::Trunc32(2147483647.9), 2147483647);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
