// Dense linear solver of the Levenberg-Marquardt iterations: Crout LU with
// implicit row scaling and partial pivoting, in float.
//
// Matrices are m x m, row-major.  The solver owns its scratch memory,
// allocated once at construction (std::bad_alloc on failure, sizes beyond
// any address space included), so that an iteration allocates nothing.  It
// never relies on A's symmetry.
#pragma once

#include <vector>

namespace kelpo {
namespace lm {

class LuSolver {
 public:
  explicit LuSolver(int m);

  // Solves A x = b.  Returns false, leaving x unspecified, when some row of
  // A holds no non-zero (finite-comparable) entry; that is the only failure.
  // A zero pivot is replaced by FLT_EPSILON rather than failing.
  bool solve(const float* A, const float* b, float* x);

  // Writes A's inverse into out (column by column, each a solve against a
  // unit vector).  Returns false and leaves out untouched on failure.
  bool invert(const float* A, float* out);

 private:
  bool factor(const float* A);
  void substitute(float* b) const;

  int m_;
  std::vector<float> lu_;
  std::vector<float> scale_;
  std::vector<float> column_;
  std::vector<int> pivot_;
};

}  // namespace lm
}  // namespace kelpo
