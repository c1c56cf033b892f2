"""The pseudo-Voigt model and the noisy test profiles that the reference
scripts beside it fit, in double precision."""
import numpy as np

LN2 = np.log(2.0)
PI = 3.14159265358979


def peaks(x, rows):
    """The sum of the peaks (position, intensity, HWHM, weight) at x."""
    out = np.zeros_like(x)
    for x0, a, w, eta in rows:
        d2 = (x - x0) ** 2 / (w * w)
        out += a * ((1 - eta) * np.sqrt(LN2 / PI) / w * np.exp(-LN2 * d2) + eta / (PI * w) / (1 + d2))
    return out


def noisy_profile(truth, n):
    """The peaks over n samples plus the tests' fixed pseudo-noise, rounded
    to float as the tests build them."""
    i = np.arange(n, dtype=float)
    noise = 25.0 * np.sin(1.7 * i * i + 0.3 * i)
    return (peaks(i, truth) + noise).astype(np.float32).astype(float)
