// The peak finder of the profile functions.
#pragma once

#include "profile_data.h"

#include <cstdint>

// Finds the peaks of rec.y and the background spline points between them.
//
// The profile is smoothed with a 7-point triangular kernel and walked for
// alternating maxima and minima that stand out by more than `delta`; from
// sample max(20, begincut) the values are first weighted by radius until the
// first minimum, then taken as they are, up to `endcut` (and never past the
// profile).  Minima lying more than `minstep` above the line between two
// minima up to ten entries apart are shoulders, not background points.
// `mode` 1 keeps a leading maximum found by the weighted walk; the script
// functions pass 0.
//
// Writes npeaks and the peak table (positions, the other three columns 0.0)
// and nsplinepoints with splinex/spliney (increasing positions; heights are
// smoothed values, except for extra points on the flank of a leading
// maximum and a closing point after the last peak, which take the measured
// sample).  Every peak has a spline point before and after it; maxima before
// the first minimum are not peaks.
//
// begincut > endcut - 2 writes "ERROR: The begincut-point is larger than the
// endcut-point! \n" and changes nothing; so does an empty record (with the
// line of check_profile).
void findpeaks(profile_data& rec, float delta, float minstep, float begincut, float endcut,
               int32_t mode);
