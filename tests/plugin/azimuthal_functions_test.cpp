#include "plugin_fixture.h"

#include "azimuthal.h"
#include "image_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using standin::cell_arg;
using standin::float_arg;
using standin::image_arg;

namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;

class Azimuthal : public PluginTest {
 protected:
  // A constant pattern of an integer pixel type with a masked corner.
  DM_ImageToken Pattern(uint32_t type = DM_TYPE_UINT16) {
    std::vector<double> v(kWidth * kHeight, 7.0);
    v[0] = 0.0;
    return Image(type, kWidth, kHeight, v, "pattern");
  }

  std::vector<DM_Arg> Args(DM_ImageToken im, DM_ImageToken* cell, std::vector<float> floats) {
    std::vector<DM_Arg> a{image_arg(im), cell_arg(cell)};
    for (float f : floats) a.push_back(float_arg(f));
    return a;
  }

  int32_t RadiusFor(int32_t mode, int32_t cx = 30, int32_t cy = 20) {
    image_data rec;
    rec.width = kWidth;
    rec.height = kHeight;
    rec.center_x = cx;
    rec.center_y = cy;
    return maxradius(&rec, mode);
  }
};

}  // namespace

TEST_F(Azimuthal, AverageOfAConstantPatternLeavesTheCallersImageAlone) {
  DM_ImageToken im = Pattern();
  DM_ImageToken cell = nullptr;
  standin::CallResult r = host_.Call("AzimuthalAverage", Args(im, &cell, {30.9f, 20.2f, 0.0f}));
  ASSERT_TRUE(r.script_errors.empty());
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(host_.ImageName(cell), "Results");
  EXPECT_EQ(host_.DataType(cell), static_cast<uint32_t>(DM_TYPE_REAL4));
  EXPECT_EQ(host_.Height(cell), 1u);
  EXPECT_EQ(host_.Width(cell), static_cast<uint32_t>(RadiusFor(0)));
  EXPECT_EQ(host_.DataChangedCount(cell), 1);
  std::vector<double> profile = host_.Pixels(cell);
  for (size_t k = 0; k < 20; ++k) EXPECT_EQ(profile[k], 7.0) << k;  // full rings
  // The integral is the mean times the radius.
  DM_ImageToken integral = nullptr;
  host_.Call("AzimuthalIntegral", Args(im, &integral, {30, 20, 0}));
  EXPECT_EQ(host_.Pixels(integral)[10], 70.0);
  ReleaseCell(integral);

  EXPECT_EQ(host_.DataType(im), static_cast<uint32_t>(DM_TYPE_UINT16));
  EXPECT_EQ(host_.Pixels(im)[1], 7.0);
  EXPECT_EQ(host_.ReferenceCount(im), 1);
  ReleaseCell(cell);
}

TEST_F(Azimuthal, OuterRadiusRule) {
  DM_ImageToken im = Pattern();
  auto width_for = [&](float radius) {
    DM_ImageToken cell = nullptr;
    host_.Call("AzimuthalIntegral", Args(im, &cell, {30, 20, radius}));
    uint32_t w = cell ? host_.Width(cell) : 0;
    ReleaseCell(cell);
    return static_cast<int32_t>(w);
  };
  EXPECT_EQ(width_for(1.0f), RadiusFor(1));
  EXPECT_EQ(width_for(1.5f), 1);
  EXPECT_EQ(width_for(12.7f), 12);
  for (float keep : {0.5f, 0.0f, -3.0f, 1e9f, std::nanf("")})
    EXPECT_EQ(width_for(keep), RadiusFor(0)) << keep;
}

TEST_F(Azimuthal, SectorAnglesAreCheckedInRadians) {
  DM_ImageToken im = Pattern();
  DM_ImageToken cell = nullptr;
  host_.Call("AzimuthalAverageSektor", Args(im, &cell, {30, 20, 0.0f, 360.0f, 0}));
  EXPECT_EQ(cell, nullptr);
  ASSERT_EQ(host_.Results().size(), 1u);
  EXPECT_EQ(host_.Results()[0],
            "ERROR! The ending angle is larger than 2pi. \n Please provide "
            "angle values in the interval [0,2pi]. \n");
  host_.Call("AzimuthalIntegralSektorEllipticity",
             Args(im, &cell, {30, 20, 0, 1, -1.0f, 90.0f, 0}));
  EXPECT_EQ(cell, nullptr);
  EXPECT_EQ(host_.Results()[1],
            "ERROR! The starting angle is negative. \n Please provide angle "
            "values in the interval [0,2pi]. \n");
  host_.Call("AzimuthalAverageSektor", Args(im, &cell, {30, 20, 0.0f, 359.99997f, 0}));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(host_.Pixels(cell)[5], 7.0);
  // A start above the end is a sector through 0 and still gives a profile.
  DM_ImageToken wrapped = nullptr;
  host_.Call("AzimuthalAverageSektor", Args(im, &wrapped, {30, 20, 270.0f, 90.0f, 0}));
  ASSERT_NE(wrapped, nullptr);
  EXPECT_EQ(host_.Pixels(wrapped)[5], 7.0);
  EXPECT_EQ(host_.Results().size(), 2u);
  ReleaseCell(cell);
  ReleaseCell(wrapped);
}

TEST_F(Azimuthal, ASecondCallReplacesTheResultAndReleasesTheFirst) {
  DM_ImageToken im = Pattern(DM_TYPE_INT8);
  DM_ImageToken cell = nullptr;
  host_.Call("AzimuthalIntegralEllipticity", Args(im, &cell, {30, 20, 30.0f, 1.1f, 0}));
  ASSERT_NE(cell, nullptr);
  DM_ImageToken first = cell;
  size_t live = host_.LiveImages();
  host_.Call("AzimuthalAverageEllipticity", Args(im, &cell, {30, 20, 30.0f, 1.1f, 0}));
  EXPECT_NE(cell, first);
  EXPECT_EQ(host_.LiveImages(), live);
  ReleaseCell(cell);
}

TEST_F(Azimuthal, BadCentresAreRefusedWithAnErrorLine) {
  DM_ImageToken im = Pattern();
  for (float bad : {std::nanf(""), INFINITY, 1e9f, -500.0f}) {
    DM_ImageToken cell = nullptr;
    host_.ClearResults();
    standin::CallResult r = host_.Call("AzimuthalIntegral", Args(im, &cell, {bad, 20, 0}));
    EXPECT_TRUE(r.script_errors.empty());
    EXPECT_EQ(cell, nullptr) << bad;
    ASSERT_EQ(host_.Results().size(), 1u);
    EXPECT_EQ(host_.Results()[0], "ERROR! The center lies outside of the image. \n");
  }
}

TEST_F(Azimuthal, ProjectionSizes) {
  DM_ImageToken im = Pattern(DM_TYPE_REAL8);
  int32_t end = RadiusFor(1, 32, 24) - 5;
  auto project = [&](float columns, uint32_t& w, uint32_t& h) {
    DM_ImageToken cell = nullptr;
    standin::CallResult r = host_.Call("AzimuthalProjection", Args(im, &cell, {32, 24, columns}));
    w = cell ? host_.Width(cell) : 0;
    h = cell ? host_.Height(cell) : 0;
    bool made = cell != nullptr;
    ReleaseCell(cell);
    return made && r.script_errors.empty();
  };
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(project(90.0f, w, h));
  EXPECT_EQ(w, 90u);
  EXPECT_EQ(h, static_cast<uint32_t>(end - 1));
  ASSERT_TRUE(project(1.0f, w, h));
  EXPECT_EQ(w, static_cast<uint32_t>(1.62 * (end - 1)));
  ASSERT_TRUE(project(0.0f, w, h));
  EXPECT_EQ(w, static_cast<uint32_t>(2 * end * 3.14159265358979));
  DM_ImageToken cell = nullptr;
  standin::CallResult r;
  // A columns argument with no integer value is refused, like a negative
  // one: it is a size of the result.
  for (float bad : {std::nanf(""), 1e10f}) {
    r = host_.Call("AzimuthalProjection", Args(im, &cell, {32, 24, bad}));
    EXPECT_EQ(r.script_errors,
              std::vector<std::string>{
                  "AzimuthalProjection: the number of columns is not a finite number below 2^31"});
    EXPECT_EQ(cell, nullptr);
  }
}

TEST_F(Azimuthal, HandlersCleanUpWhicheverHostCallFails) {
  struct Case {
    const char* function;
    std::vector<float> floats;
  };
  const Case cases[] = {
      {"AzimuthalIntegral", {30, 20, 0}},
      {"AzimuthalAverageSektorEllipticity", {30, 20, 10, 1.1f, 0, 180, 0}},
      {"AzimuthalProjection", {30, 20, 36}},
  };
  for (const Case& c : cases) {
    DM_ImageToken previous = RealImage(2, 2, {1, 2, 3, 4}, "previous");
    long calls = check_host_failures(host_, c.function, [&] {
      PreparedCall call;
      DM_ImageToken im = host_.NewImage("p", DM_TYPE_INT32, kWidth, kHeight);
      host_.SetPixels(im, std::vector<double>(kWidth * kHeight, 3.0));
      auto cell = std::make_shared<DM_ImageToken>(previous);
      host_.Interface()->image_add_ref(previous);
      call.args = Args(im, cell.get(), c.floats);
      call.expect_untouched = [=] { EXPECT_EQ(*cell, previous) << c.function; };
      call.release = [this, im, cell] {
        host_.ReleaseImage(im);
        host_.ReleaseImage(*cell);
      };
      return call;
    });
    EXPECT_GE(calls, 10) << c.function;
  }
}

TEST_F(Azimuthal, EllipsesAndSectorsThatAreNotNumbersAreRefusedWithALine) {
  DM_ImageToken im = Pattern();
  const std::string ratio_line =
      "ERROR! The axis ratio is not a positive number. \n Please provide a ratio a/b above 0. \n";
  const std::string angle_line = "ERROR! The angle of the major axis is not a valid number. \n";
  const std::string start_line =
      "ERROR! The starting angle is not a valid number. \n Please "
      "provide angle values in the interval [0,2pi]. \n";
  const std::string end_line =
      "ERROR! The ending angle is not a valid number. \n Please provide "
      "angle values in the interval [0,2pi]. \n";
  const float nan = std::nanf("");
  struct Case {
    const char* function;
    std::vector<float> floats;
    const std::string& line;
  };
  const Case cases[] = {
      {"AzimuthalIntegralEllipticity", {30, 20, 30, nan, 0}, ratio_line},
      {"AzimuthalAverageEllipticity", {30, 20, 30, 0.0f, 0}, ratio_line},
      {"AzimuthalAverageEllipticity", {30, 20, 30, -1.1f, 0}, ratio_line},
      {"AzimuthalAverageEllipticity", {30, 20, -INFINITY, 1.1f, 0}, angle_line},
      {"AzimuthalAverageSektorEllipticity", {30, 20, 30, -1.1f, 0, 90, 0}, ratio_line},
      {"AzimuthalIntegralSektor", {30, 20, nan, 90, 0}, start_line},
      {"AzimuthalIntegralSektorEllipticity", {30, 20, 30, 1.1f, 10, nan, 0}, end_line},
  };
  for (const Case& c : cases) {
    DM_ImageToken cell = nullptr;
    host_.ClearResults();
    standin::CallResult r = host_.Call(c.function, Args(im, &cell, c.floats));
    EXPECT_TRUE(r.script_errors.empty()) << c.function;
    EXPECT_EQ(cell, nullptr) << c.function;
    EXPECT_EQ(host_.Results(), std::vector<std::string>{c.line}) << c.function;
  }
  // A ratio below 1 is still an ellipse (turned by 90 degrees).
  DM_ImageToken cell = nullptr;
  host_.ClearResults();
  host_.Call("AzimuthalAverageEllipticity", Args(im, &cell, {30, 20, 30, 0.9f, 0}));
  EXPECT_NE(cell, nullptr);
  EXPECT_TRUE(host_.Results().empty());
  ReleaseCell(cell);
}

// An image too small for the work is a fault of the data: an error line,
// as for an empty profile image.  A result size beyond the limits is a
// fault of the call: a script error.  Either way nothing is allocated.
TEST_F(Azimuthal, ImagesTooSmallForTheResultAreRefusedBeforeAnyAllocation) {
  struct Case {
    uint32_t w, h;
    const char* function;
    std::vector<float> floats;
    std::string line, error;
  };
  const Case cases[] = {
      {2048,
       0,
       "AzimuthalAverage",
       {1024, 0, 0},
       "ERROR in AzimuthalAverage. The image (2048 x 0 pixels) is too small for a profile. \n",
       ""},
      {0,
       0,
       "AzimuthalAverage",
       {0, 0, 0},
       "ERROR in AzimuthalAverage. The image (0 x 0 pixels) is too small for a profile. \n",
       ""},
      {3,
       3,
       "AzimuthalAverageSektorEllipticity",
       {1, 1, 0, 1.1f, 0, 90, 0},
       "ERROR in AzimuthalAverageSektorEllipticity. The image (3 x 3 pixels) is too small for a "
       "profile. \n",
       ""},
      {0,
       0,
       "AzimuthalProjection",
       {0, 0, 0},
       "ERROR in AzimuthalProjection. The image (0 x 0 pixels) is too small for a projection. \n",
       ""},
      {12,
       12,
       "AzimuthalProjection",
       {6, 6, 0},
       "ERROR in AzimuthalProjection. The image (12 x 12 pixels) is too small for a projection. "
       "\n",
       ""},
      {kWidth,
       kHeight,
       "AzimuthalProjection",
       {32, 24, 1e9f},
       "",
       "AzimuthalProjection: 1000000000 columns by 17 rows is more than an image can hold"},
      {kWidth,
       kHeight,
       "AzimuthalProjection",
       {32, 24, -4.0f},
       "",
       "AzimuthalProjection: the number of columns is negative"},
  };
  for (const Case& c : cases) {
    DM_ImageToken im = RealImage(c.w, c.h, std::vector<double>(size_t{c.w} * c.h, 5.0));
    DM_ImageToken cell = nullptr;
    host_.ClearResults();
    const size_t images = host_.LiveImages();
    standin::CallResult r = host_.Call(c.function, Args(im, &cell, c.floats));
    using Texts = std::vector<std::string>;
    EXPECT_EQ(r.script_errors, c.error.empty() ? Texts{} : Texts{c.error});
    EXPECT_EQ(host_.Results(), c.line.empty() ? Texts{} : Texts{c.line});
    EXPECT_EQ(cell, nullptr);
    EXPECT_EQ(host_.LiveImages(), images);
  }
  // The smallest image that gives a bin still gives its profile.
  DM_ImageToken im = RealImage(16, 16, std::vector<double>(256, 5.0));
  DM_ImageToken cell = nullptr;
  EXPECT_TRUE(host_.Call("AzimuthalAverage", Args(im, &cell, {8, 8, 0})).script_errors.empty());
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(host_.Width(cell), 2u);
  ReleaseCell(cell);
}
