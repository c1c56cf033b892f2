#include "fit_stop.h"
#include "levmar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// y = p0 * exp(p1 * t) at t = 0, 0.1, ..., sampled from p = (2, -1.5).
void decay(float* p, float* hx, int, int n, void*) {
  for (int i = 0; i < n; ++i) hx[i] = p[0] * std::exp(p[1] * 0.1f * static_cast<float>(i));
}

void not_a_number(float*, float* hx, int, int n, void*) {
  for (int i = 0; i < n; ++i) hx[i] = std::numeric_limits<float>::quiet_NaN();
}

FitStop fit(void (*model)(float*, float*, int, int, void*), int itmax, int& result) {
  float x[20];
  float truth[2] = {2.0f, -1.5f};
  decay(truth, x, 2, 20, nullptr);
  float p[2] = {0.5f, 0.5f};
  float info[LM_INFO_SZ] = {};
  result = slevmar_dif(model, p, x, 2, 20, itmax, nullptr, info, nullptr, nullptr, nullptr);
  return fit_stop(info);
}

}  // namespace

TEST(FitStop, NamesTheReasonsTheSolverReports) {
  int result = 0;
  const FitStop converged = fit(decay, 1000, result);
  EXPECT_GE(result, 0);
  EXPECT_TRUE(converged == FitStop::kSmallGradient || converged == FitStop::kSmallStep ||
              converged == FitStop::kSmallError)
      << static_cast<int>(converged);
  EXPECT_EQ(fit(decay, 1, result), FitStop::kIterationLimit);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(fit(not_a_number, 1000, result), FitStop::kInvalidValues);
  EXPECT_EQ(result, LM_ERROR);

  float info[LM_INFO_SZ] = {};
  EXPECT_EQ(fit_stop(info), FitStop::kUnknown);
  for (float odd : {8.0f, 2.5f}) {
    info[6] = odd;
    EXPECT_EQ(fit_stop(info), FitStop::kUnknown) << odd;
  }
  info[6] = 5.0f;
  EXPECT_EQ(fit_stop(info), FitStop::kNoReduction);
}
