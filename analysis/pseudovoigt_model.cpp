#include "pseudovoigt_model.h"

#include "numeric.h"
#include "profile_data.h"
#include "pseudovoigt.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {
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

}  // namespace

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

namespace {
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
}  // namespace

const float* GaussExponentials::Get(int k, float x0, float ge, int from, int to,
                                    const GaussWindow& held) {
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

bool GaussExponentials::Same(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The hot loop of every fit: the per-peak factors are computed once; the
// sample loop runs vectorised over blocks of samples, the exponentials are
// taken before it and only where the Gauss term is not 0.
void evaluate_peaks(const float* p, int m, float* hx, int n, GaussExponentials* kept) {
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
    if (!held.empty() && kept) {
      exps = kept->Get(k, x0, ge, from, to, held);
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

namespace {
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
}  // namespace

void pseudovoigt_model(float* p, float* hx, int m, int n, void*) {
  evaluate_peaks(p, m, hx, n, nullptr);
}

void pseudovoigt_jacobian(const float* p, float* jac, int m, int n) {
  peak_jacobian(p, jac, m, n);
}

void pseudovoigt_jacobian(const double* p, double* jac, int m, int n) {
  peak_jacobian(p, jac, m, n);
}

void model_curve(const profile_data& rec, float* out) {
  const int m = rec.peaks ? kPeakColumns * rec.npeaks : 0;
  evaluate_peaks(rec.peaks.get(), m, out, rec.length, nullptr);
}
