#include "azimuthal_functions.h"

#include "azimuthal.h"
#include "kelpotools.h"
#include "numeric.h"
#include "pattern_frame.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace {

// The radius handed to the kernels: the largest about the centre, the
// largest circle inside the image for an argument of exactly 1, or the
// argument itself when it is above 1 and below that largest radius.
int32_t outer_radius(const image_data& rec, float argument) {
  int32_t r = maxradius(&rec, 0);
  if (argument == 1.0f) return maxradius(&rec, 1);
  if (argument > 1.0f && static_cast<float>(r) > argument) return static_cast<int32_t>(argument);
  return r;
}

// The outer radius; false (after the error line) for an image that has no pixels or is too small
// for even one bin (maxradius goes negative there): such an image would
// give a profile of zeros or an impossible size.
bool profile_radius(const image_data& rec, float argument, const char* function, int32_t& r) {
  r = outer_radius(rec, argument);
  if (rec.width >= 1 && rec.height >= 1 && r >= 0) return true;
  report_small_image(rec, function, "a profile");
  return false;
}

// The script's name of a shared body.
const char* name_of(int32_t average, const char* integral, const char* average_name) {
  return average == 1 ? average_name : integral;
}

float degrees_to_radians(float degrees) {
  return static_cast<float>(static_cast<double>(degrees) * kPi / 180.0);
}

float sector_degrees_to_radians(float degrees) {
  return static_cast<float>(static_cast<double>(degrees / 180.0f) * kPi);
}

// False (after the error line) when the sector cannot be integrated.
bool sector_in_range(float start, float end) {
  if (std::isnan(start)) {
    DM_result(
        "ERROR! The starting angle is not a valid number. \n Please provide angle values "
        "in the interval [0,2pi]. \n");
    return false;
  }
  if (start < 0.0f) {
    DM_result(
        "ERROR! The starting angle is negative. \n Please provide angle values in the "
        "interval [0,2pi]. \n");
    return false;
  }
  if (std::isnan(end)) {
    DM_result(
        "ERROR! The ending angle is not a valid number. \n Please provide angle values "
        "in the interval [0,2pi]. \n");
    return false;
  }
  if (static_cast<double>(end) > kTwoPi) {
    DM_result(
        "ERROR! The ending angle is larger than 2pi. \n Please provide angle values in "
        "the interval [0,2pi]. \n");
    return false;
  }
  return true;
}

// False (after the error line) for an ellipse the kernels cannot use: a
// ratio that is not a positive finite number would put every pixel in no
// bin or mirror the ellipse, an angle that is not finite has no direction.
bool set_ellipse(image_data& rec, float angle, float ratio) {
  const float radians = degrees_to_radians(angle);
  if (!std::isfinite(radians)) {
    DM_result("ERROR! The angle of the major axis is not a valid number. \n");
    return false;
  }
  if (!(ratio > 0.0f && std::isfinite(ratio))) {
    DM_result(
        "ERROR! The axis ratio is not a positive number. \n Please provide a ratio a/b "
        "above 0. \n");
    return false;
  }
  rec.angle = radians;
  rec.axis_ratio = ratio;
  return true;
}

}  // namespace

void AzimuthalProfile(DM_ImageToken image, DM_ImageToken* result, float cx, float cy, float radius,
                      int32_t average) {
  run_pattern_frame(image, [&](image_data& rec) {
    if (!take_center(rec, cx, cy)) return;
    int32_t r = 0;
    if (!profile_radius(rec, radius, name_of(average, "AzimuthalIntegral", "AzimuthalAverage"), r))
      return;
    azimuthalint_whole(&rec, r, average);
    DM_store_image(result, DM_write_profile(rec, 1));
  });
}

void AzimuthalProfileEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                                 float angle, float ratio, float radius, int32_t average) {
  run_pattern_frame(image, [&](image_data& rec) {
    if (!take_center(rec, cx, cy)) return;
    if (!set_ellipse(rec, angle, ratio)) return;
    int32_t r = 0;
    if (!profile_radius(
            rec, radius,
            name_of(average, "AzimuthalIntegralEllipticity", "AzimuthalAverageEllipticity"), r))
      return;
    azimuthalintell(&rec, r, average);
    DM_store_image(result, DM_write_profile(rec, 1));
  });
}

void AzimuthalProfileSektor(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                            float start, float end, float radius, int32_t average) {
  run_pattern_frame(image, [&](image_data& rec) {
    if (!take_center(rec, cx, cy)) return;
    float a0 = sector_degrees_to_radians(start);
    float a1 = sector_degrees_to_radians(end);
    if (!sector_in_range(a0, a1)) return;
    int32_t r = 0;
    if (!profile_radius(rec, radius,
                        name_of(average, "AzimuthalIntegralSektor", "AzimuthalAverageSektor"), r))
      return;
    azimuthalint_sektor(&rec, r, a0, a1, average);
    DM_store_image(result, DM_write_profile(rec, 1));
  });
}

void AzimuthalProfileSektorEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx,
                                       float cy, float angle, float ratio, float start, float end,
                                       float radius, int32_t average) {
  run_pattern_frame(image, [&](image_data& rec) {
    if (!take_center(rec, cx, cy)) return;
    if (!set_ellipse(rec, angle, ratio)) return;
    float a0 = sector_degrees_to_radians(start);
    float a1 = sector_degrees_to_radians(end);
    if (!sector_in_range(a0, a1)) return;
    int32_t r = 0;
    if (!profile_radius(rec, radius,
                        name_of(average, "AzimuthalIntegralSektorEllipticity",
                                "AzimuthalAverageSektorEllipticity"),
                        r))
      return;
    azimuthalintell_sektor(&rec, r, a0, a1, average);
    DM_store_image(result, DM_write_profile(rec, 1));
  });
}

void AzimuthalIntegral(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                       float radius) {
  AzimuthalProfile(image, result, cx, cy, radius, 0);
}

void AzimuthalAverage(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                      float radius) {
  AzimuthalProfile(image, result, cx, cy, radius, 1);
}

void AzimuthalIntegralEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                                  float angle, float ratio, float radius) {
  AzimuthalProfileEllipticity(image, result, cx, cy, angle, ratio, radius, 0);
}

void AzimuthalAverageEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                                 float angle, float ratio, float radius) {
  AzimuthalProfileEllipticity(image, result, cx, cy, angle, ratio, radius, 1);
}

void AzimuthalIntegralSektor(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                             float start, float end, float radius) {
  AzimuthalProfileSektor(image, result, cx, cy, start, end, radius, 0);
}

void AzimuthalAverageSektor(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                            float start, float end, float radius) {
  AzimuthalProfileSektor(image, result, cx, cy, start, end, radius, 1);
}

void AzimuthalIntegralSektorEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx,
                                        float cy, float angle, float ratio, float start, float end,
                                        float radius) {
  AzimuthalProfileSektorEllipticity(image, result, cx, cy, angle, ratio, start, end, radius, 0);
}

void AzimuthalAverageSektorEllipticity(DM_ImageToken image, DM_ImageToken* result, float cx,
                                       float cy, float angle, float ratio, float start, float end,
                                       float radius) {
  AzimuthalProfileSektorEllipticity(image, result, cx, cy, angle, ratio, start, end, radius, 1);
}

void AzimuthalProjection(DM_ImageToken image, DM_ImageToken* result, float cx, float cy,
                         float columns) {
  run_pattern_frame(image, [&](image_data& rec) {
    if (!take_center(rec, cx, cy)) return;
    int32_t cols = 0;
    // A column count is a size of the result, like a negative one below.
    if (!float_to_int(columns, cols))
      throw std::invalid_argument("the number of columns is not a finite number below 2^31");
    // One row per radius from 1 to the end radius; sizes are checked
    // before anything is allocated.
    const int32_t end = maxradius(&rec, 1) - 5;
    const int64_t rows = static_cast<int64_t>(end) - 1;
    if (rec.width < 1 || rec.height < 1 || rows < 1) {
      report_small_image(rec, "AzimuthalProjection", "a projection");
      return;
    }
    if (cols < 0) throw std::invalid_argument("the number of columns is negative");
    if (cols > 1 && cols > kMaxProjectionValues / rows)
      throw std::length_error(std::to_string(cols) + " columns by " + std::to_string(rows) +
                              " rows is more than an image can hold");
    polarprojection(&rec, 1, end, cols);
    DM_store_image(result, DM_write_projection(rec));
  });
}
