#include "rk_codec.h"

#include <cmath>
#include <cstring>

namespace YCompoundFiles {
namespace YExcel {
namespace {

int32_t times100(int32_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v) * 100u);
}

// Arithmetic shift right by 2 of the 32 bits taken as signed.
int32_t payload(uint32_t rk) {
  const int32_t s = static_cast<int32_t>(rk);
  return s >= 0 ? s >> 2 : ~(~s >> 2);
}

uint64_t bits_of(double x) {
  uint64_t b = 0;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

}  // namespace

// The storability test compares these results, so the out-of-range value
// must be exactly the one it expects, whatever the platform's conversion
// would do.
int32_t RKCodec::Trunc32(double x) {
  if (std::isnan(x)) return INT32_MIN;
  const double t = std::trunc(x);
  if (t < -2147483648.0 || t > 2147483647.0) return INT32_MIN;
  return static_cast<int32_t>(t);
}

bool RKCodec::HasIntegerForm(uint32_t rk) {
  return (rk & 2u) != 0;
}

bool RKCodec::HasDoubleForm(uint32_t rk) {
  return (rk & 2u) == 0;
}

double RKCodec::ToDouble(uint32_t rk) {
  const uint64_t bits = static_cast<uint64_t>(rk & ~3u) << 32;
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  if (rk & 1u) value *= 0.01;
  return value;
}

int32_t RKCodec::ToInteger(uint32_t rk) {
  int32_t p = payload(rk);
  if (rk & 1u) p = Trunc32(static_cast<double>(p) * 0.01);
  return p;
}

uint32_t RKCodec::FromDouble(double x) {
  uint32_t flag = 0;
  if (times100(Trunc32(x)) != Trunc32(x * 100.0)) {
    flag = 1;
    x *= 100.0;
  }
  return (static_cast<uint32_t>(bits_of(x) >> 32) & ~3u) | flag;
}

uint32_t RKCodec::FromInteger(int32_t v) {
  return (static_cast<uint32_t>(v) << 2) | 2u;
}

bool RKCodec::FitsTwoDecimals(double x) {
  return times100(Trunc32(x * 100.0)) == Trunc32(x * 10000.0);
}

bool RKCodec::IntegerFits(int32_t v) {
  return v >= -536870912 && v <= 536870911;
}

bool RKCodec::DoubleRoundTrips(double x) {
  const uint32_t rk = FromDouble(x);
  if (bits_of(ToDouble(rk)) != bits_of(x)) return false;
  return !(rk & 1u) || bits_of(ToDouble(rk & ~1u) / 100.0) == bits_of(x);
}

}  // namespace YExcel
}  // namespace YCompoundFiles
