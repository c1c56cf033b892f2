// Synthetic electron diffraction patterns with known geometry, for the
// demonstration, the benchmarks, the accuracy sweep and the tests.
// Header-only and independent of the library: it needs nothing but the
// standard library.
//
// The pattern is row-major, pixel (x, y) at index x + width*y.  Angles are
// radians from +x (increasing column) toward decreasing row, as in the core.
// Rings are elliptic with axis ratio a/b and major axis at `angle`; a ring's
// "radius" is its minor semi-axis b (so its major semi-axis is ratio * b),
// which is how the core indexes elliptic bins.  Every unmasked pixel is
// strictly positive; the beam stop (a disc about the centre and an arm to the
// image edge) is exactly 0.0, the core's masked value.  The noise is a fixed
// pseudo-random sequence: the same options give the same pattern everywhere.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

struct SyntheticOptions {
  double center_x = 0.0;  // true centre in pixels (need not be whole)
  double center_y = 0.0;
  double axis_ratio = 1.0;          // a/b >= 1
  double angle = 0.0;               // major axis, radians
  std::vector<double> radii;        // minor semi-axes of the rings, pixels
  std::vector<double> heights;      // peak height of each ring above the background
  double ring_sigma = 2.0;          // Gaussian width of a ring, pixels
  double background = 300.0;        // background at the centre ...
  double background_scale = 150.0;  // ... falling as 1 / (1 + r / scale)
  double noise = 5.0;               // noise amplitude (uniform in +-noise)
  uint32_t seed = 12345;
  double beam_stop_radius = 25.0;    // masked disc; 0 for none
  double beam_stop_arm = 8.0;        // half-width of the masked arm; 0 for none
  double beam_stop_arm_angle = 1.0;  // direction of the arm, radians
};

// Defaults scaled to a pattern size: centre off the middle at whole pixels,
// four rings, the strongest at 0.14 of the smaller size (beyond radius 110,
// where the centre finders look, from 800 pixels on), and an ellipse whose
// semi-axes differ by about 7 pixels on that ring (axis ratio at most 1.05):
// the circular centre refinement tolerates that much distortion.
inline SyntheticOptions synthetic_defaults(int32_t width, int32_t height) {
  SyntheticOptions o;
  const double size = width < height ? width : height;
  o.center_x = std::floor(0.46 * width);
  o.center_y = std::floor(0.53 * height);
  o.axis_ratio = 1.0 + std::fmin(0.05, 7.0 / (0.14 * size));
  o.angle = 0.6;
  o.radii = {0.14 * size, 0.23 * size, 0.30 * size, 0.37 * size};
  o.heights = {1500.0, 900.0, 600.0, 400.0};
  o.ring_sigma = 1.5 + size / 1024.0;
  o.beam_stop_radius = 0.025 * size;
  o.beam_stop_arm = 0.008 * size;
  return o;
}

inline std::vector<float> synthetic_pattern(int32_t width, int32_t height,
                                            const SyntheticOptions& o) {
  std::vector<float> pixels(static_cast<size_t>(width > 0 ? width : 0) *
                            static_cast<size_t>(height > 0 ? height : 0));
  const double c = std::cos(o.angle);
  const double s = std::sin(o.angle);
  const double ac = std::cos(o.beam_stop_arm_angle);
  const double as = std::sin(o.beam_stop_arm_angle);
  uint32_t state = o.seed ? o.seed : 1u;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      // xorshift32: a deterministic, platform-independent sequence.
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const double uniform = static_cast<double>(state) / 4294967295.0 * 2.0 - 1.0;
      const double dx = x - o.center_x;
      const double up = -(y - o.center_y);   // the convention's second axis
      const double along = dx * c + up * s;  // along the major axis
      const double across = -dx * s + up * c;
      const double rho =
          std::sqrt((along / o.axis_ratio) * (along / o.axis_ratio) + across * across);
      const double r = std::sqrt(dx * dx + up * up);
      double v = o.background / (1.0 + r / o.background_scale);
      for (size_t i = 0; i < o.radii.size() && i < o.heights.size(); ++i) {
        const double t = (rho - o.radii[i]) / o.ring_sigma;
        if (t > -12.0 && t < 12.0) v += o.heights[i] * std::exp(-0.5 * t * t);
      }
      v += o.noise * uniform;
      if (v < 0.5) v = 0.5;
      bool masked = o.beam_stop_radius > 0.0 && r < o.beam_stop_radius;
      if (o.beam_stop_arm > 0.0) {
        const double arm_along = dx * ac + up * as;
        const double arm_across = -dx * as + up * ac;
        if (arm_along > 0.0 && std::fabs(arm_across) < o.beam_stop_arm) masked = true;
      }
      pixels[static_cast<size_t>(x) + static_cast<size_t>(width) * static_cast<size_t>(y)] =
          masked ? 0.0f : static_cast<float>(v);
    }
  }
  return pixels;
}
