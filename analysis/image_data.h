// The pattern record: one diffraction pattern as a plain float array and
// everything the pattern algorithms compute about it.
//
// Layouts:
//   data        width x height pixels, row-major: pixel (x, y) is
//               data[x + width*y].  A pixel whose value is exactly 0.0 is
//               masked (beam stop, detector gaps) and the binning kernels
//               skip it.
//   profile     profile_length floats, one per one-pixel-wide ring (bin).
//   projection  projection_rows x projection_cols floats; element (row i,
//               column j) is projection[j + projection_cols*i]; row = radius,
//               column = angle step.
//   xoffsets, yoffsets, ring_points: the ring tables of ringoffsets()
//               (ring_objectives.h), interleaved ring by ring.
//
// Ownership: `data` is borrowed (the caller keeps the pixels alive while the
// record is used; the record never frees it).  profile, ring_points,
// xoffsets, yoffsets and projection are owned, allocated with new[] and freed
// by the destructor.  Every writer replaces an array as a whole and only
// after the new one has been allocated, so a failed allocation
// (std::bad_alloc) leaves the record as it was.
//
// Angles are radians, measured from +x (increasing column) toward decreasing
// row: counter-clockwise as displayed with row 0 at the top.  `angle` is the
// direction of the ellipse's major axis and `axis_ratio` is a/b (major over
// minor semi-axis); the refinements keep angle in [0, pi) and axis_ratio >= 1.
#pragma once

#include <cstdint>
#include <string>

struct image_data {
  float* data;
  int32_t width;
  int32_t height;
  std::string name;  // the host image's name; used by no algorithm
  int32_t profile_length;
  float* profile;
  int32_t ring_start;   // ring window, inner radius (findring, ringoffsets)
  int32_t ring_end;     // ring window, outer radius
  int32_t peak_radius;  // bin of the profile maximum (azimuthalint, azimuthalintell)
  int32_t peak_value;   // that maximum truncated toward zero (saturating)
  int32_t xoffsets_capacity;
  int32_t* xoffsets;
  int32_t yoffsets_capacity;
  int32_t* yoffsets;
  int32_t nrings;
  int32_t* ring_points;
  float* projection;
  int32_t projection_rows;
  int32_t projection_cols;
  int32_t center_x;  // centre in whole pixels
  int32_t center_y;
  float axis_ratio;  // 1.0 is a circle
  float angle;
  int32_t smoothing;  // half-width of the ring objective's smoothing; 0 = none

  // Everything zero or null, name empty, axis_ratio 1.0.
  image_data();
  ~image_data();
  image_data(const image_data&) = delete;
  image_data& operator=(const image_data&) = delete;
};

// Sets the centre from script floats, truncated toward zero.  Returns false
// and leaves the record unchanged when a value is not finite or the centre
// lies farther outside the image than the image's larger dimension: such a
// centre describes no pattern and would only make the kernels allocate
// absurd profiles.  The caller reports the refusal.
bool set_center(image_data& rec, float x, float y);
