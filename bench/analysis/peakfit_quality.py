#!/usr/bin/python3
"""Reads the dumps of peakfit_quality (run with --dump DIR) and fits every
problem again with scipy's trust-region least squares (double precision,
weight kept in [0, 1], widths and intensities non-negative) from the road's
start and from its end: a second independent check beside the benchmark's
own MINPACK refits.

    peakfit_quality.py DIR [BEFORE_DIR]

Prints the residual ratios of the road's fits to the best minimum found, how
often the two independent starts end in different minima, the weights left
outside [0, 1], the finder's misses and, given the dumps of an earlier build,
how often a better first fit gave a worse second problem.
"""
import sys
import numpy as np
from scipy.optimize import least_squares

LN2 = np.log(2.0)


def model(p, n):
    x0, a, w, eta = p.reshape(-1, 4).T
    a, w, eta = np.abs(a), np.abs(w), np.clip(eta, 0.0, 1.0)
    d2 = (np.arange(n, dtype=float)[:, None] - x0) ** 2 / (w * w)
    return (a * ((1 - eta) * np.sqrt(LN2 / np.pi) / w * np.exp(-LN2 * d2) + eta / (np.pi * w) / (1 + d2))).sum(axis=1)


def ss(p, y):
    r = model(p, len(y)) - y
    return float(r @ r)


def refit(p, y):
    m = len(p)
    lo = np.tile([-np.inf, 0.0, 1e-3, 0.0], m // 4)
    hi = np.tile([np.inf, np.inf, np.inf, 1.0], m // 4)
    start = np.clip(np.abs(p) * (lo >= 0) + p * (lo < 0), lo, hi)
    start = np.where(np.isfinite(start), start, 0.5)
    r = least_squares(lambda q: model(q, len(y)) - y, start, bounds=(lo, hi), x_scale='jac',
                      method='trf', ftol=1e-14, xtol=1e-14, gtol=1e-14, max_nfev=4000)
    return ss(r.x, y)


def read(d):
    fits = {}
    with open(d + '/problems.txt') as f:
        lines = f.read().split('\n')
    i = 0
    while i < len(lines) and lines[i].startswith('fit'):
        _, q, k, start, end, result = lines[i].split()
        y = np.array(lines[i + 1].split()[1:], float)
        p0 = np.array(lines[i + 2].split()[1:], float)
        p1 = np.array(lines[i + 3].split()[1:], float)
        fits[(int(q), int(k))] = dict(y=y, p0=p0, p1=p1, result=int(result))
        i += 4
    return fits


def analyse(d):
    fits = read(d)
    for key, f in sorted(fits.items()):
        f['ss'] = ss(f['p1'], f['y'])
        a, b = refit(f['p0'], f['y']), refit(f['p1'], f['y'])
        f['ref'] = min(a, b, f['ss'])
        f['local'] = abs(a - b) > 1e-3 * min(a, b)
        f['ratio'] = f['ss'] / f['ref']
    for k in (1, 2):
        r = np.array([f['ratio'] for key, f in fits.items() if key[1] == k])
        it = [f['result'] for key, f in fits.items() if key[1] == k]
        print(f'fit {k}: {len(r)} fits, residual / minimum: median {np.median(r):.4f}, '
              f'90% {np.percentile(r, 90):.3f}, worst {r.max():.3f}, above 1.01: {(r > 1.01).sum()}; '
              f'iterations median {np.median(it):.0f}, at the limit {sum(1 for i in it if i == 250)}, '
              f'failed {sum(1 for i in it if i < 0)}')
    local = sum(f['local'] for f in fits.values())
    print(f'starts at the road\'s start and end reaching different minima: {local} of {len(fits)} fits')
    w = np.concatenate([f['p1'][3::4] for key, f in fits.items() if key[1] == 2])
    print(f'final weights outside [0, 1]: {((w < 0) | (w > 1)).sum()} of {len(w)}')
    return fits


def finder(d):
    misses = close = ends = total = 0
    with open(d + '/finder.txt') as f:
        lines = f.read().split('\n')
    for i in range(0, len(lines) - 2, 3):
        head = lines[i].split()
        truth = [tuple(map(float, t.split(':'))) for t in head[3:]]
        found = [float(v) for v in lines[i + 1].split()[1:]]
        length = int(head[2])
        for j, (x0, w) in enumerate(truth):
            total += 1
            if any(abs(x0 - x) <= max(2.0, w) for x in found):
                continue
            misses += 1
            if any(abs(x0 - t[0]) < 2.5 * (w + t[1]) for k, t in enumerate(truth) if k != j):
                close += 1
            elif x0 < 30 + 40 or x0 > length - 30 - 40:
                ends += 1
    print(f'finder: {misses} of {total} true peaks missed ({close} in close overlaps, '
          f'{ends} near the ends, {misses - close - ends} other)')


after = analyse(sys.argv[1])
finder(sys.argv[1])
if len(sys.argv) > 2:
    print('--- earlier build')
    before = analyse(sys.argv[2])
    worse = better = 0
    for (q, k), f in after.items():
        if k != 1 or (q, 2) not in after or (q, 1) not in before or (q, 2) not in before:
            continue
        if f['ss'] < before[(q, 1)]['ss'] * (1 - 1e-6):
            better += 1
            if after[(q, 2)]['ref'] > before[(q, 2)]['ref'] * (1 + 1e-6):
                worse += 1
    print(f'better first fit than the earlier build: {better} profiles; of these the second '
          f'problem\'s minimum was worse in {worse}')
