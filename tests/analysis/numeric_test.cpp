#include "numeric.h"
#include "messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

TEST(Numeric, MinMaxReturnSecondOnTie) {
  EXPECT_EQ(min_float(1.0f, 2.0f), 1.0f);
  EXPECT_EQ(max_float(1.0f, 2.0f), 2.0f);
  // -0.0 == 0.0: the tie goes to the second argument.
  EXPECT_TRUE(std::signbit(min_float(0.0f, -0.0f)));
  EXPECT_TRUE(std::signbit(max_float(0.0f, -0.0f)));
}

TEST(Numeric, RoundToIntHalfUpAndDefinedEverywhere) {
  EXPECT_EQ(round_to_int(2.5f), 3);
  EXPECT_EQ(round_to_int(-2.5f), -2);
  EXPECT_EQ(round_to_int(-0.4f), 0);
  EXPECT_EQ(round_to_int(std::nanf("")), INT32_MIN);
  EXPECT_EQ(round_to_int(1e20f), INT32_MAX);
  EXPECT_EQ(round_to_int(-1e20f), INT32_MIN);
}

TEST(Numeric, PowiFloat) {
  EXPECT_EQ(powi_float(2.0f, -2), 0.25f);
  EXPECT_EQ(powi_float(3.0f, 0), 1.0f);
  EXPECT_EQ(powi_float(3.0f, 5), 243.0f);
  EXPECT_EQ(powi_float(1.0f, INT32_MIN), 1.0f);
  EXPECT_EQ(powi_float(2.0f, INT32_MIN), 0.0f);
}

TEST(Numeric, CheckedConversions) {
  int32_t out = 7;
  EXPECT_FALSE(float_to_int(std::nan(""), out));
  EXPECT_FALSE(float_to_int(HUGE_VAL, out));
  EXPECT_FALSE(float_to_int(3e9, out));
  EXPECT_EQ(out, 7);
  EXPECT_TRUE(float_to_int(-3.9, out));
  EXPECT_EQ(out, -3);
  EXPECT_EQ(trunc_to_int(std::nan("")), 0);
  EXPECT_EQ(trunc_to_int(-1e300), INT32_MIN);
  EXPECT_EQ(trunc_to_int(12.99), 12);
}

TEST(Messages, FormattedTextArrivesWholeWhateverItsLength) {
  std::vector<std::string> lines;
  ScopedMessageSink sink([&](const std::string& s) { lines.push_back(s); });
  reportf("short %d \n", 5);
  std::string longer(150, 'x');
  reportf("%s \n", longer.c_str());
  report("");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "short 5 \n");
  EXPECT_EQ(lines[1], longer + " \n");
  EXPECT_EQ(lines[2], "");
}
