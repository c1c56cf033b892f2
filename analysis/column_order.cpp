#include "column_order.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

// The vector paths use the IEEE single-precision add, multiply and square
// root, exactly like the scalar tails, so both give identical bins.  A radius
// of 2^31 or more (or NaN) converts to INT32_MIN, which the caller drops as
// out of range like any other bin beyond nbins.

void copy_strip(const float* src, size_t stride, int32_t n, size_t h, float* dst, size_t pitch) {
  const size_t cols = static_cast<size_t>(n);
  size_t y = 0;
#if defined(__SSE2__)
  // 4 x 4 blocks transposed in registers: four 16-byte loads and four
  // 16-byte stores instead of sixteen single floats each way.
  const size_t cols4 = cols / 4 * 4;
  for (; y + 4 <= h; y += 4) {
    const float* r0 = src + y * stride;
    const float* r1 = r0 + stride;
    const float* r2 = r1 + stride;
    const float* r3 = r2 + stride;
    // Rows a stride apart lie on different pages, beyond what the
    // hardware prefetchers follow: ask for the rows 8 ahead.
    if (y + 12 <= h) {
      for (size_t c = 0; c < cols; c += 16) {
        _mm_prefetch(reinterpret_cast<const char*>(r0 + 8 * stride + c), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(r1 + 8 * stride + c), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(r2 + 8 * stride + c), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(r3 + 8 * stride + c), _MM_HINT_T0);
      }
    }
    size_t c = 0;
    for (; c < cols4; c += 4) {
      __m128 a = _mm_loadu_ps(r0 + c);
      __m128 b = _mm_loadu_ps(r1 + c);
      __m128 e = _mm_loadu_ps(r2 + c);
      __m128 d = _mm_loadu_ps(r3 + c);
      _MM_TRANSPOSE4_PS(a, b, e, d);
      _mm_storeu_ps(dst + c * pitch + y, a);
      _mm_storeu_ps(dst + (c + 1) * pitch + y, b);
      _mm_storeu_ps(dst + (c + 2) * pitch + y, e);
      _mm_storeu_ps(dst + (c + 3) * pitch + y, d);
    }
    for (; c < cols; ++c) {
      dst[c * pitch + y] = r0[c];
      dst[c * pitch + y + 1] = r1[c];
      dst[c * pitch + y + 2] = r2[c];
      dst[c * pitch + y + 3] = r3[c];
    }
  }
#endif
  for (; y < h; ++y) {
    const float* row = src + y * stride;
    for (size_t c = 0; c < cols; ++c) dst[c * pitch + y] = row[c];
  }
}

namespace {
inline int32_t radius_bin(float r) {
  return r < 2147483648.0f ? static_cast<int32_t>(r) : INT32_MIN;  // NaN fails the test
}
}  // namespace

void circle_bins(float dx2, const float* dy2, const float* values, int32_t n, bool skip_masked,
                 int32_t* bins) {
  int32_t y = 0;
#if defined(__SSE2__)
  const __m128 vdx2 = _mm_set1_ps(dx2);
  const __m128 zero = _mm_setzero_ps();
  const __m128 mask_on = skip_masked ? _mm_castsi128_ps(_mm_set1_epi32(-1)) : zero;
  for (; y + 4 <= n; y += 4) {
    const __m128 r = _mm_sqrt_ps(_mm_add_ps(vdx2, _mm_loadu_ps(dy2 + y)));
    const __m128 masked = _mm_and_ps(_mm_cmpeq_ps(_mm_loadu_ps(values + y), zero), mask_on);
    const __m128i k = _mm_or_si128(_mm_cvttps_epi32(r), _mm_castps_si128(masked));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bins + y), k);
  }
#endif
  for (; y < n; ++y) {
    const float r = std::sqrt(dx2 + dy2[y]);
    bins[y] = (skip_masked && values[y] == 0.0f) ? -1 : radius_bin(r);
  }
}

void ellipse_bins(float udx, float vdx, const float* udy, const float* vdy, const float* values,
                  int32_t n, int32_t* bins) {
  int32_t y = 0;
#if defined(__SSE2__)
  const __m128 vu = _mm_set1_ps(udx);
  const __m128 vv = _mm_set1_ps(vdx);
  const __m128 zero = _mm_setzero_ps();
  for (; y + 4 <= n; y += 4) {
    const __m128 u = _mm_add_ps(vu, _mm_loadu_ps(udy + y));
    const __m128 v = _mm_add_ps(vv, _mm_loadu_ps(vdy + y));
    const __m128 r = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(u, u), _mm_mul_ps(v, v)));
    const __m128 masked = _mm_cmpeq_ps(_mm_loadu_ps(values + y), zero);
    const __m128i k = _mm_or_si128(_mm_cvttps_epi32(r), _mm_castps_si128(masked));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bins + y), k);
  }
#endif
  for (; y < n; ++y) {
    const float u = udx + udy[y];
    const float v = vdx + vdy[y];
    const float r = std::sqrt(u * u + v * v);
    bins[y] = values[y] == 0.0f ? -1 : radius_bin(r);
  }
}
