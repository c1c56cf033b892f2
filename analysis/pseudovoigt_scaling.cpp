#include "pseudovoigt_scaling.h"

#include "pseudovoigt.h"
#include "pseudovoigt_model.h"

#include <algorithm>
#include <cmath>

namespace {
// The weight map of the unbounded fit, eta = (1 + sin u) / 2, and its slope.
float weight_of(float u) {
  return static_cast<float>((1.0 + std::sin(static_cast<double>(u))) / 2.0);
}
float weight_slope(float u) {
  return static_cast<float>(std::cos(static_cast<double>(u)) / 2.0);
}
// The map is flat at 0 and 1, so a weight started there could never move:
// starts are kept a hundredth inside, where its slope is still a tenth.
float weight_start(float eta) {
  return static_cast<float>(
      std::asin(2.0 * std::clamp(static_cast<double>(eta), 0.01, 0.99) - 1.0));
}
}  // namespace

ParameterScales::ParameterScales(const float* relative, int m, bool unbounded)
    : unit_(static_cast<size_t>(m), 1.0f),
      offset_(static_cast<size_t>(m), 0.0f),
      log_width_(unbounded) {
  float largest = 0.0f;
  for (int k = 1; k < m; k += 4)
    if (std::isfinite(relative[k])) largest = std::max(largest, std::fabs(relative[k]));
  for (int k = 0; k < m; k += 4) {
    unit_[k + 1] = Usable(std::max(std::fabs(relative[k + 1]), 1e-3f * largest));
    unit_[k + 2] = Usable(std::max(std::fabs(relative[k + 2]), 0.5f));
    if (!unbounded) continue;
    unit_[k] = unit_[k + 2] > kBackgroundWidth ? unit_[k + 2]
                                               : std::min(unit_[k + 2], kLargestPositionUnit);
    offset_[k] = relative[k] - unit_[k];
  }
}

MeasurementScale::MeasurementScale(std::vector<float>& measured) {
  float largest = 0.0f;
  for (float v : measured)
    if (std::isfinite(v)) largest = std::max(largest, std::fabs(v));
  int exponent = 0;
  std::frexp(largest, &exponent);
  if (exponent > kHugeExponent) {
    factor_ = std::ldexp(1.0f, 20 - exponent);
    for (float& v : measured) v *= factor_;
  }
}

ScaledPeaks::ScaledPeaks(const float* rows, int m, float origin, bool map_weight, float data_factor,
                         GaussExponentials* kept)
    : start_(rows, rows + m),
      origin_(origin),
      scales_(RelativeRows(rows, m, origin).data(), m, map_weight),
      u_(static_cast<size_t>(m)),
      model_(static_cast<size_t>(m)),
      map_weight_(map_weight),
      data_factor_(data_factor),
      kept_(kept) {
  for (int k = 0; k < m; ++k) u_[k] = scales_.ToSolver(k, Relative(k));
  if (map_weight_)
    for (int k = 3; k < m; k += 4) u_[k] = weight_start(rows[k]);
  start_u_ = u_;
}

void ScaledPeaks::ScaleBounds(float* lower, float* upper) const {
  for (size_t k = 0; k < scales_.size(); ++k) {
    lower[k] = scales_.ToSolver(k, lower[k]);
    upper[k] = scales_.ToSolver(k, upper[k]);
  }
}

void ScaledPeaks::Model(float* u, float* hx, int m, int n, void* adata) {
  auto& self = *static_cast<ScaledPeaks*>(adata);
  self.Unscale(u, self.model_.data());
  evaluate_peaks(self.model_.data(), m, hx, n, self.kept_);
  if (self.data_factor_ != 1.0f)
    for (int i = 0; i < n; ++i) hx[i] *= self.data_factor_;
}

void ScaledPeaks::Jacobian(float* u, float* jac, int m, int n, void* adata) {
  auto& self = *static_cast<ScaledPeaks*>(adata);
  self.Unscale(u, self.model_.data());
  pseudovoigt_jacobian(self.model_.data(), jac, m, n);
  std::vector<float>& factor = self.column_factor_;
  factor.resize(static_cast<size_t>(m));
  for (int k = 0; k < m; ++k) {
    const bool weight = self.map_weight_ && k % 4 == 3;
    factor[k] = (weight ? weight_slope(u[k]) : self.scales_.Slope(k, u[k])) * self.data_factor_;
  }
  for (int i = 0; i < n; ++i) {
    float* row = jac + static_cast<size_t>(i) * static_cast<size_t>(m);
    for (int k = 0; k < m; ++k) row[k] *= factor[k];
  }
}

void ScaledPeaks::Result(const float* u, float* rows) const {
  std::vector<float> p(u_.size());
  Unscale(u, p.data());
  for (size_t k = 0; k < u_.size(); ++k) {
    if (u[k] == start_u_[k] || (std::isnan(u[k]) && std::isnan(start_u_[k])))
      rows[k] = start_[k];
    else
      rows[k] = k % 4 == 0 ? p[k] + origin_ : p[k];
  }
}

std::vector<float> ScaledPeaks::RelativeRows(const float* rows, int m, float origin) {
  std::vector<float> relative(rows, rows + m);
  for (int k = 0; k < m; k += 4) relative[k] -= origin;
  return relative;
}

void ScaledPeaks::Unscale(const float* u, float* p) const {
  for (size_t k = 0; k < u_.size(); ++k) p[k] = scales_.ToModel(k, u[k]);
  if (map_weight_)
    for (size_t k = 3; k < u_.size(); k += 4) p[k] = weight_of(u[k]);
}
