#include "rdf.h"

#include "levmar.h"
#include "messages.h"
#include "numeric.h"
#include "pseudovoigt.h"

#include <algorithm>
#include <cmath>
#include <vector>

void kirklandfunction(const profile_data& rec, float s0, int32_t n, float* out) {
  const int32_t rows = rec.elements ? rec.nelements : 0;
  for (int32_t i = 0; i < n; ++i) out[i] = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    const float q = powi_float((s0 + rec.step * static_cast<float>(i)) / 10.0f, 2);
    float sum = 0.0f;
    for (int32_t e = 0; e < rows; ++e) {
      const float* c = rec.elements.get() + static_cast<size_t>(kElementColumns) * e;
      const float f = c[0] / (q + c[3]) + c[1] / (q + c[4]) + c[2] / (q + c[5]) +
                      c[6] * std::exp(-c[9] * q) + c[7] * std::exp(-c[10] * q) +
                      c[8] * std::exp(-c[11] * q);
      sum = static_cast<float>(static_cast<double>(sum) +
                               static_cast<double>(powi_float(f, 2) * c[13]) / 100.0);
    }
    out[i] = sum;
  }
}

void scale_offset_model(float* p, float* hx, int, int n, void* adata) {
  const float* f2 = static_cast<const float*>(adata);
  const float scale = static_cast<float>(std::fabs(static_cast<double>(p[0])));
  const float offset = static_cast<float>(std::fabs(static_cast<double>(p[1])));
  for (int i = 0; i < n; ++i) hx[i] = scale * f2[i] + offset;
}

int32_t kirklandfit(profile_data& rec, int32_t start, int32_t end) {
  if (!check_profile(rec, "kirklandfit")) return -1;
  if (start < 0 || start > end || end > rec.length - 1) {
    report("ERROR in kirklandfit. The range must satisfy 0 <= start <= end <= length-1. \n");
    return -1;
  }
  if (rec.nelements > 0 && !rec.elements) {
    report("ERROR in kirklandfit. No element table loaded. \n");
    return -1;
  }
  const int n = end - start + 1;
  std::vector<float> measured(rec.y.get() + start, rec.y.get() + end + 1);
  std::vector<float> f2(static_cast<size_t>(n));
  kirklandfunction(rec, static_cast<float>(start) * rec.step, n, f2.data());
  float p[2] = {rec.scale, rec.offset};

  // All tolerances 0: the fit runs until no step lowers the error any more
  // (stop reason 5); central differences.
  float options[LM_OPTS_SZ] = {0.0f, 0.0f, 0.0f, 0.0f, -1e-6f};
  float info[LM_INFO_SZ] = {};
  const int result = slevmar_dif(scale_offset_model, p, measured.data(), 2, n, 250, options, info,
                                 nullptr, nullptr, f2.data());
  report_fit_end(result, info);
  rec.scale = static_cast<float>(std::fabs(static_cast<double>(p[0])));
  rec.offset = static_cast<float>(std::fabs(static_cast<double>(p[1])));
  return result;
}

void kirkland_curves(const profile_data& rec, float* curve, float* reduced) {
  if (rec.length < 1 || !rec.y) return;
  const int32_t n = rec.length;
  kirklandfunction(rec, 0.0f, n, curve);
  for (int32_t i = 0; i < n; ++i) {
    const float model = rec.scale * curve[i] + rec.offset;
    curve[i] = model;
    reduced[i] = static_cast<float>(
        static_cast<double>((rec.y[i] - model) / model * static_cast<float>(i) * rec.step) / 10.0);
  }
}

float rdf_step(float c) {
  return static_cast<float>(static_cast<double>(c) * 2.0 * kPi / 10.0);
}

void rdf_sinetransform(profile_data& rec, int32_t start, int32_t end) {
  auto rdf = std::make_unique<float[]>(kRdfPoints);
  const int32_t length = rec.y ? rec.length : 0;
  int32_t first = 0;
  int32_t count = std::max(length, 0);
  if (static_cast<int64_t>(end) - start > 10 && start >= 0 && end <= length) {
    first = start;
    count = end - start;
  }

  // Per-sample Simpson weights: 1 4 2 4 ... 4 1 for an odd count.  An even
  // count takes Simpson over all but the last sample and one trapezoid
  // (h/2 = 1.5 * h/3) over the last interval.
  std::vector<double> weight(static_cast<size_t>(count));
  const int32_t simpson = count % 2 == 1 ? count : count - 1;
  for (int32_t j = 0; j < simpson; ++j)
    weight[j] = (j == 0 || j == simpson - 1) ? 1.0 : (j % 2 == 1 ? 4.0 : 2.0);
  if (simpson == 1 && count == 2) weight[0] = 0.0;  // one sample spans no interval
  if (count % 2 == 0 && count >= 2) {
    weight[count - 2] += 1.5;
    weight[count - 1] += 1.5;
  }

  const double step = rec.step;
  for (int32_t k = 0; k < kRdfPoints; ++k) {
    const double r = static_cast<double>(k) * static_cast<double>(0.01f);
    float sum = 0.0f;
    for (int32_t j = 0; j < count; ++j) {
      const int32_t at = first + j;
      const double term =
          weight[j] * static_cast<double>(rec.y[at]) * std::sin(r * static_cast<double>(at) * step);
      sum = static_cast<float>(static_cast<double>(sum) + term);
    }
    rdf[k] = static_cast<float>(static_cast<double>(sum * rec.step) * 4.0 / 3.0);
  }
  rec.rdf = std::move(rdf);
}
