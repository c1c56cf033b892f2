/* Levenberg-Marquardt nonlinear least squares, single precision, with
 * finite-difference Jacobians.  The two entry points keep the classic
 * levmar argument lists so that callers written for it work unchanged.
 *
 * The solver never prints and never ends the process: where memory cannot
 * be had it throws std::bad_alloc (through these C-linkage functions, which
 * are compiled as C++).
 */
#ifndef KELPO_LEVMAR_H
#define KELPO_LEVMAR_H

#ifdef __cplusplus
extern "C" {
#endif

#define LM_OPTS_SZ 5  /* tau, eps1, eps2, eps3, delta */
#define LM_INFO_SZ 10
#define LM_ERROR (-1)

/* Defaults used when opts is NULL. */
#define LM_INIT_MU 1E-03F
#define LM_STOP_THRESH 1E-17F
#define LM_DIFF_DELTA 1E-06F

/* Model callback: writes f(p) into hx[0..n-1]. */
typedef void (*slevmar_func)(float *p, float *hx, int m, int n, void *adata);

/* Unconstrained fit.  Returns the number of iterations, or LM_ERROR. */
int slevmar_dif(void (*func)(float *p, float *hx, int m, int n, void *adata),
                float *p, float *x, int m, int n, int itmax, float *opts,
                float *info, float *work, float *covar, void *adata);

/* Fit inside the box lb <= p <= ub (either may be NULL: unbounded on that
 * side).  Returns the number of iterations, or LM_ERROR. */
int slevmar_bc_dif(void (*func)(float *p, float *hx, int m, int n, void *adata),
                   float *p, float *x, int m, int n, float *lb, float *ub,
                   int itmax, float *opts, float *info, float *work,
                   float *covar, void *adata);

#ifdef __cplusplus
}
#endif

#endif
