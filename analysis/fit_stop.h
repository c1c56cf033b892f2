// Why a Levenberg-Marquardt fit (levmar.h) stopped, named.  The solver's C
// entry points report the reason as a float in info[6]; the core reads it
// through fit_stop() instead of comparing bare numbers.
#pragma once

enum class FitStop {
  kUnknown = 0,         // no reason reported (the fit refused its arguments)
  kSmallGradient = 1,   // converged: the gradient vanished
  kSmallStep = 2,       // converged: the step became too small to matter
  kIterationLimit = 3,  // itmax reached without converging
  kHugeStep = 4,        // absurdly large step: a singular system
  kNoReduction = 5,     // the damping can grow no further: no step lowers the error
  kSmallError = 6,      // converged: the error itself is negligible
  kInvalidValues = 7,   // the model gave a value that is not finite
};

// The reason in an info vector of LM_INFO_SZ floats; unknown for any value
// the solver does not define.
inline FitStop fit_stop(const float* info) {
  const float reason = info[6];
  for (int r = 1; r <= 7; ++r)
    if (reason == static_cast<float>(r)) return static_cast<FitStop>(r);
  return FitStop::kUnknown;
}
