// Refinement of a pattern's centre and ellipticity by making its strongest
// ring as bright and sharp as possible.
//
// ringoffsets() tabulates, once, the integer offsets of every pixel of each
// ring of the record's ring window.  The objectives evaluate a candidate
// centre (or ellipse) from those tables: per ring the mean pixel value times
// the ring's circumference; the merit is the largest ring value, returned
// negated so that the minimisers of minimize.h can be used.  A candidate
// outside the objective's search range (or not a number) gets 0.0, which no
// positive ring beats.  optimizecenter() and optimizeellipticity() run the
// minimisation and store the result in the record.
//
// Ring tables (fields of image_data): ring k (0 <= k < nrings) holds the
// offsets (dx, dy) of the pixels whose distance from a centre truncates to
// ring_start + k; entry j of ring k is xoffsets[k + j*nrings] and
// yoffsets[k + j*nrings]; ring_points[k] entries are valid.  Entries within
// a ring run dx ascending, then dy ascending.
//
// Unlike the profile kernels, the objectives add and count masked pixels
// (0.0) like any other; only column 0 and row 0 are never used.  The
// objectives borrow the record's pixels and tables: the record must outlive
// them and keep its tables while they are used.
#pragma once

#include "image_data.h"
#include "minimize.h"

#include <cstdint>

// Clamps the ring window to [max(1, ring_start), min(rmax - 1, ring_end))
// (an inverted window becomes empty) and rebuilds the ring tables for every
// offset within rmax.  Callers pass the bin count they gave findring().
void ringoffsets(image_data* rec, int32_t rmax);

// What the objectives read from the record, fixed when they are built.
struct RingWindow {
  float center_x;  // the record's centre: the centre objectives' search
  float center_y;  // box is about it, the ellipse objectives use it as is
  int32_t ring_start;
  int32_t ring_end;
  int32_t nrings;  // the tables' ring count (ring_end - ring_start after ringoffsets)
  const float* data;
  int32_t width;
  int32_t height;
  const int32_t* xoffsets;
  const int32_t* yoffsets;
  const int32_t* ring_points;
  int32_t smoothing;

  explicit RingWindow(const image_data& rec);
};

// x = (column, row) of a candidate centre within 50 pixels (inclusive) of the
// starting centre.  With smoothing W >= 1 each ring value is replaced by the
// sum over d = -W..W of value[k+d] * (W - d) / W (ring index clamped to the
// window) before the maximum is taken.
class maxazimuthalintcenter : public Minimize {
 public:
  explicit maxazimuthalintcenter(const image_data& rec) : w_(rec) {}
  double value(const double* x, int32_t n) override;

 private:
  RingWindow w_;
};

// x = (column, row) within 100 pixels of the starting centre; the merit is
// the largest raw sum over the whole pattern's circular bins from a quarter
// of the usable radius out (no tables; smoothing as above).
class maxazimuthalintcenter_sektor : public Minimize {
 public:
  explicit maxazimuthalintcenter_sektor(const image_data& rec) : w_(rec) {}
  double value(const double* x, int32_t n) override;

 private:
  RingWindow w_;
};

// x = (major-axis angle in radians, axis ratio a/b) about the fixed centre,
// ratio in [1.0, 1.2]: ring k becomes the ellipse of minor semi-axis
// ring_start + k.  No smoothing.
class maxazimuthalintell : public Minimize {
 public:
  explicit maxazimuthalintell(const image_data& rec) : w_(rec) {}
  double value(const double* x, int32_t n) override;

 private:
  RingWindow w_;
};

// The ellipse objective selected by sektor 1.  No sector-restricted merit is
// defined for ellipses; it rates candidates exactly as maxazimuthalintell.
class maxazimuthalintell_sektor : public Minimize {
 public:
  explicit maxazimuthalintell_sektor(const image_data& rec) : w_(rec) {}
  double value(const double* x, int32_t n) override;

 private:
  RingWindow w_;
};

// The widest smoothing half-width the refinement accepts: the ring count of
// the tables (nrings).  At that width the smoothing window of every ring
// already spans the whole ring window; a wider one only adds clamped copies
// of the two edge rings, so every ring's smoothed value drifts toward the
// same edge-weighted sum, which rates nothing about the ring, while the cost
// of an evaluation grows with the width without bound.
int32_t max_smoothing(const image_data& rec);

// True when rec.smoothing is at most max_smoothing(); otherwise writes
// "ERROR! The smoothing of %d rings is wider than the ring window of %d
// rings. \n" and returns false.  The one text of that refusal, for the
// refinement and the script function that checks before its first step.
bool check_smoothing(const image_data& rec);

// Refines center_x / center_y from the ring tables (ringoffsets first).
// The script functions always pass method 0 and sektor 0; the Powell path
// and the sector objectives are reached only by the tests.
// method 1: Powell; any other: downhill simplex from (cx - 3, cy - 3) with
// steps 6 and tolerances 0.5.  sektor 1 selects maxazimuthalintcenter_sektor.
// Writes "Center has been refined in %d steps using ... New center is:
// (%d, %d) \n".  Returns false (centre kept, ERROR line) when the smoothing
// is wider than max_smoothing() or the minimiser ends on no representable
// centre.  Powell may throw
// Powell::XIterationLimit or LineMin::XIterationLimit (record unchanged).
bool optimizecenter(image_data* rec, int32_t method, int32_t sektor);

// Refines angle and axis_ratio about the fixed centre, then normalises them
// (ratio >= 1, angle in [0, pi)).  Arguments as optimizecenter.  Writes
// "Ellipticity has been refined in %d steps using ... a/b=%g, angle of major
// axis=%g <0xB0>. \n" (0xB0: the degree sign byte).  Returns false (ellipse kept, ERROR line) when
// the result is not a usable ellipse.
bool optimizeellipticity(image_data* rec, int32_t method, int32_t sektor);
