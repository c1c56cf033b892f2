// Bit-for-bit comparison of float results.  Any NaN equals any other NaN:
// neither the language nor the vectorised loops promise a NaN's sign or
// payload (at -O3 a vector loop gives +NaN where the scalar loop gives -NaN
// for the same inputs), so only whether a result is NaN is compared.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

inline ::testing::AssertionResult SameBits(const std::vector<float>& a,
                                           const std::vector<float>& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
  for (size_t k = 0; k < a.size(); ++k)
    if (!(std::isnan(a[k]) && std::isnan(b[k])) && std::memcmp(&a[k], &b[k], sizeof(float)) != 0)
      return ::testing::AssertionFailure() << "value " << k << ": " << a[k] << " against " << b[k];
  return ::testing::AssertionSuccess();
}
