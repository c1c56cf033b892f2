// The fits of the peak table: the unbounded fit of all peaks at once (its
// runs, continuations and restarts), the bounded fit of one group, their
// end messages, and the re-estimate of the background from the fitted peaks.
#include "pseudovoigt.h"

#include "fit_stop.h"
#include "levmar.h"
#include "messages.h"
#include "numeric.h"
#include "pseudovoigt_model.h"
#include "pseudovoigt_scaling.h"
#include "spline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {
constexpr int kFitIterations = 250;
// The unbounded fit runs this many iterations before its scales are taken
// afresh, and at most this many more runs after the first.
constexpr int kFirstRunIterations = 100;
constexpr int kMoreRuns = 4;

bool check_fit_range(const profile_data& rec, int32_t start, int32_t end, const char* caller) {
  if (!check_profile(rec, caller)) return false;
  if (!rec.ysub) {
    reportf("ERROR in %s. The background has not been subtracted. \n", caller);
    return false;
  }
  if (start < 0 || start > end || end > rec.length - 1) {
    reportf("ERROR in %s. The fit range must lie inside the profile. \n", caller);
    return false;
  }
  return true;
}

// Parameters where the fit's derivatives vanish, so that it stops short of
// the minimum, moved to where they can act again; false when there are none.
// rows: positions relative to the fit's first sample, in the model's units;
// restart: a copy of the rows (positions in any origin) to start again from,
// changed where a parameter is restarted.
//   - A weight at (or within 0.02 of) an end of [0, 1] while the error would
//     fall by moving it inward: the weight map is flat there.  Restarted at
//     0.5.
//   - A peak at intensity 0 (every other derivative of it vanishes with the
//     intensity) or narrower than a quarter of a sample (a spike between two
//     samples shows in none).  Restarted at least a sample wide, with the
//     area of a peak of that width as high as the largest residual within a
//     width of its position; left as it is where the residual there is no
//     peak.
// A start is checked for such peaks only: its weights have not been fitted.
enum class Parked { kPeaks, kPeaksAndWeights };
bool restart_parked(const float* rows, int m, const float* measured, int n, float data_factor,
                    Parked which, std::vector<float>& restart) {
  bool any = false;
  std::vector<float> model(static_cast<size_t>(n));
  evaluate_peaks(rows, m, model.data(), n, nullptr);
  std::vector<double> residual(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    residual[i] = static_cast<double>(measured[i]) - static_cast<double>(model[i]) * data_factor;
  float largest = 0.0f;
  for (int k = 1; k < m; k += 4)
    if (std::isfinite(rows[k])) largest = std::max(largest, std::fabs(rows[k]));
  for (int k = 0; k < m; k += 4) {
    const double x0 = rows[k];
    const double a = std::fabs(static_cast<double>(rows[k + 1]));
    const double w = std::fabs(static_cast<double>(rows[k + 2]));
    if (!std::isfinite(x0) || !std::isfinite(a) || !std::isfinite(w)) continue;
    if (a <= 1e-3 * largest || w < 0.25) {
      const double width = std::max(w, 1.0);
      double height = 0.0;
      const int from = static_cast<int>(std::max(std::ceil(x0 - width), 0.0));
      const int to = static_cast<int>(std::min(std::floor(x0 + width), n - 1.0));
      for (int i = from; i <= to; ++i) height = std::max(height, residual[i]);
      if (height > 0.0) {
        // The area of a Gauss of that height and HWHM: h w sqrt(pi / ln 2).
        restart[k + 1] = static_cast<float>(height / data_factor * width * std::sqrt(kPi / kLn2));
        restart[k + 2] = static_cast<float>(width);
        any = true;
        continue;
      }
    }
    const float eta = rows[k + 3];
    if (which == Parked::kPeaks || !(eta < 0.02f || eta > 0.98f) || a == 0.0) continue;
    // d model / d eta = A (Lorentz - Gauss); the error falls inward when
    // the residual leans toward the other shape.
    double lean = 0.0;
    for (int i = 0; i < n; ++i) {
      const double s = (i - x0) * (i - x0) / (w * w);
      const double dmodel =
          a * (1.0 / (kPi * w) / (1.0 + s) - std::sqrt(kLn2 / kPi) / w * std::exp(-kLn2 * s));
      lean += residual[i] * dmodel;
    }
    if ((eta > 0.98f && lean < 0.0) || (eta < 0.02f && lean > 0.0)) {
      restart[k + 3] = 0.5f;
      any = true;
    }
  }
  return any;
}
}  // namespace

void report_fit_end(int result, const float* info) {
  const FitStop reason = fit_stop(info);
  const double iterations = info[5];
  // The iteration limit is a failure even though the solver returns its
  // iteration count then.
  if (reason == FitStop::kIterationLimit)
    reportf("ERROR! Fit did not converge after %g iterations. \n", iterations);
  else if (result >= 0)
    reportf("Fit converged after %d iterations. \n", result);
  else if (reason == FitStop::kHugeStep)
    reportf("ERROR! Fit aborted after %g iterations due to singluar matrix. \n", iterations);
  else if (reason == FitStop::kNoReduction)
    reportf("ERROR! Fit aborted after %g, no further error reduction possible. \n", iterations);
  else if (reason == FitStop::kInvalidValues)
    reportf("ERROR! Fit aborted after %g iterations due to invalid function values. \n",
            iterations);
  else
    reportf("ERROR! Fit aborted after %g. \n", iterations);
}

int32_t fitpeaks(profile_data& rec, int32_t start, int32_t end) {
  if (!check_fit_range(rec, start, end, "fitpeaks")) return -1;
  if (rec.npeaks < 1 || !rec.peaks) {
    report("ERROR in fitpeaks. No peak given. \n");
    return -1;
  }
  const int n = end - start + 1;
  const int m = kPeakColumns * rec.npeaks;
  std::vector<float> measured(rec.ysub.get() + start, rec.ysub.get() + end + 1);
  const MeasurementScale data(measured);
  float* peaks = rec.peaks.get();
  const float origin = static_cast<float>(start);

  float options[LM_OPTS_SZ] = {1e-3f, 1e-8f, 1e-8f, 1e-8f, 1e-6f};
  float info[LM_INFO_SZ] = {};
  // The prefit can leave a peak collapsed to a spike or to nothing, which
  // the fit could not revive: it starts from where it can act instead.
  std::vector<float> rows(static_cast<size_t>(m));
  for (int k = 0; k < m; ++k) rows[k] = k % 4 == 0 ? peaks[k] - origin : peaks[k];
  std::vector<float> first(peaks, peaks + m);
  restart_parked(rows.data(), m, measured.data(), n, data.factor(), Parked::kPeaks, first);
  ScaledPeaks fit(first.data(), m, origin, true, data.factor(), nullptr);
  int result = slevmar_der(ScaledPeaks::Model, ScaledPeaks::Jacobian, fit.ScaledParameters(),
                           measured.data(), m, n, kFirstRunIterations, options, info, nullptr,
                           nullptr, &fit);
  fit.Result(peaks);

  // The scales are fixed for a run, but a peak that has grown tenfold (one
  // turning into background, say) moves in units of its old width: a run
  // still going after its first iterations is continued with scales taken
  // afresh.  Parameters parked where the fit cannot move them are
  // restarted.  All runs share the iteration limit; a restart is kept only
  // when it ends lower.
  std::vector<float> released;
  for (int again = 0; again < kMoreRuns && result >= 0 && result < kFitIterations; ++again) {
    for (int k = 0; k < m; ++k) rows[k] = k % 4 == 0 ? peaks[k] - origin : peaks[k];
    released.assign(peaks, peaks + m);
    const bool continuing = again == 0 && result == kFirstRunIterations;
    if (!continuing && !restart_parked(rows.data(), m, measured.data(), n, data.factor(),
                                       Parked::kPeaksAndWeights, released))
      break;
    ScaledPeaks refit(released.data(), m, origin, true, data.factor(), nullptr);
    float refit_info[LM_INFO_SZ] = {};
    const int refit_result = slevmar_der(
        ScaledPeaks::Model, ScaledPeaks::Jacobian, refit.ScaledParameters(), measured.data(), m, n,
        kFitIterations - result, options, refit_info, nullptr, nullptr, &refit);
    if (!continuing && (refit_result < 0 || !(refit_info[1] < info[1]))) break;
    if (refit_result >= 0) refit.Result(peaks);
    const int total = result + std::max(refit_result, 0);
    std::copy(refit_info, refit_info + LM_INFO_SZ, info);
    info[5] = static_cast<float>(total);
    result = refit_result < 0 ? refit_result : total;
  }
  report_fit_end(result, info);
  return result;
}

int32_t fitpeakgroup(profile_data& rec, int32_t start, int32_t end, int32_t first, int32_t last) {
  if (!check_fit_range(rec, start, end, "fitpeakgroup")) return -1;
  if (!rec.peaks || first < 0 || first > last || last >= rec.npeaks) {
    report("ERROR in fitpeakgroup. The peak indices lie outside the peak table. \n");
    return -1;
  }
  const int n = end - start + 1;
  const int m = kPeakColumns * (last - first + 1);
  float* rows = rec.peaks.get() + kPeakColumns * first;
  // The width bounds are a factor 2 about the current HWHM: a width that is
  // no positive number gives no box to fit in.
  for (int k = 2; k < m; k += 4)
    if (!(rows[k] > 0.0f) || !std::isfinite(rows[k])) {
      report("ERROR in fitpeakgroup. Every peak's HWHM must be a positive number. \n");
      return -1;
    }
  std::vector<float> measured(rec.ysub.get() + start, rec.ysub.get() + end + 1);
  const MeasurementScale data(measured);
  // The fit's own store of exponentials, handed to the model through the
  // fit (see GaussExponentials); the unbounded fit takes exact derivatives
  // and has no use for one.
  GaussExponentials exponentials;
  ScaledPeaks fit(rows, m, static_cast<float>(start), false, data.factor(), &exponentials);
  std::vector<float> lower(static_cast<size_t>(m));
  std::vector<float> upper(static_cast<size_t>(m));
  // Positions stay inside the fitted range (and never exclude the start),
  // so that a converged group cannot move a peak off the profile.
  const float range = static_cast<float>(n - 1);
  for (int k = 0; k < m; k += 4) {
    const float x = fit.Relative(k);
    const float w = fit.Relative(k + 2);
    lower[k] = std::min(std::max(x - 20.0f, 0.0f), x);
    upper[k] = std::max(std::min(x + 20.0f, range), x);
    lower[k + 1] = 0.0f;
    upper[k + 1] = std::numeric_limits<float>::infinity();
    lower[k + 2] = w / 2.0f;
    upper[k + 2] = w * 2.0f;
    lower[k + 3] = 0.0f;
    upper[k + 3] = 1.0f;
  }
  fit.ScaleBounds(lower.data(), upper.data());

  float options[LM_OPTS_SZ] = {1e-3f, 1e-8f, 1e-8f, 1e-8f, 1e-6f};
  float info[LM_INFO_SZ] = {};
  // Differences, not the exact Jacobian: with a width on its bound the
  // bounded solver's projected steps crawl on exact derivatives, and a
  // prefit needs only a good start.
  const int result = slevmar_bc_dif(ScaledPeaks::Model, fit.ScaledParameters(), measured.data(), m,
                                    n, lower.data(), upper.data(), kFitIterations, options, info,
                                    nullptr, nullptr, &fit);
  if (result != LM_ERROR) fit.Result(rows);
  return result;
}

void refitbackground(profile_data& rec) {
  if (!check_profile(rec, "refitbackground")) return;
  if (!rec.ysub) {
    report("ERROR in refitbackground. The background has not been subtracted. \n");
    return;
  }
  if (rec.nsplinepoints < 1 || !rec.splinex || !rec.spliney) return;
  std::vector<float> model(static_cast<size_t>(rec.length));
  model_curve(rec, model.data());
  for (int32_t j = 0; j < rec.nsplinepoints; ++j) {
    int32_t i = 0;
    if (!sample_of(rec.splinex[j], rec.length, i)) continue;
    rec.spliney[j] = rec.spliney[j] - model[i] + rec.ysub[i];
  }
}

bool peakfit_sequence(profile_data& rec, const char* caller) {
  if (!check_splinepoints(rec, 2, caller) || !check_peaks(rec, caller) ||
      !check_samples(rec, caller))
    return false;
  const int32_t last = rec.nsplinepoints - 1;
  subtractbackground(rec);
  report("Performing first Fit (of 2). ");
  fitpeaks(rec, trunc_to_int(rec.splinex[0]), trunc_to_int(rec.splinex[last]));
  refitbackground(rec);
  subtractbackground(rec);
  report("Performing second Fit (of 2). ");
  fitpeaks(rec, trunc_to_int(rec.splinex[1]), trunc_to_int(rec.splinex[last]));
  return true;
}
