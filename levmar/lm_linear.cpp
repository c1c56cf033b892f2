#include "lm_linear.h"

#include "lm_kernels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace kelpo {
namespace lm {

LuSolver::LuSolver(int m)
    : m_(m),
      lu_(allocate_floats(static_cast<unsigned long long>(m) * static_cast<unsigned long long>(m))),
      scale_(allocate_floats(static_cast<unsigned long long>(m))),
      column_(allocate_floats(static_cast<unsigned long long>(m))),
      pivot_(m) {}

bool LuSolver::factor(const float* A) {
  const int m = m_;
  float* a = lu_.data();
  std::copy(A, A + static_cast<std::size_t>(m) * m, a);

  // Implicit scaling: pivots are compared relative to their row's largest
  // entry.  A NaN never wins a comparison, so a row of NaNs counts as zero.
  for (int i = 0; i < m; ++i) {
    float big = 0.0F;
    const float* row = a + static_cast<std::size_t>(i) * m;
    for (int j = 0; j < m; ++j) {
      const float t = std::fabs(row[j]);
      if (t > big) big = t;
    }
    if (big == 0.0F) return false;
    scale_[i] = 1.0F / big;
  }

  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < j; ++i) {
      float* ai = a + static_cast<std::size_t>(i) * m;
      float sum = ai[j];
      for (int k = 0; k < i; ++k) sum -= ai[k] * a[static_cast<std::size_t>(k) * m + j];
      ai[j] = sum;
    }
    // imax starts at j so that a column of NaNs still yields a pivot.
    float big = 0.0F;
    int imax = j;
    for (int i = j; i < m; ++i) {
      float* ai = a + static_cast<std::size_t>(i) * m;
      float sum = ai[j];
      for (int k = 0; k < j; ++k) sum -= ai[k] * a[static_cast<std::size_t>(k) * m + j];
      ai[j] = sum;
      const float dum = scale_[i] * std::fabs(sum);
      if (dum >= big) {  // ties go to the later row
        big = dum;
        imax = i;
      }
    }
    if (imax != j) {
      std::swap_ranges(a + static_cast<std::size_t>(imax) * m,
                       a + static_cast<std::size_t>(imax) * m + m,
                       a + static_cast<std::size_t>(j) * m);
      scale_[imax] = scale_[j];
    }
    pivot_[j] = imax;
    float& diag = a[static_cast<std::size_t>(j) * m + j];
    if (diag == 0.0F) diag = FLT_EPSILON;
    if (j != m - 1) {
      const float r = 1.0F / diag;
      for (int i = j + 1; i < m; ++i) a[static_cast<std::size_t>(i) * m + j] *= r;
    }
  }
  return true;
}

void LuSolver::substitute(float* b) const {
  const int m = m_;
  const float* a = lu_.data();
  int first = -1;  // first non-zero entry; earlier terms contribute nothing
  for (int i = 0; i < m; ++i) {
    const int ip = pivot_[i];
    float sum = b[ip];
    b[ip] = b[i];
    if (first >= 0) {
      const float* ai = a + static_cast<std::size_t>(i) * m;
      for (int j = first; j < i; ++j) sum -= ai[j] * b[j];
    } else if (sum != 0.0F) {
      first = i;
    }
    b[i] = sum;
  }
  for (int i = m - 1; i >= 0; --i) {
    const float* ai = a + static_cast<std::size_t>(i) * m;
    float sum = b[i];
    for (int j = i + 1; j < m; ++j) sum -= ai[j] * b[j];
    b[i] = sum / ai[i];
  }
}

bool LuSolver::solve(const float* A, const float* b, float* x) {
  if (!factor(A)) return false;
  std::copy(b, b + m_, x);
  substitute(x);
  return true;
}

bool LuSolver::invert(const float* A, float* out) {
  if (!factor(A)) return false;
  const int m = m_;
  for (int j = 0; j < m; ++j) {
    std::fill(column_.begin(), column_.end(), 0.0F);
    column_[j] = 1.0F;
    substitute(column_.data());
    for (int i = 0; i < m; ++i) out[static_cast<std::size_t>(i) * m + j] = column_[i];
  }
  return true;
}

}  // namespace lm
}  // namespace kelpo
