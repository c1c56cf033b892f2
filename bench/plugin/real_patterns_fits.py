#!/usr/bin/python3
"""How close PeakFit's two full fits come to the least-squares minimum on
realistic patterns of gold.

    real_patterns_fits.py [--probe PATH] [--quick] [--seed N] [--patterns N]

Draws gold patterns as real_patterns.py does (13 rings, Poisson noise, a
beam stop reading 0), runs pattern_probe on each with --fits and refits
every full fit of PeakFit (both fits, on the three profiles the probe takes:
about the refined centre, along the refined ellipse, about the true centre;
a problem that two profiles share counts once)
with MINPACK's Levenberg-Marquardt (scipy's least_squares, method 'lm', in
double precision) from where our fit ended, as it is and with every weight
below 0.02 or above 0.98 set to 0.5. The minimum is the lowest of these and
our own end. The cases: the finder settings of real_patterns.py (delta and
minstep 1 % of the profile's largest value), delta and minstep 10 and 30
counts, and the beam stop reading a few dark counts. It prints, per case,
residual(ours) / minimum: median, worst, how many fits are within 1 % and
above 5 %, how many stopped short of a minimum below their end (not in
another minimum), the iteration counts and end messages of our fits, and
for each fit more than 1 % above the minimum the peak farthest from it. With
the default seed and pattern count, or --quick (the first of those
patterns), it exits with status 1, after a FAILED line, when a case's worst
fit is further from the minimum than the README states.
"""
import argparse
import collections
import json
import os
import sys
import tempfile

import numpy as np
from scipy.optimize import least_squares

from real_patterns import ROOT, Pattern, reflections, run_probe

LN2 = np.log(2.0)


def model(p, n):
    """The peak model in double: |A|, |w|, the weight clamped to [0, 1]."""
    x0, a, w, eta = p.reshape(-1, 4).T
    a, w, eta = np.abs(a), np.abs(w), np.clip(eta, 0.0, 1.0)
    d2 = (np.arange(n, dtype=float)[:, None] - x0) ** 2 / (w * w)
    gauss = (1 - eta) * np.sqrt(LN2 / np.pi) / w * np.exp(-LN2 * d2)
    return (a * (gauss + eta / (np.pi * w) / (1 + d2))).sum(axis=1)


def squares(p, y):
    r = model(p, len(y)) - y
    return float(r @ r)


def lm(p, y):
    """MINPACK's lmdif from p; the point and its sum of squares."""
    r = least_squares(lambda q: model(q, len(y)) - y, p, method="lm", ftol=1e-12, xtol=1e-12,
                      gtol=1e-12, max_nfev=200 * (len(p) + 1))
    return r.x, squares(r.x, y)


def minimum(fit):
    """The lowest sum of squares of our end and lmdif from it, as it is and
    with its weights near an end released, and its point; and the lowest of
    our end and lmdif from it as it is (a lower minimum that only the
    released start reaches is another minimum, not one our fit stopped
    short of)."""
    y, end = np.array(fit["y"]), np.array(fit["p1"], float)
    best, at = squares(end, y), end
    if not np.all(np.isfinite(end)):
        return best, at, best
    p, ss = lm(end.copy(), y)
    if ss < best:
        best, at = ss, p
    plain = best
    released = end.copy()
    near = (released[3::4] < 0.02) | (released[3::4] > 0.98)
    if near.any():
        released[3::4][near] = 0.5
        p, ss = lm(released, y)
        if ss < best:
            best, at = ss, p
    return best, at, plain


def farthest(fit, at):
    """The peak of our end farthest from the minimum's, as text."""
    end = np.array(fit["p1"], float).reshape(-1, 4)
    ref = at.reshape(-1, 4)
    w = np.abs(ref[:, 2])
    d = (np.abs(end[:, 0] - ref[:, 0]) + np.abs(np.abs(end[:, 2]) - w)) / w \
        + np.abs(np.abs(end[:, 1]) - np.abs(ref[:, 1])) / np.abs(ref[:, 1]) \
        + np.abs(np.clip(end[:, 3], 0, 1) - np.clip(ref[:, 3], 0, 1))
    k = int(np.argmax(d))
    show = lambda q: (f"({q[0] + fit['start']:.2f}, {abs(q[1]):.0f}, {abs(q[2]):.3f}, "
                      f"{min(max(q[3], 0.0), 1.0):.3f})")
    return f"peak {k} of {len(end)}: ours {show(end[k])}, minimum {show(ref[k])}"


def score(name, fits):
    """Prints the case's row; returns the worst ratio, and the fits more
    than 1 % above the minimum, worst first, or else the worst fit."""
    ratios, short, above = [], 0, []
    for f in fits:
        ss = squares(np.array(f["p1"], float), np.array(f["y"]))
        best, at, plain = minimum(f)
        ratio = ss / best if best > 0 else 1.0
        ratios.append(ratio)
        stopped = ratio > 1.01 and ss > 1.01 * plain
        short += stopped
        kind = "stopped short" if stopped else "another minimum" if ratio > 1.01 else "within 1 %"
        above.append((ratio, f, at, kind))
    above.sort(key=lambda a: -a[0])
    r = np.array(ratios)
    iterations = [f["result"] for f in fits]
    messages = collections.Counter(
        "Fit converged" if f["message"].startswith("Fit converged") else f["message"]
        for f in fits)
    same = sum(f["same"] for f in fits if f["fit"] == 2)
    print(f"| {name} | {len(r)} | {np.median(r):.4f} | {r.max():.4f} | {(r <= 1.01).sum()} | "
          f"{(r > 1.05).sum()} | {short} | {np.median(iterations):.0f} / {min(iterations)} / "
          f"{max(iterations)} | {'; '.join(f'{m} x{c}' for m, c in messages.items())} | "
          f"{same} of {sum(f['fit'] == 2 for f in fits)} |", flush=True)
    return r.max(), [a for a in above if a[0] > 1.01] or above[:1]


def main():
    readme_seed, readme_patterns = 20261207, 16
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--probe", default=os.path.join(ROOT, "build/bench/plugin/pattern_probe"))
    parser.add_argument("--quick", action="store_true", help="1 pattern instead of --patterns")
    parser.add_argument("--patterns", type=int, default=readme_patterns)
    parser.add_argument("--seed", type=int, default=readme_seed)
    args = parser.parse_args()
    rng = np.random.default_rng(args.seed)
    count = 1 if args.quick else args.patterns
    rings = reflections("Au", 0.55)[:13]
    patterns = [Pattern(rng, 1024, rings) for _ in range(count)]
    folder = tempfile.mkdtemp(prefix="real_patterns_fits")
    dump = os.path.join(folder, "fits.jsonl")
    # The last of each case is the README's worst ratio for it: every fit
    # within 0.01 % of the minimum at the finder settings of real_patterns.py,
    # with the beam stop at 0 or reading dark counts; 1.14 and 1.09 at delta
    # 10 and 30. The patterns of a quick run are the full run's first one,
    # the dark counts drawn anew.
    cases = [("beam stop 0, delta 1 % of the largest", (), 0, 1.0001),
             ("beam stop 0, delta 10", ("--delta", "10"), 0, 1.14),
             ("beam stop 0, delta 30", ("--delta", "30"), 0, 1.09),
             ("beam stop reading about 3 counts, delta 1 %", (), 3, 1.0001),
             ("beam stop reading about 10 counts, delta 1 %", (), 10, 1.0001)]
    print(f"{count} gold patterns of 1024 x 1024 (13 rings, Poisson noise), three profiles each, "
          "both full fits of PeakFit; ratio = residual of our fit / the minimum.\n")
    print("| case | fits | ratio, median | worst | within 1 % | above 5 % | above 1 % and "
          "stopped short (lmdif from our end as it is goes 1 % lower) | iterations, median / "
          "least / most | end messages | final tables as the plug-in's |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    far, failures = [], []
    for name, options, dark, bound in cases:
        for p in patterns:
            p.counts = p.with_stop(dark, rng)
        run_probe(args.probe, patterns, folder, options=("--fits", dump, *options))
        # The profiles about the refined and the true centre are often the
        # same (the integration takes whole pixels): each problem counts once.
        fits, seen = [], set()
        with open(dump) as f:
            for line in f:
                fit = json.loads(line)
                key = (fit["job"], fit["fit"], tuple(fit["y"]), tuple(fit["p0"]))
                if key not in seen:
                    seen.add(key)
                    fits.append(fit)
        worst, above = score(name, fits)
        far.append((name, above))
        if worst > bound:
            failures.append(f"FAILED: {name}: worst fit {worst:.5f} times the minimum, beyond the "
                            f"README's {bound}")
    os.remove(dump)
    os.rmdir(folder)
    print("\nThe fits more than 1 % above the minimum (or the worst) of each case, and their "
          "peak farthest from the minimum (position, intensity, HWHM, weight):\n")
    for name, fits in far:
        print(f"- {name}:")
        for ratio, f, at, kind in fits:
            print(f"  - {ratio:.4f} ({kind}), pattern {f['job']}, {f['profile']} profile, "
                  f"fit {f['fit']} "
                  f"({len(f['y'])} samples, {len(f['p1']) // 4} peaks, {f['message']}): "
                  f"{farthest(f, at)}")
    print(f"\n{run_probe.script_errors} script errors.")
    if args.seed != readme_seed or count > readme_patterns:
        return 0
    print("\n".join(failures) if failures else "The README's bounds hold.")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
