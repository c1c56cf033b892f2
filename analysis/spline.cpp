#include "spline.h"

#include "numeric.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// The end slope of the three-point formula, pulled back to 0 when it points
// against the end interval and limited to three times the end slope when the
// data turn, so that the end cubic does not overshoot.
float end_slope(float d, float del_end, float del_next) {
  if (d * del_end <= 0.0f) return 0.0f;
  if (del_end * del_next < 0.0f) {
    float dmax = static_cast<float>(3.0 * static_cast<double>(del_end));
    if (std::fabs(d) > std::fabs(dmax)) return dmax;
  }
  return d;
}
}  // namespace

void pchip_coefficients(int32_t n, const float* xs, const float* ys, float* c) {
  if (n < 1) return;
  for (int32_t k = 0; k < n; ++k) {
    c[4 * k] = ys[k];
    c[4 * k + 1] = 0.0f;
    c[4 * k + 2] = 0.0f;
    c[4 * k + 3] = 0.0f;
  }
  if (n == 1) return;
  std::vector<float> h(static_cast<size_t>(n - 1));
  std::vector<float> del(static_cast<size_t>(n - 1));
  for (int32_t k = 0; k < n - 1; ++k) {
    h[k] = xs[k + 1] - xs[k];
    del[k] = (ys[k + 1] - ys[k]) / h[k];
  }
  if (n == 2) {
    c[1] = del[0];
    c[5] = del[0];
    return;
  }

  std::vector<float> d(static_cast<size_t>(n));
  {
    float hsum = h[0] + h[1];
    float first = ((h[0] + hsum) / hsum) * del[0] + (-h[0] / hsum) * del[1];
    d[0] = end_slope(first, del[0], del[1]);
  }
  for (int32_t k = 1; k < n - 1; ++k) {
    if (del[k - 1] * del[k] <= 0.0f) {
      d[k] = 0.0f;
      continue;
    }
    // Brodlie's weighted harmonic mean of the neighbouring slopes.
    float hsum = h[k - 1] + h[k];
    float w1 = (hsum + h[k - 1]) / (3.0f * hsum);
    float w2 = (hsum + h[k]) / (3.0f * hsum);
    float dmax = max_float(std::fabs(del[k - 1]), std::fabs(del[k]));
    float dmin = min_float(std::fabs(del[k - 1]), std::fabs(del[k]));
    d[k] = dmin / (w1 * del[k - 1] / dmax + w2 * del[k] / dmax);
  }
  {
    float ha = h[n - 3];
    float hb = h[n - 2];
    float hsum = ha + hb;
    float last = (-hb / hsum) * del[n - 3] + ((hb + hsum) / hsum) * del[n - 2];
    d[n - 1] = end_slope(last, del[n - 2], del[n - 3]);
  }

  for (int32_t k = 0; k < n; ++k) c[4 * k + 1] = d[k];
  for (int32_t k = 0; k < n - 1; ++k) {
    float e = static_cast<float>(static_cast<double>(d[k] + d[k + 1]) -
                                 2.0 * static_cast<double>(del[k]));
    c[4 * k + 2] = static_cast<float>(2.0 * static_cast<double>(del[k] - d[k] - e) /
                                      static_cast<double>(h[k]));
    c[4 * k + 3] =
        static_cast<float>(static_cast<double>(e / h[k]) * (6.0 / static_cast<double>(h[k])));
  }
  const int32_t last = n - 1;
  c[4 * last + 2] = c[4 * (last - 1) + 2] + h[last - 1] * c[4 * (last - 1) + 3];
  c[4 * last + 3] = c[4 * (last - 1) + 3];
}

void subtractbackground(profile_data& rec) {
  if (!check_splinepoints(rec, 1, "subtractbackground")) return;
  const int32_t length = rec.length;
  const int32_t n = rec.nsplinepoints;
  const int32_t last = n - 1;
  const float* sx = rec.splinex.get();
  const float* x = rec.x.get();
  const float* y = rec.y.get();

  std::vector<float> c(4 * static_cast<size_t>(n));
  pchip_coefficients(n, sx, rec.spliney.get(), c.data());
  auto background = std::make_unique<float[]>(static_cast<size_t>(length));
  auto ysub = std::make_unique<float[]>(static_cast<size_t>(length));

  // Every pass is bounded to [0, length): positions come from scripts.
  for (int32_t i = 0; i < length && sx[0] > static_cast<float>(i); ++i) {
    background[i] = 0.0f;
    ysub[i] = 0.0f;
  }
  const float stop = min_float(static_cast<float>(length), sx[last] + 1.0f);
  for (int32_t i = std::max(0, trunc_to_int(sx[0] - 1.0f));
       i < length && static_cast<float>(i) < stop; ++i) {
    // The last node at or before the sample (the first node before it):
    // a binary search, as the nodes increase strictly.
    const int32_t j =
        std::max<int32_t>(static_cast<int32_t>(std::upper_bound(sx, sx + n, x[i]) - sx) - 1, 0);
    const double t = static_cast<double>(x[i] - sx[j]);
    const double value =
        static_cast<double>(c[4 * j]) +
        t * (static_cast<double>(c[4 * j + 1]) + t * (static_cast<double>(c[4 * j + 2]) / 2.0 +
                                                      t * static_cast<double>(c[4 * j + 3]) / 6.0));
    background[i] = static_cast<float>(value);
    ysub[i] = y[i] - background[i];
  }
  for (int32_t i = std::max(0, trunc_to_int(sx[last] + 1.0f)); i < length; ++i) {
    background[i] = 0.0f;
    ysub[i] = 0.0f;
  }
  rec.background = std::move(background);
  rec.ysub = std::move(ysub);
}

int32_t spline_locate(int32_t n, const float* xs, float xq, int32_t& cursor) {
  if (n < 1) return 0;
  // 64-bit indices: the doubling steps may run past n before the clamp.
  int64_t lo = std::min<int64_t>(std::max<int32_t>(cursor, 0), n - 1);
  int64_t hi = lo + 1;
  int64_t step = 1;
  const bool increasing = xs[n - 1] > xs[0];
  if (increasing) {
    while (lo > 0 && xs[lo] > xq) {
      hi = lo;
      lo -= step;
      step *= 2;
    }
    if (lo < 0) lo = 0;
    while (hi < n && xq >= xs[hi]) {
      lo = hi;
      hi += step;
      step *= 2;
    }
  } else {
    while (lo > 0 && xs[lo] < xq) {
      hi = lo;
      lo -= step;
      step *= 2;
    }
    if (lo < 0) lo = 0;
    while (hi < n && xq <= xs[hi]) {
      lo = hi;
      hi += step;
      step *= 2;
    }
  }
  if (hi > n) hi = n;
  for (int64_t mid = (lo + hi) / 2; mid != lo; mid = (lo + hi) / 2) {
    bool above = increasing ? xq >= xs[mid] : xq <= xs[mid];
    if (above)
      lo = mid;
    else
      hi = mid;
  }
  cursor = static_cast<int32_t>(lo);
  return cursor;
}

int32_t spline_evaluate(int32_t order, int32_t n, const float* xs, const float* c, int32_t m,
                        const float* xq, float* out) {
  if (n < 1 || m < 1) return 0;
  int32_t cursor = 0;
  for (int32_t k = 0; k < m; ++k) {
    const int32_t j = spline_locate(n, xs, xq[k], cursor);
    const float t = xq[k] - xs[j];
    const float* cj = c + 4 * static_cast<size_t>(j);
    const double td = t;
    switch (order) {
      case 0:
        out[k] = static_cast<float>(cj[0] +
                                    td * (cj[1] + td * (cj[2] * 0.5 + td * (cj[3] * 0.1666667))));
        break;
      case 1:
        out[k] = static_cast<float>(cj[1] + td * (cj[2] + td * (cj[3] * 0.5)));
        break;
      case 2:
        out[k] = cj[2] + t * cj[3];
        break;
      case 3:
        out[k] = cj[3];
        break;
      default:
        out[k] = 0.0f;
        break;
    }
  }
  return m;
}
