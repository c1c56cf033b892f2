/* Levenberg-Marquardt nonlinear least squares, single precision, with
 * finite-difference Jacobians (the _dif entry points) or the caller's own
 * (the _der entry points).  The entry points keep the classic levmar
 * argument lists so that callers written for it work unchanged.
 *
 * The fit minimises E = sum_i (x_i - f_i(p))^2 over the m parameters p for
 * n >= m measurements x (x == NULL means all zeros).  Like the "norms" in
 * info, E and the step length D are squared sums.
 *
 * Arguments common to both entry points:
 *   func   model: writes f(p) into hx[0..n-1]; adata is passed through.
 *          The solver perturbs p in place while differencing.
 *   p      m floats: start on entry, estimate on exit.
 *   x      n floats, or NULL.
 *   itmax  iteration limit (rejected steps count as iterations).
 *   opts   {tau, eps1, eps2, eps3, delta}, or NULL for {LM_INIT_MU,
 *          LM_STOP_THRESH x 3, LM_DIFF_DELTA}.  tau scales the starting
 *          damping; the stops are ||J^T e||_inf <= eps1, D <= eps2^2 ||p||^2
 *          and E <= eps3.  The difference step for p_j is
 *          max(|1e-4 p_j|, |delta|); delta < 0 selects central differences.
 *   info   LM_INFO_SZ floats, or NULL:
 *          [0] E at the start (after projection onto the box),
 *          [1] E at the returned p,
 *          [2] ||J^T e||_inf of the last J^T e formed (bounded: over the
 *              parameters not at a bound), 0 if none was formed,
 *          [3] D of the last step (0 after reason 1, FLT_MAX if none),
 *          [4] damping mu over the largest diagonal entry of the last
 *              J^T J (0 if none was formed),
 *          [5] iterations, [6] stop reason, [7] model calls,
 *          [8] Jacobians (differenced or the caller's), [9] linear systems
 *          solved.
 *          Stop reasons: 1 small gradient (bounded: and every active bound
 *          holds the gradient back), 2 small step, 3 itmax reached,
 *          4 absurdly large step, 5 damping can grow no further, 6 small
 *          error, 7 the model gave a non-finite value (at the start, at a
 *          trial point or while differencing).  In the bounded fit a stop 2
 *          or 5 in the last permitted iteration is reported as 3.
 *   work   NULL (the solver allocates), or caller scratch of at least
 *          4n + 4m + n*m + m*m floats (slevmar_dif) or
 *          2n + 4m + n*m + m*m floats (the other three).
 *   covar  m*m floats (row-major), or NULL: inverse of the last J^T J
 *          times E / (n - m).  Left untouched when J^T J has a zero row or
 *          was never formed; n == m gives Inf or NaN.
 *
 * Return: the iteration count (info[5]) for reasons 1, 2, 3, 5 and 6;
 * LM_ERROR for reasons 4 and 7.  Either way p holds the last accepted point
 * (the start if no step was accepted), never a trial that failed.
 * LM_ERROR is also returned, with p, info and covar left
 * untouched and func never called, for bad arguments: func, jacf or p NULL,
 * m < 1, n < m, or (bounded) some lb[i] > ub[i].
 *
 * Results are deterministic: the same call gives the same bits.  The solver
 * never prints and never ends the process: where memory cannot be had it
 * throws std::bad_alloc (through these C-linkage functions, which are
 * compiled as C++).  Exceptions thrown by func pass through, leaving p at
 * the last accepted point.  func must not change p.
 */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define LM_OPTS_SZ 5 /* tau, eps1, eps2, eps3, delta */
#define LM_INFO_SZ 10
#define LM_ERROR (-1)

/* Defaults used when opts is NULL. */
#define LM_INIT_MU 1E-03F
#define LM_STOP_THRESH 1E-17F
#define LM_DIFF_DELTA 1E-06F

/* Model callback: writes f(p) into hx[0..n-1]. */
typedef void (*slevmar_func)(float* p, float* hx, int m, int n, void* adata);

/* Unconstrained fit. */
int slevmar_dif(void (*func)(float* p, float* hx, int m, int n, void* adata), float* p, float* x,
                int m, int n, int itmax, float* opts, float* info, float* work, float* covar,
                void* adata);

/* Fit inside the box lb <= p <= ub: m floats each, either may be NULL (no
 * bound on that side); single parameters may use -FLT_MAX/FLT_MAX or
 * -INFINITY/INFINITY.  A start outside the box is moved onto it in place.
 * The model is called only at points inside the box, differencing included
 * (steps that would cross a bound are taken on the other side or shortened
 * to the bound).  A parameter with lb[i] == ub[i] stays fixed.  info[7]
 * counts the Jacobian's calls too (m + 1 or 2m per Jacobian). */
int slevmar_bc_dif(void (*func)(float* p, float* hx, int m, int n, void* adata), float* p, float* x,
                   int m, int n, float* lb, float* ub, int itmax, float* opts, float* info,
                   float* work, float* covar, void* adata);

/* The caller's Jacobian: writes the n x m row-major J at p into j,
 * j[i*m + k] = d f_i / d p_k. */
typedef void (*slevmar_jacf)(float* p, float* j, int m, int n, void* adata);

/* The same fits with the caller's Jacobian.  Options, stop rules and the
 * iteration are those of the difference versions, except that jacf is
 * evaluated at the start and after every accepted step (no differencing,
 * no secant updates) and info[7] counts only calls of func.  Only
 * opts[0..3] are read.  A Jacobian with a non-finite entry ends the fit
 * with reason 7. */
int slevmar_der(void (*func)(float* p, float* hx, int m, int n, void* adata),
                void (*jacf)(float* p, float* j, int m, int n, void* adata), float* p, float* x,
                int m, int n, int itmax, float* opts, float* info, float* work, float* covar,
                void* adata);

int slevmar_bc_der(void (*func)(float* p, float* hx, int m, int n, void* adata),
                   void (*jacf)(float* p, float* j, int m, int n, void* adata), float* p, float* x,
                   int m, int n, float* lb, float* ub, int itmax, float* opts, float* info,
                   float* work, float* covar, void* adata);

#ifdef __cplusplus
}
#endif
