// The radial-distribution side of the profile functions: the composition-
// weighted mean of squared Kirkland electron scattering factors, its scale
// and offset fitted to a profile, the reduced intensity, and the sine
// transform of the reduced intensity into a radial distribution function.
//
// Sample i of a profile stands for the scattering coordinate s_i = i * step
// (rec.step); the Kirkland terms are evaluated at q = (s / 10)^2.  Element
// rows (element_columns floats each) hold a1..a3, b1..b3 (Lorentzian terms
// a/(q + b)), c1..c3, d1..d3 (Gaussian terms c exp(-d q)), one value that is
// not read, and the element's share in percent.
#pragma once

#include "profile_data.h"

#include <cstdint>

// out[i] = sum over elements of f(s)^2 * share / 100 at s = s0 + step * i,
// for i = 0 .. n-1.  Reads rec.step, rec.elements, rec.nelements; an empty
// table gives 0.0 everywhere.
void kirklandfunction(const profile_data& rec, float s0, int32_t n, float* out);

// The solver's model callback of the Kirkland fit: hx[i] = |p[0]| *
// adata[i] + |p[1]|, adata being the n Kirkland values; m is not read.
void scale_offset_model(float* p, float* hx, int m, int n, void* adata);

// Fits rec.scale and rec.offset (their values on entry start the fit) so
// that scale * <f^2> + offset matches y[start .. end] (both included).
// Writes the end message of report_fit_end (pseudovoigt.h) and stores the
// absolute values of the fitted parameters whatever the outcome.  Returns
// the solver's result (iterations, or -1).
// Needs 0 <= start <= end <= length - 1 and the element table; otherwise
// writes an ERROR line, changes nothing and returns -1.  With start = end
// (fewer samples than parameters) the solver refuses: "ERROR! Fit aborted
// after 0. \n".
int32_t kirklandfit(profile_data& rec, int32_t start, int32_t end);

// The Kirkland rows of the profile image, for i = 0 .. length-1:
//   curve[i]   = scale * <f^2>_i + offset
//   reduced[i] = (y[i] - curve[i]) / curve[i] * i * step / 10,
// the reduced intensity; it is not finite where the curve is 0.
// Needs a loaded profile; otherwise writes nothing.
void kirkland_curves(const profile_data& rec, float* curve, float* reduced);

// The abscissa step of the RDF functions for a script's calibration c:
// c * 2 pi / 10 (in double, rounded to float).
float rdf_step(float c);

// Replaces rec.rdf with rdf_points values: rdf[k] = 4 times the integral of
// y(s) sin(r_k s) ds over the chosen samples, r_k = k * 0.01, by Simpson's
// rule with interval step (an even number of samples ends with one
// trapezoid).  The samples are start .. end-1 when end - start > 10,
// start >= 0 and end <= length, otherwise the whole profile.  Never fails;
// an empty profile gives zeros.  Script floats are converted with
// float_to_int (numeric.h); one that does not convert can be passed as -1,
// which selects the whole profile.
void rdf_sinetransform(profile_data& rec, int32_t start, int32_t end);
