// Azimuthal integration of a pattern: radial profiles about the record's
// centre over circles or ellipses, full turns or sectors; the usable radius;
// the ring window of the strongest ring; the polar projection.
//
// Every profile kernel replaces rec.profile with nbins floats (profile_length
// = nbins).  Bin k collects the unmasked pixels (value != 0.0) whose radius
// truncates to k; pixels are added in the order columns outer, rows inner,
// in single precision, so results are reproducible bit for bit.  A bin's
// "average" is its mean (sum / max(count, 1), so an empty bin is 0.0); its
// "integral" is the mean times k.  `average` == 1 selects the average, any
// other value the integral.
//
// Radii: the circle radius of pixel (x, y) is sqrtf(dx*dx + dy*dy) with
// dx = x - center_x, dy = y - center_y.  The elliptic radius uses axis_ratio
// q and angle: u = (c/q)*dx + (s/q)*dy, v = -s*dx + c*dy with c = cosf(-angle),
// s = sinf(-angle), radius sqrtf(u*u + v*v): elliptic bins are indexed by the
// ellipse's minor semi-axis.  A pixel whose radius is not a number (axis
// ratio 0 or NaN) lies in no bin.
//
// Sector angles (radians, in [0, 2 pi)) follow sector_angle() below; a sector
// from a0 to a1 counts a0 < phi < a1 when a1 > a0, wraps through 0 (phi > a0
// or phi < a1) when a0 > a1, and is empty when a0 == a1.
//
// Failure: a negative bin count throws std::length_error before anything is
// allocated and leaves the record unchanged.  Kernels print nothing.  Any int32 centre is
// safe (distances are formed in 64 bits); a null pattern counts as all masked.
#pragma once

#include "image_data.h"

#include <cstdint>

// The largest profile radius to use about the current centre.
//   mode 1: the largest circle inside the image when the centre lies in the
//           middle third both ways, else max(min(max(w-cx, cx), max(h-cy, cy)) - 1, 1);
//   mode 2: min(max(w-cx, cx), max(h-cy, cy)) - 1, no lower bound;
//   other:  trunc(distance to the farthest image corner + 1) - 10.
int32_t maxradius(const image_data* rec, int32_t mode);

// Circular profile of nbins bins.  Bins from max(start, 0) on are normalised
// (average or integral); bins below start keep their raw sums.  Records
// peak_radius (first bin of the maximum among the normalised bins, 0 if none
// is positive) and peak_value (that maximum truncated, saturating).
void azimuthalint(image_data* rec, int32_t start, int32_t nbins, int32_t average);
// azimuthalint with start 0.
void azimuthalint_whole(image_data* rec, int32_t nbins, int32_t average);

// Integral profile from start (azimuthalint), then the ring window around the
// strongest ring: ring_start / ring_end at the valleys on either side of the
// peak, at most 50 and at least 5 bins from it.  nbins 0 reads nothing and
// takes the peak at 0.
void findring(image_data* rec, int32_t start, int32_t nbins);

// Elliptic profile (axis_ratio, angle), every bin normalised; records the peak.
void azimuthalintell(image_data* rec, int32_t nbins, int32_t average);

// Circular / elliptic profile over the sector a0 .. a1 (radians); every bin
// normalised; no peak recorded.
void azimuthalint_sektor(image_data* rec, int32_t nbins, float a0, float a1, int32_t average);
void azimuthalintell_sektor(image_data* rec, int32_t nbins, float a0, float a1, int32_t average);

// The sector angle of offset (dx, dy) from the centre, in [0, 2 pi]: the
// angle of (dx, -dy), formed in single precision from atanf(-dy/dx) (plus pi
// or 2 pi, added in double).  Straight above the centre (dx 0, dy < 0) it is
// pi/2, straight below 3 pi/2; the centre itself has angle 0.
float sector_angle(float dx, float dy);

// Polar projection: projection_rows = rend - rstart (one per radius),
// projection_cols = mode, except mode 1 gives trunc(1.62 * rows) and mode 0
// trunc(2 * rend * pi).  Element (i, j) is the pixel nearest below the point
// at radius rstart + i and angle 2 pi j / cols about the centre (this angle
// runs clockwise as displayed), or 0.0 when that pixel is outside the image
// or on its last row or column.  A negative size, or one of more than
// max_projection_values elements (the record indexes the projection with
// int32), throws std::length_error before anything is allocated and keeps the
// old projection.
constexpr int64_t kMaxProjectionValues = 2147483647;
void polarprojection(image_data* rec, int32_t rstart, int32_t rend, int32_t mode);
