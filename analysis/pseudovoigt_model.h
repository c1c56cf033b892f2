// The pseudo-Voigt model as the fits evaluate it (the public callbacks are
// declared in pseudovoigt.h): the sample loop, and the exponentials a
// bounded group fit keeps from one evaluation to the next.
#pragma once

#include <cmath>
#include <vector>

// ln 2 in double, as the model and the fits compute with it.
inline const double kLn2 = std::log(2.0);

// The samples a peak's exponentials are held for (defined with the model).
struct GaussWindow;

// The exponentials of every peak, kept from one evaluation to the next
// during a bounded group fit.  Its difference Jacobian evaluates the centre
// again and then moves one parameter at a time, and the exponentials
// depend on a peak's position and width only, so most of its evaluations
// find them at the centre's or the last point's values.  Two sets per
// peak; a new one replaces the older.  One store belongs to one fit: the
// fit owns it and hands it to the model with every evaluation.
class GaussExponentials {
 public:
  // The exponentials of peak k at the samples `held`, from the store when
  // a set of the same x0, ge and window is there, else computed into it.
  const float* Get(int k, float x0, float ge, int from, int to, const GaussWindow& held);

 private:
  struct Set {
    float x0 = 0.0f;
    float ge = 0.0f;
    int from = 0;
    int to = 0;
    int held_to = 0;
    long long stamp = 0;  // 0: empty
    std::vector<float> values;
  };
  static bool Same(float a, float b);
  std::vector<Set> sets_;
  long long clock_ = 0;
};

// The model of pseudovoigt_model: trunc(m/4) peaks p at the sample indices
// 0 .. n-1 into hx[n].  kept: the store of the fit that evaluates it, or
// null to take every exponential afresh; either way the same bits.
void evaluate_peaks(const float* p, int m, float* hx, int n, GaussExponentials* kept);
