// Column-order traversal and binning of a row-major pattern (internal to the
// core: the profile kernels, the ellipse prefit and the ring objectives).
//
// The core's float sums are defined by the order "columns outer, rows inner".
// Walking a row-major image that way strides a whole row per pixel: every
// read lands on another cache line and, for large patterns, another page.
// visit_columns() copies a strip of columns row by row into a small
// column-major buffer (each row gives one short contiguous run) and hands the
// visitor one contiguous column at a time.  Only the memory traffic changes:
// the visitor still sees every pixel exactly once and in the defined order,
// so every sum it forms is bit-identical to the plain double loop.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// Columns per strip.  Each row then gives one contiguous run of 512 bytes,
// so a strip costs one page-table look-up per row and per 128 pixels, and
// the copy's write streams (one per column) still fit the first-level cache.
constexpr int32_t kColumnStrip = 128;

// Columns per strip for the window x0 .. x1-1: no wider than the window, so
// that a narrow, tall pattern does not pay for a strip of its full height
// per column it does not have.  Strips start at x0.
inline int32_t strip_width(int32_t x0, int32_t x1) {
  return std::max<int32_t>(std::min<int32_t>(kColumnStrip, x1 - x0), 1);
}

// Distance between buffer columns for columns of h values: a multiple of 16
// floats plus one cache line, so that the columns do not all fall into the
// same cache set (as they would at a power-of-two distance).
inline size_t column_pitch(size_t h) {
  return (h + 15) / 16 * 16 + 16;
}

// Copies n columns of h rows, starting at src (row stride `stride` floats),
// into dst column-major with column c at dst + c*pitch.
void copy_strip(const float* src, size_t stride, int32_t n, size_t h, float* dst, size_t pitch);

// Copies rows y0 .. y1-1 of the columns xs[0] .. xs[n-1] (any columns, any
// order) into buf, column-major: column c starts at buf + c*pitch.
inline void gather_columns(const float* data, int32_t stride, const int32_t* xs, int32_t n,
                           int32_t y0, int32_t y1, float* buf, size_t pitch) {
  const size_t h = static_cast<size_t>(y1 - y0);
  const float* row = data + static_cast<size_t>(y0) * static_cast<size_t>(stride);
  for (size_t y = 0; y < h; ++y, row += stride)
    for (int32_t c = 0; c < n; ++c) buf[static_cast<size_t>(c) * pitch + y] = row[xs[c]];
}

// Calls visit(x, column) for x = x0 .. x1-1 in increasing order; column points
// at the values of rows y0 .. y1-1 of column x, top row first.  stride is the
// pattern's width.  Nothing happens for a null pattern or an empty window;
// the caller keeps the window inside the pattern.
template <class Visit>
void visit_columns(const float* data, int32_t stride, int32_t x0, int32_t x1, int32_t y0,
                   int32_t y1, Visit&& visit) {
  if (!data || x1 <= x0 || y1 <= y0) return;
  const size_t h = static_cast<size_t>(y1 - y0);
  const size_t w = static_cast<size_t>(stride);
  const size_t pitch = column_pitch(h);
  const int32_t strip = strip_width(x0, x1);
  std::vector<float> buffer(static_cast<size_t>(strip) * pitch);
  float* buf = buffer.data();
  for (int32_t xs = x0; xs < x1; xs += strip) {
    const int32_t n = std::min<int32_t>(strip, x1 - xs);
    copy_strip(data + static_cast<size_t>(y0) * w + static_cast<size_t>(xs), w, n, h, buf, pitch);
    for (int32_t c = 0; c < n; ++c) visit(xs + c, buf + static_cast<size_t>(c) * pitch);
  }
}

// The whole pattern.
template <class Visit>
void visit_columns(const float* data, int32_t width, int32_t height, Visit&& visit) {
  visit_columns(data, width, 0, width, 0, height, visit);
}

// Adds column values to bins in order: values[y] goes to bin bins[y] unless
// bins[y] is outside [0, nbins); counts (may be null: raw sums only) count
// the pixels.  A plain add per pixel: summing a run of one bin in a register
// is the same float sequence, but the run's end is a branch the processor
// mispredicts too often to win.
inline void accumulate_column(const float* values, const int32_t* bins, int32_t n, int32_t nbins,
                              float* sums, int32_t* counts) {
  const uint32_t limit = static_cast<uint32_t>(nbins);
  for (int32_t y = 0; y < n; ++y) {
    const int32_t k = bins[y];
    if (static_cast<uint32_t>(k) >= limit) continue;
    sums[k] += values[y];
    if (counts) ++counts[k];
  }
}

// bins[y] = trunc(sqrtf(dx2 + dy2[y])) for y < n; INT32_MIN where the radius
// is not below 2^31 (or not a number), and -1 when skip_masked and
// values[y] == 0.  Callers treat every negative bin, and every bin at or
// above their nbins, as "no bin" (accumulate_column does).
void circle_bins(float dx2, const float* dy2, const float* values, int32_t n, bool skip_masked,
                 int32_t* bins);

// The same with the elliptic radius sqrtf(u*u + v*v), u = udx + udy[y],
// v = vdx + vdy[y]; masked pixels are always skipped.
void ellipse_bins(float udx, float vdx, const float* udy, const float* vdy, const float* values,
                  int32_t n, int32_t* bins);
