// Unconstrained Levenberg-Marquardt fit (Madsen, Nielsen and Tingleff,
// 2004), with a finite-difference or the caller's Jacobian.  Full difference
// Jacobians are costly (m or 2m model calls), so between them the Jacobian
// follows Broyden's rank-one secant updates and is recomputed only after
// K = max(m, 10) updates or when steps keep failing.  The caller's Jacobian
// is exact and cheap: it is evaluated after every accepted step instead.
#include "levmar.h"

#include "lm_kernels.h"
#include "lm_linear.h"

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {

using namespace kelpo::lm;

// J <- J + (f(p + Dp) - f(p) - J Dp) Dp^T / (Dp^T Dp)
void secant_update(float* J, const float* Dp, float D, const float* f_old, const float* f_new,
                   int n, int m) {
  for (int i = 0; i < n; ++i) {
    float* row = J + static_cast<std::size_t>(i) * m;
    float s = 0.0F;
    for (int l = 0; l < m; ++l) s += row[l] * Dp[l];
    const float r = ((f_new[i] - f_old[i]) - s) / D;
    for (int j = 0; j < m; ++j) row[j] += r * Dp[j];
  }
}

// Full finite-difference Jacobian at p, perturbing p in place.  Forward
// differences reuse f(p) in `fp`.  Returns false when an entry is not finite.
bool difference_jacobian(ModelFn func, float* p, const float* fp, float* J, float* fa, float* fb,
                         int m, int n, float delta, bool central, void* adata, long long& nfev) {
  bool finite = true;
  for (int j = 0; j < m; ++j) {
    const float saved = p[j];
    const float h = difference_step(saved, delta);
    const float* lo = fp;
    const float* hi = fa;
    float factor;
    try {
      if (central) {
        p[j] = saved - h;
        func(p, fa, m, n, adata);
        p[j] = saved + h;
        func(p, fb, m, n, adata);
        nfev += 2;
        lo = fa;
        hi = fb;
        factor = 0.5F / h;
      } else {
        p[j] = saved + h;
        func(p, fa, m, n, adata);
        nfev += 1;
        factor = 1.0F / h;
      }
    } catch (...) {
      p[j] = saved;  // the caller's p must not keep a perturbed entry
      throw;
    }
    p[j] = saved;
    for (int i = 0; i < n; ++i) {
      const float v = (hi[i] - lo[i]) * factor;
      J[static_cast<std::size_t>(i) * m + j] = v;
      finite = finite && std::isfinite(v);
    }
  }
  return finite;
}

// The iteration both entry points share.  jacf null: difference Jacobians
// and secant updates; otherwise jacf at the start and after each accepted
// step.
int unbounded_fit(ModelFn func, JacobianFn jacf, float* p, float* x, int m, int n, int itmax,
                  float* opts, float* info, float* work, float* covar, void* adata) {
  if (!func || !p || m < 1 || n < m) return LM_ERROR;

  const bool analytic = jacf != nullptr;
  const Options opt = read_options(opts, !jacf);
  const bool central = opt.delta < 0.0F;
  const float delta = central ? -opt.delta : opt.delta;

  // The analytic fit keeps no f(p) and no difference evaluations: its
  // model values become residuals in place.
  const Workspace ws(work, analytic ? 2 : 4, n, m);
  LuSolver lu(m);

  const std::size_t nn = static_cast<std::size_t>(n);
  const std::size_t mm = static_cast<std::size_t>(m);
  float* e = ws.vectors();                 // x - f(p)
  float* wrk2 = e + nn;                    // x - f(trial)
  float* hx = analytic ? e : wrk2 + nn;    // f(p)
  float* wrk = analytic ? wrk2 : hx + nn;  // f(trial), or difference evaluations
  auto [J, A, Dp, g, diag, trial] = ws.fit();

  Report r;
  func(p, hx, m, n, adata);
  r.evaluations = 1;
  float E = residual(x, hx, e, n);
  r.initial_error = E;
  int stop = std::isfinite(E) ? 0 : 7;

  int nu = analytic ? 2 : 20;  // > 16 so that the first pass computes a Jacobian
  bool accepted_since_jacobian = true;
  int updates = 0;
  const int max_updates = m > 10 ? m : 10;
  bool dirty = false;
  bool formed = false;
  float mu = 0.0F;
  float gnorm = 0.0F;
  float P = 0.0F;
  float D = FLT_MAX;
  int k = 0;

  while (k < itmax && stop == 0) {
    if (E <= opt.eps3) {
      stop = 6;
      break;
    }
    if (analytic ? accepted_since_jacobian
                 : (accepted_since_jacobian && nu > 16) || updates == max_updates) {
      bool finite;
      if (analytic) {
        jacf(p, J, m, n, adata);
        finite = all_finite(J, nn * mm);
      } else {
        finite = difference_jacobian(func, p, hx, J, wrk, wrk2, m, n, delta, central, adata,
                                     r.evaluations);
      }
      ++r.jacobians;
      if (!finite) {
        stop = 7;
        break;
      }
      nu = 2;
      updates = 0;
      accepted_since_jacobian = false;
      dirty = true;
    }
    if (dirty) {
      dirty = false;
      formed = true;
      normal_equations(J, e, A, g, n, m, nn * mm <= 1024);
      gnorm = 0.0F;
      for (int i = 0; i < m; ++i) {
        const float a = std::fabs(g[i]);
        if (a > gnorm) gnorm = a;
        diag[i] = A[i * mm + i];
      }
      P = sum_squares(p, m);
    }
    if (gnorm <= opt.eps1) {
      D = 0.0F;
      stop = 1;
      break;
    }
    if (k == 0) mu = opt.tau * max_diagonal(A, m);

    for (int i = 0; i < m; ++i) A[i * mm + i] += mu;
    // A non-finite solution (mu overflowed, say) is no step to evaluate:
    // it counts as a failed solve, so p never becomes NaN.
    const bool solved = lu.solve(A, g, Dp) && all_finite(Dp, mm);
    ++r.solves;
    if (solved) {
      for (int i = 0; i < m; ++i) trial[i] = p[i] + Dp[i];
      D = sum_squares(Dp, m);
      stop = step_stop(D, P, opt.eps2);
      if (stop != 0) break;
      func(trial, wrk, m, n, adata);
      ++r.evaluations;
      const float Enew = residual(x, wrk, wrk2, n);
      if (!std::isfinite(Enew)) {
        stop = 7;
        break;
      }
      const float dF = E - Enew;
      if (!analytic && (accepted_since_jacobian || dF > 0.0F)) {
        secant_update(J, Dp, D, hx, wrk, n, m);
        ++updates;
        dirty = true;
      }
      const float dL = predicted_decrease(Dp, g, mu, m);
      if (dL > 0.0F && dF > 0.0F) {
        mu *= nielsen_factor(dF, dL);
        nu = 2;
        for (int i = 0; i < m; ++i) p[i] = trial[i];
        std::swap(e, wrk2);
        std::swap(hx, wrk);
        E = Enew;
        accepted_since_jacobian = true;
        ++k;
        continue;
      }
    }
    mu *= static_cast<float>(nu);
    if (doubling_overflows(nu)) {
      stop = 5;
      break;
    }
    nu *= 2;
    set_diagonal(A, diag, m);
    ++k;
  }

  r.close(E, gnorm, D, k, stop);
  return finish_fit(r, itmax, mu, formed, A, diag, lu, n, m, info, covar);
}

}  // namespace

extern "C" int slevmar_dif(void (*func)(float* p, float* hx, int m, int n, void* adata), float* p,
                           float* x, int m, int n, int itmax, float* opts, float* info, float* work,
                           float* covar, void* adata) {
  return unbounded_fit(func, nullptr, p, x, m, n, itmax, opts, info, work, covar, adata);
}

extern "C" int slevmar_der(void (*func)(float* p, float* hx, int m, int n, void* adata),
                           void (*jacf)(float* p, float* j, int m, int n, void* adata), float* p,
                           float* x, int m, int n, int itmax, float* opts, float* info, float* work,
                           float* covar, void* adata) {
  if (!jacf) return LM_ERROR;
  return unbounded_fit(func, jacf, p, x, m, n, itmax, opts, info, work, covar, adata);
}
