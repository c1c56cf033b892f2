#!/usr/bin/python3
"""Computes, once, the bounded optima that the group-fit test compares with.

The profiles are those of GroupFitReachesTheBoundedOptimum in
pseudovoigt_test.cpp: overlapping pseudo-Voigt peaks plus a fixed
pseudo-noise, rounded to float.  The bounds are those of a group fit from
the given start rows: position +-20 samples inside the fitted range,
intensity >= 0, HWHM within a factor 2 of the start, weight in [0, 1].
lmfit (MINPACK underneath, double precision) fits from the start and from
the truth; the lower residual is printed as the C++ initialiser to paste.
"""
import numpy as np
import lmfit

from peak_reference import noisy_profile, peaks

N = 120

CASES = [
    # (truth rows, start rows)
    ([(50.3, 30000, 4, 0.3), (58.6, 12000, 3, 0.7)],
     [(50, 20890, 4.6, 0.5), (58, 8360, 4.6, 0.5)]),
    ([(45.2, 40000, 8, 0.2), (60.7, 25000, 5, 0.8)],
     [(45, 30000, 3, 0.5), (61, 20000, 3, 0.5)]),
    ([(40.1, 50000, 5, 0.2), (50.4, 20000, 4, 0.6), (62.8, 35000, 6, 0.4)],
     [(40, 46000, 5.5, 0.5), (50, 23000, 5.5, 0.5), (63, 31000, 5.5, 0.5)]),
    ([(30.5, 1e6, 3, 0.1), (38.2, 5000, 2.5, 0.9), (45.9, 2e5, 4, 0.5)],
     [(30, 8e5, 3.4, 0.5), (38, 6000, 3.4, 0.5), (46, 1.9e5, 3.4, 0.5)]),
]


def fit(y, start, begin):
    params = lmfit.Parameters()
    for k, (x0, a, w, eta) in enumerate(start):
        params.add(f'x{k}', value=begin[k][0], min=max(x0 - 20, 0), max=min(x0 + 20, N - 1))
        params.add(f'a{k}', value=begin[k][1], min=0)
        params.add(f'w{k}', value=min(max(begin[k][2], w / 2), 2 * w), min=w / 2, max=2 * w)
        params.add(f'e{k}', value=begin[k][3], min=0, max=1)
    x = np.arange(N, dtype=float)

    def residual(p):
        rows = [(p[f'x{k}'], p[f'a{k}'], p[f'w{k}'], p[f'e{k}']) for k in range(len(start))]
        return peaks(x, rows) - y

    r = lmfit.minimize(residual, params, method='leastsq', xtol=1e-15, ftol=1e-15, max_nfev=100000)
    return float(np.sum(r.residual ** 2)), r


for truth, start in CASES:
    y = noisy_profile(truth, N)
    best = min((fit(y, start, begin) for begin in (start, truth)), key=lambda t: t[0])
    rows = [[best[1].params[f'{c}{k}'].value for c in 'xawe'] for k in range(len(start))]
    print(f'    {{{best[0]:.10g}, {{' + ', '.join('{' + ', '.join(f'{v:.8g}' for v in r) + '}' for r in rows) + '}},')
