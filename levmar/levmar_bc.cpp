// Box-constrained Levenberg-Marquardt fit.
//
// Each iteration first tries a damped Gauss-Newton step projected onto the
// box (Kanzow, Yamashita and Fukushima, 2004).  When that step does not
// reduce the error enough it falls back to a backtracking line search along
// the projected step (Dennis and Schnabel), and failing that to a
// projected-gradient step.  The Jacobian, by differences or the caller's, is
// recomputed at every iteration.
//
// The model is only ever evaluated inside the box: trial points are
// projected, and difference steps that would cross a bound are taken on the
// other side (or shortened to the bound when the box is narrower than the
// step).
#include "levmar.h"

#include "lm_kernels.h"
#include "lm_linear.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace {

using namespace kelpo::lm;

constexpr float kAlpha = 1e-4F;                       // sufficient decrease
constexpr float kShrink = 0.9F;                       // projected-gradient step factor
constexpr float kGammaSquared = 0.99995F * 0.99995F;  // damped-step acceptance
constexpr float kRho = 1e-8F;                         // descent test coefficient
constexpr float kDescentPower = 2.1F / 2.0F;          // applied to the squared step
constexpr float kMinGradientStep = 1e-18F;
constexpr float kReuseRatio = 2.0F * 0.99999F;
constexpr int kLineSearchTrials = 151;

// Either bound array may be null: no bound on that side.  NaN bounds never
// win a comparison and so act as absent ones.
struct Box {
  const float* lb;
  const float* ub;

  float project(float v, int i) const {
    if (lb && ub) {
      if (v <= lb[i]) return lb[i];
      if (v > ub[i]) return ub[i];
      return v;
    }
    if (ub) return v > ub[i] ? ub[i] : v;
    if (lb) return v < lb[i] ? lb[i] : v;
    return v;
  }
  bool above(float v, int i) const { return ub && v > ub[i]; }
  bool below(float v, int i) const { return lb && v < lb[i]; }
  bool pinned(float v, int i) const { return lb && ub && lb[i] == ub[i] && v == ub[i]; }
};

struct Model {
  ModelFn func;
  const float* x;
  int m;
  int n;
  void* adata;
  long long calls = 0;

  // Evaluates at `at` and leaves the residual x - f in `hx`; returns its
  // sum of squares.
  float error(float* at, float* hx) {
    func(at, hx, m, n, adata);
    ++calls;
    return residual(x, hx, hx, n);
  }
};

// Finite-difference Jacobian that keeps every evaluation inside the box.
class BoxJacobian {
 public:
  BoxJacobian(const Model& model, const Box& box, float delta, bool central)
      : model_(model),
        box_(box),
        delta_(delta),
        central_(central),
        buffers_(allocate_floats(3ULL * static_cast<unsigned long long>(model.n))) {}

  // J at p (p is perturbed and restored).  Returns false when an entry is
  // not finite.
  bool compute(float* p, float* J) {
    const int m = model_.m;
    const int n = model_.n;
    float* f0 = buffers_.data();
    float* fa = f0 + n;
    float* fb = fa + n;
    have_center_ = false;
    if (!central_) center(p, f0);
    bool finite = true;
    for (int j = 0; j < m; ++j) {
      const float saved = p[j];
      const float* lo = nullptr;
      const float* hi = nullptr;
      float factor = 0.0F;
      try {
        difference(p, j, f0, fa, fb, lo, hi, factor);
      } catch (...) {
        p[j] = saved;  // the caller's p must not keep a perturbed entry
        throw;
      }
      p[j] = saved;
      for (int i = 0; i < n; ++i) {
        const float v = lo ? (hi[i] - lo[i]) * factor : 0.0F;
        J[static_cast<std::size_t>(i) * m + j] = v;
        finite = finite && std::isfinite(v);
      }
    }
    return finite;
  }

  long long calls() const { return calls_; }

 private:
  // Evaluates what column j needs, leaving p[j] perturbed; the column is
  // (hi - lo) * factor, or zero when lo is null (a pinned parameter).
  void difference(float* p, int j, float* f0, float* fa, float* fb, const float*& lo,
                  const float*& hi, float& factor) {
    const float saved = p[j];
    const float h = difference_step(saved, delta_);
    const float down = saved - h;
    const float up = saved + h;
    if (central_ && !box_.below(down, j) && !box_.above(up, j)) {
      p[j] = down;
      eval(p, fa);
      p[j] = up;
      eval(p, fb);
      lo = fa;
      hi = fb;
      factor = 0.5F / h;
      return;
    }
    center(p, f0);
    if (!box_.above(up, j)) {
      p[j] = up;
      eval(p, fa);
      lo = f0;
      hi = fa;
      factor = 1.0F / h;
    } else if (!box_.below(down, j)) {
      p[j] = down;
      eval(p, fa);
      lo = fa;
      hi = f0;
      factor = 1.0F / h;
    } else {
      // Box narrower than the step: difference up to the farther
      // bound; a pinned parameter gets a zero column.
      const float room_up = box_.ub[j] - saved;
      const float room_down = saved - box_.lb[j];
      if (room_up >= room_down && room_up > 0.0F) {
        p[j] = box_.ub[j];
        eval(p, fa);
        lo = f0;
        hi = fa;
        factor = 1.0F / room_up;
      } else if (room_down > 0.0F) {
        p[j] = box_.lb[j];
        eval(p, fa);
        lo = fa;
        hi = f0;
        factor = 1.0F / room_down;
      }
    }
  }

  void eval(float* at, float* out) {
    model_.func(at, out, model_.m, model_.n, model_.adata);
    ++calls_;
  }
  void center(float* p, float* f0) {
    if (!have_center_) {
      eval(p, f0);
      have_center_ = true;
    }
  }

  const Model& model_;
  Box box_;
  float delta_;
  bool central_;
  std::vector<float> buffers_;
  bool have_center_ = false;
  long long calls_ = 0;
};

// Backtracking line search along dir from p (Dennis and Schnabel), with
// grad the gradient of E/2.  dir may be shortened in place.  On success the
// accepted point is in trial, its residual in hx and its error in Enew.
bool line_search(Model& model, const Box& box, const float* p, float E, const float* grad,
                 float* dir, float P, float* trial, float* hx, float& Enew) {
  const int m = model.m;
  const float f0 = 0.5F * E;
  const float stepmx = 1e3F * std::max(std::sqrt(P), 1.0F);
  const float steptl = 1e3F * std::sqrt(FLT_EPSILON);

  const float len = std::sqrt(sum_squares(dir, m));
  if (len > stepmx) {
    const float s = stepmx / len;
    for (int i = 0; i < m; ++i) dir[i] *= s;
  }
  float slope = 0.0F;
  float rel = 0.0F;
  for (int i = 0; i < m; ++i) {
    slope += grad[i] * dir[i];
    const float t = std::fabs(dir[i]) / std::max(std::fabs(p[i]), 1.0F);
    if (t > rel) rel = t;
  }
  const float lambda_min = steptl / rel;

  float lambda = 1.0F;
  float lambda_prev = 0.0F;
  float f_prev = 0.0F;
  bool first = true;
  for (int attempt = 0; attempt < kLineSearchTrials; ++attempt) {
    for (int i = 0; i < m; ++i) trial[i] = box.project(p[i] + lambda * dir[i], i);
    const float Et = model.error(trial, hx);
    const float ft = 0.5F * Et;
    if (ft <= f0 + (slope * kAlpha) * lambda) {
      Enew = Et;
      return true;
    }
    if (lambda < lambda_min) return false;
    if (!std::isfinite(ft)) {
      lambda *= 0.1F;
      first = true;
      continue;
    }
    float next;
    if (first) {
      next = (-lambda * slope) / (((ft - f0) - slope) * 2.0F);
      first = false;
    } else {
      // Minimiser of the cubic through f0, the slope and the last two
      // trials.
      const float t1 = (ft - f0) - lambda * slope;
      const float t2 = (f_prev - f0) - lambda_prev * slope;
      const float t3 = 1.0F / (lambda - lambda_prev);
      const float a = (3.0F * t3) * (t1 / (lambda * lambda) - t2 / (lambda_prev * lambda_prev));
      const float b = t3 * ((t2 * lambda) / (lambda_prev * lambda_prev) -
                            (t1 * lambda_prev) / (lambda * lambda));
      const float disc = b * b - a * slope;
      const float sigma = a < 0.0F ? -1.0F : 1.0F;
      next = disc > b * b ? (-b + sigma * std::sqrt(disc)) / a : (-b - sigma * std::sqrt(disc)) / a;
      if (next > 0.5F * lambda) next = 0.5F * lambda;
    }
    // A degenerate fit (NaN or infinite) is no step length.
    if (!std::isfinite(next)) next = 0.5F * lambda;
    lambda_prev = lambda;
    f_prev = ft;
    lambda = next < 0.1F * lambda ? 0.1F * lambda : next;
  }
  return false;
}

// Projected-gradient step from p along -grad.  Returns false when the model
// gave a non-finite error (the fit must end with reason 7).  Otherwise the
// new point is in trial, its residual in hx and its error in Enew.  When no
// t satisfies the decrease test the last (smallest) trial is taken.
bool projected_gradient(Model& model, const Box& box, const float* p, const float* e, float E,
                        const float* grad, float* Dp, float* trial, float* hx, float& Enew,
                        bool& reused, float& t_last) {
  const int m = model.m;
  const float t0 = std::min(100.0F / (1.0F + std::sqrt(sum_squares(grad, m))), 1.0F);
  // A remembered t at or below the limit would allow no trial at all.
  bool reuse = reused && t_last > kMinGradientStep;
  float t = reuse ? t_last : t0;
  bool tried = false;
  while (t > kMinGradientStep) {
    for (int i = 0; i < m; ++i) {
      trial[i] = box.project(p[i] - t * grad[i], i);
      Dp[i] = trial[i] - p[i];
    }
    Enew = model.error(trial, hx);
    tried = true;
    if (!std::isfinite(Enew)) return false;
    float s = 0.0F;
    for (int i = 0; i < m; ++i) s += grad[i] * Dp[i];
    if (reuse && Enew <= E + kReuseRatio * s) {
      // The remembered t was too cautious: start over from t0.
      t = t0;
      reuse = false;
    } else if (Enew <= E + (2.0F * kAlpha) * s) {
      reused = true;
      t_last = t;
      return true;
    }
    t *= kShrink;
  }
  reused = true;
  t_last = t;
  if (!tried) {
    // Gradient too large for any t: stay put, which ends the fit with
    // reason 2 instead of moving to a point never evaluated.
    std::copy(p, p + m, trial);
    std::copy(e, e + model.n, hx);
    Enew = E;
  }
  return true;
}

// The iteration both entry points share.  jacf null: a difference Jacobian
// that stays inside the box; otherwise the caller's.  Either is evaluated
// at every iteration, that is at the start and after each accepted step.
int bounded_fit(ModelFn func, JacobianFn jacf, float* p, float* x, int m, int n, float* lb,
                float* ub, int itmax, float* opts, float* info, float* work, float* covar,
                void* adata) {
  if (!func || !p || m < 1 || n < m) return LM_ERROR;
  if (lb && ub)
    for (int i = 0; i < m; ++i)
      if (lb[i] > ub[i]) return LM_ERROR;

  const Options opt = read_options(opts, !jacf);
  // Unlike the unbounded fit, a NaN delta selects central differences.
  const bool central = !(opt.delta >= 0.0F);
  const float delta = std::fabs(opt.delta);

  const Workspace ws(work, 2, n, m);
  LuSolver lu(m);

  const Box box{lb, ub};
  Model model{func, x, m, n, adata};
  std::optional<BoxJacobian> differences;
  if (!jacf) differences.emplace(model, box, delta, central);

  const std::size_t nn = static_cast<std::size_t>(n);
  const std::size_t mm = static_cast<std::size_t>(m);
  float* e = ws.vectors();  // residual at p
  float* hx = e + nn;       // residual at the latest trial
  auto [J, A, Dp, g, diag, trial] = ws.fit();

  // A start outside the box is moved onto it, not refused.
  for (int i = 0; i < m; ++i) p[i] = box.project(p[i], i);

  Report r;
  float E = model.error(p, e);
  r.initial_error = E;
  int stop = std::isfinite(E) ? 0 : 7;

  int nu = 2;
  float mu = 0.0F;
  float gnorm = 0.0F;
  float P = 0.0F;
  float D = FLT_MAX;
  bool formed = false;
  bool gradient_step_before = false;
  float t_last = 0.0F;
  bool leave_now = false;
  int k = 0;

  while (k < itmax && stop == 0) {
    if (E <= opt.eps3) {
      stop = 6;
      break;
    }
    bool finite;
    if (jacf) {
      jacf(p, J, m, n, adata);
      finite = all_finite(J, nn * mm);
    } else {
      finite = differences->compute(p, J);
    }
    ++r.jacobians;
    if (!finite) {
      stop = 7;
      break;
    }
    normal_equations(J, e, A, g, n, m, nn * mm < 1024);
    formed = true;

    // Converged when the gradient is small over the free parameters and
    // points out of the box at every active bound.
    bool active_ok = true;
    gnorm = 0.0F;
    P = 0.0F;
    for (int i = 0; i < m; ++i) {
      if (box.pinned(p[i], i)) {
        // lb == ub: no direction to move, so no sign to test.
      } else if (ub && p[i] == ub[i]) {
        if (!(g[i] > 0.0F)) active_ok = false;
      } else if (lb && p[i] == lb[i]) {
        if (!(g[i] < 0.0F)) active_ok = false;
      } else {
        const float a = std::fabs(g[i]);
        if (a > gnorm) gnorm = a;
      }
      diag[i] = A[i * mm + i];
      P += p[i] * p[i];
    }
    if (active_ok && gnorm <= opt.eps1) {
      D = 0.0F;
      stop = 1;
      break;
    }
    if (k == 0) mu = (!lb && !ub) ? opt.tau * max_diagonal(A, m) : (0.5F * opt.tau) * E;

    for (;;) {
      for (int i = 0; i < m; ++i) {
        A[i * mm + i] = diag[i] + mu;
        // A pinned parameter's row is zero (it is never differenced
        // outside the box); without damping it needs a unit pivot,
        // which gives it a zero step.
        if (A[i * mm + i] == 0.0F && box.pinned(p[i], i)) A[i * mm + i] = 1.0F;
      }
      const bool solved = lu.solve(A, g, Dp) && all_finite(Dp, mm);
      ++r.solves;
      if (!solved) {
        mu *= static_cast<float>(nu);
        if (doubling_overflows(nu)) {
          stop = 5;
          break;
        }
        nu *= 2;
        continue;
      }

      for (int i = 0; i < m; ++i) {
        trial[i] = box.project(p[i] + Dp[i], i);
        Dp[i] = trial[i] - p[i];
      }
      D = sum_squares(Dp, m);
      stop = step_stop(D, P, opt.eps2);
      if (stop != 0) break;
      float Enew = model.error(trial, hx);
      if (!std::isfinite(Enew)) {
        stop = 7;
        break;
      }
      if (Enew <= kGammaSquared * E) {
        const float dL = predicted_decrease(Dp, g, mu, m);
        if (dL > 0.0F)
          mu *= nielsen_factor(E - Enew, dL);
        else if (Enew < mu)
          mu = Enew;
        nu = 2;
        std::copy(trial, trial + m, p);
        std::swap(e, hx);
        E = Enew;
        gradient_step_before = false;
        break;
      }

      // The damped step fell short; mu and nu stay as they are.
      for (int i = 0; i < m; ++i) g[i] = -g[i];
      float s = 0.0F;
      for (int i = 0; i < m; ++i) s += g[i] * Dp[i];
      bool moved = false;
      if (static_cast<double>(s) <=
          -static_cast<double>(kRho) *
              std::pow(static_cast<double>(D), static_cast<double>(kDescentPower))) {
        moved = line_search(model, box, p, E, g, Dp, P, trial, hx, Enew);
        if (moved) gradient_step_before = false;
      }
      if (!moved && !projected_gradient(model, box, p, e, E, g, Dp, trial, hx, Enew,
                                        gradient_step_before, t_last)) {
        stop = 7;
        leave_now = true;
        break;
      }
      for (int i = 0; i < m; ++i) Dp[i] = trial[i] - p[i];
      D = sum_squares(Dp, m);
      if (D <= (opt.eps2 * opt.eps2) * P) {
        stop = 2;
        break;
      }
      std::copy(trial, trial + m, p);
      std::swap(e, hx);
      E = Enew;
      break;
    }
    if (leave_now) break;
    ++k;
  }

  // A stop 2 or 5 in the last permitted iteration closes as reason 3.
  r.close(E, gnorm, D, k, stop);
  r.evaluations = model.calls + (differences ? differences->calls() : 0);
  return finish_fit(r, itmax, mu, formed, A, diag, lu, n, m, info, covar);
}

}  // namespace

extern "C" int slevmar_bc_dif(void (*func)(float* p, float* hx, int m, int n, void* adata),
                              float* p, float* x, int m, int n, float* lb, float* ub, int itmax,
                              float* opts, float* info, float* work, float* covar, void* adata) {
  return bounded_fit(func, nullptr, p, x, m, n, lb, ub, itmax, opts, info, work, covar, adata);
}

extern "C" int slevmar_bc_der(void (*func)(float* p, float* hx, int m, int n, void* adata),
                              void (*jacf)(float* p, float* j, int m, int n, void* adata), float* p,
                              float* x, int m, int n, float* lb, float* ub, int itmax, float* opts,
                              float* info, float* work, float* covar, void* adata) {
  if (!jacf) return LM_ERROR;
  return bounded_fit(func, jacf, p, x, m, n, lb, ub, itmax, opts, info, work, covar, adata);
}
