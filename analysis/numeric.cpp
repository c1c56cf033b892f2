#include "numeric.h"

#include <cmath>
#include <limits>

namespace {
constexpr double kIntLow = -2147483648.0;
constexpr double kIntHigh = 2147483648.0;  // exclusive
}  // namespace

int32_t round_to_int(float x) {
  double r = std::floor(static_cast<double>(x) + 0.5);
  if (std::isnan(r)) return std::numeric_limits<int32_t>::min();
  if (r < kIntLow) return std::numeric_limits<int32_t>::min();
  if (r >= kIntHigh) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(r);
}

float powi_float(float x, int32_t n) {
  // Work on the magnitude as unsigned so that -INT32_MIN is representable.
  uint32_t bits = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  float result = 1.0f;
  float square = x;
  while (bits) {
    if (bits & 1u) result *= square;
    bits >>= 1;
    if (bits) square *= square;
  }
  return n < 0 ? 1.0f / result : result;
}

bool float_to_int(double x, int32_t& out) {
  if (!(x > kIntLow - 1.0 && x < kIntHigh)) return false;  // NaN fails too
  out = static_cast<int32_t>(x);
  return true;
}

int32_t trunc_to_int(double x) {
  if (std::isnan(x)) return 0;
  if (x <= kIntLow) return std::numeric_limits<int32_t>::min();
  if (x >= kIntHigh) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(x);
}
