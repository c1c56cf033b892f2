#include "pseudovoigt.h"

#include "fit_stop.h"
#include "levmar.h"
#include "messages.h"
#include "numeric.h"
#include "profile_utils.h"
#include "spline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {
const double ln2 = std::log(2.0);

constexpr int fit_iterations = 250;

// The hot loop of every fit: the per-peak factors are computed once, the
// sample loop does one exponential and one division.
void evaluate_peaks(const float *p, int m, float *hx, int n)
{
    std::fill(hx, hx + std::max(n, 0), 0.0f);
    const int count = m / 4;
    for (int k = 0; k < count; ++k) {
        const float x0 = p[4 * k];
        const float a = static_cast<float>(std::fabs(static_cast<double>(p[4 * k + 1])));
        const float w = static_cast<float>(std::fabs(static_cast<double>(p[4 * k + 2])));
        const float eta = max_float(0.0f, min_float(1.0f, p[4 * k + 3]));
        const float w2 = powi_float(w, 2);
        const float g0 = static_cast<float>(static_cast<double>(1.0f - eta) *
                                            std::sqrt(ln2 / pi / static_cast<double>(w2)));
        const float ge = static_cast<float>(-ln2 / static_cast<double>(w2));
        const float l0 = static_cast<float>(static_cast<double>(eta) / pi / static_cast<double>(w));
        const float lw = static_cast<float>(1.0 / static_cast<double>(w2));
        for (int i = 0; i < n; ++i) {
            const float d = static_cast<float>(i) - x0;
            const float d2 = d * d;
            const float arg = ge * d2;
            // expf is exactly 0 below -104: skipping it there changes no bit
            // and saves most of the exponentials of narrow peaks.
            const float gauss = arg > -104.0f ? g0 * std::exp(arg) : 0.0f;
            hx[i] += a * (gauss + l0 / (1.0f + lw * d2));
        }
    }
}

bool check_fit_range(const profile_data &rec, int32_t start, int32_t end, const char *caller)
{
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

// The sample index of a position, when it lies inside the profile.
bool sample_of(float position, int32_t length, int32_t &index)
{
    int32_t i = 0;
    if (!float_to_int(position, i) || i < 0 || i >= length) return false;
    index = i;
    return true;
}
}  // namespace

void pseudovoigt_model(float *p, float *hx, int m, int n, void *)
{
    evaluate_peaks(p, m, hx, n);
}

void model_curve(const profile_data &rec, float *out)
{
    const int m = rec.peaks ? peak_columns * rec.npeaks : 0;
    evaluate_peaks(rec.peaks.get(), m, out, rec.length);
}

void report_fit_end(int result, const float *info)
{
    const FitStop reason = fit_stop(info);
    const double iterations = info[5];
    // The iteration limit is a failure even though the solver returns its
    // iteration count then.
    if (reason == FitStop::iteration_limit)
        reportf("ERROR! Fit did not converge after %g iterations. \n", iterations);
    else if (result >= 0)
        reportf("Fit converged after %d iterations. \n", result);
    else if (reason == FitStop::huge_step)
        reportf("ERROR! Fit aborted after %g iterations due to singluar matrix. \n", iterations);
    else if (reason == FitStop::no_reduction)
        reportf("ERROR! Fit aborted after %g, no further error reduction possible. \n", iterations);
    else if (reason == FitStop::invalid_values)
        reportf("ERROR! Fit aborted after %g iterations due to invalid function values. \n", iterations);
    else
        reportf("ERROR! Fit aborted after %g. \n", iterations);
}

int32_t fitpeaks(profile_data &rec, int32_t start, int32_t end)
{
    if (!check_fit_range(rec, start, end, "fitpeaks")) return -1;
    if (rec.npeaks < 1 || !rec.peaks) {
        report("ERROR in fitpeaks. No peak given. \n");
        return -1;
    }
    const int n = end - start + 1;
    const int m = peak_columns * rec.npeaks;
    std::vector<float> measured(rec.ysub.get() + start, rec.ysub.get() + end + 1);
    std::vector<float> p(rec.peaks.get(), rec.peaks.get() + m);
    const float origin = static_cast<float>(start);
    for (int k = 0; k < m; k += 4) p[k] -= origin;

    float options[LM_OPTS_SZ] = {1e-3f, 1e-8f, 1e-8f, 1e-8f, 1e-6f};
    float info[LM_INFO_SZ] = {};
    const int result = slevmar_dif(pseudovoigt_model, p.data(), measured.data(), m, n, fit_iterations,
                                   options, info, nullptr, nullptr, nullptr);
    report_fit_end(result, info);
    for (int k = 0; k < m; ++k) rec.peaks[k] = (k % 4 == 0) ? p[k] + origin : p[k];
    return result;
}

int32_t fitpeakgroup(profile_data &rec, int32_t start, int32_t end, int32_t first, int32_t last)
{
    if (!check_fit_range(rec, start, end, "fitpeakgroup")) return -1;
    if (!rec.peaks || first < 0 || first > last || last >= rec.npeaks) {
        report("ERROR in fitpeakgroup. The peak indices lie outside the peak table. \n");
        return -1;
    }
    const int n = end - start + 1;
    const int m = peak_columns * (last - first + 1);
    float *rows = rec.peaks.get() + peak_columns * first;
    std::vector<float> measured(rec.ysub.get() + start, rec.ysub.get() + end + 1);
    std::vector<float> p(rows, rows + m);
    std::vector<float> lower(static_cast<size_t>(m));
    std::vector<float> upper(static_cast<size_t>(m));
    const float origin = static_cast<float>(start);
    for (int k = 0; k < m; k += 4) {
        p[k] -= origin;
        const float w = p[k + 2];
        lower[k] = p[k] - 20.0f;
        upper[k] = p[k] + 20.0f;
        lower[k + 1] = 0.0f;
        upper[k + 1] = std::numeric_limits<float>::infinity();
        lower[k + 2] = w / 2.0f;
        upper[k + 2] = w * 2.0f;
        lower[k + 3] = 0.0f;
        upper[k + 3] = 1.0f;
    }

    float options[LM_OPTS_SZ] = {1e-3f, 1e-8f, 1e-8f, 1e-8f, 1e-6f};
    float info[LM_INFO_SZ] = {};
    const int result = slevmar_bc_dif(pseudovoigt_model, p.data(), measured.data(), m, n, lower.data(),
                                      upper.data(), fit_iterations, options, info, nullptr, nullptr,
                                      nullptr);
    if (result != LM_ERROR)
        for (int k = 0; k < m; ++k) rows[k] = (k % 4 == 0) ? p[k] + origin : p[k];
    return result;
}

void refitbackground(profile_data &rec)
{
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

int32_t prefitpeaks(profile_data &rec, float threshold)
{
    if (!check_splinepoints(rec, 1, "prefitpeaks")) return 0;
    if (!rec.ysub) {
        report("ERROR in prefitpeaks. The background has not been subtracted. \n");
        return 0;
    }
    if (rec.npeaks < 1 || !rec.peaks) return 0;
    const int32_t length = rec.length;
    const int32_t nspline = rec.nsplinepoints;
    const int32_t npeaks = rec.npeaks;
    const float *sx = rec.splinex.get();
    const float *sy = rec.spliney.get();
    const float *y = rec.y.get();
    const float *ysub = rec.ysub.get();
    float *peaks = rec.peaks.get();
    auto position = [&](int32_t k) { return peaks[peak_columns * k]; };

    int32_t iterations = 0;
    for (int32_t k = 0; k < npeaks; ++k) {
        int32_t j = nspline - 1;
        while (position(k) - sx[j] < 0.0f && j > 0) --j;

        // Widen the span until its right end is a trusted background point;
        // g counts the peaks in it.  Past the last spline point the span and
        // count of the step before stand (none for a peak at or after it).
        int32_t c = 0;
        int32_t g = 0;
        for (int32_t step = 1; j + step < nspline; ++step) {
            c = step;
            g = 0;
            while (k + g < npeaks && position(k + g) < sx[j + c]) ++g;
            int32_t at = 0;
            if (!sample_of(sx[j + c], length, at) || y[at] - sy[j + c] <= threshold) break;
        }
        if (g < 1) continue;

        // A lone peak is measured between its two neighbouring spline
        // points, whatever the span.
        const int32_t right = g == 1 ? j + 1 : j + c;
        int32_t a = 0;
        int32_t b = 0;
        bool inside = sample_of(sx[j], length, a) && sample_of(sx[right], length, b);
        std::vector<int32_t> at(static_cast<size_t>(g));
        for (int32_t q = 0; inside && q < g; ++q) inside = sample_of(position(k + q), length, at[q]);
        if (inside) {
            const float area = sum_range(a, b, ysub);
            float hsum = 0.0f;
            for (int32_t q = 0; q < g; ++q) hsum += ysub[at[q]];
            const float hwhm = static_cast<float>(0.46 * static_cast<double>(area) / static_cast<double>(hsum));
            // A zero height (or area) would give an infinite (or zero) width
            // and a NaN model.
            if (std::isfinite(hwhm) && hwhm != 0.0f) {
                for (int32_t q = 0; q < g; ++q) {
                    float *row = peaks + peak_columns * (k + q);
                    row[1] = g == 1 ? area : area * ysub[at[q]] / hsum;
                    row[2] = hwhm;
                    row[3] = 0.5f;
                }
                const int32_t result = fitpeakgroup(rec, a, b, k, k + g - 1);
                if (result > 0) iterations += result;
            }
        }
        k += g - 1;
    }
    return iterations;
}

bool prefit_sequence(profile_data &rec, const char *caller)
{
    if (!check_splinepoints(rec, 1, caller) || !check_peaks(rec, caller)) return false;
    subtractbackground(rec);
    report("Determining Peak-Fitparameters by prefitting each peak. \n");
    prefitpeaks(rec, 1000.0f);
    return true;
}

bool peakfit_sequence(profile_data &rec, const char *caller)
{
    if (!check_splinepoints(rec, 2, caller) || !check_peaks(rec, caller)) return false;
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
