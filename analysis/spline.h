// The shape-preserving cubic (PCHIP) through the background spline points,
// the background it lays under a profile, and general spline evaluation.
#pragma once

#include "profile_data.h"

#include <cstdint>

// Derivatives of the monotone piecewise cubic Hermite interpolant through
// (xs[k], ys[k]), k = 0 .. n-1, xs strictly increasing.  Fills c[4n]:
// c[4k] = ys[k], c[4k+1], c[4k+2], c[4k+3] the first, second and third
// derivative at xs[k] of the cubic of the interval starting there (for the
// last node the continuation of the last interval's cubic).  Node slopes
// follow Fritsch-Butland with Brodlie's weights and three-point ends: the
// interpolant is monotone wherever the data are and flat at local extrema.
// n = 1 gives a constant, n = 2 a straight line; n < 1 writes nothing.
// Equal positions give non-finite coefficients: the caller checks them.
void pchip_coefficients(int32_t n, const float* xs, const float* ys, float* c);

// Lays the background under the profile and subtracts it.  Replaces
// rec.background and rec.ysub with `length` floats each:
//   - samples from trunc(splinex[0] - 1) up to one past the last spline point
//     get the PCHIP through the spline points (before the first node the
//     first node's cubic, after the last the last node's);
//   - samples before that and from trunc(splinex[last] + 1) on get 0 in both
//     arrays (that last pass may clear the sample the cubic part wrote).
// Needs check_splinepoints(rec, 1, ...) to pass; otherwise it writes that
// check's ERROR line and changes nothing.
void subtractbackground(profile_data& rec);

// Index lo of the interval of xq in the monotone array xs[n] (increasing
// when xs[n-1] > xs[0], else decreasing): xs[lo] <= xq < xs[lo+1] for
// increasing xs, clamped to [0, n-1] outside the table.  Hunts from the
// cursor (clamped into range) with doubling steps, then bisects, and stores
// lo back into the cursor.  n < 1 returns 0.
int32_t spline_locate(int32_t n, const float* xs, float xq, int32_t& cursor);

// Evaluates the piecewise cubic given by coefficients in the layout of
// pchip_coefficients at the m points xq, writing out[m]: order 0 the value,
// 1 to 3 the derivatives, any other order 0.0.  Each call hunts from a
// cursor of its own, starting at the first interval and carried from one
// point to the next (nearby points are found in a few steps).
// Returns m (0 and writes nothing when n < 1 or m < 1).
int32_t spline_evaluate(int32_t order, int32_t n, const float* xs, const float* c, int32_t m,
                        const float* xq, float* out);
