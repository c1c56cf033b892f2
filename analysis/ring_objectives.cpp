#include "ring_objectives.h"

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

namespace {

// Offsets farther than this from a ring cannot fall into it even after the
// float rounding of the squared distance; see ringoffsets().
constexpr int64_t kTableMargin = 2;

// Calls visit(k, dx, dy) for every offset whose truncated distance lies in
// [rs, re), in the order dx ascending, dy ascending, as a full scan of
// [-rmax, rmax]^2 would meet them.  Offsets that cannot qualify are skipped
// without changing that order.
template <class Visit>
void scan_rings(int32_t rmax, int32_t rs, int32_t re, Visit&& visit) {
  int64_t reach = rmax;
  // For any sane window the float distance is within a fraction of a pixel
  // of the true one, so rows and columns beyond re + margin never qualify.
  if (re < (1 << 22)) reach = std::min<int64_t>(reach, static_cast<int64_t>(re) + kTableMargin);
  for (int64_t dx = -reach; dx <= reach; ++dx) {
    for (int64_t dy = -reach; dy <= reach; ++dy) {
      const int64_t d2 = dx * dx + dy * dy;
      const float d = std::sqrt(static_cast<float>(d2));
      const int64_t r = static_cast<int64_t>(d);
      if (r >= rs && r < re)
        visit(static_cast<int32_t>(r - rs), static_cast<int32_t>(dx), static_cast<int32_t>(dy));
    }
  }
}

float ring_value(float sum, int32_t count, int32_t ring_start, int32_t k) {
  // An empty ring is 0/0: not a number, which loses every comparison.
  const float mean =
      count > 0 ? sum / static_cast<float>(count) : std::numeric_limits<float>::quiet_NaN();
  return static_cast<float>(
      static_cast<double>(mean) * 2.0 * kPi *
      static_cast<double>(static_cast<float>(ring_start) + static_cast<float>(k)));
}

// The largest value (running maximum from 0.0, strictly greater), optionally
// after the one-sided smoothing ramp: s[k] = sum over d = -W..W of
// value[clamp(k + d)] * (W - d) / W, in increasing d.
float best_value(const float* values, int32_t n, int32_t first, int32_t smoothing) {
  float best = 0.0f;
  if (smoothing < 1) {
    for (int32_t k = std::max(first, 0); k < n; ++k)
      if (values[k] > best) best = values[k];
    return best;
  }
  const int64_t W = smoothing;
  const float fw = static_cast<float>(W);
  const float last = static_cast<float>(n - 1);
  for (int32_t k = std::max(first, 0); k < n; ++k) {
    float s = 0.0f;
    for (int64_t d = -W; d <= W; ++d) {
      const int32_t c =
          static_cast<int32_t>(max_float(min_float(static_cast<float>(k + d), last), 0.0f));
      s += (values[c] * static_cast<float>(W - d)) / fw;
    }
    if (s > best) best = s;
  }
  return best;
}

// Integer pixel coordinate trunc(f) when 0 < trunc(f) < size, else -1.
inline int64_t inner_pixel(float f, int32_t size) {
  return (f >= 1.0f && static_cast<double>(f) < static_cast<double>(size)) ? static_cast<int64_t>(f)
                                                                           : -1;
}

// Sums and counts per ring, with the pixel of entry i given by locate(i).
// Entries are taken j-major (entry j of every ring, then j + 1): each ring
// still sees its own entries in table order, so its float sum is the same,
// and the interleaved tables are read sequentially.
template <class Locate>
std::vector<float> ring_values(const RingWindow& w, Locate&& locate) {
  const int32_t nr = w.nrings;
  std::vector<float> sums(static_cast<size_t>(std::max(nr, 0)), 0.0f);
  std::vector<int32_t> counts(sums.size(), 0);
  int32_t longest = 0;
  for (int32_t k = 0; k < nr; ++k) longest = std::max(longest, w.ring_points[k]);
  const size_t stride = static_cast<size_t>(std::max(w.width, 0));
  for (int32_t j = 0; j < longest; ++j) {
    const size_t base = static_cast<size_t>(j) * static_cast<size_t>(nr);
    for (int32_t k = 0; k < nr; ++k) {
      if (j >= w.ring_points[k]) continue;
      int64_t px, py;
      locate(base + static_cast<size_t>(k), px, py);
      if (px < 0 || py < 0) continue;
      sums[static_cast<size_t>(k)] +=
          w.data[static_cast<size_t>(px) + stride * static_cast<size_t>(py)];
      ++counts[static_cast<size_t>(k)];
    }
  }
  std::vector<float> values(sums.size());
  for (int32_t k = 0; k < nr; ++k)
    values[static_cast<size_t>(k)] =
        ring_value(sums[static_cast<size_t>(k)], counts[static_cast<size_t>(k)], w.ring_start, k);
  return values;
}

double elliptic_merit(const RingWindow& w, const double* x) {
  const float q = static_cast<float>(x[1]);
  const float a = static_cast<float>(x[0]);
  if (std::isnan(q) || std::isnan(a)) return 0.0;
  if (static_cast<double>(q) > 1.2 || q < 1.0f) return 0.0;
  if (!w.data) return 0.0;
  const float t = -a;
  const float c = std::cos(t);
  const float s = std::sin(t);
  const float qc = q * c;
  const float qs = q * s;
  const std::vector<float> values = ring_values(w, [&](size_t i, int64_t& px, int64_t& py) {
    const float ox = static_cast<float>(w.xoffsets[i]);
    const float oy = static_cast<float>(w.yoffsets[i]);
    const int32_t rx = round_to_int(qc * ox - s * oy + w.center_x);
    const int32_t ry = round_to_int(qs * ox + c * oy + w.center_y);
    px = (rx > 0 && rx < w.width) ? rx : -1;
    py = (ry > 0 && ry < w.height) ? ry : -1;
  });
  return static_cast<double>(-best_value(values.data(), w.nrings, 0, 0));
}

// Owns a matrix of alloc_matrix_double for the length of a refinement, also
// when the minimiser throws.
struct Matrix {
  double** m;
  Matrix(int32_t rows, int32_t cols) : m(alloc_matrix_double(rows, cols)) {}
  ~Matrix() { free_matrix_double(m); }
  Matrix(const Matrix&) = delete;
  Matrix& operator=(const Matrix&) = delete;
};

// Downhill simplex in two parameters; returns the best vertex in best.
int32_t run_simplex(Minimize& objective, const double start[2], const double step[2],
                    const double tol[2], double best[2]) {
  Matrix P(3, 2);
  double y[3];
  simplexinit(2, start, step, objective, P.m, y);
  int32_t nfunk = 0;
  downhillsimplex(P.m, y, 2, tol, objective, &nfunk);
  best[0] = P.m[0][0];
  best[1] = P.m[0][1];
  return nfunk;
}

// Powell in two parameters from p with the directions xi0 (row-major 2 x 2).
// Only method 1 comes here, which no script function selects.
int32_t run_powell(Minimize& objective, double p[2], const double xi0[4]) {
  Matrix xi(2, 2);
  xi.m[0][0] = xi0[0];
  xi.m[0][1] = xi0[1];
  xi.m[1][0] = xi0[2];
  xi.m[1][1] = xi0[3];
  int32_t iter = 0;
  double fret = 0.0;
  Powell(p, xi.m, 2, 0.001, &iter, &fret, objective).Run();
  return iter;
}

}  // namespace

RingWindow::RingWindow(const image_data& rec)
    : center_x(static_cast<float>(rec.center_x)),
      center_y(static_cast<float>(rec.center_y)),
      ring_start(rec.ring_start),
      ring_end(rec.ring_end),
      nrings(rec.ring_points && rec.xoffsets && rec.yoffsets ? rec.nrings : 0),
      data(rec.data),
      width(rec.width),
      height(rec.height),
      xoffsets(rec.xoffsets),
      yoffsets(rec.yoffsets),
      ring_points(rec.ring_points),
      smoothing(rec.smoothing) {}

void ringoffsets(image_data* rec, int32_t rmax) {
  const int32_t rs = trunc_to_int(max_float(1.0f, static_cast<float>(rec->ring_start)));
  int32_t re = trunc_to_int(min_float(static_cast<float>(static_cast<int64_t>(rmax) - 1),
                                      static_cast<float>(rec->ring_end)));
  // An inverted window has no rings (rather than a negative table size).
  if (re < rs) re = rs;
  const int32_t nr = re - rs;

  // Count first, so that the tables hold every entry of the outermost ring.
  std::unique_ptr<int32_t[]> points(new int32_t[static_cast<size_t>(nr)]());
  scan_rings(rmax, rs, re, [&](int32_t k, int32_t, int32_t) { ++points[static_cast<size_t>(k)]; });
  int64_t longest = 0;
  for (int32_t k = 0; k < nr; ++k)
    longest = std::max<int64_t>(longest, points[static_cast<size_t>(k)]);
  const int64_t capacity = longest * nr;
  if (capacity > std::numeric_limits<int32_t>::max())
    throw std::length_error("the ring tables would exceed 2^31 entries");
  std::unique_ptr<int32_t[]> xs(new int32_t[static_cast<size_t>(capacity)]());
  std::unique_ptr<int32_t[]> ys(new int32_t[static_cast<size_t>(capacity)]());
  std::unique_ptr<int32_t[]> filled(new int32_t[static_cast<size_t>(nr)]());
  scan_rings(rmax, rs, re, [&](int32_t k, int32_t dx, int32_t dy) {
    const size_t i =
        static_cast<size_t>(k) +
        static_cast<size_t>(filled[static_cast<size_t>(k)]++) * static_cast<size_t>(nr);
    xs[i] = dx;
    ys[i] = dy;
  });

  rec->ring_start = rs;
  rec->ring_end = re;
  delete[] rec->xoffsets;
  delete[] rec->yoffsets;
  delete[] rec->ring_points;
  rec->xoffsets = xs.release();
  rec->yoffsets = ys.release();
  rec->ring_points = points.release();
  rec->xoffsets_capacity = static_cast<int32_t>(capacity);
  rec->yoffsets_capacity = static_cast<int32_t>(capacity);
  rec->nrings = nr;
}

double maxazimuthalintcenter::value(const double* x, int32_t) {
  const float X = static_cast<float>(x[0]);
  const float Y = static_cast<float>(x[1]);
  if (std::isnan(X) || std::isnan(Y)) return 0.0;
  if (X > w_.center_x + 50.0 || w_.center_x - 50.0 > X || Y > w_.center_y + 50.0 ||
      w_.center_y - 50.0 > Y)
    return 0.0;
  if (!w_.data) return 0.0;
  const std::vector<float> values = ring_values(w_, [&](size_t i, int64_t& px, int64_t& py) {
    px = inner_pixel(static_cast<float>(w_.xoffsets[i]) + X, w_.width);
    py = inner_pixel(static_cast<float>(w_.yoffsets[i]) + Y, w_.height);
  });
  return static_cast<double>(-best_value(values.data(), w_.nrings, 0, w_.smoothing));
}

double maxazimuthalintcenter_sektor::value(const double* x, int32_t) {
  const float X = static_cast<float>(x[0]);
  const float Y = static_cast<float>(x[1]);
  if (std::isnan(X) || std::isnan(Y)) return 0.0;
  if (X > w_.center_x + 100.0 || w_.center_x - 100.0 > X || Y > w_.center_y + 100.0 ||
      w_.center_y - 100.0 > Y)
    return 0.0;
  const float fw = static_cast<float>(w_.width);
  const float fh = static_cast<float>(w_.height);
  const int32_t nR = trunc_to_int(min_float(max_float(fw - X, X), max_float(fh - Y, Y)) - 1.0f);
  if (nR <= 0 || !w_.data) return -0.0;

  // Raw sums of every pixel, masked ones included, in column order.
  std::vector<float> sums(static_cast<size_t>(nR), 0.0f);
  const int32_t h = w_.height;
  std::vector<float> dy2(static_cast<size_t>(std::max(h, 0)));
  for (int32_t y = 0; y < h; ++y) {
    const float dy = static_cast<float>(y) - Y;
    dy2[static_cast<size_t>(y)] = dy * dy;
  }
  std::vector<int32_t> bins(dy2.size());
  visit_columns(w_.data, w_.width, w_.height, [&](int32_t xcol, const float* column) {
    const float dx = static_cast<float>(xcol) - X;
    circle_bins(dx * dx, dy2.data(), column, h, false, bins.data());
    accumulate_column(column, bins.data(), h, nR, sums.data(), nullptr);
  });
  return static_cast<double>(-best_value(sums.data(), nR, nR / 4, w_.smoothing));
}

double maxazimuthalintell::value(const double* x, int32_t) {
  return elliptic_merit(w_, x);
}

double maxazimuthalintell_sektor::value(const double* x, int32_t) {
  return elliptic_merit(w_, x);
}

int32_t max_smoothing(const image_data& rec) {
  return rec.ring_points ? std::max(rec.nrings, 0) : 0;
}

bool check_smoothing(const image_data& rec) {
  if (rec.smoothing <= max_smoothing(rec)) return true;
  reportf("ERROR! The smoothing of %d rings is wider than the ring window of %d rings. \n",
          rec.smoothing, max_smoothing(rec));
  return false;
}

bool optimizecenter(image_data* rec, int32_t method, int32_t sektor) {
  if (!check_smoothing(*rec)) return false;
  maxazimuthalintcenter rings(*rec);
  maxazimuthalintcenter_sektor whole(*rec);
  Minimize& objective = sektor == 1 ? static_cast<Minimize&>(whole) : static_cast<Minimize&>(rings);
  double p[2] = {static_cast<double>(static_cast<int64_t>(rec->center_x) - 3),
                 static_cast<double>(static_cast<int64_t>(rec->center_y) - 3)};
  int32_t steps = 0;
  if (method == 1) {
    const double xi[4] = {1.0, 0.0, 0.0, 1.0};
    steps = run_powell(objective, p, xi);
  } else {
    const double step[2] = {6.0, 6.0};
    const double tol[2] = {0.5, 0.5};
    const double start[2] = {p[0], p[1]};
    steps = run_simplex(objective, start, step, tol, p);
  }
  int32_t cx = 0;
  int32_t cy = 0;
  if (!float_to_int(p[0], cx) || !float_to_int(p[1], cy)) {
    report("ERROR in optimizecenter. The refinement found no usable center! \n");
    return false;
  }
  rec->center_x = cx;
  rec->center_y = cy;
  if (method == 1)
    reportf(
        "Center has been refined in %d steps using the Powell algorithm. New center is: (%d, %d) "
        "\n",
        steps, cx, cy);
  else
    reportf(
        "Center has been refined in %d steps using downhill simplex. New center is: (%d, %d) \n",
        steps, cx, cy);
  return true;
}

bool optimizeellipticity(image_data* rec, int32_t method, int32_t sektor) {
  maxazimuthalintell rings(*rec);
  maxazimuthalintell_sektor sectors(*rec);
  Minimize& objective =
      sektor == 1 ? static_cast<Minimize&>(sectors) : static_cast<Minimize&>(rings);
  double p[2] = {static_cast<double>(rec->angle), static_cast<double>(rec->axis_ratio)};
  int32_t steps = 0;
  if (method == 1) {
    // Direction 0 changes the ratio by 0.0005, direction 1 the angle by pi/8.
    const double xi[4] = {0.0, kPi / 8, 0.0005, 0.0};
    steps = run_powell(objective, p, xi);
  } else {
    const double step[2] = {kPi / 4, 0.05};
    const double tol[2] = {0.1, 0.005};
    const double start[2] = {p[0], p[1]};
    steps = run_simplex(objective, start, step, tol, p);
  }
  float angle = static_cast<float>(p[0]);
  float ratio = static_cast<float>(p[1]);
  if (!normalise_ellipse(ratio, angle)) {
    report("ERROR in optimizeellipticity. The refinement found no usable ellipse! \n");
    return false;
  }
  rec->angle = angle;
  rec->axis_ratio = ratio;
  const char* how = method == 1 ? "the Powell algorithm" : "downhill simplex";
  reportf(
      "Ellipticity has been refined in %d steps using %s. a/b=%g, angle of major axis=%g \xB0. \n",
      steps, how, static_cast<double>(ratio), static_cast<double>(angle) / kPi * 180.0);
  return true;
}
