#include "levmar.h"
#include "lm_kernels.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <random>
#include <vector>

// Iteration and call counts below are those of the classic solver on the
// same problems (float entry points, model values computed in double and
// rounded to float); matching them shows the iteration, damping, Jacobian
// and stop logic follow it step for step.

namespace {

float demo_opts[LM_OPTS_SZ] = {1e-3F, 1e-15F, 1e-15F, 1e-20F, 1e-6F};
float demo_central[LM_OPTS_SZ] = {1e-3F, 1e-15F, 1e-15F, 1e-20F, -1e-6F};

// Rosenbrock's function as two residuals; with n = 3 a third, constant
// residual 100 that no parameter can reduce.
void rosenbrock(float* p, float* hx, int, int n, void*) {
  const double a = p[0], b = p[1];
  hx[0] = static_cast<float>(10.0 * (b - a * a));
  hx[1] = static_cast<float>(1.0 - a);
  if (n > 2) hx[2] = 100.0F;
}

void wood(float* p, float* hx, int, int, void*) {
  const double p0 = p[0], p1 = p[1], p2 = p[2], p3 = p[3];
  hx[0] = static_cast<float>(10.0 * (p1 - p0 * p0));
  hx[1] = static_cast<float>(1.0 - p0);
  hx[2] = static_cast<float>(std::sqrt(90.0) * (p3 - p2 * p2));
  hx[3] = static_cast<float>(1.0 - p2);
  hx[4] = static_cast<float>(std::sqrt(10.0) * (p1 + p3 - 2.0));
  hx[5] = static_cast<float>((p1 - p3) / std::sqrt(10.0));
}

void helical_valley(float* p, float* hx, int, int, void*) {
  const double p0 = p[0], p1 = p[1], p2 = p[2], tau = 2.0 * 3.14159265358979;
  double theta = p0 != 0.0 ? std::atan(p1 / p0) / tau : (p1 >= 0.0 ? 0.25 : -0.25);
  if (p0 < 0.0) theta += 0.5;
  hx[0] = static_cast<float>(10.0 * (p2 - 10.0 * theta));
  hx[1] = static_cast<float>(10.0 * (std::sqrt(p0 * p0 + p1 * p1) - 1.0));
  hx[2] = static_cast<float>(p2);
}

void decay(float* p, float* hx, int, int n, void*) {
  for (int i = 0; i < n; ++i)
    hx[i] = static_cast<float>(p[0] * std::exp(-static_cast<double>(p[1]) * i) + p[2]);
}

std::vector<float> decay_data() {
  std::vector<float> x(40);
  for (int i = 0; i < 40; ++i) x[i] = static_cast<float>(5.0 * std::exp(-0.1 * i) + 1.0);
  return x;
}

void gaussian(float* p, float* hx, int, int n, void*) {
  for (int i = 0; i < n; ++i) {
    const double u = (i - p[0]) / p[2];
    hx[i] = static_cast<float>(p[1] * std::exp(-0.5 * u * u));
  }
}

void line(float* p, float* hx, int, int n, void*) {
  for (int i = 0; i < n; ++i) hx[i] = p[0] + p[1] * static_cast<float>(i);
}

// Peaks of four parameters: position, area, half width at half maximum and
// Lorentz weight in [0, 1] (a Gaussian when 0).
void pseudo_voigt(float* p, float* hx, int m, int n, void*) {
  for (int i = 0; i < n; ++i) hx[i] = 0.0F;
  for (int k = 0; k + 3 < m; k += 4) {
    const double x0 = p[k], a = std::fabs(p[k + 1]), w = std::fabs(p[k + 2]);
    const double eta = std::fmin(1.0, std::fmax(0.0, p[k + 3]));
    for (int i = 0; i < n; ++i) {
      const double u = (i - x0) / w;
      hx[i] += static_cast<float>(a * ((1.0 - eta) * std::sqrt(std::log(2.0) / 3.14159265358979) /
                                           w * std::exp(-std::log(2.0) * u * u) +
                                       eta / (3.14159265358979 * w) / (1.0 + u * u)));
    }
  }
}

void scale_offset(float* p, float* hx, int, int n, void* adata) {
  const float* shape = static_cast<const float*>(adata);
  for (int i = 0; i < n; ++i) hx[i] = std::fabs(p[0]) * shape[i] + std::fabs(p[1]);
}

void identity(float* p, float* hx, int, int, void*) {
  hx[0] = p[0];
}

void always_nan(float*, float* hx, int, int n, void*) {
  for (int i = 0; i < n; ++i) hx[i] = NAN;
}

// x - 10, undefined (NaN) beyond x = 3: a fit heading for 10 meets NaN.
void cliff(float* p, float* hx, int, int, void*) {
  hx[0] = p[0] > 3.0F ? NAN : p[0] - 10.0F;
  hx[1] = 0.0F;
}

// The group fits' box: position +-20, area >= 0, width within a factor 2,
// weight in [0, 1].
void group_box(const std::vector<float>& start, std::vector<float>& lb, std::vector<float>& ub) {
  lb.clear();
  ub.clear();
  for (std::size_t k = 0; k + 3 < start.size(); k += 4) {
    lb.insert(lb.end(), {start[k] - 20, 0, start[k + 2] / 2, 0});
    ub.insert(ub.end(), {start[k] + 20, INFINITY, start[k + 2] * 2, 1});
  }
}

struct Fit {
  int ret;
  float info[LM_INFO_SZ];
  std::vector<float> p;
};

using Model = void (*)(float*, float*, int, int, void*);

Fit dif(Model f, std::vector<float> p, float* x, int n, int itmax, float* opts,
        void* adata = nullptr) {
  Fit r{0, {}, p};
  r.ret = slevmar_dif(f, r.p.data(), x, static_cast<int>(p.size()), n, itmax, opts, r.info, nullptr,
                      nullptr, adata);
  return r;
}

Fit bc(Model f, std::vector<float> p, float* x, int n, float* lb, float* ub, int itmax, float* opts,
       void* adata = nullptr) {
  Fit r{0, {}, p};
  r.ret = slevmar_bc_dif(f, r.p.data(), x, static_cast<int>(p.size()), n, lb, ub, itmax, opts,
                         r.info, nullptr, nullptr, adata);
  return r;
}

void expect_counts(const Fit& f, int ret, int reason, int nfev, int njev, int nlss) {
  EXPECT_EQ(f.ret, ret);
  EXPECT_EQ(f.info[5], f.ret < 0 ? f.info[5] : static_cast<float>(f.ret));
  EXPECT_EQ(f.info[6], reason);
  EXPECT_EQ(f.info[7], nfev);
  EXPECT_EQ(f.info[8], njev);
  EXPECT_EQ(f.info[9], nlss);
}

void expect_near_rel(const std::vector<float>& got, const std::vector<double>& want, double rel) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_NEAR(got[i], want[i], rel * std::fmax(1.0, std::fabs(want[i]))) << "parameter " << i;
}

TEST(Unbounded, ReferenceProblemsMatchTheClassicSolver) {
  Fit r = dif(rosenbrock, {-1.2F, 1.0F}, nullptr, 3, 1000, demo_opts);
  expect_counts(r, 28, 2, 35, 3, 29);
  EXPECT_FLOAT_EQ(r.p[0], 0.9857571F);
  EXPECT_FLOAT_EQ(r.p[1], 0.9721916F);
  EXPECT_EQ(r.info[1], 10000.0F);

  r = dif(wood, {-3, -1, -3, -1}, nullptr, 6, 1000, demo_opts);
  expect_counts(r, 95, 6, 132, 9, 95);
  expect_near_rel(r.p, {1, 1, 1, 1}, 1e-6);

  r = dif(helical_valley, {-1, 0, 0}, nullptr, 3, 1000, demo_opts);
  expect_counts(r, 41, 6, 57, 5, 41);
  expect_near_rel(r.p, {1, 0, 0}, 1e-6);

  // Default options (opts = NULL) take one more iteration.
  r = dif(rosenbrock, {-1.2F, 1.0F}, nullptr, 3, 1000, nullptr);
  EXPECT_EQ(r.ret, 29);
  EXPECT_EQ(r.info[6], 2);
}

TEST(Unbounded, ExponentialDecayForwardAndCentral) {
  std::vector<float> x = decay_data();
  Fit fwd = dif(decay, {1, 0, 0}, x.data(), 40, 1000, demo_opts);
  expect_counts(fwd, 39, 2, 52, 4, 40);
  EXPECT_FLOAT_EQ(fwd.info[0], 137.8701F);
  expect_near_rel(fwd.p, {5, 0.1, 1}, 1e-5);

  // Central differences cost 2m calls per Jacobian and reach the same fit.
  Fit cen = dif(decay, {1, 0, 0}, x.data(), 40, 1000, demo_central);
  expect_counts(cen, 39, 2, 64, 4, 40);
  expect_near_rel(cen.p, {5, 0.1, 1}, 1e-5);
  EXPECT_EQ(dif(wood, {-3, -1, -3, -1}, nullptr, 6, 1000, demo_central).info[7], 162);
}

TEST(Unbounded, LinearModelIsExactLeastSquaresWithCovariance) {
  const int n = 20;
  std::vector<float> x(n);
  for (int i = 0; i < n; ++i) x[i] = 1.5F + 0.25F * i + ((i % 3) - 1) * 0.1F;
  // Closed-form straight-line fit, in double.
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) {
    sx += i;
    sy += x[i];
    sxx += double(i) * i;
    sxy += i * double(x[i]);
  }
  const double det = n * sxx - sx * sx;
  const double b = (n * sxy - sx * sy) / det, a = (sy - b * sx) / n;
  double sse = 0;
  for (int i = 0; i < n; ++i) sse += (x[i] - a - b * i) * (x[i] - a - b * i);

  std::vector<float> p = {0, 0}, covar(4, -1.0F);
  float info[LM_INFO_SZ];
  const int ret = slevmar_dif(line, p.data(), x.data(), 2, n, 100, demo_opts, info, nullptr,
                              covar.data(), nullptr);
  ASSERT_GT(ret, 0);
  expect_near_rel(p, {a, b}, 1e-4);
  EXPECT_NEAR(info[1], sse, 1e-4 * sse);
  // Float forward differences make J^T J good to a few parts in 1e3.
  const double s2 = sse / (n - 2);
  EXPECT_NEAR(covar[0], s2 * sxx / det, 1e-2 * s2 * sxx / det);
  EXPECT_NEAR(covar[1], -s2 * sx / det, 1e-2 * s2 * sx / det);
  EXPECT_NEAR(covar[2], covar[1], 1e-6 * s2);
  EXPECT_NEAR(covar[3], s2 * n / det, 1e-2 * s2 * n / det);
}

TEST(Unbounded, GaussianAndPseudoVoigtPeaks) {
  const int n = 200;
  float opts[LM_OPTS_SZ] = {1e-3F, 1e-8F, 1e-8F, 1e-8F, 1e-6F};  // the peak fits' options
  std::vector<float> x(n);
  std::vector<float> gauss = {97.3F, 250, 7.5F};
  gaussian(gauss.data(), x.data(), 3, n, nullptr);
  Fit g = dif(gaussian, {90, 150, 12}, x.data(), n, 250, opts);
  ASSERT_GE(g.ret, 0);
  expect_near_rel(g.p, {97.3, 250, 7.5}, 1e-4);

  std::vector<float> truth = {80, 1000, 6, 0.3F, 120, 600, 9, 0.6F};
  pseudo_voigt(truth.data(), x.data(), 8, n, nullptr);
  Fit pv = dif(pseudo_voigt, {79, 900, 5.5F, 0.4F, 121, 500, 8, 0.5F}, x.data(), n, 250, opts);
  ASSERT_GE(pv.ret, 0);
  EXPECT_EQ(pv.info[6], 6);
  expect_near_rel(pv.p, {80, 1000, 6, 0.3, 120, 600, 9, 0.6}, 1e-4);

  // From farther away the unbounded fit drives the weights below 0, where
  // the model is flat in them; the group fit's box keeps them in range.
  const std::vector<float> far = {78, 800, 5, 0.5F, 123, 400, 7, 0.5F};
  std::vector<float> lb, ub;
  group_box(far, lb, ub);
  EXPECT_GT(dif(pseudo_voigt, far, x.data(), n, 250, opts).info[1], 1.0F);
  Fit box = bc(pseudo_voigt, far, x.data(), n, lb.data(), ub.data(), 250, opts);
  ASSERT_GE(box.ret, 0);
  expect_near_rel(box.p, {80, 1000, 6, 0.3, 120, 600, 9, 0.6}, 1e-4);
}

TEST(Bounded, ReferenceProblemsMatchTheClassicSolver) {
  float lb01[2] = {-FLT_MAX, -1.5F}, ub01[2] = {FLT_MAX, FLT_MAX};
  Fit r = bc(rosenbrock, {-2, 1}, nullptr, 2, lb01, ub01, 1000, demo_opts);
  expect_counts(r, 14, 6, 65, 14, 14);
  expect_near_rel(r.p, {1, 1}, 1e-6);
  EXPECT_EQ(bc(rosenbrock, {-2, 1}, nullptr, 2, lb01, ub01, 1000, demo_central).info[7], 74);

  std::vector<float> x = decay_data();
  r = bc(decay, {1, 0, 0}, x.data(), 40, nullptr, nullptr, 1000, demo_opts);
  expect_counts(r, 10, 2, 50, 10, 10);
  expect_near_rel(r.p, {5, 0.1, 1}, 1e-5);
}

TEST(Bounded, OptimumOnABound) {
  // min (p0/10)^2 + p1^2 with p0 >= 2: the start (-1, -1) is projected to
  // (2, -1) and the fit ends on the bound by the gradient test.
  auto hs21 = [](float* p, float* hx, int, int, void*) {
    hx[0] = static_cast<float>(p[0] / 10.0);
    hx[1] = p[1];
  };
  float lb[2] = {2, -50}, ub[2] = {50, 50};
  Fit r = bc(hs21, {-1, -1}, nullptr, 2, lb, ub, 1000, demo_opts);
  expect_counts(r, 5, 1, 28, 6, 5);
  EXPECT_EQ(r.p[0], 2.0F);
  EXPECT_NEAR(r.p[1], 0.0F, 1e-12);

  // Decay rate held below its free optimum: the constrained least squares
  // (5.267183, 0.05, -0.045094) is linear in the other two parameters.
  std::vector<float> x = decay_data();
  float lbd[3] = {-FLT_MAX, 0, -FLT_MAX}, ubd[3] = {FLT_MAX, 0.05F, FLT_MAX};
  r = bc(decay, {1, 0, 0}, x.data(), 40, lbd, ubd, 1000, demo_opts);
  ASSERT_GE(r.ret, 0);
  EXPECT_EQ(r.p[1], 0.05F);
  EXPECT_NEAR(r.info[1], 3.174242, 1e-3);  // projected-gradient steps converge slowly
  expect_near_rel(r.p, {5.267183, 0.05, -0.045094}, 0.02);
}

struct BoxProbe {
  const float *lb, *ub;
  int m;
  int outside = 0;
  int calls = 0;
};

void probed_peak(float* p, float* hx, int m, int n, void* adata) {
  BoxProbe& probe = *static_cast<BoxProbe*>(adata);
  ++probe.calls;
  for (int i = 0; i < m; ++i)
    if (!(p[i] >= probe.lb[i] && p[i] <= probe.ub[i])) ++probe.outside;
  pseudo_voigt(p, hx, m, n, nullptr);
}

TEST(Bounded, ModelIsNeverEvaluatedOutsideTheBox) {
  const int n = 120;
  std::vector<float> truth = {60, 500, 4, 0.5F}, x(n);
  pseudo_voigt(truth.data(), x.data(), 4, n, nullptr);
  // Optimum outside the box in width; weight pinned; position window
  // narrower than a difference step; the start lies outside.
  float lb[4] = {59.9999F, 0, 5, 0.3F}, ub[4] = {60.0001F, INFINITY, 10, 0.3F};
  for (float* opts : {demo_opts, demo_central}) {
    BoxProbe probe{lb, ub, 4};
    Fit r = bc(probed_peak, {70, 100, 12, 0.9F}, x.data(), n, lb, ub, 250, opts, &probe);
    ASSERT_GE(r.ret, 0);
    EXPECT_EQ(probe.outside, 0);
    EXPECT_EQ(probe.calls, r.info[7]);  // every call is counted
    EXPECT_EQ(r.p[2], 5.0F);            // width ends on its lower bound
    EXPECT_EQ(r.p[3], 0.3F);
    EXPECT_NEAR(r.p[1], 500, 50);
  }
}

TEST(Bounded, InfiniteAndOneSidedBounds) {
  std::vector<float> x = decay_data();
  float lb[3] = {-INFINITY, -INFINITY, -INFINITY}, ub[3] = {INFINITY, INFINITY, INFINITY};
  float high[3] = {INFINITY, 0.08F, INFINITY};
  for (const Fit& r : {bc(decay, {1, 0, 0}, x.data(), 40, lb, ub, 1000, demo_opts),
                       bc(decay, {1, 0, 0}, x.data(), 40, lb, nullptr, 1000, demo_opts)})
    expect_near_rel(r.p, {5, 0.1, 1}, 1e-4);
  Fit capped = bc(decay, {1, 0, 0}, x.data(), 40, nullptr, high, 1000, demo_opts);
  ASSERT_GE(capped.ret, 0);
  EXPECT_EQ(capped.p[1], 0.08F);
}

TEST(Failures, NonFiniteModelValuesEndWithReason7) {
  float lb[1] = {-10}, ub[1] = {10};
  for (int itmax : {0, 5}) {
    std::vector<float> p0 = {0.5F};
    Fit u = dif(always_nan, p0, nullptr, 1, itmax, nullptr);
    Fit b = bc(always_nan, p0, nullptr, 1, lb, ub, itmax, nullptr);
    for (const Fit& r : {u, b}) {
      EXPECT_EQ(r.ret, LM_ERROR);
      EXPECT_EQ(r.info[5], 0);
      EXPECT_EQ(r.info[6], 7);
      EXPECT_EQ(r.info[7], 1);
      EXPECT_EQ(r.info[3], FLT_MAX);
      EXPECT_EQ(r.p, p0);
    }
  }
  // NaN met by a trial step: p keeps the last finite point, also when it
  // happens in the last permitted iteration.
  float wide_lb[1] = {-100}, wide_ub[1] = {100};
  for (int itmax : {1, 250}) {
    Fit u = dif(cliff, {0}, nullptr, 2, itmax, nullptr);
    Fit b = bc(cliff, {0}, nullptr, 2, wide_lb, wide_ub, itmax, nullptr);
    for (const Fit& r : {u, b}) {
      EXPECT_EQ(r.ret, LM_ERROR);
      EXPECT_EQ(r.info[6], 7);
      EXPECT_TRUE(std::isfinite(r.p[0]) && r.p[0] <= 3.0F);
      EXPECT_TRUE(std::isfinite(r.info[1]));
    }
  }
  // delta = 0 at p = 0 gives a zero difference step: no usable Jacobian.
  float zero_delta[LM_OPTS_SZ] = {1e-3F, 1e-17F, 1e-17F, 1e-17F, 0.0F};
  EXPECT_EQ(dif(line, {0, 0}, decay_data().data(), 40, 10, zero_delta).info[6], 7);
}

TEST(Failures, AbsurdStepIsReason4) {
  float x = 1e4F;
  Fit u = dif(identity, {0}, &x, 1, 100, nullptr);
  EXPECT_EQ(u.ret, LM_ERROR);
  EXPECT_EQ(u.info[6], 4);
  EXPECT_EQ(u.info[5], 0);
  EXPECT_EQ(u.info[7], 2);
  EXPECT_EQ(u.p[0], 0.0F);
  Fit b = bc(identity, {0}, &x, 1, nullptr, nullptr, 100, nullptr);
  expect_counts(b, LM_ERROR, 4, 3, 1, 1);
  EXPECT_EQ(b.info[5], 1);
  Fit ok = dif(identity, {1}, &x, 1, 100, nullptr);
  EXPECT_EQ(ok.ret, 3);
  EXPECT_EQ(ok.info[6], 6);
}

TEST(Failures, BadArgumentsLeaveEverythingUntouched) {
  float info[LM_INFO_SZ], before[LM_INFO_SZ];
  for (int i = 0; i < LM_INFO_SZ; ++i) info[i] = before[i] = 100.0F + i;
  float p[3] = {1, 2, 3}, x[2] = {0, 0};
  float lb[3] = {0, 5, 0}, ub[3] = {10, 4, 10};
  int calls = 0;
  auto counting = [](float*, float* hx, int, int n, void* c) {
    ++*static_cast<int*>(c);
    for (int i = 0; i < n; ++i) hx[i] = 0;
  };
  EXPECT_EQ(slevmar_dif(counting, p, x, 3, 2, 10, nullptr, info, nullptr, nullptr, &calls),
            LM_ERROR);
  EXPECT_EQ(slevmar_bc_dif(counting, p, x, 3, 2, nullptr, nullptr, 10, nullptr, info, nullptr,
                           nullptr, &calls),
            LM_ERROR);
  float x3[3] = {0, 0, 0};
  EXPECT_EQ(
      slevmar_bc_dif(counting, p, x3, 3, 3, lb, ub, 10, nullptr, info, nullptr, nullptr, &calls),
      LM_ERROR);  // lb[1] > ub[1]
  EXPECT_EQ(slevmar_dif(nullptr, p, x3, 3, 3, 10, nullptr, info, nullptr, nullptr, nullptr),
            LM_ERROR);
  EXPECT_EQ(slevmar_dif(counting, p, x3, 0, 3, 10, nullptr, info, nullptr, nullptr, &calls),
            LM_ERROR);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(std::memcmp(info, before, sizeof info), 0);
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(p[1], 2);
  EXPECT_EQ(p[2], 3);
}

TEST(Failures, UnservableAllocationThrowsBadAlloc) {
  const int huge = 1 << 30;  // n * m floats exceed any address space
  float p = 0, info[LM_INFO_SZ] = {};
  EXPECT_THROW(
      slevmar_dif(identity, &p, nullptr, huge, huge, 10, nullptr, info, nullptr, nullptr, nullptr),
      std::bad_alloc);
  EXPECT_THROW(slevmar_bc_dif(identity, &p, nullptr, huge, huge, nullptr, nullptr, 10, nullptr,
                              info, nullptr, nullptr, nullptr),
               std::bad_alloc);
  // Caller-supplied work: the solver's own m x m scratch still cannot be had.
  const int wide = 0x7fffffff;
  EXPECT_THROW(
      slevmar_dif(identity, &p, nullptr, wide, wide, 10, nullptr, info, &p, nullptr, nullptr),
      std::bad_alloc);
}

TEST(Failures, ModelExceptionsPassThroughWithPUnperturbed) {
  struct Boom {};
  auto throws_on_third = [](float* p, float* hx, int, int n, void* c) {
    if (++*static_cast<int*>(c) == 3) throw Boom();
    line(p, hx, 2, n, nullptr);
  };
  std::vector<float> x = decay_data();
  float lb[2] = {-10, -10}, ub[2] = {10, 10};
  for (int bounded = 0; bounded < 2; ++bounded) {
    int calls = 0;
    float p[2] = {1.5F, -0.5F};
    EXPECT_THROW(bounded ? slevmar_bc_dif(throws_on_third, p, x.data(), 2, 40, lb, ub, 10, nullptr,
                                          nullptr, nullptr, nullptr, &calls)
                         : slevmar_dif(throws_on_third, p, x.data(), 2, 40, 10, nullptr, nullptr,
                                       nullptr, nullptr, &calls),
                 Boom);
    EXPECT_EQ(p[0], 1.5F);
    EXPECT_EQ(p[1], -0.5F);
  }
}

TEST(IterationLimit, CountsAndTheLastIteration) {
  std::vector<float> x = decay_data();
  Fit r = dif(decay, {1, 0, 0}, x.data(), 40, 0, demo_opts);
  expect_counts(r, 0, 3, 1, 0, 0);
  r = dif(decay, {1, 0, 0}, x.data(), 40, 1, demo_opts);
  expect_counts(r, 1, 3, 5, 1, 1);
  r = bc(decay, {1, 0, 0}, x.data(), 40, nullptr, nullptr, 1, demo_opts);
  expect_counts(r, 1, 3, 6, 1, 1);  // the bounded Jacobian evaluates f(p) afresh
  // Unbounded: a stop inside a pass does not count the pass.
  EXPECT_EQ(dif(decay, {1, 0, 0}, x.data(), 40, 40, nullptr).info[6], 3);
  r = dif(decay, {1, 0, 0}, x.data(), 40, 41, nullptr);
  expect_counts(r, 40, 2, 53, 4, 41);
  // Bounded: a small step in the last permitted iteration reports the limit.
  EXPECT_EQ(bc(decay, {1, 0, 0}, x.data(), 40, nullptr, nullptr, 10, demo_opts).info[6], 3);
  EXPECT_EQ(bc(decay, {1, 0, 0}, x.data(), 40, nullptr, nullptr, 11, demo_opts).info[6], 2);
}

TEST(IterationLimit, ZeroDampingAndZeroTolerancesStillEnd) {
  // The scale-and-offset fit run with tau and every eps 0 and central
  // differences: no tolerance can fire, so the damping rule must end it.
  const int n = 300;
  std::vector<float> shape(n), x(n);
  for (int i = 0; i < n; ++i) {
    shape[i] = 1.0F / (1.0F + 0.01F * i * i);
    x[i] = 3.0F * shape[i] + 0.2F + 0.01F * ((i * 7) % 5 - 2);
  }
  float opts[LM_OPTS_SZ] = {0, 0, 0, 0, -1e-6F};
  Fit r = dif(scale_offset, {1, 1}, x.data(), n, 250, opts, shape.data());
  ASSERT_GE(r.ret, 0);
  EXPECT_LT(r.ret, 250);
  EXPECT_NEAR(std::fabs(r.p[0]), 3.0F, 0.01F);
  EXPECT_NEAR(std::fabs(r.p[1]), 0.2F, 0.01F);
  float lb[2] = {0, 0}, ub[2] = {10, 10};
  Fit b = bc(scale_offset, {1, 1}, x.data(), n, lb, ub, 250, opts, shape.data());
  ASSERT_GE(b.ret, 0);
  EXPECT_NEAR(b.p[0], r.p[0], 1e-3F);
  float pin_lb[2] = {0, 0.2F}, pin_ub[2] = {10, 0.2F};  // offset held fixed
  Fit pinned = bc(scale_offset, {1, 0.2F}, x.data(), n, pin_lb, pin_ub, 250, opts, shape.data());
  ASSERT_GE(pinned.ret, 0);
  EXPECT_EQ(pinned.p[1], 0.2F);
  EXPECT_NEAR(pinned.p[0], 3.0F, 0.01F);
  Fit ros = dif(rosenbrock, {-1.2F, 1.0F}, nullptr, 3, 100000, opts);
  ASSERT_GE(ros.ret, 0);
  EXPECT_LT(ros.ret, 100000);
}

TEST(Workspace, CallerWorkAndRepeatedFitsGiveIdenticalBits) {
  const int n = 300, m = 12;
  std::vector<float> truth = {60, 900, 5, 0.2F, 150, 400, 8, 0.7F, 170, 300, 6, 0.4F}, x(n);
  pseudo_voigt(truth.data(), x.data(), m, n, nullptr);
  for (int i = 0; i < n; ++i) x[i] += 0.5F * std::sin(0.7F * i);
  const std::vector<float> start = {61,   800,  5.5F, 0.3F, 149,  450,
                                    7.5F, 0.6F, 171,  280,  5.5F, 0.5F};
  std::vector<float> lb, ub;
  group_box(start, lb, ub);
  std::vector<float> work(4 * n + 4 * m + n * m + m * m, NAN);
  for (int bounded = 0; bounded < 2; ++bounded) {
    Fit a = bounded ? bc(pseudo_voigt, start, x.data(), n, lb.data(), ub.data(), 250, demo_opts)
                    : dif(pseudo_voigt, start, x.data(), n, 250, demo_opts);
    Fit b = a;
    b.p = start;
    b.ret = bounded ? slevmar_bc_dif(pseudo_voigt, b.p.data(), x.data(), m, n, lb.data(), ub.data(),
                                     250, demo_opts, b.info, work.data(), nullptr, nullptr)
                    : slevmar_dif(pseudo_voigt, b.p.data(), x.data(), m, n, 250, demo_opts, b.info,
                                  work.data(), nullptr, nullptr);
    ASSERT_GE(a.ret, 0);
    EXPECT_EQ(a.ret, b.ret);
    EXPECT_EQ(std::memcmp(a.p.data(), b.p.data(), m * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(a.info, b.info, sizeof a.info), 0);
    if (bounded)  // unbounded, a weight strays below 0 (see the peak test)
      expect_near_rel(a.p, {60, 900, 5, 0.2, 150, 400, 8, 0.7, 170, 300, 6, 0.4}, 0.05);
  }
}

}  // namespace

namespace {

void decay_jacobian(float* p, float* j, int, int n, void*) {
  for (int i = 0; i < n; ++i) {
    const double e = std::exp(-static_cast<double>(p[1]) * i);
    j[3 * i] = static_cast<float>(e);
    j[3 * i + 1] = static_cast<float>(-p[0] * i * e);
    j[3 * i + 2] = 1.0F;
  }
}

void rosenbrock_jacobian(float* p, float* j, int, int n, void*) {
  j[0] = -20.0F * p[0];
  j[1] = 10.0F;
  j[2] = -1.0F;
  j[3] = 0.0F;
  if (n > 2) j[4] = j[5] = 0.0F;
}

// The analytic entry points reach what the difference versions reach on
// smooth problems, call func once per trial and jacf once per accepted step.
TEST(Analytic, AgreesWithTheDifferenceVersions) {
  std::vector<float> x = decay_data();
  float lbd[3] = {-FLT_MAX, 0, -FLT_MAX}, ubd[3] = {FLT_MAX, 0.05F, FLT_MAX};
  for (int bounded = 0; bounded < 2; ++bounded) {
    Fit d = bounded ? bc(decay, {1, 0, 0}, x.data(), 40, lbd, ubd, 1000, demo_opts)
                    : dif(decay, {1, 0, 0}, x.data(), 40, 1000, demo_opts);
    Fit a{0, {}, {1, 0, 0}};
    a.ret = bounded ? slevmar_bc_der(decay, decay_jacobian, a.p.data(), x.data(), 3, 40, lbd, ubd,
                                     1000, demo_opts, a.info, nullptr, nullptr, nullptr)
                    : slevmar_der(decay, decay_jacobian, a.p.data(), x.data(), 3, 40, 1000,
                                  demo_opts, a.info, nullptr, nullptr, nullptr);
    ASSERT_GE(a.ret, 0) << bounded;
    ASSERT_GE(d.ret, 0) << bounded;
    EXPECT_LE(a.info[1], d.info[1] * 1.0001F + 1e-9F) << bounded;
    if (bounded)
      expect_near_rel(a.p, {5.267183, 0.05, -0.045094}, 1e-4);
    else
      expect_near_rel(a.p, {5, 0.1, 1}, 1e-5);
    // One model call per solve and the start (a small-step stop calls
    // none), and no more Jacobians than that.
    if (!bounded) {
      EXPECT_NEAR(a.info[7], a.info[9], 1.0F);
      EXPECT_LE(a.info[8], a.info[9] + 1);
    }
  }
  Fit r{0, {}, {-1.2F, 1.0F}};
  r.ret = slevmar_der(rosenbrock, rosenbrock_jacobian, r.p.data(), nullptr, 2, 2, 1000, demo_opts,
                      r.info, nullptr, nullptr, nullptr);
  ASSERT_GE(r.ret, 0);
  expect_near_rel(r.p, {1, 1}, 1e-5);
  // Only opts[0..3] are read, and a missing Jacobian is refused.
  float four[4] = {1e-3F, 1e-15F, 1e-15F, 1e-20F};
  std::vector<float> q = {1, 0, 0};
  EXPECT_GE(slevmar_der(decay, decay_jacobian, q.data(), x.data(), 3, 40, 1000, four, nullptr,
                        nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(slevmar_bc_der(decay, nullptr, q.data(), x.data(), 3, 40, nullptr, nullptr, 10,
                           demo_opts, nullptr, nullptr, nullptr, nullptr),
            LM_ERROR);
}

// The kernels' sums in their documented order, one product at a time: the
// vectorised kernels must give the same bits.
float ordered_residual(const float* x, const float* y, float* e, int n) {
  float acc[4] = {};
  for (int i = n - 1 - n % 8, q = 0; i >= 0; --i, ++q) {  // groups of 8 from the top
    e[i] = x ? x[i] - y[i] : -y[i];
    acc[q % 4] += e[i] * e[i];
  }
  for (int q = 0, rest = n % 8; q < rest; ++q) {
    const int i = n - rest + q;
    e[i] = x ? x[i] - y[i] : -y[i];
    acc[(7 - rest + q) % 4] += e[i] * e[i];
  }
  return ((acc[0] + acc[1]) + acc[2]) + acc[3];
}

void ordered_normal_equations(const float* J, const float* e, float* A, float* g, int n, int m,
                              bool small) {
  std::fill(A, A + m * m, 0.0F);
  std::fill(g, g + m, 0.0F);
  for (int i = 0; i < m; ++i)
    for (int j = small ? 0 : i; j <= (small ? i : m - 1); ++j) {
      if (small) {  // rows descending, into A[i][j] = A[j][i]
        for (int l = n - 1; l >= 0; --l) A[i * m + j] += J[l * m + j] * J[l * m + i];
      } else {  // blocks of 32 rows, each summed from zero
        for (int b = 0; b < n; b += 32) {
          float sum = 0.0F;
          for (int k = b; k < std::min(n, b + 32); ++k) sum += J[k * m + i] * J[k * m + j];
          A[i * m + j] += sum;
        }
      }
      A[j * m + i] = A[i * m + j];
    }
  for (int i = 0; i < m; ++i)
    for (int l = small ? n - 1 : 0; small ? l >= 0 : l < n; l += small ? -1 : 1)
      g[i] += J[l * m + i] * e[l];
}

TEST(Kernels, SumsInTheirOrderBitForBit) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-1.0F, 1.0F);
  for (int t = 0; t < 3000; ++t) {
    const int n = static_cast<int>(rng() % 200), m = 1 + static_cast<int>(rng() % 24);
    std::vector<float> x(n), y(n), J(static_cast<size_t>(n) * m);
    for (auto* v : {&x, &y, &J})
      for (float& f : *v) f = u(rng) * std::exp2(static_cast<float>(rng() % 20) - 10.0F);
    std::vector<float> e1(n), e2(n), y2 = y;
    EXPECT_EQ(kelpo::lm::residual(t % 2 ? x.data() : nullptr, y.data(), e1.data(), n),
              ordered_residual(t % 2 ? x.data() : nullptr, y.data(), e2.data(), n));
    EXPECT_EQ(e1, e2);
    kelpo::lm::residual(x.data(), y2.data(), y2.data(), n);  // in place
    ordered_residual(x.data(), y.data(), e2.data(), n);
    EXPECT_EQ(y2, e2);
    std::vector<float> A1(m * m), A2(m * m), g1(m), g2(m);
    for (bool small : {true, false}) {
      kelpo::lm::normal_equations(J.data(), x.data(), A1.data(), g1.data(), n, m, small);
      ordered_normal_equations(J.data(), x.data(), A2.data(), g2.data(), n, m, small);
      ASSERT_EQ(A1, A2) << n << " x " << m << (small ? " small" : "");
      ASSERT_EQ(g1, g2) << n << " x " << m << (small ? " small" : "");
    }
  }
}

}  // namespace
