// The pseudo-Voigt peak model and its fits to the background-subtracted
// profile: the bounded prefit of lone peaks and groups, the fit of all peaks
// at once, and the re-estimate of the background spline heights.
//
// Peak rows are those of profile_data: position (profile index), integrated
// intensity, HWHM, Cauchy/Gauss weight.  Each peak is
//   A * [(1 - eta) sqrt(ln2/pi)/w exp(-ln2 (x - x0)^2 / w^2)
//        + eta / (pi w) / (1 + (x - x0)^2 / w^2)],
// a Gauss and a Lorentz profile of unit area and equal HWHM w, mixed by
// eta.  Negative intensities and widths act as their absolute values, the
// weight is clamped to [0, 1]; the parameters themselves are left as they are.
#pragma once

#include "profile_data.h"

#include <cstdint>

// The solver's model callback: evaluates trunc(m/4) peaks p[4k .. 4k+3] at
// the sample indices 0 .. n-1 into hx[n].  adata is not read.
void pseudovoigt_model(float* p, float* hx, int m, int n, void* adata);

// d model / d parameter of pseudovoigt_model at the sample indices 0 .. n-1:
// jac[i * m + 4k + c] for column c (position, intensity, HWHM, weight) of
// peak k, n x m.  A weight outside [0, 1] gets a zero column (the model
// clamps it); elsewhere the derivatives are the closed forms.
void pseudovoigt_jacobian(const float* p, float* jac, int m, int n);
void pseudovoigt_jacobian(const double* p, double* jac, int m, int n);

// The model of the whole peak table at the profile's samples: out[length].
void model_curve(const profile_data& rec, float* out);

// Fits all peaks at once, unbounded, to ysub[start .. end] (both included;
// positions are fitted relative to start).  Writes one end message:
//   "Fit converged after %d iterations. \n"
//   "ERROR! Fit did not converge after %g iterations. \n"  (iteration limit)
//   "ERROR! Fit aborted after %g iterations due to singluar matrix. \n"
//   "ERROR! Fit aborted after %g, no further error reduction possible. \n"
//   "ERROR! Fit aborted after %g iterations due to invalid function values. \n"
//   "ERROR! Fit aborted after %g. \n"  (anything else, 0 when the solver
//                                       refused to start, e.g. fewer samples
//                                       than parameters)
// and copies the parameters back into the peak table whatever the outcome.
// The solver works on scaled parameters (intensities divided by units taken
// from their start values, widths as such a unit times e^u, positions in
// units of their widths) with the model's exact derivatives,
// and keeps each weight in [0, 1] through a smooth map; a parameter it
// leaves exactly at its start keeps its start value bit for bit.  A weight
// the map holds at 0 or 1 while the error would fall inside is released to
// 0.5 and the fit run again (at most twice, kept only when it ends lower,
// all runs together within the iteration limit).  Intensities keep the sign
// the fit gives them; fitted widths are positive.
// Returns the solver's result: its iteration count (summed over the runs
// kept), or -1.
// Needs ysub, at least one peak and 0 <= start <= end <= length - 1;
// otherwise writes an ERROR line, changes nothing and returns -1.
int32_t fitpeaks(profile_data& rec, int32_t start, int32_t end);

// Fits peaks first .. last only, to ysub[start .. end], inside bounds taken
// from their current rows: position +-20 samples but inside start .. end,
// intensity >= 0, HWHM within a factor 2 of its current value, weight in
// [0, 1].  Intensities and widths are scaled as in fitpeaks, positions stay
// in samples and the weight is not mapped; the solver differences the model.
// Writes no message; the rows change only when the solver succeeds.
// Returns the solver's result.
// Bad indices, or a HWHM that is not a positive number (its bounds would be
// inverted), write an ERROR line and return -1.
int32_t fitpeakgroup(profile_data& rec, int32_t start, int32_t end, int32_t first, int32_t last);

// Re-estimates the spline heights from the fitted peaks:
// spliney[j] += ysub[i] - model[i] at i = trunc(splinex[j]).  Spline points
// outside the profile keep their height.  Needs ysub.
void refitbackground(profile_data& rec);

// Start values for every peak, then a bounded fit of each lone peak or group
// of overlapping peaks.  The span of a peak runs from the last spline point
// at or before it to the first following spline point where the measured
// profile lies no more than `threshold` above the spline height (a trusted
// background point); the peaks before that point form the group.  A lone
// peak gets the area of ysub between its two neighbouring spline points as
// intensity, HWHM 0.46 * area / height and weight 0.5; a group shares the
// area of its whole span in proportion to the peaks' heights and gets one
// common HWHM.  A peak or group whose height (sum) or area is 0, or whose
// samples lie outside the profile, keeps its values and is not fitted; so
// does a peak with no spline point after it.  Where the area or a share
// comes out negative (the profile below the background, as close rings
// make it on ordinary runs) it fits from the absolute values, without a
// message.
// Needs ysub and check_splinepoints(rec, 1, ...).  Returns the sum of the
// iteration counts of the group fits that succeeded.
int32_t prefitpeaks(profile_data& rec, float threshold);

// The end message of a solver run, as listed under fitpeaks.  info holds the
// solver's ten info values (zeroed before the call).
void report_fit_end(int result, const float* info);

// The work of the prefit script functions after the tables are read: checks
// the spline points (at least one), the peaks and the samples (check_samples),
// subtracts the background,
// writes "Determining Peak-Fitparameters by prefitting each peak. \n" and
// prefits with threshold 1000.  On a failed check it writes that check's
// ERROR line naming `caller`, changes nothing and returns false.
bool prefit_sequence(profile_data& rec, const char* caller);

// The work of the peak-fit script function after the tables are read:
// checks the spline points (at least two), the peaks and the samples, subtracts the
// background, writes "Performing first Fit (of 2). ", fits from the first to
// the last spline point, re-estimates the spline heights, subtracts the
// background again, writes "Performing second Fit (of 2). " and fits from
// the second spline point on.  Afterwards ysub and background hold the
// final background and the peak table the fit.  On a failed check: as
// prefit_sequence.
bool peakfit_sequence(profile_data& rec, const char* caller);
