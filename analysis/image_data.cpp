#include "image_data.h"

#include "numeric.h"

#include <algorithm>

image_data::image_data()
    : data(nullptr),
      width(0),
      height(0),
      profile_length(0),
      profile(nullptr),
      ring_start(0),
      ring_end(0),
      peak_radius(0),
      peak_value(0),
      xoffsets_capacity(0),
      xoffsets(nullptr),
      yoffsets_capacity(0),
      yoffsets(nullptr),
      nrings(0),
      ring_points(nullptr),
      projection(nullptr),
      projection_rows(0),
      projection_cols(0),
      center_x(0),
      center_y(0),
      axis_ratio(1.0f),
      angle(0.0f),
      smoothing(0) {}

image_data::~image_data() {
  delete[] profile;
  delete[] ring_points;
  delete[] xoffsets;
  delete[] yoffsets;
  delete[] projection;
}

bool set_center(image_data& rec, float x, float y) {
  int32_t cx = 0;
  int32_t cy = 0;
  if (!float_to_int(x, cx) || !float_to_int(y, cy)) return false;
  const int64_t reach = std::max<int64_t>(std::max(rec.width, rec.height), 0);
  auto near = [reach](int64_t c, int64_t size) { return c >= -reach && c <= size + reach; };
  if (!near(cx, rec.width) || !near(cy, rec.height)) return false;
  rec.center_x = cx;
  rec.center_y = cy;
  return true;
}
