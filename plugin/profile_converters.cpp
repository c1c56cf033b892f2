#include "profile_converters.h"

#include "kelpotools.h"
#include "messages.h"
#include "numeric.h"
#include "pseudovoigt.h"
#include "rdf.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

struct ImageSize {
  int32_t width;
  int32_t height;
};

ImageSize size_of(const ImageRef& image) {
  const uint32_t w = DM::ImageGetDimensionSize(image, 0);
  const uint32_t h = DM::ImageGetDimensionSize(image, 1);
  // Counts in the record are int32; the pixel count must also stay
  // addressable as one block.
  if (w > static_cast<uint32_t>(INT32_MAX) || h > static_cast<uint32_t>(INT32_MAX))
    throw std::length_error("the image is too large: more than 2147483647 pixels along a side");
  return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

size_t at(int32_t column, int32_t row, int32_t width) {
  return static_cast<size_t>(column) + static_cast<size_t>(row) * static_cast<size_t>(width);
}

bool refuse(const char* caller, const char* what) {
  reportf("ERROR in %s. %s. \n", caller, what);
  return false;
}

// The row of the profile image at `row` as a new profile.
bool read_profile_row(profile_data& rec, const ImageRef& image, int32_t row, const char* caller) {
  const ImageSize size = size_of(image);
  if (size.width < 1 || size.height < 1) return refuse(caller, "The profile image is empty");
  if (size.height <= row) {
    reportf("ERROR in %s. The profile image needs at least %d rows. \n", caller, row + 1);
    return false;
  }
  PixelLock lock(image);
  set_profile(rec, lock.data() + at(0, row, size.width), size.width);
  return true;
}

float clamped_weight(float weight) {
  return max_float(0.0f, min_float(1.0f, weight));
}

float magnitude(float value) {
  return static_cast<float>(std::fabs(static_cast<double>(value)));
}

// One row of the "Peakparameters" layout for peak k.
void peak_row(const profile_data& rec, int32_t k, int32_t mode, float out[kPeakColumns]) {
  const float* p = rec.peaks.get() + static_cast<size_t>(kPeakColumns) * k;
  out[0] = p[0];
  if (mode == 1) {
    out[1] = out[2] = out[3] = 0.0f;
    return;
  }
  out[1] = magnitude(p[1]);
  out[2] = magnitude(p[2]);
  out[3] = clamped_weight(p[3]);
}

RealImagePtr new_image(const char* name, int32_t width, int32_t height) {
  dm_string text = DM_make_string(name, 0);
  return DM::RealImage(text, 4, static_cast<uint32_t>(std::max(width, 0)),
                       static_cast<uint32_t>(std::max(height, 0)));
}

// Writes `rows` rows of `length` values each into the image, row r from
// source[r] (null: zeros), clipped to the image's own width and height.
void write_rows(const ImageRef& image, const float* const* source, int32_t rows, int32_t length) {
  const ImageSize size = size_of(image);
  const int32_t columns = std::min(length, size.width);
  rows = std::min(rows, size.height);
  if (columns < 1 || rows < 1) return;
  PixelLock lock(image);
  float* data = lock.data();
  for (int32_t r = 0; r < rows; ++r) {
    float* dest = data + at(0, r, size.width);
    if (source[r])
      std::copy(source[r], source[r] + columns, dest);
    else
      std::fill(dest, dest + columns, 0.0f);
  }
}

// The four rows of the peak layout of the profile image; the model curve is
// computed into `model`.
void fit_rows(const profile_data& rec, std::vector<float>& model, const float* rows[4]) {
  model.assign(static_cast<size_t>(std::max(rec.length, 0)), 0.0f);
  model_curve(rec, model.data());
  rows[0] = rec.y.get();
  rows[1] = rec.background.get();
  rows[2] = rec.ysub.get();
  rows[3] = model.data();
}

}  // namespace

// --- readers ------------------------------------------------------------------

bool DM_read_profile(profile_data& rec, const ImageRef& image, const char* caller) {
  return read_profile_row(rec, image, 0, caller);
}

bool DM_read_profile_row2(profile_data& rec, const ImageRef& image, const char* caller) {
  return read_profile_row(rec, image, 2, caller);
}

bool DM_read_peakparameters(profile_data& rec, const ImageRef& image, int32_t mode,
                            const char* caller) {
  const ImageSize size = size_of(image);
  if (size.width < 1 || size.height < 1) return refuse(caller, "The peak image is empty");
  if (size.width < kPeakColumns) {
    DM_result(
        "There are less than 4 provided fit parameters! Input requested is an image "
        "containing three collums, ");
    DM_result(
        "1: Position, 2: integrated intensity; 3: HWHM; 4:Cauchy/Gauss weight (0 - "
        "Gauss, 1 - Cauchy).");
    DM_result("Taking some standard value for the the first four parameters! \n");
  } else if (size.width > kPeakColumns) {
    DM_result(
        "There are more than 4 provided fit parameters! Input requested is an image "
        "containing three collums, ");
    DM_result(
        "1: Position, 2: integrated intensity; 3: HWHM; 4:Cauchy/Gauss weight (0 - "
        "Gauss, 1 - Cauchy). ");
    DM_result("Taking the first four parameters! \n");
  }
  const bool all_columns = mode != 1 && size.width >= kPeakColumns;
  std::vector<float> table(static_cast<size_t>(kPeakColumns) * size.height);
  {
    PixelLock lock(image);
    const float* data = lock.data();
    for (int32_t r = 0; r < size.height; ++r) {
      float* row = table.data() + static_cast<size_t>(kPeakColumns) * r;
      row[0] = data[at(0, r, size.width)];
      row[1] = 100.0f;
      row[2] = 10.0f;
      row[3] = 0.0f;
      if (all_columns)
        for (int32_t c = 1; c < kPeakColumns; ++c) row[c] = data[at(c, r, size.width)];
    }
  }
  set_peaks(rec, table.data(), size.height);
  return true;
}

bool DM_read_splinepoints(profile_data& rec, const ImageRef& image, const char* caller) {
  const ImageSize size = size_of(image);
  if (size.height < 2) return refuse(caller, "The spline-point image needs 2 rows");
  PixelLock lock(image);
  const float* data = lock.data();
  set_splinepoints(rec, data, data + at(0, 1, size.width), size.width);
  return true;
}

bool DM_read_elementtable(profile_data& rec, const ImageRef& image, const char* caller) {
  const ImageSize size = size_of(image);
  if (size.width < kElementColumns)
    return refuse(caller, "The element table needs at least 14 columns");
  std::vector<float> table(static_cast<size_t>(kElementColumns) * size.height);
  {
    PixelLock lock(image);
    const float* data = lock.data();
    for (int32_t r = 0; r < size.height; ++r)
      std::copy_n(data + at(0, r, size.width), kElementColumns,
                  table.data() + static_cast<size_t>(kElementColumns) * r);
  }
  set_elements(rec, table.data(), size.height);
  return true;
}

// --- writers ------------------------------------------------------------------

RealImagePtr DM_write_peakparameters(const profile_data& rec, int32_t mode) {
  const int32_t npeaks = rec.peaks ? rec.npeaks : 0;
  RealImagePtr image = new_image("Peakparameters", kPeakColumns, npeaks);
  {
    PixelLock lock(image);
    for (int32_t k = 0; k < npeaks; ++k)
      peak_row(rec, k, mode, lock.data() + static_cast<size_t>(kPeakColumns) * k);
  }
  DM::ImageDataChanged(image);
  return image;
}

RealImagePtr DM_write_splinepoints(const profile_data& rec) {
  const int32_t n = rec.splinex && rec.spliney ? rec.nsplinepoints : 0;
  RealImagePtr image = new_image("Splinepoints", n, 2);
  if (n > 0) {
    PixelLock lock(image);
    std::copy_n(rec.splinex.get(), n, lock.data());
    std::copy_n(rec.spliney.get(), n, lock.data() + n);
  }
  DM::ImageDataChanged(image);
  return image;
}

RealImagePtr DM_write_rdf(profile_data& rec, float start, float end) {
  rdf_sinetransform(rec, trunc_to_int(start), trunc_to_int(end));
  RealImagePtr image = new_image("RDF", kRdfPoints, 1);
  {
    PixelLock lock(image);
    std::copy_n(rec.rdf.get(), kRdfPoints, lock.data());
  }
  DM::ImageDataChanged(image);
  return image;
}

RealImagePtr DM_write_fitprofile(const profile_data& rec) {
  const int32_t length = rec.y ? rec.length : 0;
  const float* rows[4];
  std::vector<float> model;
  fit_rows(rec, model, rows);
  RealImagePtr image = new_image("Results", length, 4);
  write_rows(image, rows, 4, length);
  DM::ImageDataChanged(image);
  return image;
}

// --- updaters -----------------------------------------------------------------

void DM_update_profile(const profile_data& rec, const ImageRef& image) {
  if (!rec.y) return;
  const float* rows[4];
  std::vector<float> model;
  fit_rows(rec, model, rows);
  write_rows(image, rows, 4, rec.length);
}

void DM_update_peakparameters(const profile_data& rec, const ImageRef& image) {
  const ImageSize size = size_of(image);
  const int32_t rows = std::min(size.height, rec.peaks ? rec.npeaks : 0);
  const int32_t columns = std::min(size.width, kPeakColumns);
  if (rows < 1 || columns < 1) return;
  PixelLock lock(image);
  float* data = lock.data();
  for (int32_t k = 0; k < rows; ++k) {
    float row[kPeakColumns];
    peak_row(rec, k, 0, row);
    std::copy_n(row, columns, data + at(0, k, size.width));
  }
}

void DM_update_splinepoints(const profile_data& rec, const ImageRef& image) {
  if (!rec.splinex || !rec.spliney) return;
  const float* rows[2] = {rec.splinex.get(), rec.spliney.get()};
  write_rows(image, rows, 2, rec.nsplinepoints);
}

void DM_update_kirkland(const profile_data& rec, const ImageRef& image) {
  if (!rec.y || rec.length < 1) return;
  std::vector<float> curve(static_cast<size_t>(rec.length));
  std::vector<float> reduced(static_cast<size_t>(rec.length));
  kirkland_curves(rec, curve.data(), reduced.data());
  const float* rows[3] = {rec.y.get(), curve.data(), reduced.data()};
  write_rows(image, rows, 3, rec.length);
}
