#include "pseudovoigt.h"

#include "fit_stop.h"
#include "levmar.h"
#include "messages.h"
#include "numeric.h"
#include "profile_utils.h"
#include "spline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {
const double kLn2 = std::log(2.0);

constexpr int kFitIterations = 250;
// The unbounded fit runs this many iterations before its scales are taken
// afresh, and at most this many more runs after the first.
constexpr int kFirstRunIterations = 100;
constexpr int kMoreRuns = 4;

// Samples are taken in blocks of this many: a loop of fixed length is one
// the compiler vectorises at every optimisation level.
constexpr int kBlock = 16;

// The samples [from, to) of 0 .. n-1 outside which the Gauss term is
// skipped anyway: its argument arg(d), computed as the sample loops compute
// it from d = i - x0, lies at or below -104.  That argument can only fall
// as a sample moves away from x0, so one sample checked on each side
// bounds the window; the whole range is kept wherever that check fails or
// x0 or reach (about where the argument reaches -104) is not finite.
template <typename T, typename Arg>
void gauss_window(T x0, double reach, int n, const Arg& arg, int& from, int& to) {
  from = 0;
  to = n;
  if (!std::isfinite(x0) || !std::isfinite(reach)) return;
  const auto outside = [&](int i, bool left) {
    const T d = static_cast<T>(i) - x0;
    return (left ? d <= T(0) : d >= T(0)) && !(arg(d) > T(-104));
  };
  const double lo = std::ceil(static_cast<double>(x0) - reach);
  const double hi = std::floor(static_cast<double>(x0) + reach) + 1.0;
  const int first = lo <= 0.0 ? 0 : lo >= n ? n : static_cast<int>(lo);
  const int last = hi <= 0.0 ? 0 : hi >= n ? n : static_cast<int>(hi);
  if (first > 0 && outside(first - 1, true)) from = first;
  if (last < n && outside(last, false)) to = last;
  if (to < from) to = from;
}

// The window of the model's Gauss term, whose argument is ge d^2.
void gauss_window(float x0, float ge, int n, int& from, int& to) {
  from = 0;
  to = n;
  if (!std::isfinite(ge) || !(ge < 0.0f)) return;
  const double reach = std::sqrt(104.0 / -static_cast<double>(ge)) * 1.01 + 2.0;
  gauss_window(
      x0, reach, n, [ge](float d) { return ge * (d * d); }, from, to);
}

// A window of samples widened to whole blocks (but not beyond n).
struct GaussWindow {
  int from = 0;  // the first sample held, a multiple of kBlock
  int to = 0;    // one past the last
  bool empty() const { return from >= to; }
  static GaussWindow Around(int from, int to, int n) {
    if (from >= to) return {};
    return {from / kBlock * kBlock, std::min((to + kBlock - 1) / kBlock * kBlock, n)};
  }
};

// The exponentials of one peak's Gauss term, exp(ge (i - x0)^2), at the
// samples [from, to), and 0 at the other samples `held` and wherever the
// term is skipped: expf is exactly 0 below -104, so skipping it there
// changes no bit and saves most of the exponentials of narrow peaks.
void gauss_exponentials(float x0, float ge, int from, int to, const GaussWindow& held, float* out) {
  std::fill(out, out + (held.to - held.from), 0.0f);
  for (int i = from; i < to; ++i) {
    const float d = static_cast<float>(i) - x0;
    const float arg = ge * (d * d);
    if (arg > -104.0f) out[i - held.from] = std::exp(arg);
  }
}

// The exponentials of every peak, kept from one evaluation to the next
// during a bounded group fit.  Its difference Jacobian evaluates the centre
// again and then moves one parameter at a time, and the exponentials
// depend on a peak's position and width only, so most of its evaluations
// find them at the centre's or the last point's values.  Two sets per
// peak; a new one replaces the older.
class GaussExponentials {
 public:
  const float* Get(int k, float x0, float ge, int from, int to, const GaussWindow& held) {
    const size_t first = 2 * static_cast<size_t>(k);
    if (sets_.size() < first + 2) sets_.resize(first + 2);
    Set* older = &sets_[first];
    for (Set* set : {&sets_[first], &sets_[first + 1]}) {
      if (set->stamp > 0 && Same(set->x0, x0) && Same(set->ge, ge) && set->from == from &&
          set->to == to && set->held_to == held.to) {
        set->stamp = ++clock_;
        return set->values.data();
      }
      if (set->stamp < older->stamp) older = set;
    }
    *older = {x0, ge, from, to, held.to, ++clock_, std::move(older->values)};
    older->values.resize(static_cast<size_t>(held.to - held.from));
    gauss_exponentials(x0, ge, from, to, held, older->values.data());
    return older->values.data();
  }

 private:
  struct Set {
    float x0 = 0.0f;
    float ge = 0.0f;
    int from = 0;
    int to = 0;
    int held_to = 0;
    long long stamp = 0;  // 0: empty
    std::vector<float> values;
  };
  static bool Same(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
  std::vector<Set> sets_;
  long long clock_ = 0;
};

// The store the model uses while a group fit runs (none otherwise).
thread_local GaussExponentials* kept_exponentials = nullptr;

class KeepExponentials {
 public:
  explicit KeepExponentials(GaussExponentials& store) : previous_(kept_exponentials) {
    kept_exponentials = &store;
  }
  ~KeepExponentials() { kept_exponentials = previous_; }
  KeepExponentials(const KeepExponentials&) = delete;
  KeepExponentials& operator=(const KeepExponentials&) = delete;

 private:
  GaussExponentials* previous_;
};

// The hot loop of every fit: the per-peak factors are computed once; the
// sample loop runs vectorised over blocks of samples, the exponentials are
// taken before it and only where the Gauss term is not 0.
void evaluate_peaks(const float* p, int m, float* hx, int n) {
  std::fill(hx, hx + std::max(n, 0), 0.0f);
  const int count = m / 4;
  std::vector<float> scratch;
  for (int k = 0; k < count; ++k) {
    const float x0 = p[4 * k];
    const float a = static_cast<float>(std::fabs(static_cast<double>(p[4 * k + 1])));
    const float w = static_cast<float>(std::fabs(static_cast<double>(p[4 * k + 2])));
    const float eta = max_float(0.0f, min_float(1.0f, p[4 * k + 3]));
    const float w2 = powi_float(w, 2);
    const float g0 = static_cast<float>(static_cast<double>(1.0f - eta) *
                                        std::sqrt(kLn2 / kPi / static_cast<double>(w2)));
    const float ge = static_cast<float>(-kLn2 / static_cast<double>(w2));
    const float l0 = static_cast<float>(static_cast<double>(eta) / kPi / static_cast<double>(w));
    const float lw = static_cast<float>(1.0 / static_cast<double>(w2));
    // A factor that is not finite would turn the Gauss term's skipped zeros
    // into NaN: such a peak is summed sample by sample as it stands.
    if (!std::isfinite(g0)) {
      for (int i = 0; i < n; ++i) {
        const float d = static_cast<float>(i) - x0;
        const float d2 = d * d;
        const float arg = ge * d2;
        const float gauss = arg > -104.0f ? g0 * std::exp(arg) : 0.0f;
        hx[i] += a * (gauss + l0 / (1.0f + lw * d2));
      }
      continue;
    }
    // From here g0 x 0 is +0, the term the sample loop used to add where it
    // skipped the exponential.
    int from = 0, to = 0;
    gauss_window(x0, ge, n, from, to);
    const GaussWindow held = GaussWindow::Around(from, to, n);
    const float* exps = nullptr;
    if (!held.empty() && kept_exponentials) {
      exps = kept_exponentials->Get(k, x0, ge, from, to, held);
    } else if (!held.empty()) {
      scratch.resize(static_cast<size_t>(held.to - held.from));
      gauss_exponentials(x0, ge, from, to, held, scratch.data());
      exps = scratch.data();
    }
    int b = 0;
    for (; b <= n - kBlock; b += kBlock) {
      float* out = hx + b;
      if (b < held.from || b >= held.to) {
        for (int j = 0; j < kBlock; ++j) {
          const float d = static_cast<float>(b + j) - x0;
          out[j] += a * (0.0f + l0 / (1.0f + lw * (d * d)));
        }
        continue;
      }
      // A copy, so that the compiler need not fear it overlaps out.
      float e[kBlock];
      std::copy(exps + (b - held.from), exps + (b - held.from) + kBlock, e);
      for (int j = 0; j < kBlock; ++j) {
        const float d = static_cast<float>(b + j) - x0;
        out[j] += a * (g0 * e[j] + l0 / (1.0f + lw * (d * d)));
      }
    }
    // One by one the samples whose indices a whole block would overflow.
    for (; b < n && b > std::numeric_limits<int>::max() - kBlock; ++b) {
      const float d = static_cast<float>(b) - x0;
      const float e = b >= held.from && b < held.to ? exps[b - held.from] : 0.0f;
      hx[b] += a * (g0 * e + l0 / (1.0f + lw * (d * d)));
    }
    if (b < n) {
      // The last samples as one more whole block in local arrays; the
      // samples past n are computed and dropped.
      float e[kBlock] = {};
      float out[kBlock] = {};
      for (int i = std::max(b, held.from); i < held.to; ++i) e[i - b] = exps[i - held.from];
      std::copy(hx + b, hx + n, out);
      for (int j = 0; j < kBlock; ++j) {
        const float d = static_cast<float>(b + j) - x0;
        out[j] += a * (g0 * e[j] + l0 / (1.0f + lw * (d * d)));
      }
      std::copy(out, out + (n - b), hx + b);
    }
  }
}

bool check_fit_range(const profile_data& rec, int32_t start, int32_t end, const char* caller) {
  if (!check_profile(rec, caller)) return false;
  if (!rec.ysub) {
    reportf("ERROR in %s. The background has not been subtracted. \n", caller);
    return false;
  }
  if (start < 0 || start > end || end > rec.length - 1) {
    reportf("ERROR in %s. The fit range must lie inside the profile. \n", caller);
    return false;
  }
  return true;
}

// Derivatives of the peaks of p at the sample indices 0 .. n-1, for every
// parameter where the model depends on it smoothly: a weight outside [0, 1]
// is clamped by the model and gets a zero column.  Written for float (the
// fits) and double (checks against differences).
template <typename T>
void peak_jacobian(const T* p, T* jac, int m, int n) {
  const T ln2 = static_cast<T>(kLn2);
  const T pi = static_cast<T>(kPi);
  const T gauss_norm = static_cast<T>(std::sqrt(kLn2 / kPi));
  const int count = m / 4;
  const size_t stride = static_cast<size_t>(std::max(m, 0));
  // The peaks' columns are all written below; only columns after the last
  // whole peak are cleared.
  if (4 * count < m)
    for (int i = 0; i < n; ++i)
      std::fill(jac + i * stride + 4 * static_cast<size_t>(count), jac + (i + 1) * stride, T(0));
  for (int k = 0; k < count; ++k) {
    const T x0 = p[4 * k];
    const T a = std::fabs(p[4 * k + 1]);
    const T sign_a = p[4 * k + 1] < T(0) ? T(-1) : T(1);
    const T w = std::fabs(p[4 * k + 2]);
    const T sign_w = p[4 * k + 2] < T(0) ? T(-1) : T(1);
    const T raw_eta = p[4 * k + 3];
    const T eta = std::max(T(0), std::min(T(1), raw_eta));
    const bool eta_free = raw_eta >= T(0) && raw_eta <= T(1);
    const T lw = T(1) / (w * w);
    const T g_unit = gauss_norm / w;   // unit-area Gauss at its centre
    const T l_unit = T(1) / (pi * w);  // unit-area Lorentz at its centre
    // Blocks of samples: the exponentials one by one, the rest in a loop of
    // fixed length that the compiler vectorises, then the four columns
    // written out row by row.
    const auto arg_at = [&](T d) { return -ln2 * (d * d * lw); };
    int from = 0, to = n;
    if (std::isfinite(lw) && lw > T(0))
      gauss_window(x0, std::sqrt(104.0 / (kLn2 * static_cast<double>(lw))) * 1.01 + 2.0, n, arg_at,
                   from, to);
    for (int b = 0; b < n; b += kBlock) {
      const int len = std::min(kBlock, n - b);
      T gauss[kBlock] = {};
      for (int i = std::max(b, from); i < std::min(b + len, to); ++i) {
        const T arg = arg_at(static_cast<T>(i) - x0);
        gauss[i - b] = arg > T(-104) ? g_unit * std::exp(arg) : T(0);
      }
      T column[4][kBlock];
      for (int j = 0; j < kBlock; ++j) {
        const T d = static_cast<T>(b + j) - x0;
        const T s = d * d * lw;  // (x - x0)^2 / w^2
        const T q = T(1) / (T(1) + s);
        const T lorentz = l_unit * q;
        const T mixed_g = (T(1) - eta) * gauss[j];
        const T mixed_l = eta * lorentz;
        column[0][j] = a * T(2) * d * lw * (ln2 * mixed_g + mixed_l * q);
        column[1][j] = sign_a * (mixed_g + mixed_l);
        column[2][j] =
            sign_w * a / w * (mixed_g * (T(2) * ln2 * s - T(1)) + mixed_l * (s - T(1)) * q);
        column[3][j] = a * (lorentz - gauss[j]);
      }
      for (int j = 0; j < len; ++j) {
        T* row = jac + static_cast<size_t>(b + j) * stride + 4 * k;
        row[0] = column[0][j];
        row[1] = column[1][j];
        row[2] = column[2][j];
        row[3] = eta_free ? column[3][j] : T(0);
      }
    }
  }
}

// The unbounded fit keeps each weight in [0, 1] through
// eta = (1 + sin u) / 2: a weight outside [0, 1] would be clamped by the
// model, which then no longer depends on it, and the fit could not bring it
// back.
float weight_of(float u) {
  return static_cast<float>((1.0 + std::sin(static_cast<double>(u))) / 2.0);
}
float weight_slope(float u) {
  return static_cast<float>(std::cos(static_cast<double>(u)) / 2.0);
}
// The map is flat at 0 and 1, so a weight started there could never move:
// starts are kept a hundredth inside, where its slope is still a tenth.
float weight_start(float eta) {
  return static_cast<float>(
      std::asin(2.0 * std::clamp(static_cast<double>(eta), 0.01, 0.99) - 1.0));
}

// Intensities of 10^3 to 10^6 next to positions and widths of 1 to 10 leave
// the small parameters stuck under an identity damping and a step test
// relative to the whole vector, so the solver works on u with
// p = offset + u x unit, fixed at the start:
//   position: in the unbounded fit, in units of the peak's HWHM unit
//     (below), but no larger than 2 samples, counted from 1 unit below its
//     start.  A peak's natural length is its width; the cap keeps broad
//     start widths (the readers' default of 10) from letting peaks trade
//     places.  A peak broader than 50 samples is no ring but background the
//     peaks stand in for, whose minimum may lie hundreds of samples away:
//     it moves in its own width.  The bounded fit keeps positions in
//     samples (unit 1).
//   intensity: max(|A0|, 1e-3 x the largest |A0|), so that a peak started at
//     or near zero gets the unit of a faint peak, not a vanishing one;
//   HWHM: max(|w0|, 0.5), no unit narrower than half a sample, below which a
//     sampled profile shows no width.  The unbounded fit takes the width as
//     unit x e^u instead: a peak that must grow from 3 to 300 samples (one
//     standing in for background) gets there in a few steps instead of
//     running out of iterations, and the width stays positive;
//   weight: 1.
// Positions are relative to the fit's first sample throughout.
class ParameterScales {
 public:
  ParameterScales(const float* relative, int m, bool unbounded)
      : unit_(static_cast<size_t>(m), 1.0f),
        offset_(static_cast<size_t>(m), 0.0f),
        log_width_(unbounded) {
    float largest = 0.0f;
    for (int k = 1; k < m; k += 4)
      if (std::isfinite(relative[k])) largest = std::max(largest, std::fabs(relative[k]));
    for (int k = 0; k < m; k += 4) {
      unit_[k + 1] = Usable(std::max(std::fabs(relative[k + 1]), 1e-3f * largest));
      unit_[k + 2] = Usable(std::max(std::fabs(relative[k + 2]), 0.5f));
      if (!unbounded) continue;
      unit_[k] = unit_[k + 2] > kBackgroundWidth ? unit_[k + 2]
                                                 : std::min(unit_[k + 2], kLargestPositionUnit);
      offset_[k] = relative[k] - unit_[k];
    }
  }
  float ToModel(size_t k, float u) const {
    if (log_width_ && k % 4 == 2)
      return static_cast<float>(unit_[k] * std::exp(static_cast<double>(u)));
    return offset_[k] + u * unit_[k];
  }
  float ToSolver(size_t k, float p) const {
    if (log_width_ && k % 4 == 2)
      return static_cast<float>(std::log(std::fabs(static_cast<double>(p)) / unit_[k]));
    return (p - offset_[k]) / unit_[k];
  }
  // d p_k / d u_k at u_k.
  float Slope(size_t k, float u) const {
    return log_width_ && k % 4 == 2 ? ToModel(k, u) : unit_[k];
  }
  size_t size() const { return unit_.size(); }

 private:
  static constexpr float kLargestPositionUnit = 2.0f;
  static constexpr float kBackgroundWidth = 50.0f;
  static float Usable(float unit) { return std::isfinite(unit) && unit != 0.0f ? unit : 1.0f; }
  std::vector<float> unit_;
  std::vector<float> offset_;
  bool log_width_;
};

// Profiles of huge values would overflow the solver's float sums of
// squares.  Up to 2^40 the squares (2^80) of even 2^31 samples stay far
// below float's limit of 2^128; a larger profile (and so the model) is
// fitted multiplied by the power of two that brings it to about 2^20, which
// changes no bit of the peak shapes.
class MeasurementScale {
 public:
  explicit MeasurementScale(std::vector<float>& measured) {
    float largest = 0.0f;
    for (float v : measured)
      if (std::isfinite(v)) largest = std::max(largest, std::fabs(v));
    int exponent = 0;
    std::frexp(largest, &exponent);
    if (exponent > kHugeExponent) {
      factor_ = std::ldexp(1.0f, 20 - exponent);
      for (float& v : measured) v *= factor_;
    }
  }
  float factor() const { return factor_; }

 private:
  static constexpr int kHugeExponent = 40;
  float factor_ = 1.0f;
};

// The solver's view of a fit: its parameters u, and the model and Jacobian
// callbacks that carry u through the scales (and the weight map) to the
// peaks and back.
class ScaledPeaks {
 public:
  // rows: m / 4 peak rows; positions are fitted relative to `origin`, the
  // fit's first sample.
  ScaledPeaks(const float* rows, int m, float origin, bool map_weight, float data_factor)
      : start_(rows, rows + m),
        origin_(origin),
        scales_(RelativeRows(rows, m, origin).data(), m, map_weight),
        u_(static_cast<size_t>(m)),
        model_(static_cast<size_t>(m)),
        map_weight_(map_weight),
        data_factor_(data_factor) {
    for (int k = 0; k < m; ++k) u_[k] = scales_.ToSolver(k, Relative(k));
    if (map_weight_)
      for (int k = 3; k < m; k += 4) u_[k] = weight_start(rows[k]);
    start_u_ = u_;
  }

  float* ScaledParameters() { return u_.data(); }

  // Parameter k of the start, positions relative to the origin.
  float Relative(int k) const { return k % 4 == 0 ? start_[k] - origin_ : start_[k]; }

  // Bounds in model units (positions relative to the origin), carried to
  // the solver's.
  void ScaleBounds(float* lower, float* upper) const {
    for (size_t k = 0; k < scales_.size(); ++k) {
      lower[k] = scales_.ToSolver(k, lower[k]);
      upper[k] = scales_.ToSolver(k, upper[k]);
    }
  }

  static void Model(float* u, float* hx, int m, int n, void* adata) {
    auto& self = *static_cast<ScaledPeaks*>(adata);
    self.Unscale(u, self.model_.data());
    evaluate_peaks(self.model_.data(), m, hx, n);
    if (self.data_factor_ != 1.0f)
      for (int i = 0; i < n; ++i) hx[i] *= self.data_factor_;
  }

  // The chain rule through the same map: column k times d p_k / d u_k.
  static void Jacobian(float* u, float* jac, int m, int n, void* adata) {
    auto& self = *static_cast<ScaledPeaks*>(adata);
    self.Unscale(u, self.model_.data());
    peak_jacobian(self.model_.data(), jac, m, n);
    std::vector<float>& factor = self.column_factor_;
    factor.resize(static_cast<size_t>(m));
    for (int k = 0; k < m; ++k) {
      const bool weight = self.map_weight_ && k % 4 == 3;
      factor[k] = (weight ? weight_slope(u[k]) : self.scales_.Slope(k, u[k])) * self.data_factor_;
    }
    for (int i = 0; i < n; ++i) {
      float* row = jac + static_cast<size_t>(i) * static_cast<size_t>(m);
      for (int k = 0; k < m; ++k) row[k] *= factor[k];
    }
  }

  // The rows at the solver's point u in model units, absolute positions; a
  // parameter the solver left exactly at its start keeps its start value
  // bit for bit.
  void Result(const float* u, float* rows) const {
    std::vector<float> p(u_.size());
    Unscale(u, p.data());
    for (size_t k = 0; k < u_.size(); ++k) {
      if (u[k] == start_u_[k] || (std::isnan(u[k]) && std::isnan(start_u_[k])))
        rows[k] = start_[k];
      else
        rows[k] = k % 4 == 0 ? p[k] + origin_ : p[k];
    }
  }
  void Result(float* rows) const { Result(u_.data(), rows); }

 private:
  static std::vector<float> RelativeRows(const float* rows, int m, float origin) {
    std::vector<float> relative(rows, rows + m);
    for (int k = 0; k < m; k += 4) relative[k] -= origin;
    return relative;
  }

  void Unscale(const float* u, float* p) const {
    for (size_t k = 0; k < u_.size(); ++k) p[k] = scales_.ToModel(k, u[k]);
    if (map_weight_)
      for (size_t k = 3; k < u_.size(); k += 4) p[k] = weight_of(u[k]);
  }

  std::vector<float> start_;
  float origin_;
  ParameterScales scales_;
  std::vector<float> u_;
  std::vector<float> start_u_;
  std::vector<float> model_;
  std::vector<float> column_factor_;
  bool map_weight_;
  float data_factor_;
};

// Parameters where the fit's derivatives vanish, so that it stops short of
// the minimum, moved to where they can act again; false when there are none.
// rows: positions relative to the fit's first sample, in the model's units;
// restart: a copy of the rows (positions in any origin) to start again from,
// changed where a parameter is restarted.
//   - A weight at (or within 0.02 of) an end of [0, 1] while the error would
//     fall by moving it inward: the weight map is flat there.  Restarted at
//     0.5.
//   - A peak at intensity 0 (every other derivative of it vanishes with the
//     intensity) or narrower than a quarter of a sample (a spike between two
//     samples shows in none).  Restarted at least a sample wide, with the
//     area of a peak of that width as high as the largest residual within a
//     width of its position; left as it is where the residual there is no
//     peak.
// A start is checked for such peaks only: its weights have not been fitted.
enum class Parked { kPeaks, kPeaksAndWeights };
bool restart_parked(const float* rows, int m, const float* measured, int n, float data_factor,
                    Parked which, std::vector<float>& restart) {
  bool any = false;
  std::vector<float> model(static_cast<size_t>(n));
  evaluate_peaks(rows, m, model.data(), n);
  std::vector<double> residual(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    residual[i] = static_cast<double>(measured[i]) - static_cast<double>(model[i]) * data_factor;
  float largest = 0.0f;
  for (int k = 1; k < m; k += 4)
    if (std::isfinite(rows[k])) largest = std::max(largest, std::fabs(rows[k]));
  for (int k = 0; k < m; k += 4) {
    const double x0 = rows[k];
    const double a = std::fabs(static_cast<double>(rows[k + 1]));
    const double w = std::fabs(static_cast<double>(rows[k + 2]));
    if (!std::isfinite(x0) || !std::isfinite(a) || !std::isfinite(w)) continue;
    if (a <= 1e-3 * largest || w < 0.25) {
      const double width = std::max(w, 1.0);
      double height = 0.0;
      const int from = static_cast<int>(std::max(std::ceil(x0 - width), 0.0));
      const int to = static_cast<int>(std::min(std::floor(x0 + width), n - 1.0));
      for (int i = from; i <= to; ++i) height = std::max(height, residual[i]);
      if (height > 0.0) {
        // The area of a Gauss of that height and HWHM: h w sqrt(pi / ln 2).
        restart[k + 1] = static_cast<float>(height / data_factor * width * std::sqrt(kPi / kLn2));
        restart[k + 2] = static_cast<float>(width);
        any = true;
        continue;
      }
    }
    const float eta = rows[k + 3];
    if (which == Parked::kPeaks || !(eta < 0.02f || eta > 0.98f) || a == 0.0) continue;
    // d model / d eta = A (Lorentz - Gauss); the error falls inward when
    // the residual leans toward the other shape.
    double lean = 0.0;
    for (int i = 0; i < n; ++i) {
      const double s = (i - x0) * (i - x0) / (w * w);
      const double dmodel =
          a * (1.0 / (kPi * w) / (1.0 + s) - std::sqrt(kLn2 / kPi) / w * std::exp(-kLn2 * s));
      lean += residual[i] * dmodel;
    }
    if ((eta > 0.98f && lean < 0.0) || (eta < 0.02f && lean > 0.0)) {
      restart[k + 3] = 0.5f;
      any = true;
    }
  }
  return any;
}

// The sample index of a position, when it lies inside the profile.
bool sample_of(float position, int32_t length, int32_t& index) {
  int32_t i = 0;
  if (!float_to_int(position, i) || i < 0 || i >= length) return false;
  index = i;
  return true;
}
}  // namespace

void pseudovoigt_model(float* p, float* hx, int m, int n, void*) {
  evaluate_peaks(p, m, hx, n);
}

void pseudovoigt_jacobian(const float* p, float* jac, int m, int n) {
  peak_jacobian(p, jac, m, n);
}

void pseudovoigt_jacobian(const double* p, double* jac, int m, int n) {
  peak_jacobian(p, jac, m, n);
}

void model_curve(const profile_data& rec, float* out) {
  const int m = rec.peaks ? kPeakColumns * rec.npeaks : 0;
  evaluate_peaks(rec.peaks.get(), m, out, rec.length);
}

void report_fit_end(int result, const float* info) {
  const FitStop reason = fit_stop(info);
  const double iterations = info[5];
  // The iteration limit is a failure even though the solver returns its
  // iteration count then.
  if (reason == FitStop::kIterationLimit)
    reportf("ERROR! Fit did not converge after %g iterations. \n", iterations);
  else if (result >= 0)
    reportf("Fit converged after %d iterations. \n", result);
  else if (reason == FitStop::kHugeStep)
    reportf("ERROR! Fit aborted after %g iterations due to singluar matrix. \n", iterations);
  else if (reason == FitStop::kNoReduction)
    reportf("ERROR! Fit aborted after %g, no further error reduction possible. \n", iterations);
  else if (reason == FitStop::kInvalidValues)
    reportf("ERROR! Fit aborted after %g iterations due to invalid function values. \n",
            iterations);
  else
    reportf("ERROR! Fit aborted after %g. \n", iterations);
}

int32_t fitpeaks(profile_data& rec, int32_t start, int32_t end) {
  if (!check_fit_range(rec, start, end, "fitpeaks")) return -1;
  if (rec.npeaks < 1 || !rec.peaks) {
    report("ERROR in fitpeaks. No peak given. \n");
    return -1;
  }
  const int n = end - start + 1;
  const int m = kPeakColumns * rec.npeaks;
  std::vector<float> measured(rec.ysub.get() + start, rec.ysub.get() + end + 1);
  const MeasurementScale data(measured);
  float* peaks = rec.peaks.get();
  const float origin = static_cast<float>(start);

  float options[LM_OPTS_SZ] = {1e-3f, 1e-8f, 1e-8f, 1e-8f, 1e-6f};
  float info[LM_INFO_SZ] = {};
  // The prefit can leave a peak collapsed to a spike or to nothing, which
  // the fit could not revive: it starts from where it can act instead.
  std::vector<float> rows(static_cast<size_t>(m));
  for (int k = 0; k < m; ++k) rows[k] = k % 4 == 0 ? peaks[k] - origin : peaks[k];
  std::vector<float> first(peaks, peaks + m);
  restart_parked(rows.data(), m, measured.data(), n, data.factor(), Parked::kPeaks, first);
  ScaledPeaks fit(first.data(), m, origin, true, data.factor());
  int result = slevmar_der(ScaledPeaks::Model, ScaledPeaks::Jacobian, fit.ScaledParameters(),
                           measured.data(), m, n, kFirstRunIterations, options, info, nullptr,
                           nullptr, &fit);
  fit.Result(peaks);

  // The scales are fixed for a run, but a peak that has grown tenfold (one
  // turning into background, say) moves in units of its old width: a run
  // still going after its first iterations is continued with scales taken
  // afresh.  Parameters parked where the fit cannot move them are
  // restarted.  All runs share the iteration limit; a restart is kept only
  // when it ends lower.
  std::vector<float> released;
  for (int again = 0; again < kMoreRuns && result >= 0 && result < kFitIterations; ++again) {
    for (int k = 0; k < m; ++k) rows[k] = k % 4 == 0 ? peaks[k] - origin : peaks[k];
    released.assign(peaks, peaks + m);
    const bool continuing = again == 0 && result == kFirstRunIterations;
    if (!continuing && !restart_parked(rows.data(), m, measured.data(), n, data.factor(),
                                       Parked::kPeaksAndWeights, released))
      break;
    ScaledPeaks refit(released.data(), m, origin, true, data.factor());
    float refit_info[LM_INFO_SZ] = {};
    const int refit_result = slevmar_der(
        ScaledPeaks::Model, ScaledPeaks::Jacobian, refit.ScaledParameters(), measured.data(), m, n,
        kFitIterations - result, options, refit_info, nullptr, nullptr, &refit);
    if (!continuing && (refit_result < 0 || !(refit_info[1] < info[1]))) break;
    if (refit_result >= 0) refit.Result(peaks);
    const int total = result + std::max(refit_result, 0);
    std::copy(refit_info, refit_info + LM_INFO_SZ, info);
    info[5] = static_cast<float>(total);
    result = refit_result < 0 ? refit_result : total;
  }
  report_fit_end(result, info);
  return result;
}

int32_t fitpeakgroup(profile_data& rec, int32_t start, int32_t end, int32_t first, int32_t last) {
  if (!check_fit_range(rec, start, end, "fitpeakgroup")) return -1;
  if (!rec.peaks || first < 0 || first > last || last >= rec.npeaks) {
    report("ERROR in fitpeakgroup. The peak indices lie outside the peak table. \n");
    return -1;
  }
  const int n = end - start + 1;
  const int m = kPeakColumns * (last - first + 1);
  float* rows = rec.peaks.get() + kPeakColumns * first;
  // The width bounds are a factor 2 about the current HWHM: a width that is
  // no positive number gives no box to fit in.
  for (int k = 2; k < m; k += 4)
    if (!(rows[k] > 0.0f) || !std::isfinite(rows[k])) {
      report("ERROR in fitpeakgroup. Every peak's HWHM must be a positive number. \n");
      return -1;
    }
  std::vector<float> measured(rec.ysub.get() + start, rec.ysub.get() + end + 1);
  const MeasurementScale data(measured);
  ScaledPeaks fit(rows, m, static_cast<float>(start), false, data.factor());
  std::vector<float> lower(static_cast<size_t>(m));
  std::vector<float> upper(static_cast<size_t>(m));
  // Positions stay inside the fitted range (and never exclude the start),
  // so that a converged group cannot move a peak off the profile.
  const float range = static_cast<float>(n - 1);
  for (int k = 0; k < m; k += 4) {
    const float x = fit.Relative(k);
    const float w = fit.Relative(k + 2);
    lower[k] = std::min(std::max(x - 20.0f, 0.0f), x);
    upper[k] = std::max(std::min(x + 20.0f, range), x);
    lower[k + 1] = 0.0f;
    upper[k + 1] = std::numeric_limits<float>::infinity();
    lower[k + 2] = w / 2.0f;
    upper[k + 2] = w * 2.0f;
    lower[k + 3] = 0.0f;
    upper[k + 3] = 1.0f;
  }
  fit.ScaleBounds(lower.data(), upper.data());

  float options[LM_OPTS_SZ] = {1e-3f, 1e-8f, 1e-8f, 1e-8f, 1e-6f};
  float info[LM_INFO_SZ] = {};
  GaussExponentials exponentials;
  const KeepExponentials keep(exponentials);
  // Differences, not the exact Jacobian: with a width on its bound the
  // bounded solver's projected steps crawl on exact derivatives, and a
  // prefit needs only a good start.
  const int result = slevmar_bc_dif(ScaledPeaks::Model, fit.ScaledParameters(), measured.data(), m,
                                    n, lower.data(), upper.data(), kFitIterations, options, info,
                                    nullptr, nullptr, &fit);
  if (result != LM_ERROR) fit.Result(rows);
  return result;
}

void refitbackground(profile_data& rec) {
  if (!check_profile(rec, "refitbackground")) return;
  if (!rec.ysub) {
    report("ERROR in refitbackground. The background has not been subtracted. \n");
    return;
  }
  if (rec.nsplinepoints < 1 || !rec.splinex || !rec.spliney) return;
  std::vector<float> model(static_cast<size_t>(rec.length));
  model_curve(rec, model.data());
  for (int32_t j = 0; j < rec.nsplinepoints; ++j) {
    int32_t i = 0;
    if (!sample_of(rec.splinex[j], rec.length, i)) continue;
    rec.spliney[j] = rec.spliney[j] - model[i] + rec.ysub[i];
  }
}

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

bool peakfit_sequence(profile_data& rec, const char* caller) {
  if (!check_splinepoints(rec, 2, caller) || !check_peaks(rec, caller) ||
      !check_samples(rec, caller))
    return false;
  const int32_t last = rec.nsplinepoints - 1;
  subtractbackground(rec);
  report("Performing first Fit (of 2). ");
  fitpeaks(rec, trunc_to_int(rec.splinex[0]), trunc_to_int(rec.splinex[last]));
  refitbackground(rec);
  subtractbackground(rec);
  report("Performing second Fit (of 2). ");
  fitpeaks(rec, trunc_to_int(rec.splinex[1]), trunc_to_int(rec.splinex[last]));
  return true;
}
