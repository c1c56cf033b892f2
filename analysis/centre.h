// First estimates of a pattern's geometry: the centre from intensity-weighted
// centres of gravity (with a pass that ignores the shadow of a beam stop),
// and the ellipticity of the rings from a Levenberg-Marquardt fit of the
// strongest ring's radius in angular sectors.
//
// All functions work on the pattern record (image_data.h) and write their
// results into it; each reports through the message sink (messages.h).
// Errors are one "ERROR ..." line, after which the function returns false and
// the record's results are unchanged.  Allocation failures throw
// std::bad_alloc.
#pragma once

#include "image_data.h"

#include <cstdint>

// Sets center_x / center_y (truncated) to the centre of gravity of the pixels
// x0 <= x < x1, y0 <= y < y1 whose value is strictly above threshold.  The
// window must lie inside the pattern.  When no pixel passes (a blank pattern)
// or the weights give no finite centre, the centre is left as it was.
bool findcenterofg(image_data* rec, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                   float threshold);

// As findcenterofg, but a pixel counts only if its point mirror through the
// current centre (clamped to the pattern) is not masked (0.0): a beam stop's
// shadow has no mirror image, so it would pull the centre toward itself.
bool findcenterofg_beamstop(image_data* rec, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                            float threshold);

// The first centre estimate: the centre of gravity of the pixels above 10 %
// of the maximum, then the beam-stop pass over the largest window symmetric
// about it.  Writes "Guessing the center point using the center of gravity:"
// and "(x, y) \n".  Returns false (centre unchanged) when no centre exists.
bool prefindcenter_whole(image_data* rec);

// The prefit's model (levmar callback): hx[i] = polar radius, at the middle
// angle of sector adata[i] of adata[n] sectors, of the ellipse with mean
// semi-axis p[0], axis ratio p[1] and major axis at angle p[2].
void ellipseradius(float* p, float* hx, int m, int n, void* adata);

// Prefits axis_ratio and angle about the fixed centre from the ring between
// radii start and end (0 < start < end) in nsect sectors.  Writes one line:
// the fit's step count and result, or "Error whileprefitting ellipticity. \n".
// When the fit ends with no finite ratio above 0 the old ratio and angle are
// kept and the function returns false; a fit that reports failure with
// finite parameters still stores them (and returns true).  The record is left
// without a profile.
bool azimuthalint_guess_elliptic(image_data* rec, int32_t start, int32_t end, int32_t nsect);

// Brings an ellipse to axis_ratio >= 1 (turning the angle by pi/2 when the
// ratio is inverted) and the angle into [0, pi).  False, with both values
// untouched, when either is not finite or the ratio is not above 0.
bool normalise_ellipse(float& axis_ratio, float& angle);
