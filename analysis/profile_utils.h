// Small numeric helpers of the profile functions.  sum_range serves the
// prefit; the others are part of the public set for scripts' and users'
// own code.  Ranges are profile indices; the caller keeps them inside its
// array.
#pragma once

#include <cstdint>

// The float sum of data[a .. b-1], summed upward; 0.0 when b <= a.
float sum_range(int32_t a, int32_t b, const float* data);

// The float sum over i = a .. b-1 of data[i] - max(0, c_i), c_i being the
// chord from (a, data[a]) to (b, data[b]) at i.  Reads data[a .. b] when
// b > a; 0.0 when b <= a.
float area_above_chord(int32_t a, int32_t b, const float* data);

// A rough HWHM in samples of the peak inside data[a .. b] (a <= b): with m
// the largest value (the first one on a tie), lo walks up from a and hi down
// from b, each at least one step, while the sample there lies below m/2;
// the result is (hi - lo) / 2 in integer arithmetic.  lo never passes b and
// hi never passes a, so only data[a .. b] is read.
float hwhm_estimate(int32_t a, int32_t b, const float* data);

// 0.5 * log((1 + x) / (1 - x)); the quotient and logarithm in single
// precision.
float atanh_float(float x);

// A rows x cols float matrix in one block: a table of `rows` row pointers
// followed by the data, row r at data + r * cols.  Returns the pointer
// table, which the caller frees with one delete[]; nullptr when rows or cols
// is below 1 or the block would not be addressable.  Allocation failure
// throws std::bad_alloc.
float** alloc_matrix_float(int32_t rows, int32_t cols);
