// Numerical pieces shared by the unbounded and the bounded solver: options,
// scratch layout, error sums, normal equations, the damping rule, step sizes
// and stops, and the closing report.  Every sum runs in float in a fixed
// order, so a fit repeats bit for bit.
#pragma once

#include <cstddef>
#include <vector>

namespace kelpo {
namespace lm {

class LuSolver;

using ModelFn = void (*)(float* p, float* hx, int m, int n, void* adata);
// A caller's Jacobian: writes the n x m row-major J at p into j.
using JacobianFn = void (*)(float* p, float* j, int m, int n, void* adata);

// Option defaults and the constants both solvers share.
constexpr float kOneThird = 0.3333333334F;
constexpr float kStepFactor = 1e-4F;  // finite-difference step per |p_j|
constexpr float kHugeStepDivisor = 1e-12F * 1e-12F;

// The caller's opts {tau, eps1, eps2, eps3, delta}, or the defaults of
// levmar.h when opts is null.  delta keeps its sign: each solver reads its
// choice of central differences from it.
struct Options {
  float tau;
  float eps1;
  float eps2;
  float eps3;
  float delta;
};

// The analytic fits pass
// with_delta false and read only the first four (delta is then the default).
Options read_options(const float* opts, bool with_delta = true);

// Scratch of `count` floats, zeroed.  Sizes no allocator could serve throw
// std::bad_alloc like any other allocation failure.
std::vector<float> allocate_floats(unsigned long long count);

// The arrays both solvers keep after their n-vectors: J (n x m, row-major),
// A = J^T J (m x m) and the m-vectors Dp, g, diag and trial.
struct FitArrays {
  float* J;
  float* A;
  float* Dp;
  float* g;
  float* diag;
  float* trial;
};

// A solver's scratch: `vectors` arrays of n floats one after another (the
// solver names them), then the FitArrays; vectors*n + 4m + n*m + m*m floats
// in all, the size levmar.h asks of a caller's work.  A null work is
// allocated here (zeroed; std::bad_alloc when it cannot be) and lives as
// long as the Workspace.
class Workspace {
 public:
  Workspace(float* work, int vectors, int n, int m);
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  float* vectors() const { return vectors_; }
  const FitArrays& fit() const { return fit_; }

 private:
  std::vector<float> owned_;
  float* vectors_;
  FitArrays fit_;
};

// e = x - y (e = -y when x is null); returns the sum of squares of e.  e may
// alias y.
float residual(const float* x, const float* y, float* e, int n);

// A = J^T J (m x m) and g = J^T e for the n x m row-major J.  `small` picks the
// row-descending accumulation used for small problems; otherwise rows are
// summed in blocks of 32.
void normal_equations(const float* J, const float* e, float* A, float* g, int n, int m, bool small);

// Sum of v[i]^2, i ascending.
float sum_squares(const float* v, int m);

bool all_finite(const float* v, std::size_t count);

// Finite-difference step for a parameter: max(|1e-4 p_j|, delta).
float difference_step(float pj, float delta);

// Predicted decrease of the damped model, sum Dp_i (mu Dp_i + g_i).
float predicted_decrease(const float* Dp, const float* g, float mu, int m);

// Nielsen's factor for mu after a successful step.
float nielsen_factor(float dF, float dL);

// The damping multiplier nu doubles after each failure; the run ends once it
// would no longer fit in an int.
inline bool doubling_overflows(int nu) {
  return nu > 0x3fffffff;
}

// Stop reason for a step of squared length D from a point with squared
// norm P: 2 when the step is too small to matter, 4 when it is absurdly
// large, 0 to go on.
int step_stop(float D, float P, float eps2);

// Largest diagonal entry of A (the search starts from -FLT_MAX).
float max_diagonal(const float* A, int m);

// Sets the diagonal of the m x m A to d[0..m-1] (undoes the damping).
void set_diagonal(float* A, const float* d, int m);

// What both solvers report in info[0..9].
struct Report {
  float initial_error = 0.0F;
  float error = 0.0F;
  float gradient_norm = 0.0F;
  float step = 0.0F;
  float damping = 0.0F;  // mu relative to the largest diagonal of J^T J
  int iterations = 0;
  int reason = 0;
  long long evaluations = 0;
  long long jacobians = 0;
  long long solves = 0;

  // The state a solver's loop ended in.
  void close(float E, float gnorm, float D, int k, int stop) {
    error = E;
    gradient_norm = gnorm;
    step = D;
    iterations = k;
    reason = stop;
  }
};

void write_info(const Report& r, float* info);

// covar = inverse(A) * E / (n - m); left untouched when A has a zero row.
void covariance(LuSolver& lu, const float* A, float error, int n, int m, float* covar);

// Closes a fit.  r holds everything but the damping as it stood when the
// loop ended.  Running out of iterations (r.iterations >= itmax) overrides a
// clean stop with reason 3, never a failure (4 or 7): a non-finite start
// with itmax <= 0 still reports 7.  When J^T J was formed, A (m x m) gets
// its undamped diagonal back from diag, the damping mu is reported relative
// to it and covar (may be null) is filled.  Writes info (may be null) and
// returns what the entry points return: LM_ERROR for reasons 4 and 7, else
// the iteration count.
int finish_fit(Report& r, int itmax, float mu, bool formed, float* A, const float* diag,
               LuSolver& lu, int n, int m, float* info, float* covar);

}  // namespace lm
}  // namespace kelpo
