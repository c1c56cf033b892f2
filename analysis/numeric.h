// Small float utilities shared by the whole numerical core.
#pragma once

#include <cstdint>

// pi and its multiples as the core has always used them (not M_PI).
constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
constexpr double kHalfPi = 1.570796326794895;

// a if b > a, else b: the second argument wins a tie.
inline float min_float(float a, float b) {
  return b > a ? a : b;
}
// a if a > b, else b: the second argument wins a tie.
inline float max_float(float a, float b) {
  return a > b ? a : b;
}

// Rounds half up: floor((double)x + 0.5).  Defined for every input: values
// beyond the int32 range saturate and NaN gives INT32_MIN, so a coordinate
// computed from bad input always fails a bounds test.
int32_t round_to_int(float x);

// x raised to the integer power n by repeated squaring; n may be INT32_MIN.
float powi_float(float x, int32_t n);

// Truncation toward zero, as a cast would do, but checked: false (and out
// untouched) when x is NaN, infinite or outside the int32 range.
bool float_to_int(double x, int32_t& out);

// Truncation toward zero that is defined everywhere: saturates at the int32
// limits, NaN gives 0.  For values already known to be in range this is the
// plain cast.
int32_t trunc_to_int(double x);
