#include "profile_utils.h"

#include "numeric.h"

#include <cmath>
#include <cstddef>
#include <limits>

float sum_range(int32_t a, int32_t b, const float* data) {
  float sum = 0.0f;
  for (int32_t i = a; i < b; ++i) sum += data[i];
  return sum;
}

float area_above_chord(int32_t a, int32_t b, const float* data) {
  float sum = 0.0f;
  if (b <= a) return sum;
  float rise = data[b] - data[a];
  float span = static_cast<float>(static_cast<int64_t>(b) - a);
  for (int32_t i = a; i < b; ++i) {
    float chord = data[a] + (static_cast<float>(static_cast<int64_t>(i) - a) / span) * rise;
    sum += data[i] - max_float(0.0f, chord);
  }
  return sum;
}

float hwhm_estimate(int32_t a, int32_t b, const float* data) {
  float m = data[a];
  for (int32_t i = a + 1; i <= b; ++i)
    if (data[i] > m) m = data[i];
  float half = m / 2.0f;
  int32_t lo = a;
  do {
    ++lo;
  } while (lo < b && data[lo] < half);
  int32_t hi = b;
  do {
    --hi;
  } while (hi > a && data[hi] < half);
  return static_cast<float>((static_cast<int64_t>(hi) - lo) / 2);
}

float atanh_float(float x) {
  return static_cast<float>(0.5 * static_cast<double>(std::log((1.0f + x) / (1.0f - x))));
}

float** alloc_matrix_float(int32_t rows, int32_t cols) {
  if (rows < 1 || cols < 1) return nullptr;
  // The block is an array of pointers long enough to hold the pointer table
  // and the floats behind it, so that one delete[] of the table frees it.
  const size_t ptr = sizeof(float*);
  const size_t cells = static_cast<size_t>(rows) * static_cast<size_t>(cols);
  if (cells > std::numeric_limits<size_t>::max() / sizeof(float) / 2) return nullptr;
  const size_t slots = static_cast<size_t>(rows) + (cells * sizeof(float) + ptr - 1) / ptr;
  float** table = new float*[slots];
  float* data = reinterpret_cast<float*>(table + rows);
  for (int32_t r = 0; r < rows; ++r) table[r] = data + static_cast<size_t>(r) * cols;
  return table;
}
