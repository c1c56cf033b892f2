#include "profile_data.h"

#include "messages.h"
#include "numeric.h"

#include <algorithm>
#include <cmath>

namespace {
std::unique_ptr<float[]> copy_of(const float* source, int32_t count) {
  auto copy = std::make_unique<float[]>(static_cast<size_t>(count));
  if (count > 0) std::copy(source, source + count, copy.get());
  return copy;
}

// Positions are compared as the algorithms use them, as floats against the
// last sample index.
bool inside_profile(float position, int32_t length) {
  return std::isfinite(position) && position >= 0.0f &&
         static_cast<double>(position) <= static_cast<double>(length - 1);
}
}  // namespace

void set_profile(profile_data& rec, const float* samples, int32_t length) {
  length = std::max(length, 0);
  auto y = copy_of(samples, length);
  auto x = std::make_unique<float[]>(static_cast<size_t>(length));
  for (int32_t i = 0; i < length; ++i) x[i] = static_cast<float>(i);
  rec.y = std::move(y);
  rec.x = std::move(x);
  rec.length = length;
}

void set_peaks(profile_data& rec, const float* table, int32_t npeaks) {
  npeaks = std::max(npeaks, 0);
  rec.peaks = copy_of(table, kPeakColumns * npeaks);
  rec.npeaks = npeaks;
}

void set_splinepoints(profile_data& rec, const float* xs, const float* ys, int32_t n) {
  n = std::max(n, 0);
  auto sx = copy_of(xs, n);
  auto sy = copy_of(ys, n);
  rec.splinex = std::move(sx);
  rec.spliney = std::move(sy);
  rec.nsplinepoints = n;
}

void set_elements(profile_data& rec, const float* table, int32_t nelements) {
  nelements = std::max(nelements, 0);
  rec.elements = copy_of(table, kElementColumns * nelements);
  rec.nelements = nelements;
}

bool sample_of(float position, int32_t length, int32_t& index) {
  int32_t i = 0;
  if (!float_to_int(position, i) || i < 0 || i >= length) return false;
  index = i;
  return true;
}

bool check_profile(const profile_data& rec, const char* caller) {
  if (rec.length >= 1 && rec.y && rec.x) return true;
  reportf("ERROR in %s. No profile loaded. \n", caller);
  return false;
}

bool check_splinepoints(const profile_data& rec, int32_t minimum, const char* caller) {
  if (!check_profile(rec, caller)) return false;
  if (rec.nsplinepoints < minimum || (rec.nsplinepoints > 0 && !(rec.splinex && rec.spliney))) {
    if (minimum <= 1)
      reportf("ERROR in %s. At least one spline point is needed. \n", caller);
    else
      reportf("ERROR in %s. At least %d spline points are needed. \n", caller, minimum);
    return false;
  }
  for (int32_t j = 0; j < rec.nsplinepoints; ++j) {
    bool ok = inside_profile(rec.splinex[j], rec.length) &&
              (j == 0 || rec.splinex[j] > rec.splinex[j - 1]);
    if (!ok) {
      reportf(
          "ERROR in %s. The spline positions must be finite, strictly increasing "
          "and inside the profile. \n",
          caller);
      return false;
    }
  }
  return true;
}

bool check_peaks(const profile_data& rec, const char* caller) {
  if (!check_profile(rec, caller)) return false;
  if (rec.npeaks < 1 || !rec.peaks) {
    reportf("ERROR in %s. No peak given. \n", caller);
    return false;
  }
  // The fits never index by a peak's position, and a fit may move a peak
  // off the profile: only a position that is no number is refused.
  for (int32_t k = 0; k < rec.npeaks; ++k) {
    if (!std::isfinite(rec.peaks[kPeakColumns * k])) {
      reportf("ERROR in %s. Every peak position must be a finite number. \n", caller);
      return false;
    }
  }
  // A single NaN or infinite intensity, width or weight turns every sample
  // of the fitted model into NaN.
  for (int32_t k = 0; k < rec.npeaks; ++k) {
    const float* row = rec.peaks.get() + kPeakColumns * k;
    if (!std::isfinite(row[1]) || !std::isfinite(row[2]) || !std::isfinite(row[3])) {
      reportf("ERROR in %s. Every peak intensity, HWHM and weight must be a finite number. \n",
              caller);
      return false;
    }
  }
  return true;
}

bool check_samples(const profile_data& rec, const char* caller) {
  if (!check_splinepoints(rec, 1, caller)) return false;
  const int32_t first = trunc_to_int(rec.splinex[0]);
  const int32_t last = trunc_to_int(rec.splinex[rec.nsplinepoints - 1]);
  if (!std::all_of(rec.y.get() + first, rec.y.get() + last + 1,
                   [](float v) { return std::isfinite(v); })) {
    reportf("ERROR in %s. The profile holds a sample that is not a finite number. \n", caller);
    return false;
  }
  if (!std::all_of(rec.spliney.get(), rec.spliney.get() + rec.nsplinepoints,
                   [](float v) { return std::isfinite(v); })) {
    reportf("ERROR in %s. Every spline height must be a finite number. \n", caller);
    return false;
  }
  return true;
}

bool check_range(const profile_data& rec, double start, double end, const char* caller,
                 int32_t& first, int32_t& last) {
  if (!check_profile(rec, caller)) return false;
  int32_t a = 0;
  int32_t b = 0;
  if (!float_to_int(start, a) || !float_to_int(end, b) || a < 0 || a > b || b > rec.length - 1) {
    reportf("ERROR in %s. The range must satisfy 0 <= start <= end <= length-1. \n", caller);
    return false;
  }
  first = a;
  last = b;
  return true;
}
