// The scaling of the peak parameters the fits hand to the solver, and the
// solver's view of a fit (ScaledPeaks): its parameters and the model and
// Jacobian callbacks that carry them through the scales to the peaks.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

class GaussExponentials;

// Intensities of 10^3 to 10^6 next to positions and widths of 1 to 10 leave
// the small parameters stuck under an identity damping and a step test
// relative to the whole vector, so the solver works on u with
// p = offset + u x unit, fixed at the start:
//   position: in the unbounded fit, in units of the peak's HWHM unit
//     (below), but no larger than 2 samples, counted from 1 unit below its
//     start.  A peak's natural length is its width; the cap keeps broad
//     start widths (the readers' default of 10) from letting peaks trade
//     places.  A peak broader than 50 samples is no ring but background the
//     peaks stand in for, whose minimum may lie hundreds of samples away:
//     it moves in its own width.  The bounded fit keeps positions in
//     samples (unit 1).
//   intensity: max(|A0|, 1e-3 x the largest |A0|), so that a peak started at
//     or near zero gets the unit of a faint peak, not a vanishing one;
//   HWHM: max(|w0|, 0.5), no unit narrower than half a sample, below which a
//     sampled profile shows no width.  The unbounded fit takes the width as
//     unit x e^u instead: a peak that must grow from 3 to 300 samples (one
//     standing in for background) gets there in a few steps instead of
//     running out of iterations, and the width stays positive;
//   weight: 1.
// Positions are relative to the fit's first sample throughout.
class ParameterScales {
 public:
  ParameterScales(const float* relative, int m, bool unbounded);
  float ToModel(size_t k, float u) const {
    if (log_width_ && k % 4 == 2)
      return static_cast<float>(unit_[k] * std::exp(static_cast<double>(u)));
    return offset_[k] + u * unit_[k];
  }
  float ToSolver(size_t k, float p) const {
    if (log_width_ && k % 4 == 2)
      return static_cast<float>(std::log(std::fabs(static_cast<double>(p)) / unit_[k]));
    return (p - offset_[k]) / unit_[k];
  }
  // d p_k / d u_k at u_k.
  float Slope(size_t k, float u) const {
    return log_width_ && k % 4 == 2 ? ToModel(k, u) : unit_[k];
  }
  size_t size() const { return unit_.size(); }

 private:
  static constexpr float kLargestPositionUnit = 2.0f;
  static constexpr float kBackgroundWidth = 50.0f;
  static float Usable(float unit) { return std::isfinite(unit) && unit != 0.0f ? unit : 1.0f; }
  std::vector<float> unit_;
  std::vector<float> offset_;
  bool log_width_;
};

// Profiles of huge values would overflow the solver's float sums of
// squares.  Up to 2^40 the squares (2^80) of even 2^31 samples stay far
// below float's limit of 2^128; a larger profile (and so the model) is
// fitted multiplied by the power of two that brings it to about 2^20, which
// changes no bit of the peak shapes.
class MeasurementScale {
 public:
  explicit MeasurementScale(std::vector<float>& measured);
  float factor() const { return factor_; }

 private:
  static constexpr int kHugeExponent = 40;
  float factor_ = 1.0f;
};

// The solver's view of a fit: its parameters u, and the model and Jacobian
// callbacks that carry u through the scales (and the weight map) to the
// peaks and back.  The unbounded fit keeps each weight in [0, 1] through
// eta = (1 + sin u) / 2: a weight outside [0, 1] would be clamped by the
// model, which then no longer depends on it, and the fit could not bring it
// back.
class ScaledPeaks {
 public:
  // rows: m / 4 peak rows; positions are fitted relative to `origin`, the
  // fit's first sample.  kept: the store of exponentials the model keeps
  // between the fit's evaluations, or null for none; it must outlive the
  // fit.
  ScaledPeaks(const float* rows, int m, float origin, bool map_weight, float data_factor,
              GaussExponentials* kept);

  float* ScaledParameters() { return u_.data(); }

  // Parameter k of the start, positions relative to the origin.
  float Relative(int k) const { return k % 4 == 0 ? start_[k] - origin_ : start_[k]; }

  // Bounds in model units (positions relative to the origin), carried to
  // the solver's.
  void ScaleBounds(float* lower, float* upper) const;

  // The solver's callbacks; adata is the ScaledPeaks.
  static void Model(float* u, float* hx, int m, int n, void* adata);
  // The chain rule through the same map: column k times d p_k / d u_k.
  static void Jacobian(float* u, float* jac, int m, int n, void* adata);

  // The rows at the solver's point u in model units, absolute positions; a
  // parameter the solver left exactly at its start keeps its start value
  // bit for bit.
  void Result(const float* u, float* rows) const;
  void Result(float* rows) const { Result(u_.data(), rows); }

 private:
  static std::vector<float> RelativeRows(const float* rows, int m, float origin);
  void Unscale(const float* u, float* p) const;

  std::vector<float> start_;
  float origin_;
  ParameterScales scales_;
  std::vector<float> u_;
  std::vector<float> start_u_;
  std::vector<float> model_;
  std::vector<float> column_factor_;
  bool map_weight_;
  float data_factor_;
  GaussExponentials* kept_;
};
