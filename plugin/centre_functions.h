// Script functions that locate a pattern's centre and the radius of its
// strongest ring, and optionally its elliptical distortion.  Results go back
// through the float pointers; angles are degrees.
#pragma once

#include "plugin_sdk.h"

// A first guess from the centres of gravity; x, y and radius are outputs.
// An image too small for the ring search is a script error, raised before
// the guess.
void GuessCenter(DM_ImageToken image, float* x, float* y, float* radius);
// Refines the centre x, y; radius is an output.
void RefineCenter(DM_ImageToken image, float* x, float* y, float* radius);
// Refines centre, major-axis angle and axis ratio a/b; radius is an output;
// smoothing is the half-width of the ring smoothing, at most the ring count
// of the ring window found (wider is refused with an ERROR line before any
// output is written).
void RefineCenterEllipticity(DM_ImageToken image, float* x, float* y, float* angle, float* ratio,
                             float* radius, float smoothing);
