#pragma once
// The 32-bit RK number form of RK and MulRK cell records.
//
// Bit 0: the encoded number is 100 times the value. Bit 1: integer form
// (bits 31-2 a signed 30-bit integer) when set, double form (bits 31-2 the
// upper 30 bits of an IEEE 754 double whose lower 34 bits are zero) when
// clear.
//
// trunc32(x) below: x truncated toward zero into a signed 32-bit integer,
// -2147483648 when out of that range or NaN. Products of trunc32 results
// with 100 wrap around in 32 bits.
//
// Stateless, allocation-free, cannot fail.
#include <cstdint>

namespace YCompoundFiles {
namespace YExcel {

class RKCodec {
 public:
  static bool HasIntegerForm(uint32_t rk);  // bit 1 set
  static bool HasDoubleForm(uint32_t rk);   // bit 1 clear

  // Neither decoder looks at bit 1: test HasIntegerForm first.
  // The double form, times the double 0.01 when bit 0 is set.
  static double ToDouble(uint32_t rk);
  // The integer form; with bit 0 set, trunc32(payload * 0.01).
  static int32_t ToInteger(uint32_t rk);

  // Double form: the upper 30 bits of x, or of x * 100.0 with the scale flag
  // when trunc32(x) * 100 differs from trunc32(x * 100.0). The lower 34 bits
  // are dropped without rounding.
  static uint32_t FromDouble(double x);
  // Integer form, no scale flag; only -536870912 to 536870911 survive.
  static uint32_t FromInteger(int32_t v);

  // trunc32(x * 100.0) * 100 == trunc32(x * 10000.0): a value with at most
  // two decimals, as far as double arithmetic sees it.
  static bool FitsTwoDecimals(double x);

  // trunc32 as defined above.
  static int32_t Trunc32(double x);

  // The range of the 30-bit integer form.
  static bool IntegerFits(int32_t v);
  // FromDouble(x) decodes to x bit for bit, both by ToDouble and by readers
  // that undo the scale flag by dividing by 100 instead: the test for
  // keeping a double in an RK record without changing it.
  static bool DoubleRoundTrips(double x);
};

}  // namespace YExcel
}  // namespace YCompoundFiles
