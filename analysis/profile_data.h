// The record of the profile functions: one radial intensity profile and
// everything the peak finder, the pseudo-Voigt fits, the Kirkland fit and the
// RDF transform compute about it.
//
// The record lives on one script function's stack for one call.  It owns its
// arrays; an operation that fills an array replaces the one it held.  The
// array sizes follow from the counts:
//   y, x, ysub, background   `length` floats; sample i belongs to radius i,
//                            x[i] = (float)i
//   peaks                    4 * `npeaks` floats, one row per peak:
//                            position (profile index), integrated intensity,
//                            half width at half maximum (HWHM),
//                            Cauchy/Gauss weight (0 Gauss, 1 Cauchy)
//   splinex, spliney         `nsplinepoints` floats each: background spline
//                            point positions (profile indices, increasing)
//                            and heights
//   elements                 element_columns * `nelements` floats, one row of
//                            Kirkland parameters per element
//   rdf                      rdf_points floats; value k belongs to radius
//                            k * 0.01
// Whoever fills an array sets its count in the same step; the algorithms
// trust that pairing.  The values themselves (positions, ranges) are not
// trusted: the check_* functions below test what a script can supply.
#pragma once

#include <cstdint>
#include <memory>

constexpr int32_t kPeakColumns = 4;
constexpr int32_t kElementColumns = 14;
constexpr int32_t kRdfPoints = 1000;

struct profile_data {
  int32_t length = 0;
  int32_t npeaks = 0;
  int32_t nsplinepoints = 0;
  std::unique_ptr<float[]> y;
  std::unique_ptr<float[]> x;
  std::unique_ptr<float[]> ysub;
  std::unique_ptr<float[]> background;
  std::unique_ptr<float[]> peaks;
  std::unique_ptr<float[]> splinex;
  std::unique_ptr<float[]> spliney;
  float step = 0.0f;  // abscissa step per sample of the RDF functions
  std::unique_ptr<float[]> elements;
  std::unique_ptr<float[]> rdf;
  int32_t nelements = 0;
  float scale = 0.0f;   // multiplier of the Kirkland curve
  float offset = 0.0f;  // additive constant of the Kirkland curve

  profile_data() = default;
  profile_data(const profile_data&) = delete;
  profile_data& operator=(const profile_data&) = delete;
  profile_data(profile_data&&) = default;
  profile_data& operator=(profile_data&&) = default;
};

// Fillers for readers and tests.  Each copies `count` rows from the caller's
// memory (which stays the caller's) and replaces the array it fills.  A count
// below 0 is taken as 0.
// The profile: y = samples[0..length-1], x[i] = (float)i.
void set_profile(profile_data& rec, const float* samples, int32_t length);
// The peak table: npeaks rows of 4 floats, row-major.
void set_peaks(profile_data& rec, const float* table, int32_t npeaks);
// The spline points: positions and heights, n each.
void set_splinepoints(profile_data& rec, const float* xs, const float* ys, int32_t n);
// The element table: nelements rows of element_columns floats, row-major.
void set_elements(profile_data& rec, const float* table, int32_t nelements);

// The sample index of a position (truncated toward zero), when it lies
// inside the profile [0, length - 1]; otherwise false and index untouched.
bool sample_of(float position, int32_t length, int32_t& index);

// Checks of what a script can pass in.  Each returns true when the record
// is fit for use; otherwise it writes one line
//   "ERROR in <caller>. <what is wrong>. \n"
// through the message sink, changes nothing and returns false.  The script
// functions run them before any work, so that a refused call writes nothing
// back; the algorithms run them too, so that they are safe on their own.

// A profile is loaded: length >= 1 and y and x present.
bool check_profile(const profile_data& rec, const char* caller);

// At least `minimum` spline points, every position finite, inside
// [0, length - 1] and strictly greater than the one before.
bool check_splinepoints(const profile_data& rec, int32_t minimum, const char* caller);

// At least one peak, and every position, intensity, HWHM and weight finite.
bool check_peaks(const profile_data& rec, const char* caller);

// The samples the fits read are numbers: every profile sample from the first
// to the last spline point (check_splinepoints(rec, 1, ...) holds too) and
// every spline height is finite.
bool check_samples(const profile_data& rec, const char* caller);

// A range of profile indices from script floats: both finite and
// 0 <= trunc(start) <= trunc(end) <= length - 1.  On success first and last
// receive the truncated values; on failure they are untouched.
bool check_range(const profile_data& rec, double start, double end, const char* caller,
                 int32_t& first, int32_t& last);
