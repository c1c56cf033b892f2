#include "centre.h"

#include "column_order.h"
#include "messages.h"
#include "numeric.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "levmar.h"

namespace {

float offset(int64_t a, int32_t centre) {
  return static_cast<float>(a - static_cast<int64_t>(centre));
}

// The three running sums of a centre of gravity, in visiting order.
struct Gravity {
  float sx = 0.0f;
  float sy = 0.0f;
  float s = 0.0f;
};

bool window_ok(const image_data* rec, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
               const char* name) {
  if (!rec->data) {
    reportf("ERROR in %s. No image_data loaded. \n", name);
    return false;
  }
  if (!(x0 >= 0 && y0 >= 0 && x1 <= rec->width && y1 <= rec->height)) {
    reportf("ERROR in %s. One of the corners lies outside of the image! \n", name);
    return false;
  }
  return true;
}

bool store_centre(image_data* rec, const Gravity& g, const char* name) {
  int32_t cx = 0;
  int32_t cy = 0;
  // No pixel above the threshold (s == 0), or weights of both signs that
  // cancel, leave no centre to store.
  if (g.s == 0.0f || !float_to_int(g.sx / g.s, cx) || !float_to_int(g.sy / g.s, cy)) {
    reportf("ERROR in %s. The center of gravity is undefined! \n", name);
    return false;
  }
  rec->center_x = cx;
  rec->center_y = cy;
  return true;
}

std::vector<float> row_numbers(int32_t y0, int32_t y1) {
  std::vector<float> fy(static_cast<size_t>(std::max(y1 - y0, 0)));
  for (int32_t y = y0; y < y1; ++y) fy[static_cast<size_t>(y - y0)] = static_cast<float>(y);
  return fy;
}

// Adds a column's passing pixels.  A pixel that fails adds +0.0 to each sum,
// which leaves a sum that started at +0.0 bit for bit unchanged, so the
// branch-free form equals the conditional one.
void add_column(Gravity& g, float fx, const float* fy, const float* values, const bool* pass,
                size_t n) {
  float sx = g.sx, sy = g.sy, s = g.s;
  for (size_t i = 0; i < n; ++i) {
    const float v = pass[i] ? values[i] : 0.0f;
    sx += fx * v;
    sy += fy[i] * v;
    s += v;
  }
  g.sx = sx;
  g.sy = sy;
  g.s = s;
}

// The loop of "while below 0 add pi, while at or above pi subtract pi", each
// step in double rounded to float.  Huge values would make it run for ages
// (or forever, where adding pi no longer changes the float): they are
// reduced in closed form first, which only the last few steps refine.
float wrap_angle(float a) {
  if (std::fabs(a) > 1024.0f) {
    double r = std::fmod(static_cast<double>(a), kPi);
    if (r < 0.0) r += kPi;
    a = static_cast<float>(r);
  }
  while (a < 0.0f) a = static_cast<float>(static_cast<double>(a) + kPi);
  while (static_cast<double>(a) >= kPi) a = static_cast<float>(static_cast<double>(a) - kPi);
  return a;
}

}  // namespace

bool normalise_ellipse(float& axis_ratio, float& angle) {
  float q = axis_ratio;
  float a = angle;
  if (!std::isfinite(q) || !std::isfinite(a) || !(q > 0.0f)) return false;
  if (q < 1.0f) {
    q = 1.0f / q;
    a = static_cast<float>(static_cast<double>(a) + kHalfPi);
  }
  if (!std::isfinite(q) || !std::isfinite(a)) return false;
  axis_ratio = q;
  angle = wrap_angle(a);
  return true;
}

bool findcenterofg(image_data* rec, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                   float threshold) {
  static const char name[] = "findcenterofg";
  if (!window_ok(rec, x0, x1, y0, y1, name)) return false;
  Gravity g;
  const std::vector<float> fy = row_numbers(y0, y1);
  std::unique_ptr<bool[]> pass(new bool[fy.size() + 1]);
  visit_columns(rec->data, rec->width, x0, x1, y0, y1, [&](int32_t x, const float* column) {
    for (size_t i = 0; i < fy.size(); ++i) pass[i] = column[i] > threshold;
    add_column(g, static_cast<float>(x), fy.data(), column, pass.get(), fy.size());
  });
  return store_centre(rec, g, name);
}

bool findcenterofg_beamstop(image_data* rec, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                            float threshold) {
  static const char name[] = "findcenterofg_beamstop";
  if (!window_ok(rec, x0, x1, y0, y1, name)) return false;
  const int32_t w = rec->width;
  const int32_t h = rec->height;
  // The point mirror through the centre, clamped to the pattern.
  auto mirror = [](int32_t c, int32_t v, int32_t size) {
    const float m = static_cast<float>(2 * static_cast<int64_t>(c) - v);
    return static_cast<int32_t>(max_float(0.0f, min_float(m, static_cast<float>(size - 1))));
  };
  const std::vector<float> fy = row_numbers(y0, y1);
  std::vector<int32_t> mirror_row(fy.size());
  for (int32_t y = y0; y < y1; ++y)
    mirror_row[static_cast<size_t>(y - y0)] = mirror(rec->center_y, y, h);

  // The mirror columns of a strip form a strip of their own (reversed), so
  // they are gathered once per strip in row order, like the strip itself.
  const int32_t strip = strip_width(x0, x1);
  std::vector<int32_t> mirror_cols(static_cast<size_t>(strip));
  const size_t pitch = column_pitch(static_cast<size_t>(h));
  std::vector<float> mirrors(fy.empty() ? 0 : static_cast<size_t>(strip) * pitch);
  std::unique_ptr<bool[]> pass(new bool[fy.size() + 1]);
  bool contiguous = false;
  Gravity g;
  visit_columns(rec->data, w, x0, x1, y0, y1, [&](int32_t x, const float* column) {
    const int32_t c = (x - x0) % strip;
    const int32_t n = std::min<int32_t>(strip, x1 - (x - c));
    if (c == 0) {
      for (int32_t i = 0; i < n; ++i)
        mirror_cols[static_cast<size_t>(i)] = mirror(rec->center_x, x + i, w);
      // Unclamped, the mirror columns are one block in reverse order:
      // copy it like a strip.  Otherwise gather them one by one.
      const int32_t last = mirror_cols[static_cast<size_t>(n - 1)];
      contiguous = mirror_cols[0] - last == n - 1 &&
                   2 * static_cast<int64_t>(rec->center_x) - x == mirror_cols[0] &&
                   2 * static_cast<int64_t>(rec->center_x) - (x + n - 1) == last;
      if (contiguous)
        copy_strip(rec->data + last, static_cast<size_t>(w), n, static_cast<size_t>(h),
                   mirrors.data(), pitch);
      else
        gather_columns(rec->data, w, mirror_cols.data(), n, 0, h, mirrors.data(), pitch);
    }
    const size_t slot = static_cast<size_t>(contiguous ? n - 1 - c : c);
    const float* mirror_column = mirrors.data() + slot * pitch;
    for (size_t i = 0; i < fy.size(); ++i)
      pass[i] = column[i] > threshold && mirror_column[mirror_row[i]] != 0.0f;
    add_column(g, static_cast<float>(x), fy.data(), column, pass.get(), fy.size());
  });
  return store_centre(rec, g, name);
}

bool prefindcenter_whole(image_data* rec) {
  if (!rec->data) {
    report("ERROR in prefindcenter_whole. No image_data loaded. \n");
    return false;
  }
  // The maximum does not depend on the visiting order: row order is fine.
  float top = 0.0f;
  const size_t n =
      static_cast<size_t>(std::max(rec->width, 0)) * static_cast<size_t>(std::max(rec->height, 0));
  for (size_t i = 0; i < n; ++i)
    if (rec->data[i] > top) top = rec->data[i];
  const float threshold = static_cast<float>(static_cast<double>(top) * 0.1);
  if (!findcenterofg(rec, 0, rec->width, 0, rec->height, threshold)) return false;

  // The largest window symmetric about that centre.  For an odd size and a
  // centre at size/2 the lower edge computes to -1: clamp it to the image.
  auto window = [](int32_t c, int32_t size, int32_t& lo, int32_t& hi) {
    if (c >= size / 2) {
      lo = static_cast<int32_t>(std::max<int64_t>(2 * static_cast<int64_t>(c) - size, 0));
      hi = size;
    } else {
      lo = 0;
      hi = 2 * c;
    }
  };
  int32_t x0, x1, y0, y1;
  window(rec->center_x, rec->width, x0, x1);
  window(rec->center_y, rec->height, y0, y1);
  findcenterofg_beamstop(rec, x0, x1, y0, y1, threshold);
  report("Guessing the center point using the center of gravity:");
  reportf("(%d, %d) \n", rec->center_x, rec->center_y);
  return true;
}

void ellipseradius(float* p, float* hx, int m, int n, void* adata) {
  (void)m;
  const float* a = static_cast<const float*>(adata);
  for (int i = 0; i < n; ++i) {
    const float phi = static_cast<float>((static_cast<double>(a[i]) + 0.5) * 2.0 * kPi /
                                         static_cast<double>(a[n]));
    const float q = 1.0f / p[1];
    const float c = std::cos(-p[2] + phi);
    hx[i] = 2.0f * p[0] * q / (q + 1.0f) /
            std::pow(1.0f - (1.0f - powi_float(q, 2)) * powi_float(c, 2), 0.5f);
  }
}

bool azimuthalint_guess_elliptic(image_data* rec, int32_t start, int32_t end, int32_t nsect) {
  if (!(start > 0 && end > start && nsect > 0)) {
    report("ERROR in azimuthalint_guess_elliptic. 0<start<end has to be fullfilled! \n");
    return false;
  }
  const int32_t ring = end - start;
  const int64_t total = static_cast<int64_t>(nsect) * ring;
  if (total > std::numeric_limits<int32_t>::max())
    throw std::length_error(
        "the ellipse prefit would need more sector bins than an array can hold");
  const int32_t nbins = static_cast<int32_t>(total);
  const size_t sectors = static_cast<size_t>(nsect);

  // Bins: sector s, radius r at (r - start) + s*ring; only start < r < end.
  std::vector<float> sums(static_cast<size_t>(nbins));
  std::vector<int32_t> counts(static_cast<size_t>(nbins));
  const int32_t h = std::max(rec->height, 0);
  std::vector<float> dy(static_cast<size_t>(h)), dy2(static_cast<size_t>(h));
  for (int32_t y = 0; y < h; ++y) {
    dy[static_cast<size_t>(y)] = offset(y, rec->center_y);
    dy2[static_cast<size_t>(y)] = dy[static_cast<size_t>(y)] * dy[static_cast<size_t>(y)];
  }
  std::vector<int32_t> bins(static_cast<size_t>(h));
  visit_columns(rec->data, rec->width, rec->height, [&](int32_t x, const float* column) {
    const float dx = offset(x, rec->center_x);
    circle_bins(dx * dx, dy2.data(), column, h, true, bins.data());
    for (int32_t y = 0; y < h; ++y) {
      const int32_t r = bins[static_cast<size_t>(y)];
      if (!(start < r && r < end)) {
        bins[static_cast<size_t>(y)] = -1;
        continue;
      }
      float phi = std::atan2(-dy[static_cast<size_t>(y)], dx);
      if (phi < 0.0f) phi = static_cast<float>(static_cast<double>(phi) + kTwoPi);
      const float f =
          static_cast<float>(static_cast<double>(phi) / kTwoPi * static_cast<double>(nsect));
      // An angle that rounds up to 2 pi belongs to the last sector.
      const int32_t s = std::min(static_cast<int32_t>(f), nsect - 1);
      bins[static_cast<size_t>(y)] = (r - start) + s * ring;
    }
    accumulate_column(column, bins.data(), h, nbins, sums.data(), counts.data());
  });

  // The strongest ring of each sector (integral mode).
  std::vector<float> peak_value(sectors, 0.0f), peak_radius(sectors, 0.0f);
  for (size_t s = 0; s < sectors; ++s) {
    for (int32_t k = 0; k < ring; ++k) {
      const size_t i = static_cast<size_t>(k) + s * static_cast<size_t>(ring);
      const float v =
          sums[i] / max_float(static_cast<float>(counts[i]), 1.0f) * static_cast<float>(k + start);
      if (v > peak_value[s]) {
        peak_value[s] = v;
        peak_radius[s] = static_cast<float>(k + start);
      }
    }
  }
  float total_peak = 0.0f;
  for (float v : peak_value) total_peak += v;
  const float mean_peak = total_peak / static_cast<float>(nsect);
  const float middle = static_cast<float>(
      (static_cast<int64_t>(rec->ring_start) + static_cast<int64_t>(rec->ring_end)) / 2);

  // Keep the sectors whose ring is neither weak nor far outside the window.
  std::vector<float> radii, adata;
  int32_t widest = 0;
  float widest_radius = 0.0f;
  for (size_t s = 0; s < sectors; ++s) {
    if (0.3 * static_cast<double>(mean_peak) > static_cast<double>(peak_value[s])) continue;
    if (static_cast<double>(peak_radius[s]) > static_cast<double>(middle) * 1.3) continue;
    radii.push_back(peak_radius[s]);
    adata.push_back(static_cast<float>(s));
    if (peak_radius[s] > widest_radius) {
      widest_radius = peak_radius[s];
      widest = static_cast<int32_t>(s);
    }
  }
  const int nkeep = static_cast<int>(radii.size());
  adata.push_back(static_cast<float>(nsect));

  float p[3];
  p[0] = middle;
  p[1] = 1.05f;
  p[2] = wrap_angle(
      static_cast<float>(kPi - static_cast<double>(2 * widest) * kPi / static_cast<double>(nsect)));
  float opts[LM_OPTS_SZ] = {1e-3f, 1e-15f, 1e-15f, 1e-20f, 1e-6f};
  float info[LM_INFO_SZ] = {};
  // Fewer measurements than parameters: the solver would refuse them.
  const int steps = nkeep >= 3 ? slevmar_dif(ellipseradius, p, radii.data(), 3, nkeep, 1000, opts,
                                             info, nullptr, nullptr, adata.data())
                               : LM_ERROR;

  float ratio = p[1];
  float angle = p[2];
  const bool usable = normalise_ellipse(ratio, angle);
  if (usable) {
    rec->angle = angle;
    rec->axis_ratio = ratio;
  }
  if (steps != LM_ERROR && usable)
    reportf("Ellipticity has been prefitted in %d steps. a/b=%g, angle of major axis=%g \xB0. \n",
            steps, static_cast<double>(rec->axis_ratio),
            static_cast<double>(rec->angle) / kPi * 180.0);
  else
    report("Error whileprefitting ellipticity. \n");
  delete[] rec->profile;
  rec->profile = nullptr;
  rec->profile_length = 0;
  return usable;
}
