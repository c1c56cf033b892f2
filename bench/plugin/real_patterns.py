#!/usr/bin/python3
"""How the centre finding, the ellipse refinement and the peak table hold on
realistic electron-diffraction patterns.

    real_patterns.py [--probe PATH] [--quick] [--seed N]

Draws powder patterns of gold, ceria and silicon with pyFAI's detector
geometry (200 kV electrons, a flat detector at a camera length that puts the
first ring 130 to 190 pixels out, tilted or not), with kinematic ring
intensities (multiplicity x |F|^2 x d, a screened-Coulomb electron
scattering factor, a Debye-Waller factor), Gaussian ring profiles (sigma 0.8
to 2.5 pixels), a diffuse background falling from the centre, Poisson noise
and a beam stop (a disc and an arm to the edge, reading 0). pattern_probe
(built beside centre_accuracy) runs the script functions on each one; this
script scores what they found against the geometry and prints Markdown
tables:

1. the centre, the ellipse and the d-spacings of the peak table by detector
   tilt and size;
2. the limits: rings as bright at the edge as near the centre, ring pairs a
   few pixels apart, a beam stop reading a few dark counts instead of 0.

Distances are pixels; a centre is scored against the direct beam's position.
A d-spacing error is d found / d true - 1, with d found from the fitted peak
position + 0.5 (bin i holds radii i to i + 1) at the true camera length.
Every cell is median / largest of the patterns' values unless it says
otherwise. With the default seed it exits with status 1, after a FAILED line
a figure, when a pattern misses the accuracy the README states (README_BOUNDS
below); the other figures are for reading.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

import numpy as np

try:
    from pyFAI.azimuthalIntegrator import AzimuthalIntegrator
    from pyFAI.calibrant import get_calibrant
    from pyFAI.detectors import Detector
except ImportError:
    sys.exit("real_patterns.py needs pyFAI: apt-get install python3-pyfai")

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
WAVELENGTH = 0.025079  # Angstrom, electrons of 200 kV
PIXEL = 50e-6  # metres
A0 = 0.529177  # Bohr radius, Angstrom
DEBYE_WALLER = 0.5  # B, Angstrom^2

# Atoms of the unit cell: (atomic number, fractional position).
FCC = [(0, 0, 0), (0, 0.5, 0.5), (0.5, 0, 0.5), (0.5, 0.5, 0)]
CELLS = {
    "Au": [(79, p) for p in FCC],
    "CeO2": [(58, p) for p in FCC]
    + [(8, tuple((c + s) % 1 for c in p)) for p in FCC for s in (0.25, 0.75)],
    "Si": [(14, p) for p in FCC] + [(14, tuple((c + 0.25) % 1 for c in p)) for p in FCC],
}


def electron_factor(z, d):
    """Born scattering amplitude of a Wentzel (screened Coulomb) atom."""
    q = 2 * np.pi / d
    screening = 0.885 * A0 * z ** (-1.0 / 3.0)
    return 2 * z / (A0 * (q * q + 1 / screening**2))


def reflections(name, d_min):
    """(d, kinematic ring intensity) of every ring down to d_min."""
    a = get_calibrant(name).dSpacing[0] * np.sqrt(3)  # d(111) of a cubic cell
    n = int(a / d_min) + 1
    rings = {}
    for h in range(-n, n + 1):
        for k in range(-n, n + 1):
            for l in range(-n, n + 1):
                g2 = h * h + k * k + l * l
                if g2 == 0 or a / np.sqrt(g2) < d_min:
                    continue
                d = a / np.sqrt(g2)
                f = sum(electron_factor(z, d) * np.exp(2j * np.pi * (h * x + k * y + l * w))
                        for z, (x, y, w) in CELLS[name])
                if abs(f) ** 2 < 1e-6:
                    continue
                key = round(d, 6)
                rings[key] = rings.get(key, 0.0) + abs(f) ** 2
    s2 = lambda d: 1 / (4 * d * d)
    return sorted(((d, i * d * np.exp(-2 * DEBYE_WALLER * s2(d))) for d, i in rings.items()),
                  reverse=True)


class Pattern:
    """One pattern and the geometry it was drawn with."""

    def __init__(self, rng, size, rings, tilt=0.0, flat=False, dark=0, first_radius=None,
                 width=(0.8, 2.5)):
        self.size = size
        scale = size / 1024
        r1 = first_radius if first_radius else rng.uniform(130, 190) * scale
        self.distance = r1 / np.tan(2 * np.arcsin(WAVELENGTH / (2 * rings[0][0])))  # pixels
        self.x = size * rng.uniform(0.4, 0.6)
        self.y = size * rng.uniform(0.4, 0.6)
        ai = AzimuthalIntegrator(detector=Detector(PIXEL, PIXEL, max_shape=(size, size)),
                                 wavelength=WAVELENGTH * 1e-10)
        # pyFAI puts pixel i's centre at i + 0.5; here it is at i.
        ai.setFit2D(self.distance * PIXEL * 1e3, self.x + 0.5, self.y + 0.5, tilt=tilt,
                    tiltPlanRotation=rng.uniform(0, 360), pixelX=PIXEL * 1e6, pixelY=PIXEL * 1e6)
        self.ai = ai
        tth = ai.twoThetaArray((size, size))
        sigma = rng.uniform(*width) / self.distance  # radians of 2 theta
        # Ring k as the minor semi-axis it shows in a profile: its radius along
        # the tilt axis, where the detector is at the nominal distance.
        self.radii = [self.distance * np.tan(2 * np.arcsin(WAVELENGTH / (2 * d))) for d, _ in rings]
        weights = [1.0 if flat else i / r for (d, i), r in zip(rings, self.radii)]
        height = rng.uniform(800, 3000)
        weights = height * np.array(weights) / max(weights)
        counts = np.zeros((size, size))
        for t, w in zip(np.arctan(np.array(self.radii) / self.distance), weights):
            near = np.abs(tth - t) < 6 * sigma
            counts[near] += w * np.exp(-0.5 * ((tth[near] - t) / sigma) ** 2)
        r = np.tan(tth) * self.distance
        centre_glow = rng.uniform(1, 3) * height * (0.3 if flat else 1)
        counts += centre_glow / (1 + (r / (rng.uniform(30, 60) * scale)) ** 2) + rng.uniform(20, 80)
        counts = rng.poisson(counts).astype(np.float64)
        # The beam stop: a disc about the beam and an arm to the image's edge.
        rows, cols = np.mgrid[0:size, 0:size]
        dx, dy = cols - self.x, rows - self.y
        arm = rng.uniform(0, 2 * np.pi)
        along = dx * np.cos(arm) - dy * np.sin(arm)
        across = np.abs(dx * np.sin(arm) + dy * np.cos(arm))
        disc = np.hypot(dx, dy) < rng.uniform(0.3, 0.5) * r1
        self.stop = disc | ((along > 0) & (across < rng.uniform(6, 10) * scale))
        self.clean = np.minimum(counts, 65535)
        self.counts = self.with_stop(dark, rng)
        self.ratio, self.angle = self.ellipse(self.radii[0])

    def with_stop(self, dark, rng):
        counts = self.clean.copy()
        counts[self.stop] = rng.poisson(dark, int(self.stop.sum())) if dark else 0
        return counts

    def ellipse(self, radius):
        """a/b and major-axis angle (degrees, counter-clockwise as displayed)
        of the ring through the given radius: its chords through the beam,
        from pyFAI's 2 theta along rays."""
        t = np.arctan(radius / self.distance)
        phi = np.linspace(0, 2 * np.pi, 1440, endpoint=False)
        lo, hi = np.full(phi.shape, 0.5 * radius), np.full(phi.shape, 2.0 * radius)
        for _ in range(50):
            mid = 0.5 * (lo + hi)
            inside = self.ai.tth(self.y - mid * np.sin(phi), self.x + mid * np.cos(phi)) < t
            lo, hi = np.where(inside, mid, lo), np.where(inside, hi, mid)
        chords = lo[:720] + lo[720:]
        return chords.max() / chords.min(), np.degrees(phi[int(np.argmax(chords))])


def peak_positions(table):
    return np.array(table[0::4]), np.array(table[2::4])


def d_errors(result, pattern, key, within=2.5):
    """Signed d-spacing errors (%) of the rings inside the profile that the
    peak table found as one peak within the given distance."""
    positions, _ = peak_positions(result[key]["peaks"])
    length = len(result[key]["profile"])
    errors = []
    for r in pattern.radii:
        near = np.abs(positions + 0.5 - r) < within
        if r < length - 8 and near.sum() == 1:
            errors.append(100 * (r / (positions[near][0] + 0.5) - 1))
    return errors


def spread(values, decimals):
    values = [v for v in values if np.isfinite(v)]
    if not values:
        return "-"
    return f"{np.median(values):.{decimals}f} / {max(values, key=abs):.{decimals}f}"


def run_probe(probe, patterns, folder, start_off=None, options=()):
    """The probe's findings, one dict a pattern; with start_off the
    refinements start that many pixels off the true centre, not at the
    guess; options go to the probe's command line."""
    jobs = []
    for n, p in enumerate(patterns):
        path = os.path.join(folder, f"pattern{n}.f32")
        p.counts.astype("<f4").tofile(path)
        begincut = max(20, int(0.7 * p.radii[0]))
        start = f" {p.x + start_off} {p.y}" if start_off is not None else ""
        jobs.append(f"{path} {p.size} {p.size} {begincut} {p.x} {p.y}{start}\n")
    out = subprocess.run([probe, *options], input="".join(jobs), capture_output=True, text=True, check=True)
    results = [json.loads(line) for line in out.stdout.splitlines()]
    run_probe.script_errors += sum(r["script_errors"] for r in results)
    for n in range(len(patterns)):
        os.remove(os.path.join(folder, f"pattern{n}.f32"))
    return results


run_probe.script_errors = 0


# What the README states for the table's rows, as bounds every pattern of
# the default seed meets: (rows, column, largest magnitude, decimals the
# README gives it to). The first row's patterns in a quick run are the first
# three of the full run's, so its largest figures bound them; the other rows
# of a quick run are other patterns, bound only by the README's sentences:
# an a/b below 1 + 0.7 / r is a circle, untilted d errors within 0.05 %
# (circular profile) and up to 0.18 % (elliptic), a/b within 0.004 at 3
# degrees, the angle within 15 degrees at 5. (The first row's a/b error is
# left to the 0.7 / r rule: its largest, 0.003544, is the README's 0.0035 to
# the rounding, a step of the whole-pixel search from failing.)
UNTILTED = [(1024, 0), (2048, 0)]
README_BOUNDS = [
    ([(1024, 0)], "GuessCenter", 11.4, 1),
    ([(1024, 0)], "RefineCenter", 0.7, 1),
    ([(1024, 0)], "RefineCenterEllipticity", 0.7, 1),
    ([(1024, 0)], "(a/b found - 1) x ring radius", 0.64, 2),
    (UNTILTED, "(a/b found - 1) x ring radius", 0.7, 2),
    (UNTILTED, "d error, elliptic profile (%)", 0.18, 2),
    (UNTILTED, "d error, circular profile (%)", 0.05, 2),
    ([(1024, 3)], "a/b found - true", 0.004, 4),
    ([(1024, 5)], "angle error (degrees)", 15.0, 1),
]


def exceeded(row, columns):
    """FAILED lines for the row's figures beyond the README's bounds; a
    figure counts as the README would print it."""
    lines = []
    for rows, column, bound, decimals in README_BOUNDS:
        values = [abs(v) for v in columns[column] if np.isfinite(v)]
        if row in rows and values and round(max(values), decimals) > bound:
            lines.append(f"FAILED: {row[0]} x {row[0]}, tilt {row[1]}: {column} reached "
                         f"{max(values):.{decimals + 2}f}, beyond the README's {bound}")
    return lines


def miss(xy, p):
    return float(np.hypot(xy[0] - p.x, xy[1] - p.y))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--probe", default=os.path.join(ROOT, "build/bench/plugin/pattern_probe"))
    parser.add_argument("--quick", action="store_true", help="3 patterns a row instead of 12")
    readme_seed = 20261207
    parser.add_argument("--seed", type=int, default=readme_seed)
    args = parser.parse_args()
    rng = np.random.default_rng(args.seed)
    per_row = 3 if args.quick else 12
    materials = ["Au", "CeO2", "Si"]
    ring_lists = {m: reflections(m, 0.55) for m in materials}
    folder = tempfile.mkdtemp(prefix="real_patterns")
    total = 0
    failures = []

    print(f"{per_row} patterns a row, gold, ceria and silicon in turn; Poisson noise, a beam stop "
          "reading 0.\n")
    print("| detector | tilt (degrees) | true a/b | GuessCenter | RefineCenter | "
          "RefineCenterEllipticity | a/b found - true | angle error (degrees) | "
          "(a/b found - 1) x ring radius | d error, elliptic profile (%) | "
          "d error, circular profile (%) |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    rows = [(1024, 0), (2048, 0)] + [(1024, t) for t in (3, 5, 8, 10, 15, 20)]
    for size, tilt in rows:
        patterns = [Pattern(rng, size, ring_lists[materials[n % 3]], tilt=tilt)
                    for n in range(per_row)]
        results = run_probe(args.probe, patterns, folder)
        total += len(patterns)
        guess, refine, ellipse, ratio, angle, product = ([] for _ in range(6))
        d_ell, d_circ, true_ratio = [], [], []
        for p, r in zip(patterns, results):
            guess.append(miss(r["guess"], p))
            refine.append(miss(r["refine"], p))
            ellipse.append(miss(r["ellipse"], p))
            found_ratio = r["ellipse"][3]
            true_ratio.append(p.ratio)
            ratio.append(found_ratio - p.ratio)
            if tilt == 0:
                product.append((found_ratio - 1) * p.radii[0])
            if p.ratio >= 1.003:
                a = abs(r["ellipse"][2] - p.angle) % 180
                angle.append(min(a, 180 - a))
            d_ell += d_errors(r, p, "elliptic")
            d_circ += d_errors(r, p, "circle")
        print(f"| {size} x {size} | {tilt} | {np.median(true_ratio):.4f} | {spread(guess, 1)} | "
              f"{spread(refine, 1)} | {spread(ellipse, 1)} | {spread(ratio, 4)} | "
              f"{spread(angle, 1)} | {spread(product, 2)} | {spread(d_ell, 2)} | "
              f"{spread(d_circ, 2)} |", flush=True)
        failures += exceeded((size, tilt), {
            "GuessCenter": guess, "RefineCenter": refine, "RefineCenterEllipticity": ellipse,
            "a/b found - true": ratio, "angle error (degrees)": angle,
            "(a/b found - 1) x ring radius": product, "d error, elliptic profile (%)": d_ell,
            "d error, circular profile (%)": d_circ})

    print("\nLimits, on 1024 x 1024 patterns without tilt:\n")
    print("| case | patterns | measure | value |")
    print("|---|---|---|---|")
    # Rings as bright at the edge as near the centre.
    patterns = [Pattern(rng, 1024, ring_lists[materials[n % 3]], flat=True) for n in range(per_row)]
    results = run_probe(args.probe, patterns, folder)
    total += len(patterns)
    guess = [miss(r["guess"], p) for p, r in zip(patterns, results)]
    refine = [miss(r["ellipse"], p) for p, r in zip(patterns, results)]
    peaks = sum(len(r["elliptic"]["peaks"]) // 4 for r in results)
    inside = sum(sum(x < len(r["elliptic"]["profile"]) - 8 for x in p.radii)
                 for p, r in zip(patterns, results))
    truth_peaks = sum(len(r["truth"]["peaks"]) // 4 for r in results)
    case = "rings equally bright to the edge"
    print(f"| {case} | {len(patterns)} | GuessCenter error (px), smallest / median / largest | "
          f"{min(guess):.1f} / {np.median(guess):.1f} / {max(guess):.1f} |")
    print(f"| {case} | {len(patterns)} | RefineCenterEllipticity error (px), median / largest | "
          f"{spread(refine, 1)} |")
    print(f"| {case} | {len(patterns)} | peaks in the table (refined ellipse; true centre) for "
          f"rings inside the profile, all patterns | {peaks}; {truth_peaks} for {inside} |")
    for off in (5, 20):
        started = run_probe(args.probe, patterns, folder, start_off=off)
        refine = [miss(r["refine"], p) for p, r in zip(patterns, started)]
        print(f"| {case} | {len(patterns)} | RefineCenter error (px) from a start {off} px off, "
              f"median / largest | {spread(refine, 1)} |")
    # Ring pairs a few pixels apart, at 220 and 220 + gap, among single rings.
    for gap in (3, 4, 5, 6, 8):
        radii = [150, 220, 220 + gap, 300, 380]
        distance = 10000.0
        ds = [WAVELENGTH / (2 * np.sin(np.arctan(r / distance) / 2)) for r in radii]
        rings = [(d, i) for d, i in zip(ds, (3.0, 1.0, 1.0, 0.6, 0.4))]
        patterns = [Pattern(rng, 1024, rings, first_radius=150) for _ in range(per_row // 2)]
        results = run_probe(args.probe, patterns, folder)
        total += len(patterns)
        one, width_ratio = 0, []
        for p, r in zip(patterns, results):
            positions, widths = peak_positions(r["truth"]["peaks"])
            pair = np.abs(positions + 0.5 - (p.radii[1] + p.radii[2]) / 2) < gap / 2 + 2
            single = np.abs(positions + 0.5 - p.radii[3]) < 2.5
            if pair.sum() == 1:
                one += 1
                if single.sum() == 1:
                    width_ratio.append(widths[pair][0] / widths[single][0])
        print(f"| two rings {gap} px apart (profile about the true centre) | {len(patterns)} | "
              f"found as one peak; its HWHM / a single ring's, median | {one} of {len(patterns)}; "
              f"{np.median(width_ratio) if width_ratio else float('nan'):.2f} |")
    # A beam stop that reads a few dark counts.
    for dark in (3, 10):
        patterns = [Pattern(rng, 1024, ring_lists[materials[n % 3]]) for n in range(per_row)]
        masked = run_probe(args.probe, patterns, folder)
        for p in patterns:
            p.counts = p.with_stop(dark, rng)
        unmasked = run_probe(args.probe, patterns, folder)
        total += 2 * len(patterns)
        moved = [float(np.hypot(a["guess"][0] - b["guess"][0], a["guess"][1] - b["guess"][1]))
                 for a, b in zip(masked, unmasked)]
        drops = []
        for p, a, b in zip(patterns, masked, unmasked):
            zero, counts = np.array(a["truth"]["profile"]), np.array(b["truth"]["profile"])
            for radius in p.radii:
                k = int(radius)
                if 20 < k < len(zero) - 8 and zero[k] > 0:
                    drops.append(100 * (1 - counts[k] / zero[k]))
        case = f"beam stop reading about {dark} counts instead of 0"
        print(f"| {case} | {len(patterns)} | GuessCenter moved (px), median / largest | "
              f"{spread(moved, 1)} |")
        print(f"| {case} | {len(patterns)} | profile at the rings lower by (%), "
              "smallest / median / largest | "
              f"{min(drops):.1f} / {np.median(drops):.1f} / {max(drops):.1f} |")
    os.rmdir(folder)
    print(f"\n{total} patterns in all; {run_probe.script_errors} script errors.")
    if args.seed != readme_seed:
        return 0
    print("\n".join(failures) if failures else "The README's bounds hold.")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
