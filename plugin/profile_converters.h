// Converters between host images and the profile_data record of the peak and
// RDF script functions: readers copy a profile, a peak table, spline points or
// an element table out of the caller's images; writers make the new result
// images; updaters write results back into images the caller passed.
//
// Every image is a 4-byte real image; pixel (column c, row r) is
// data[c + r * width].  The layouts (width x height, rows from 0):
//   profile image        length x 1 or more; row 0 the measured profile
//     after the peak functions: row 1 the background, row 2 the profile
//     minus the background, row 3 the model curve of the peak table
//     after the Kirkland functions: row 1 scale * <f^2> + offset, row 2 the
//     reduced intensity (read back by CalculateRDF)
//   "Peakparameters"     4 x npeaks: position, integrated intensity, HWHM,
//                        Cauchy/Gauss weight (0 Gauss, 1 Cauchy)
//   "Splinepoints"       nsplinepoints x 2: row 0 positions, row 1 heights
//   element table        14 (or more) x nelements, one element per row
//   "RDF"                1000 x 1: value k belongs to radius k * 0.01
//
// Failures: a reader that finds the image too small for what it must read
// writes one line "ERROR in <caller>. <what is wrong>. \n" through DM_result,
// leaves the record as it was and returns false.  A failing host call or
// allocation throws (HostError, std::bad_alloc) on to the script
// boundary.  New images are announced once with ImageDataChanged;
// write-backs into the caller's images are not.
#pragma once

#include "plugin_sdk.h"
#include "profile_data.h"

#include <cstdint>

// --- readers ------------------------------------------------------------------

// length = the image width, y = row 0, x[i] = i.  Needs at least one column
// and one row.
bool DM_read_profile(profile_data& rec, const ImageRef& image, const char* caller);
// The same from row 2 (the reduced intensity); needs at least 3 rows.
bool DM_read_profile_row2(profile_data& rec, const ImageRef& image, const char* caller);
// npeaks = the image height.  Column 0 gives the positions; intensity, HWHM
// and weight start as 100.0, 10.0 and 0.0 and are taken from columns 1 to 3
// when mode is not 1 and the image is at least 4 wide.  An image not exactly
// 4 wide gets three explanatory Result lines first (not an error).  Needs at
// least one column and one row.
bool DM_read_peakparameters(profile_data& rec, const ImageRef& image, int32_t mode,
                            const char* caller);
// nsplinepoints = the image width; row 0 the positions, row 1 the heights.
// Needs at least 2 rows.
bool DM_read_splinepoints(profile_data& rec, const ImageRef& image, const char* caller);
// nelements = the image height; the first 14 values of every row.  Needs at
// least 14 columns (a wider table keeps its rows apart; the extra columns
// are ignored).
bool DM_read_elementtable(profile_data& rec, const ImageRef& image, const char* caller);

// --- writers: each returns a new image with its one reference -------------------

// "Peakparameters", 4 x npeaks.  Mode 1: positions and three zeros; any other
// mode: position, |intensity|, |HWHM|, weight clamped to [0, 1].
RealImagePtr DM_write_peakparameters(const profile_data& rec, int32_t mode);
// "Splinepoints", nsplinepoints x 2.
RealImagePtr DM_write_splinepoints(const profile_data& rec);
// Runs rdf_sinetransform over trunc(start) .. trunc(end) (its range rule
// applies) and returns "RDF", 1000 x 1.
RealImagePtr DM_write_rdf(profile_data& rec, float start, float end);
// "Results", length x 4: the profile, background, background-subtracted
// profile and model curve.  No script function uses it (the peak functions
// write these rows into the caller's image instead), and nothing calls it.
RealImagePtr DM_write_fitprofile(const profile_data& rec);

// --- updaters: write into the caller's image, never past it -----------------------
// Only the rows and columns the image has are written, so a profile straight
// from the azimuthal functions (one row) keeps its profile and gets nothing
// else.  A missing background or ysub array is written as 0.0.

// Rows 0 to 3 of the peak layout of the profile image.
void DM_update_profile(const profile_data& rec, const ImageRef& image);
// The peak rows, in the layout of DM_write_peakparameters mode 0.
void DM_update_peakparameters(const profile_data& rec, const ImageRef& image);
// The spline points, positions in row 0 and heights in row 1.
void DM_update_splinepoints(const profile_data& rec, const ImageRef& image);
// Rows 0 to 2 of the Kirkland layout of the profile image.
void DM_update_kirkland(const profile_data& rec, const ImageRef& image);
