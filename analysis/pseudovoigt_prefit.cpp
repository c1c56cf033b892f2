// The prefit: start values for every peak from the area between trusted
// background points, then a bounded fit of each lone peak or group.
#include "pseudovoigt.h"

#include "messages.h"
#include "profile_utils.h"
#include "spline.h"

#include <algorithm>
#include <cmath>
#include <vector>

int32_t prefitpeaks(profile_data& rec, float threshold) {
  if (!check_splinepoints(rec, 1, "prefitpeaks")) return 0;
  if (!rec.ysub) {
    report("ERROR in prefitpeaks. The background has not been subtracted. \n");
    return 0;
  }
  if (rec.npeaks < 1 || !rec.peaks) return 0;
  const int32_t length = rec.length;
  const int32_t nspline = rec.nsplinepoints;
  const int32_t npeaks = rec.npeaks;
  const float* sx = rec.splinex.get();
  const float* sy = rec.spliney.get();
  const float* y = rec.y.get();
  const float* ysub = rec.ysub.get();
  float* peaks = rec.peaks.get();
  auto position = [&](int32_t k) { return peaks[kPeakColumns * k]; };

  // A span starting at spline point j is widened to the first later point
  // that is a trusted background point (the measured profile no more than
  // threshold above it, or the point off the profile), else to the last
  // point.  Found once for every j, so that the walk stays linear in both
  // tables however many peaks and points a script passes.
  std::vector<int32_t> span_end(static_cast<size_t>(nspline));
  int32_t next = nspline - 1;
  for (int32_t i = nspline - 1; i >= 0; --i) {
    span_end[i] = next;
    int32_t at = 0;
    if (!sample_of(sx[i], length, at) || y[at] - sy[i] <= threshold) next = i;
  }

  int32_t iterations = 0;
  for (int32_t k = 0; k < npeaks; ++k) {
    // The last spline point at or before the peak, or the first one.
    const int32_t j = std::max<int32_t>(
        static_cast<int32_t>(std::upper_bound(sx, sx + nspline, position(k)) - sx) - 1, 0);
    // g counts the peaks of the span; a peak at or after the last spline
    // point has none.
    const int32_t c = span_end[j] - j;
    int32_t g = 0;
    if (c > 0)
      while (k + g < npeaks && position(k + g) < sx[j + c]) ++g;
    if (g < 1) continue;

    // A lone peak is measured between its two neighbouring spline
    // points, whatever the span.
    const int32_t right = g == 1 ? j + 1 : j + c;
    int32_t a = 0;
    int32_t b = 0;
    bool inside = sample_of(sx[j], length, a) && sample_of(sx[right], length, b);
    std::vector<int32_t> at(static_cast<size_t>(g));
    for (int32_t q = 0; inside && q < g; ++q) inside = sample_of(position(k + q), length, at[q]);
    if (inside) {
      const float area = sum_range(a, b, ysub);
      float hsum = 0.0f;
      for (int32_t q = 0; q < g; ++q) hsum += ysub[at[q]];
      float hwhm = static_cast<float>(0.46 * static_cast<double>(area) / static_cast<double>(hsum));
      // A zero height (or area) would give an infinite (or zero) width
      // and a NaN model.
      if (std::isfinite(hwhm) && hwhm != 0.0f) {
        // The shares in double: area times height overflows a float
        // long before either does.
        std::vector<float> intensity(static_cast<size_t>(g), area);
        if (g > 1)
          for (int32_t q = 0; q < g; ++q)
            intensity[q] = static_cast<float>(static_cast<double>(area) * ysub[at[q]] / hsum);
        // Where the profile dips below the background (a spline point
        // above the peak) the area or a share comes out negative and
        // the bounds would be empty.  The fit then starts from the
        // absolute values, silently: close rings lift the smoothed
        // valleys above the data on ordinary runs, and the fit from
        // there is sound.
        hwhm = std::fabs(hwhm);
        for (float& v : intensity) v = std::fabs(v);
        for (int32_t q = 0; q < g; ++q) {
          float* row = peaks + kPeakColumns * (k + q);
          row[1] = intensity[q];
          row[2] = hwhm;
          row[3] = 0.5f;
        }
        const int32_t result = fitpeakgroup(rec, a, b, k, k + g - 1);
        if (result > 0) iterations += result;
      }
    }
    k += g - 1;
  }
  return iterations;
}

bool prefit_sequence(profile_data& rec, const char* caller) {
  if (!check_splinepoints(rec, 1, caller) || !check_peaks(rec, caller) ||
      !check_samples(rec, caller))
    return false;
  subtractbackground(rec);
  report("Determining Peak-Fitparameters by prefitting each peak. \n");
  prefitpeaks(rec, 1000.0f);
  return true;
}
