#!/usr/bin/python3
"""Computes, once, the minimum that the long-profile peak-fit test compares
with.

The profile is that of LongProfileWithNarrowPeaksFarFromTheStart in
pseudovoigt_test.cpp: narrow pseudo-Voigt peaks near the end of 3,000
samples plus a fixed pseudo-noise, rounded to float.  scipy's bounded
trust-region fitter (double precision; weights held in [0, 1], intensities
and widths positive) fits from the test's start and from the truth; the
lower sum of squares is printed with its rows, as the C++ initialiser to
paste.
"""
import numpy as np
from scipy.optimize import least_squares

from peak_reference import noisy_profile, peaks

N = 3000

TRUTH = [(2310.4, 9000, 1.3, 0.2), (2321.7, 5000, 2.1, 0.8), (2555.2, 12000, 1.6, 0.5),
         (2790.9, 7000, 2.8, 0.1), (2797.6, 4000, 1.2, 0.9)]
START = [(2310.9, 8000, 1.5, 0.5), (2321.2, 5600, 1.8, 0.5), (2555.8, 10500, 1.9, 0.5),
         (2790.4, 7800, 2.4, 0.5), (2798.0, 3500, 1.4, 0.5)]


def fit(y, begin):
    x = np.arange(N, dtype=float)
    m = 4 * len(begin)
    lo = np.tile([-np.inf, 0.0, 0.05, 0.0], m // 4)
    hi = np.tile([np.inf, np.inf, np.inf, 1.0], m // 4)
    r = least_squares(lambda p: peaks(x, p.reshape(-1, 4)) - y, np.array(begin, float).ravel(),
                      bounds=(lo, hi), x_scale='jac', method='trf', ftol=1e-15, xtol=1e-15,
                      gtol=1e-15, max_nfev=10000)
    return float(np.sum(r.fun ** 2)), r.x.reshape(-1, 4)


y = noisy_profile(TRUTH, N)
best = min((fit(y, begin) for begin in (START, TRUTH)), key=lambda t: t[0])
rows = best[1]
print(f'{best[0]:.10g}')
print('{' + ', '.join('{' + ', '.join(f'{v:.8g}' for v in r) + '}' for r in rows) + '}')
