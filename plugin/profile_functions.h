// The script functions of the profile side: find and fit the pseudo-Voigt
// peaks of a one-dimensional profile over a spline background, fit the
// Kirkland scattering curve of a composition to it and turn the reduced
// intensity into a radial distribution function.  Image layouts are those of
// profile_converters.h; images are the caller's 4-byte real images, used in
// place.
//
// Every function checks its input before any work: a refused call writes one
// ERROR line, stores no image, writes nothing back into the caller's images
// and leaves the floats behind its pointers unchanged.  A host or allocation
// failure is raised in the host as a script error; result cells and float
// out-parameters then keep what they held (rows already written back into a
// caller's image may stay written).
#pragma once

#include "plugin_sdk.h"

// Peak positions and background spline points of row 0 of the profile:
// new "Peakparameters" (positions only, other columns 0.0) and
// "Splinepoints" images in the two cells.  delta, minstep, begincut and
// endcut are those of findpeaks.  No peak: "Error found 0 peaks! \n" and the
// cells keep their images.
void PeakFind(DM_RealImageToken profile, DM_ImageToken* peaks, DM_ImageToken* splines, float delta,
              float minstep, float begincut, float endcut);
// As PeakFind, then background subtraction and the bounded prefit of every
// peak: prefitted "Peakparameters", "Splinepoints", and rows 0 to 3 of the
// profile image (profile, background, profile minus background, model).
void PeakFindPreFit(DM_RealImageToken profile, DM_ImageToken* peaks, DM_ImageToken* splines,
                    float delta, float minstep, float begincut, float endcut);
// Prefit from the positions of the peak image (its other columns are not
// read) and the spline points: the peak image, the spline image and rows 0
// to 3 of the profile image are written back.  Needs at least 1 spline point,
// finite peak positions (a peak may lie off the profile), and finite
// samples from the first to the last spline point and spline heights (so
// does PeakFindPreFit).
void PreFit(DM_RealImageToken profile, DM_RealImageToken peaks, DM_RealImageToken splines);
// Two unbounded fits of all peaks, the background re-estimated in between:
// the peak image and rows 0 to 3 of the profile image are written back (the
// spline image is not).  Needs at least 2 spline points; the other checks
// are PreFit's.
void PeakFit(DM_RealImageToken profile, DM_RealImageToken peaks, DM_RealImageToken splines);

// Fits scale and offset (start values and results behind the pointers,
// never negative) of the Kirkland curve to samples trunc(start) ..
// trunc(end) of row 0, with `step` the abscissa step per sample; writes rows
// 0 to 2 of the profile image.  `unused` is not read.
void RDF_Kirklandfit(DM_RealImageToken profile, DM_RealImageToken elements, float* offset,
                     float* scale, float start, float end, float step, float unused);
// Rows 0 to 2 of the profile image for the given offset and scale, without a
// fit; the floats are read only.
void RDF_Kirklandfunction(DM_RealImageToken profile, DM_RealImageToken elements, float* offset,
                          float* scale, float step, float unused);
// The RDF of the reduced intensity in row 2 of the profile image, abscissa
// step c * 2 pi / 10: a new 1000 x 1 "RDF" image in the cell.
void CalculateRDF(DM_RealImageToken profile, DM_ImageToken* rdf, float start, float end, float c);
