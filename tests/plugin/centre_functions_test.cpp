#include "plugin_fixture.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

using standin::float_arg;
using standin::float_ptr_arg;
using standin::image_arg;

namespace {

constexpr int32_t kSize = 800;

class Centre : public PluginTest {
 protected:
  DM_ImageToken Pattern(const SyntheticOptions& o, uint32_t type = DM_TYPE_UINT16) {
    std::vector<float> p = synthetic_pattern(kSize, kSize, o);
    return Image(type, kSize, kSize, std::vector<double>(p.begin(), p.end()), "pattern");
  }
};

}  // namespace

TEST_F(Centre, GuessAndRefineFindTheTrueCentre) {
  SyntheticOptions o = synthetic_defaults(kSize, kSize);
  o.axis_ratio = 1.0;
  DM_ImageToken im = Pattern(o);

  float x = -1, y = -1, r = -1;
  host_.Call("GuessCenter",
             {image_arg(im), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&r)});
  EXPECT_TRUE(host_.ScriptErrors().empty());
  EXPECT_NEAR(x, o.center_x, 4.0);
  EXPECT_NEAR(y, o.center_y, 4.0);

  x += 3;
  y -= 2;
  host_.Call("RefineCenter",
             {image_arg(im), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&r)});
  EXPECT_TRUE(host_.ScriptErrors().empty());
  EXPECT_NEAR(x, o.center_x, 1.0);
  EXPECT_NEAR(y, o.center_y, 1.0);
  // The strongest ring of the integral profile (mean times radius).
  double nearest = 1e9;
  for (double ring : o.radii) nearest = std::min(nearest, std::fabs(r - ring));
  EXPECT_LE(nearest, 2.0) << r;
  EXPECT_EQ(host_.DataType(im), static_cast<uint32_t>(DM_TYPE_UINT16));
}

TEST_F(Centre, RefineCenterEllipticityRecoversTheEllipse) {
  SyntheticOptions o = synthetic_defaults(kSize, kSize);
  o.axis_ratio = 1.05;
  o.angle = 40.0 * 3.14159265358979 / 180.0;
  DM_ImageToken im = Pattern(o, DM_TYPE_REAL4);

  float x = static_cast<float>(o.center_x) + 2, y = static_cast<float>(o.center_y) - 1;
  float angle = 0.0f, ratio = 1.0f, r = -1;
  host_.Call("RefineCenterEllipticity",
             {image_arg(im), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&angle),
              float_ptr_arg(&ratio), float_ptr_arg(&r), float_arg(0.0f)});
  EXPECT_TRUE(host_.ScriptErrors().empty());
  EXPECT_NEAR(x, o.center_x, 1.0);
  EXPECT_NEAR(y, o.center_y, 1.0);
  EXPECT_NEAR(ratio, o.axis_ratio, 0.01);
  EXPECT_NEAR(angle, 40.0, 2.0);
  ASSERT_FALSE(host_.Results().empty());
}

TEST_F(Centre, TooSmallOrBlankImagesWriteAnErrorAndNothingElse) {
  DM_ImageToken tiny = RealImage(10, 10, std::vector<double>(100, 5.0));
  float x = 5, y = 5, angle = 12, ratio = 1.1f, r = 42;
  host_.Call("RefineCenter",
             {image_arg(tiny), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&r)});
  ASSERT_EQ(host_.Results().size(), 1u);
  EXPECT_EQ(host_.Results()[0], "ERROR! Probably wrong image selected. the results are  \n");
  host_.Call("RefineCenterEllipticity",
             {image_arg(tiny), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&angle),
              float_ptr_arg(&ratio), float_ptr_arg(&r), float_arg(2.0f)});
  ASSERT_EQ(host_.Results().size(), 2u);
  EXPECT_EQ(host_.Results()[1], "ERROR! Probably wrong image selected. \n");
  EXPECT_EQ(x, 5.0f);
  EXPECT_EQ(y, 5.0f);
  EXPECT_EQ(angle, 12.0f);
  EXPECT_EQ(ratio, 1.1f);
  EXPECT_EQ(r, 42.0f);

  DM_ImageToken blank = RealImage(300, 300, {});
  host_.ClearResults();
  host_.Call("GuessCenter",
             {image_arg(blank), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&r)});
  EXPECT_FALSE(host_.Results().empty());
  EXPECT_EQ(host_.Results().back().rfind("ERROR", 0), 0u) << host_.Results().back();
  EXPECT_EQ(x, 5.0f);
  EXPECT_EQ(y, 5.0f);
  EXPECT_EQ(r, 42.0f);
  EXPECT_TRUE(host_.ScriptErrors().empty());
}

TEST_F(Centre, NonFiniteInputsAreRefused) {
  DM_ImageToken im = RealImage(300, 300, std::vector<double>(90000, 5.0));
  float x = std::nanf(""), y = 5, angle = 0, ratio = 1, r = 42;
  host_.Call("RefineCenter",
             {image_arg(im), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&r)});
  EXPECT_EQ(host_.Results().back(), "ERROR! The center lies outside of the image. \n");
  x = 150;
  y = 150;
  host_.Call("RefineCenterEllipticity",
             {image_arg(im), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&angle),
              float_ptr_arg(&ratio), float_ptr_arg(&r), float_arg(INFINITY)});
  EXPECT_EQ(host_.Results().back(), "ERROR! The smoothing is not a valid number. \n");
  EXPECT_EQ(r, 42.0f);
  EXPECT_TRUE(host_.ScriptErrors().empty());
}

TEST_F(Centre, HandlersCleanUpWhicheverHostCallFails) {
  SyntheticOptions o = synthetic_defaults(300, 300);
  std::vector<float> p = synthetic_pattern(300, 300, o);
  std::vector<double> pixels(p.begin(), p.end());
  for (const char* function : {"GuessCenter", "RefineCenter"}) {
    check_host_failures(host_, function, [&] {
      PreparedCall call;
      DM_ImageToken im = host_.NewImage("p", DM_TYPE_INT16, 300, 300);
      host_.SetPixels(im, pixels);
      auto f = std::make_shared<std::array<float, 3>>(std::array<float, 3>{140, 160, 7});
      call.args = {image_arg(im), float_ptr_arg(&(*f)[0]), float_ptr_arg(&(*f)[1]),
                   float_ptr_arg(&(*f)[2])};
      call.expect_untouched = [f] {
        // The frame fails before any output or after all of it.
        bool before = (*f)[0] == 140 && (*f)[1] == 160 && (*f)[2] == 7;
        EXPECT_TRUE(before || (*f)[2] != 7);
      };
      call.release = [this, im] { host_.ReleaseImage(im); };
      return call;
    });
  }
}

TEST_F(Centre, GuessCenterRefusesAnImageTooSmallForTheRingSearchBeforeGuessing) {
  for (uint32_t side : {0u, 1u, 10u}) {
    DM_ImageToken im = RealImage(side, side, std::vector<double>(size_t{side} * side, 5.0));
    float x = 1, y = 2, r = 3;
    host_.ClearResults();
    standin::CallResult c = host_.Call(
        "GuessCenter", {image_arg(im), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&r)});
    const std::string n = std::to_string(side);
    EXPECT_TRUE(c.script_errors.empty());
    EXPECT_EQ(host_.Results(),
              std::vector<std::string>{"ERROR in GuessCenter. The image (" + n + " x " + n +
                                       " pixels) is too small for a ring search. \n"});
    EXPECT_EQ(x, 1.0f);
    EXPECT_EQ(y, 2.0f);
    EXPECT_EQ(r, 3.0f);
  }
  // Large enough for a (short) ring search: the guess and a radius.
  DM_ImageToken im = RealImage(20, 20, std::vector<double>(400, 5.0));
  float x = 1, y = 2, r = 99;
  EXPECT_TRUE(host_
                  .Call("GuessCenter",
                        {image_arg(im), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&r)})
                  .script_errors.empty());
  EXPECT_EQ(x, 8.0f);
  EXPECT_EQ(y, 8.0f);
  EXPECT_EQ(r, 3.0f);  // half the inner radius: no ring beyond 100
}

TEST_F(Centre, SmoothingWiderThanTheRingWindowIsRefusedAtOnceKeepingTheFloats) {
  // The window of a small image: ring tables of a few rings only.
  std::vector<float> p = synthetic_pattern(56, 37, synthetic_defaults(56, 37));
  DM_ImageToken im = RealImage(56, 37, std::vector<double>(p.begin(), p.end()));
  for (float smoothing : {1e6f, 2e9f}) {
    float x = 28, y = 18, angle = 12, ratio = 1.1f, r = 42;
    host_.ClearResults();
    standin::CallResult c =
        host_.Call("RefineCenterEllipticity",
                   {image_arg(im), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&angle),
                    float_ptr_arg(&ratio), float_ptr_arg(&r), float_arg(smoothing)});
    EXPECT_TRUE(c.script_errors.empty());
    ASSERT_EQ(host_.Results().size(), 1u);
    const std::string prefix = "ERROR! The smoothing of " +
                               std::to_string(static_cast<int32_t>(smoothing)) +
                               " rings is wider than the ring window of ";
    EXPECT_EQ(host_.Results()[0].rfind(prefix, 0), 0u) << host_.Results()[0];
    EXPECT_EQ(host_.Results()[0].substr(host_.Results()[0].size() - 9), " rings. \n");
    EXPECT_EQ(x, 28.0f);
    EXPECT_EQ(y, 18.0f);
    EXPECT_EQ(angle, 12.0f);
    EXPECT_EQ(ratio, 1.1f);
    EXPECT_EQ(r, 42.0f);
  }
}

// A missing float variable is refused before the handler reads through it,
// whichever position it takes.
TEST_F(Centre, ANullFloatPointerIsAScriptError) {
  DM_ImageToken im = RealImage(40, 30, std::vector<double>(40 * 30, 1.0));
  for (int missing = 0; missing < 5; ++missing) {
    std::array<float, 5> v = {20, 15, 0, 1, 5};
    auto arg = [&](int k) { return float_ptr_arg(k == missing ? nullptr : &v[k]); };
    standin::CallResult r =
        host_.Call("RefineCenterEllipticity",
                   {image_arg(im), arg(0), arg(1), arg(2), arg(3), arg(4), float_arg(3)});
    ASSERT_EQ(r.script_errors.size(), 1u) << missing;
    EXPECT_NE(r.script_errors[0].find("null pointer"), std::string::npos) << r.script_errors[0];
    EXPECT_EQ(v[0], 20.0f);
    EXPECT_EQ(host_.LiveLocks(), 0u);
  }
  for (const char* function : {"GuessCenter", "RefineCenter"}) {
    float y = 0, r = 0;
    standin::CallResult result = host_.Call(
        function, {image_arg(im), float_ptr_arg(nullptr), float_ptr_arg(&y), float_ptr_arg(&r)});
    EXPECT_EQ(result.script_errors.size(), 1u) << function;
  }
  EXPECT_EQ(host_.LiveImages(), 1u);
}
