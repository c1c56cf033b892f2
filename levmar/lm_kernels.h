// Numerical pieces shared by the unbounded and the bounded solver: error
// sums, normal equations, the damping rule, step sizes, the closing report
// and scratch allocation.  Every sum runs in float in a fixed order, so a fit
// repeats bit for bit.
#ifndef KELPO_LEVMAR_LM_KERNELS_H
#define KELPO_LEVMAR_LM_KERNELS_H

#include <cstddef>
#include <vector>

namespace kelpo {
namespace lm {

class LuSolver;

using ModelFn = void (*)(float *p, float *hx, int m, int n, void *adata);

// Option defaults and the constants both solvers share.
constexpr float kOneThird = 0.3333333334F;
constexpr float kStepFactor = 1e-4F;        // finite-difference step per |p_j|
constexpr float kHugeStepDivisor = 1e-12F * 1e-12F;

// Scratch of `count` floats, zeroed.  Sizes no allocator could serve throw
// std::bad_alloc like any other allocation failure.
std::vector<float> allocate_floats(unsigned long long count);

// e = x - y (e = -y when x is null); returns the sum of squares of e.  e may
// alias y.
float residual(const float *x, const float *y, float *e, int n);

// A = J^T J (m x m) and g = J^T e for the n x m row-major J.  `small` picks the
// row-descending accumulation used for small problems; otherwise rows are
// summed in blocks of 32.
void normal_equations(const float *J, const float *e, float *A, float *g,
                      int n, int m, bool small);

// Sum of v[i]^2, i ascending.
float sum_squares(const float *v, int m);

bool all_finite(const float *v, std::size_t count);

// Finite-difference step for a parameter: max(|1e-4 p_j|, delta).
float difference_step(float pj, float delta);

// Predicted decrease of the damped model, sum Dp_i (mu Dp_i + g_i).
float predicted_decrease(const float *Dp, const float *g, float mu, int m);

// Nielsen's factor for mu after a successful step.
float nielsen_factor(float dF, float dL);

// The damping multiplier nu doubles after each failure; the run ends once it
// would no longer fit in an int.
inline bool doubling_overflows(int nu) { return nu > 0x3fffffff; }

// Largest diagonal entry of A (the search starts from -FLT_MAX).
float max_diagonal(const float *A, int m);

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
};

void write_info(const Report &r, float *info);

// covar = inverse(A) * E / (n - m); left untouched when A has a zero row.
void covariance(LuSolver &lu, const float *A, float error, int n, int m,
                float *covar);

}  // namespace lm
}  // namespace kelpo

#endif
