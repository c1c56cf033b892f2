#include "centre_functions.h"

#include "azimuthal.h"
#include "centre.h"
#include "kelpotools.h"
#include "messages.h"
#include "numeric.h"
#include "pattern_frame.h"
#include "ring_objectives.h"

#include <cmath>

namespace {

// The minimisers of the script functions: the downhill simplex on the
// full-ring objective.
constexpr int32_t kSimplex = 0;
constexpr int32_t kFullRing = 0;

// Rings closer to the centre than this are the central beam's halo.
constexpr int32_t kFirstRingRadius = 100;

// The ring search's bin count (maxradius mode 0) about a centre inside the
// image is smallest about its middle; when even that is negative the image
// is too small for it.  Checked before anything is written or allocated.
bool fits_a_ring_search(image_data& rec) {
  if (rec.width < 1 || rec.height < 1) return false;
  rec.center_x = rec.width / 2;
  rec.center_y = rec.height / 2;
  return maxradius(&rec, 0) >= 0;
}

}  // namespace

void GuessCenter(DM_ImageToken image, float* x, float* y, float* radius) {
  run_pattern_frame(image, [&](image_data& rec) {
    if (!fits_a_ring_search(rec)) {
      report_small_image(rec, "GuessCenter", "a ring search");
      return;
    }
    if (!prefindcenter_whole(&rec)) return;
    findring(&rec, kFirstRingRadius, maxradius(&rec, 0));
    int32_t r = rec.peak_radius;
    int32_t inside = maxradius(&rec, 1);
    if (static_cast<float>(r) < 110.0f || r > inside) r = inside / 2;
    *radius = static_cast<float>(r);
    *x = static_cast<float>(rec.center_x);
    *y = static_cast<float>(rec.center_y);
  });
}

void RefineCenter(DM_ImageToken image, float* x, float* y, float* radius) {
  run_pattern_frame(image, [&](image_data& rec) {
    if (!take_center(rec, *x, *y)) return;
    int32_t n = maxradius(&rec, 1) - 5;
    if (n <= 0) {
      DM_result("ERROR! Probably wrong image selected. the results are  \n");
      return;
    }
    findring(&rec, kFirstRingRadius, n);
    ringoffsets(&rec, n);
    optimizecenter(&rec, kSimplex, kFullRing);
    *x = static_cast<float>(rec.center_x);
    *y = static_cast<float>(rec.center_y);
    findring(&rec, kFirstRingRadius, n);
    *radius = static_cast<float>(rec.peak_radius);
  });
}

void RefineCenterEllipticity(DM_ImageToken image, float* x, float* y, float* angle, float* ratio,
                             float* radius, float smoothing) {
  run_pattern_frame(image, [&](image_data& rec) {
    if (!take_center(rec, *x, *y)) return;
    int32_t width = 0;
    if (!float_to_int(smoothing, width)) {
      DM_result("ERROR! The smoothing is not a valid number. \n");
      return;
    }
    rec.smoothing = width;
    rec.angle = static_cast<float>(static_cast<double>(*angle) * kPi / 180.0);
    rec.axis_ratio = *ratio;
    // Start from a circle unless the caller's ellipse is plausible (a
    // start angle that is not a number is no ellipse either).
    double start_ratio = rec.axis_ratio;
    if (!(0.5 < start_ratio && start_ratio < 1.5) || !std::isfinite(rec.angle)) {
      rec.angle = 0.0f;
      rec.axis_ratio = 1.0f;
    }
    int32_t n = maxradius(&rec, 1) - 5;
    if (n <= 0) {
      DM_result("ERROR! Probably wrong image selected. \n");
      return;
    }
    findring(&rec, kFirstRingRadius, n);
    ringoffsets(&rec, n);
    if (!check_smoothing(rec)) return;
    azimuthalint_guess_elliptic(&rec, rec.ring_start, rec.ring_end, 20);
    if (static_cast<double>(rec.axis_ratio) > 1.2) rec.axis_ratio = 1.0f;
    optimizecenter(&rec, kSimplex, kFullRing);
    optimizeellipticity(&rec, kSimplex, kFullRing);
    *x = static_cast<float>(rec.center_x);
    *y = static_cast<float>(rec.center_y);
    *ratio = rec.axis_ratio;
    *angle = static_cast<float>(static_cast<double>(rec.angle * 180.0f) / kPi);
    findring(&rec, kFirstRingRadius, n);
    *radius = static_cast<float>(rec.peak_radius);
  });
}
