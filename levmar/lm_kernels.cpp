#include "lm_kernels.h"

#include "levmar.h"
#include "lm_linear.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace kelpo {
namespace lm {

Options read_options(const float* opts, bool with_delta) {
  if (!opts) return {LM_INIT_MU, LM_STOP_THRESH, LM_STOP_THRESH, LM_STOP_THRESH, LM_DIFF_DELTA};
  return {opts[0], opts[1], opts[2], opts[3], with_delta ? opts[4] : LM_DIFF_DELTA};
}

std::vector<float> allocate_floats(unsigned long long count) {
  // std::vector would report such sizes as length_error; callers are
  // promised bad_alloc for every allocation failure.
  if (count > std::vector<float>().max_size()) throw std::bad_alloc();
  return std::vector<float>(static_cast<std::size_t>(count), 0.0F);
}

Workspace::Workspace(float* work, int vectors, int n, int m) {
  const unsigned long long un = static_cast<unsigned long long>(n);
  const unsigned long long um = static_cast<unsigned long long>(m);
  if (!work) {
    owned_ =
        allocate_floats(static_cast<unsigned long long>(vectors) * un + 4 * um + un * um + um * um);
    work = owned_.data();
  }
  const std::size_t nn = static_cast<std::size_t>(n);
  const std::size_t mm = static_cast<std::size_t>(m);
  vectors_ = work;
  fit_.J = work + static_cast<std::size_t>(vectors) * nn;
  fit_.A = fit_.J + nn * mm;
  fit_.Dp = fit_.A + mm * mm;
  fit_.g = fit_.Dp + mm;
  fit_.diag = fit_.g + mm;
  fit_.trial = fit_.diag + mm;
}

namespace {
// v = x - y, or -y without x, for eight samples from `at`.
template <bool kHaveX>
void eight_residuals(const float* x, const float* y, int at, float* v) {
  float ys[8];
  std::copy(y + at, y + at + 8, ys);
  if (kHaveX) {
    float xs[8];
    std::copy(x + at, x + at + 8, xs);
    for (int q = 0; q < 8; ++q) v[q] = xs[q] - ys[q];
  } else {
    for (int q = 0; q < 8; ++q) v[q] = -ys[q];
  }
}

template <bool kHaveX>
float residual_sum(const float* x, const float* y, float* e, int n) {
  // Four interleaved accumulators, whole groups of eight from the top
  // down, then the remainder ascending: a fixed order, so every call with
  // the same data gives the same bits.  Accumulator c takes samples
  // top - c and then top - c - 4 of each group; held in lane 3 - c below,
  // the lanes line up with the group's two ascending halves, which the
  // compiler vectorises.
  float lane[4] = {0.0F, 0.0F, 0.0F, 0.0F};
  const int groups = n / 8;
  for (int gi = groups - 1; gi >= 0; --gi) {
    float v[8];
    eight_residuals<kHaveX>(x, y, gi * 8, v);
    for (int l = 0; l < 4; ++l) lane[l] += v[4 + l] * v[4 + l];
    for (int l = 0; l < 4; ++l) lane[l] += v[l] * v[l];
    std::copy(v, v + 8, e + gi * 8);
  }
  // The accumulators by their own numbers again for the remainder, whose
  // varying index would keep the lanes above out of registers.
  float acc[4] = {lane[3], lane[2], lane[1], lane[0]};
  const int rest = n % 8;
  for (int q = 0; q < rest; ++q) {
    const int i = groups * 8 + q;
    const float v = kHaveX ? x[i] - y[i] : -y[i];
    e[i] = v;
    acc[(7 - rest + q) % 4] += v * v;
  }
  return ((acc[0] + acc[1]) + acc[2]) + acc[3];
}

// The row-descending sums below for a fixed, small m: in local arrays the
// compiler keeps the sums in registers, where A and g, which might overlap
// J, would be loaded and stored for every product.
template <int M>
void small_normal_equations(const float* J, const float* e, float* A, float* g, int n) {
  float acc[M][M] = {};
  float gacc[M] = {};
  for (int l = n - 1; l >= 0; --l) {
    float row[M];
    std::copy(J + static_cast<std::size_t>(l) * M, J + static_cast<std::size_t>(l + 1) * M, row);
    const float el = e[l];
    for (int i = M - 1; i >= 0; --i) {
      const float a = row[i];
      for (int j = 0; j <= i; ++j) acc[i][j] += row[j] * a;
      gacc[i] += a * el;
    }
  }
  for (int i = 0; i < M; ++i) {
    for (int j = 0; j <= i; ++j) A[i * M + j] = A[j * M + i] = acc[i][j];
    g[i] = gacc[i];
  }
}

// Partial sums over the rows [b, end) of J^T J for row i of A and the W
// columns from j, each from zero in ascending row order, added to the
// entries of A from column `first` on.  Summed in a local array (in
// registers), not through A, which the compiler would have to assume
// overlaps J.
template <int W>
void add_column_sums(const float* J, int m, int b, int end, int i, int j, int first, float* A) {
  float acc[W] = {};
  for (int k = b; k < end; ++k) {
    const float* row = J + static_cast<std::size_t>(k) * m;
    const float a = row[i];
    for (int q = 0; q < W; ++q) acc[q] += a * row[j + q];
  }
  float* Ai = A + static_cast<std::size_t>(i) * m;
  for (int q = first - j; q < W; ++q) Ai[j + q] += acc[q];
}

// The block's sums for row i of A, columns i to m - 1: groups of eight
// columns; the last columns, fewer than eight, in a group of eight (or
// four) that ends at the row's end, its earlier columns summed again and
// dropped.
void add_block_row(const float* J, int m, int b, int end, int i, float* A) {
  constexpr int kWidth = 8;
  constexpr int kNarrow = 4;
  int j = i;
  for (; j + kWidth <= m; j += kWidth) add_column_sums<kWidth>(J, m, b, end, i, j, j, A);
  if (j < m && m >= kWidth) {
    add_column_sums<kWidth>(J, m, b, end, i, m - kWidth, j, A);
    j = m;
  }
  while (j < m && m >= kNarrow) {
    const int from = std::min(j, m - kNarrow);
    add_column_sums<kNarrow>(J, m, b, end, i, from, j, A);
    j = from + kNarrow;
  }
  for (; j < m; ++j) {
    float sum = 0.0F;
    for (int k = b; k < end; ++k)
      sum += J[static_cast<std::size_t>(k) * m + i] * J[static_cast<std::size_t>(k) * m + j];
    A[static_cast<std::size_t>(i) * m + j] += sum;
  }
}
}  // namespace

float residual(const float* x, const float* y, float* e, int n) {
  return x ? residual_sum<true>(x, y, e, n) : residual_sum<false>(x, y, e, n);
}

void normal_equations(const float* J, const float* e, float* A, float* g, int n, int m,
                      bool small) {
  const std::size_t mm = static_cast<std::size_t>(m) * m;
  std::fill(A, A + mm, 0.0F);
  std::fill(g, g + m, 0.0F);
  if (small) {
    // Rows from the last to the first; only the lower triangle is summed.
    // Four, eight and twelve parameters, the usual small fits, have
    // versions of fixed size.
    if (m == 4) return small_normal_equations<4>(J, e, A, g, n);
    if (m == 8) return small_normal_equations<8>(J, e, A, g, n);
    if (m == 12) return small_normal_equations<12>(J, e, A, g, n);
    for (int l = n - 1; l >= 0; --l) {
      const float* row = J + static_cast<std::size_t>(l) * m;
      const float el = e[l];
      for (int i = m - 1; i >= 0; --i) {
        const float a = row[i];
        float* Ai = A + static_cast<std::size_t>(i) * m;
        for (int j = 0; j <= i; ++j) Ai[j] += row[j] * a;
        g[i] += a * el;
      }
    }
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < i; ++j)
        A[static_cast<std::size_t>(j) * m + i] = A[static_cast<std::size_t>(i) * m + j];
    return;
  }

  // Blocks of 32 rows: each block's partial sums start from zero and are
  // added to A in block order.  Eight entries of a row of A are summed side
  // by side in registers (the compiler vectorises the fixed-width loop);
  // each entry still sees its products in ascending row order.
  constexpr int kBlock = 32;
  constexpr int kWidth = 8;
  for (int b = 0; b < n; b += kBlock) {
    const int end = std::min(n, b + kBlock);
    for (int i = 0; i < m; ++i) add_block_row(J, m, b, end, i, A);
  }
  for (int i = 0; i < m; ++i)
    for (int j = i + 1; j < m; ++j)
      A[static_cast<std::size_t>(j) * m + i] = A[static_cast<std::size_t>(i) * m + j];
  // g in groups of eight entries summed in registers, rows ascending; the
  // last group ends at the row's end, as above.
  for (int l = 0; l < m; l += kWidth) {
    const int from = m >= kWidth ? std::min(l, m - kWidth) : l;
    const int width = std::min(kWidth, m - from);
    float acc[kWidth] = {};
    if (width == kWidth) {
      for (int k = 0; k < n; ++k) {
        const float* row = J + static_cast<std::size_t>(k) * m + from;
        const float ek = e[k];
        for (int q = 0; q < kWidth; ++q) acc[q] += row[q] * ek;
      }
    } else {
      for (int k = 0; k < n; ++k) {
        const float* row = J + static_cast<std::size_t>(k) * m + from;
        const float ek = e[k];
        for (int q = 0; q < width; ++q) acc[q] += row[q] * ek;
      }
    }
    for (int q = l - from; q < width; ++q) g[from + q] = acc[q];
    l = from;
  }
}

float sum_squares(const float* v, int m) {
  float s = 0.0F;
  for (int i = 0; i < m; ++i) s += v[i] * v[i];
  return s;
}

bool all_finite(const float* v, std::size_t count) {
  // Blocks of 16 tested on their bits (an all-ones exponent is infinity or
  // NaN), a test the compiler vectorises.
  constexpr std::uint32_t kExponent = 0x7f800000U;
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    std::uint32_t bits[16];
    std::memcpy(bits, v + i, sizeof bits);
    std::uint32_t bad = 0;
    for (int q = 0; q < 16; ++q) bad |= (bits[q] & kExponent) == kExponent;
    if (bad) return false;
  }
  for (; i < count; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

float difference_step(float pj, float delta) {
  float h = std::fabs(kStepFactor * pj);
  if (h < delta) h = delta;
  return h;
}

float predicted_decrease(const float* Dp, const float* g, float mu, int m) {
  float dL = 0.0F;
  for (int i = 0; i < m; ++i) dL += Dp[i] * (mu * Dp[i] + g[i]);
  return dL;
}

float nielsen_factor(float dF, float dL) {
  float t = (2.0F * dF) / dL - 1.0F;
  t = 1.0F - (t * t) * t;
  return t >= kOneThird ? t : kOneThird;
}

int step_stop(float D, float P, float eps2) {
  if (D <= (eps2 * eps2) * P) return 2;
  if (D >= (P + eps2) / kHugeStepDivisor) return 4;
  return 0;
}

float max_diagonal(const float* A, int m) {
  float big = -FLT_MAX;
  for (int i = 0; i < m; ++i) {
    const float d = A[static_cast<std::size_t>(i) * m + i];
    if (d > big) big = d;
  }
  return big;
}

void set_diagonal(float* A, const float* d, int m) {
  const std::size_t mm = static_cast<std::size_t>(m);
  for (int i = 0; i < m; ++i) A[i * mm + i] = d[i];
}

void write_info(const Report& r, float* info) {
  if (!info) return;
  info[0] = r.initial_error;
  info[1] = r.error;
  info[2] = r.gradient_norm;
  info[3] = r.step;
  info[4] = r.damping;
  info[5] = static_cast<float>(r.iterations);
  info[6] = static_cast<float>(r.reason);
  info[7] = static_cast<float>(r.evaluations);
  info[8] = static_cast<float>(r.jacobians);
  info[9] = static_cast<float>(r.solves);
}

void covariance(LuSolver& lu, const float* A, float error, int n, int m, float* covar) {
  if (!lu.invert(A, covar)) return;
  // n == m leaves no degrees of freedom: the division gives Inf or NaN,
  // which is the honest answer for an undetermined variance.
  const float factor = error / static_cast<float>(n - m);
  const std::size_t mm = static_cast<std::size_t>(m) * m;
  for (std::size_t i = 0; i < mm; ++i) covar[i] *= factor;
}

int finish_fit(Report& r, int itmax, float mu, bool formed, float* A, const float* diag,
               LuSolver& lu, int n, int m, float* info, float* covar) {
  if (r.iterations >= itmax && r.reason != 4 && r.reason != 7) r.reason = 3;
  if (formed) set_diagonal(A, diag, m);
  r.damping = formed ? mu / max_diagonal(A, m) : 0.0F;
  write_info(r, info);
  if (covar && formed) covariance(lu, A, r.error, n, m, covar);
  return (r.reason == 4 || r.reason == 7) ? LM_ERROR : r.iterations;
}

}  // namespace lm
}  // namespace kelpo
