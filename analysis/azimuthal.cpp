#include "azimuthal.h"

#include "column_order.h"
#include "numeric.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

int32_t clamp_int32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Sums and counts of one kernel call.  The new profile becomes the record's
// only once it is complete, so a failed allocation changes nothing.
struct Binning {
  int32_t nbins;
  std::unique_ptr<float[]> sums;
  std::unique_ptr<int32_t[]> counts;

  explicit Binning(int32_t n) : nbins(n) {
    if (n < 0) throw std::length_error("a profile of a negative number of bins");
    sums.reset(new float[static_cast<size_t>(n)]());
    counts.reset(new int32_t[static_cast<size_t>(n)]());
  }
};

// Divides bins from..nbins-1 by their counts (at least 1) and, in integral
// mode, multiplies by the bin's radius.
void normalise(Binning& b, int32_t from, int32_t average) {
  for (int32_t k = std::max(from, 0); k < b.nbins; ++k) {
    float v = b.sums[k] / max_float(static_cast<float>(b.counts[k]), 1.0f);
    if (average != 1) v = v * static_cast<float>(k);
    b.sums[k] = v;
  }
}

void store_profile(image_data* rec, Binning& b) {
  delete[] rec->profile;
  rec->profile = b.sums.release();
  rec->profile_length = b.nbins;
}

// First bin of the strictly largest value from `from` on, starting at 0.0.
void record_peak(image_data* rec, int32_t from) {
  float best = 0.0f;
  int32_t at = 0;
  for (int32_t k = std::max(from, 0); k < rec->profile_length; ++k) {
    if (rec->profile[k] > best) {
      best = rec->profile[k];
      at = k;
    }
  }
  rec->peak_radius = at;
  rec->peak_value = trunc_to_int(best);
}

float offset(int64_t a, int32_t centre) {
  return static_cast<float>(a - static_cast<int64_t>(centre));
}

// Per-row parts of the radius, formed exactly as the per-pixel expressions
// would form them (the same float products), so hoisting changes no bit.
std::vector<float> row_squares(const image_data* rec) {
  std::vector<float> dy2(static_cast<size_t>(std::max(rec->height, 0)));
  for (int32_t y = 0; y < rec->height; ++y) {
    const float dy = offset(y, rec->center_y);
    dy2[static_cast<size_t>(y)] = dy * dy;
  }
  return dy2;
}

// The elliptic radius's coefficients: u = (c/q)*dx + (s/q)*dy, v = (-s)*dx + c*dy.
struct EllipseCoefficients {
  float cq, sq, ms, c;
  explicit EllipseCoefficients(const image_data* rec) {
    const float q = rec->axis_ratio;
    const float t = -rec->angle;
    c = std::cos(t);
    const float s = std::sin(t);
    cq = c / q;
    sq = s / q;
    ms = -s;
  }
};

// Sector membership of a pixel, equal to testing sector_angle() against the
// bounds, but mostly without the arctangent.  Within each branch of
// sector_angle() the angle grows with the quotient q = -dy/dx, so comparing
// q with tan(bound -/+ margin) settles every pixel whose angle lies more than
// the margin from a bound; only the rest (and the centre column) take the
// exact path.  The margin is thousands of times the error of atanf and the
// float roundings, so both routes agree on every pixel.
class SectorTest {
 public:
  SectorTest(float a0, float a1) : a0_(a0), a1_(a1) {
    kind_ = a1 > a0 ? Kind::kPlain : (a0 > a1 ? Kind::kWrap : Kind::kNone);
    const double offsets[3] = {0.0, kTwoPi, kPi};
    const float bounds[2] = {a0, a1};
    for (int b = 0; b < 3; ++b) {
      for (int e = 0; e < 2; ++e) {
        const double alpha = static_cast<double>(bounds[e]) - offsets[b];
        below_[b][e] = TangentThreshold(alpha - kMargin);
        above_[b][e] = TangentThreshold(alpha + kMargin);
      }
    }
  }

  bool Empty() const { return kind_ == Kind::kNone; }

  // Which side of each bound a pixel lies on (+1 above, -1 below, 0 not
  // settled without the arctangent).  branch: 0 for dx > 0 and -dy >= 0,
  // 1 for dx > 0 and -dy < 0, 2 for dx < 0 (dx 0 has no branch).  Along a
  // column within one branch the quotient -dy/dx is monotone in the row,
  // and so are both sides.
  struct Sides {
    int start, end;
    bool Settled() const { return start != 0 && end != 0; }
    bool operator==(const Sides& o) const { return start == o.start && end == o.end; }
  };
  Sides SidesOf(float dx, float dy, int branch) const {
    const float q = -dy / dx;
    return {Side(q, branch, 0), Side(q, branch, 1)};
  }
  bool Member(Sides s) const {
    const bool after_start = s.start > 0;
    const bool before_end = s.end < 0;
    return kind_ == Kind::kPlain ? (after_start && before_end) : (after_start || before_end);
  }

  bool Contains(float dx, float dy) const {
    if (dx == 0.0f) return In(sector_angle(dx, dy));
    const Sides s = SidesOf(dx, dy, dx > 0.0f ? (-dy >= 0.0f ? 0 : 1) : 2);
    return s.Settled() ? Member(s) : In(sector_angle(dx, dy));
  }

 private:
  enum class Kind { kNone, kPlain, kWrap };
  static constexpr double kMargin = 1e-3;

  static double TangentThreshold(double a) {
    if (a >= kHalfPi) return std::numeric_limits<double>::infinity();
    if (a <= -kHalfPi) return -std::numeric_limits<double>::infinity();
    return std::tan(a);
  }

  // +1: the angle is surely above the bound; -1: surely below; 0: unsure.
  int Side(float q, int branch, int bound) const {
    const double dq = q;
    if (dq > above_[branch][bound]) return 1;
    if (dq < below_[branch][bound]) return -1;
    return 0;
  }

  bool In(float phi) const {
    switch (kind_) {
      case Kind::kPlain:
        return a0_ < phi && phi < a1_;
      case Kind::kWrap:
        return phi > a0_ || phi < a1_;
      case Kind::kNone:
        break;
    }
    return false;
  }

  float a0_, a1_;
  Kind kind_;
  double below_[3][2];
  double above_[3][2];
};

// Drops the rows [ya, yb) of one branch of a column that lie outside the
// sector.  Both sides are monotone along the rows, so a run whose end rows
// agree and are settled is settled throughout; other runs are halved until
// they are short enough to test row by row.
void settle_rows(const SectorTest& sector, float dx, const float* dy, int branch, int32_t ya,
                 int32_t yb, int32_t* bins) {
  while (yb - ya > 16) {
    const SectorTest::Sides a = sector.SidesOf(dx, dy[ya], branch);
    const SectorTest::Sides b = sector.SidesOf(dx, dy[yb - 1], branch);
    if (a == b && a.Settled()) {
      if (!sector.Member(a)) std::fill(bins + ya, bins + yb, -1);
      return;
    }
    const int32_t mid = ya + (yb - ya) / 2;
    settle_rows(sector, dx, dy, branch, ya, mid, bins);
    ya = mid;
  }
  for (int32_t y = ya; y < yb; ++y)
    if (bins[y] >= 0 && !sector.Contains(dx, dy[y])) bins[y] = -1;
}

void drop_outside_sector(const SectorTest& sector, float dx, const float* dy, int32_t n,
                         int32_t* bins) {
  if (dx == 0.0f) {  // the centre's column: no quotient, every row exact (and cheap)
    for (int32_t y = 0; y < n; ++y)
      if (bins[y] >= 0 && !sector.Contains(dx, dy[y])) bins[y] = -1;
    return;
  }
  if (dx < 0.0f) {
    settle_rows(sector, dx, dy, 2, 0, n, bins);
    return;
  }
  // Rows at or above the centre (-dy >= 0), then the rows below it.
  const int32_t split = static_cast<int32_t>(std::upper_bound(dy, dy + n, 0.0f) - dy);
  settle_rows(sector, dx, dy, 0, 0, split, bins);
  settle_rows(sector, dx, dy, 1, split, n, bins);
}

void circle_profile(image_data* rec, Binning& b, const SectorTest* sector) {
  const std::vector<float> dy2 = row_squares(rec);
  std::vector<float> dy(dy2.size());
  for (int32_t y = 0; y < rec->height; ++y) dy[static_cast<size_t>(y)] = offset(y, rec->center_y);
  std::vector<int32_t> bins(dy2.size());
  visit_columns(rec->data, rec->width, rec->height, [&](int32_t x, const float* column) {
    const float dx = offset(x, rec->center_x);
    circle_bins(dx * dx, dy2.data(), column, rec->height, true, bins.data());
    if (sector) drop_outside_sector(*sector, dx, dy.data(), rec->height, bins.data());
    accumulate_column(column, bins.data(), rec->height, b.nbins, b.sums.get(), b.counts.get());
  });
}

void ellipse_profile(image_data* rec, Binning& b, const SectorTest* sector) {
  const EllipseCoefficients e(rec);
  const size_t h = static_cast<size_t>(std::max(rec->height, 0));
  std::vector<float> dy(h), udy(h), vdy(h);
  for (size_t y = 0; y < h; ++y) {
    dy[y] = offset(static_cast<int64_t>(y), rec->center_y);
    udy[y] = e.sq * dy[y];
    vdy[y] = e.c * dy[y];
  }
  std::vector<int32_t> bins(h);
  visit_columns(rec->data, rec->width, rec->height, [&](int32_t x, const float* column) {
    const float dx = offset(x, rec->center_x);
    ellipse_bins(e.cq * dx, e.ms * dx, udy.data(), vdy.data(), column, rec->height, bins.data());
    if (sector) drop_outside_sector(*sector, dx, dy.data(), rec->height, bins.data());
    accumulate_column(column, bins.data(), rec->height, b.nbins, b.sums.get(), b.counts.get());
  });
}

}  // namespace

float sector_angle(float dx, float dy) {
  const float mdy = -dy;
  if (dx > 0.0f) {
    const float a = std::atan(mdy / dx);
    return mdy >= 0.0f ? a : static_cast<float>(static_cast<double>(a) + kTwoPi);
  }
  if (dx < 0.0f) return static_cast<float>(static_cast<double>(std::atan(mdy / dx)) + kPi);
  // The centre's own column: straight up is pi/2, straight down 3 pi/2.
  if (mdy > 0.0f) return static_cast<float>(kHalfPi);
  if (mdy < 0.0f) return static_cast<float>(kPi + kHalfPi);
  return 0.0f;
}

int32_t maxradius(const image_data* rec, int32_t mode) {
  const int32_t cx = rec->center_x;
  const int32_t cy = rec->center_y;
  const int32_t w = rec->width;
  const int32_t h = rec->height;
  const float fcx = static_cast<float>(cx);
  const float fcy = static_cast<float>(cy);
  const float fw = static_cast<float>(w);
  const float fh = static_cast<float>(h);
  const float reach = min_float(max_float(fw - fcx, fcx), max_float(fh - fcy, fcy));
  if (mode == 1) {
    if (0.33 * w < cx && cx < 0.66 * w && 0.33 * h < cy && cy < 0.66 * h)
      return trunc_to_int(min_float(min_float(min_float(fcx, fcy), fh - fcy), fw - fcx) - 1.0f);
    return trunc_to_int(max_float(reach - 1.0f, 1.0f));
  }
  if (mode == 2) return trunc_to_int(reach - 1.0f);
  // Squared corner distances in 64 bits: a centre far off the image must
  // not overflow them.
  float largest = 0.0f;
  const int64_t corners[4][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
  for (const auto& corner : corners) {
    const int64_t dx = corner[0] - cx;
    const int64_t dy = corner[1] - cy;
    const float d = std::sqrt(static_cast<float>(dx * dx + dy * dy));
    if (d > largest) largest = d;
  }
  return clamp_int32(static_cast<int64_t>(trunc_to_int(static_cast<double>(largest) + 1.0)) - 10);
}

void azimuthalint(image_data* rec, int32_t start, int32_t nbins, int32_t average) {
  Binning b(nbins);
  circle_profile(rec, b, nullptr);
  // A negative start would normalise bins that do not exist.
  normalise(b, start, average);
  store_profile(rec, b);
  record_peak(rec, start);
}

void azimuthalint_whole(image_data* rec, int32_t nbins, int32_t average) {
  azimuthalint(rec, 0, nbins, average);
}

void findring(image_data* rec, int32_t start, int32_t nbins) {
  azimuthalint(rec, start, nbins, 0);
  const float* p = rec->profile;
  // An empty profile has no peak to read: the window is built around bin 0.
  const int32_t peak = nbins > 0 ? rec->peak_radius : 0;
  const float depth = nbins > 0 ? static_cast<float>(0.1 * static_cast<double>(p[peak])) : 0.0f;
  int32_t valley = peak;
  if (nbins > 0) {
    float m = p[peak];
    for (int32_t i = peak; i > 2; --i) {
      if (p[i] < m) {
        m = p[i];
        valley = i;
      }
      if (p[i] > m + depth && i + 1 < nbins && p[i + 1] > m + depth) break;
    }
  }
  const int64_t P = peak;
  int64_t ring_start = P - 50;
  if (P - valley < 50) ring_start = std::min<int64_t>(P - 5, valley);
  if (nbins > 0) {
    float m = p[peak];
    for (int32_t i = peak; i < nbins - 2; ++i) {
      if (p[i] < m) {
        m = p[i];
        valley = i;
      }
      if (p[i] > m + depth && p[i + 1] > m + depth) break;
    }
  }
  int64_t ring_end = P + 50;
  if (valley - P < 50) ring_end = std::max<int64_t>(P + 5, valley);
  rec->ring_start = clamp_int32(ring_start);
  rec->ring_end = clamp_int32(ring_end);
}

void azimuthalintell(image_data* rec, int32_t nbins, int32_t average) {
  Binning b(nbins);
  ellipse_profile(rec, b, nullptr);
  normalise(b, 0, average);
  store_profile(rec, b);
  record_peak(rec, 0);
}

void azimuthalint_sektor(image_data* rec, int32_t nbins, float a0, float a1, int32_t average) {
  Binning b(nbins);
  const SectorTest sector(a0, a1);
  if (!sector.Empty()) circle_profile(rec, b, &sector);
  normalise(b, 0, average);
  store_profile(rec, b);
}

void azimuthalintell_sektor(image_data* rec, int32_t nbins, float a0, float a1, int32_t average) {
  Binning b(nbins);
  const SectorTest sector(a0, a1);
  if (!sector.Empty()) ellipse_profile(rec, b, &sector);
  normalise(b, 0, average);
  store_profile(rec, b);
}

void polarprojection(image_data* rec, int32_t rstart, int32_t rend, int32_t mode) {
  // Sizes in 64 bits, so that two negative factors cannot pass as
  // positive; checked before anything is allocated.
  const int64_t rows = static_cast<int64_t>(rend) - rstart;
  int32_t cols = mode;
  bool ok = true;
  if (mode == 1)
    ok = float_to_int(static_cast<double>(rows) * 1.62, cols);
  else if (mode == 0)
    ok = float_to_int(static_cast<double>(2 * static_cast<int64_t>(rend)) * kPi, cols);
  if (!ok || rows < 0 || cols < 0) throw std::length_error("a projection of negative size");
  if (rows > kMaxProjectionValues || (rows > 0 && cols > kMaxProjectionValues / rows))
    throw std::length_error("the projection would exceed 2^31 - 1 values");
  const size_t size = static_cast<size_t>(rows) * static_cast<size_t>(cols);
  std::unique_ptr<float[]> projection(new float[size]);

  // The column angles are the same on every row: cos and sin once per column.
  std::vector<double> cosines(static_cast<size_t>(cols)), sines(static_cast<size_t>(cols));
  for (int32_t j = 0; j < cols; ++j) {
    const float t = static_cast<float>(j) / static_cast<float>(cols);
    const double a = static_cast<double>(t) * 2.0 * kPi;
    cosines[static_cast<size_t>(j)] = std::cos(a);
    sines[static_cast<size_t>(j)] = std::sin(a);
  }
  const double cx = rec->center_x;
  const double cy = rec->center_y;
  // trunc(v) lies in [0, size - 2] exactly when -1 < v < size - 1.
  const double x_end = static_cast<double>(rec->width) - 1.0;
  const double y_end = static_cast<double>(rec->height) - 1.0;
  const size_t w = static_cast<size_t>(std::max(rec->width, 0));
  for (int64_t i = 0; i < rows; ++i) {
    const double r = static_cast<double>(rstart + i);
    float* out = projection.get() + static_cast<size_t>(i) * static_cast<size_t>(cols);
    for (int32_t j = 0; j < cols; ++j) {
      const double xd = r * cosines[static_cast<size_t>(j)] + cx;
      const double yd = r * sines[static_cast<size_t>(j)] + cy;
      float v = 0.0f;
      if (rec->data && xd > -1.0 && xd < x_end && yd > -1.0 && yd < y_end) {
        const size_t x = static_cast<size_t>(static_cast<int64_t>(xd));
        const size_t y = static_cast<size_t>(static_cast<int64_t>(yd));
        v = rec->data[x + w * y];
      }
      out[j] = v;
    }
  }
  delete[] rec->projection;
  rec->projection = projection.release();
  rec->projection_rows = static_cast<int32_t>(rows);
  rec->projection_cols = cols;
}
