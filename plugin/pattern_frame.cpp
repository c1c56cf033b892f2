#include "pattern_frame.h"

#include "kelpotools.h"
#include "messages.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>

namespace {

int32_t dimension(const ImageRef& image, uint32_t which) {
  uint32_t size = DM::ImageGetDimensionSize(image, which);
  if (size > static_cast<uint32_t>(INT32_MAX))
    throw std::length_error("the image is too large: more than 2147483647 pixels along a side");
  return static_cast<int32_t>(size);
}

RealImagePtr write_results(const float* values, size_t count, uint32_t width, uint32_t height) {
  RealImagePtr image;
  {
    dm_string name = DM_make_string("Results", 0);
    image = DM::RealImage(name, 4, width, height);
  }
  PixelLock lock(image);
  std::copy_n(values, count, lock.data());
  DM::ImageDataChanged(image);
  return image;
}

}  // namespace

void run_pattern_frame(DM_ImageToken image, const std::function<void(image_data&)>& work) {
  image_data rec;
  BasicImage input(image);
  ImageRef clone = DM::ImageClone(input);
  DM::ImageChangeDataType(clone, DM_TYPE_REAL4);
  rec.width = dimension(clone, 0);
  rec.height = dimension(clone, 1);
  rec.name = DM_string_to_std(DM::ImageGetName(clone), 0);
  PixelLock lock(clone);
  rec.data = lock.data();
  work(rec);
}

bool take_center(image_data& rec, float x, float y) {
  if (set_center(rec, x, y)) return true;
  DM_result("ERROR! The center lies outside of the image. \n");
  return false;
}

void report_small_image(const image_data& rec, const char* function, const char* purpose) {
  reportf("ERROR in %s. The image (%d x %d pixels) is too small for %s. \n", function, rec.width,
          rec.height, purpose);
}

RealImagePtr DM_write_profile(const image_data& rec, uint32_t height) {
  if (rec.profile_length == 0) DM_result("ERROR in DM_write_profile: The Profile is empty. \n");
  uint32_t width = static_cast<uint32_t>(std::max(rec.profile_length, 0));
  return write_results(rec.profile, width, width, height);
}

RealImagePtr DM_write_projection(const image_data& rec) {
  uint32_t rows = static_cast<uint32_t>(std::max(rec.projection_rows, 0));
  uint32_t cols = static_cast<uint32_t>(std::max(rec.projection_cols, 0));
  return write_results(rec.projection, static_cast<size_t>(rows) * cols, cols, rows);
}
