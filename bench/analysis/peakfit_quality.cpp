// How close the peak road comes to the least-squares minimum, on noisy
// synthetic profiles with known peaks (not a timing benchmark).
//
//   peakfit_quality DIR [PROFILES]
//
// Runs the finder, the prefit and the two full fits on each profile and
// writes DIR/problems.txt: for every full fit its measurements, start and
// end tables (positions relative to the fit's first sample) and iteration
// count; and DIR/finder.txt: the true peaks and those the finder found.
// peakfit_quality.py then fits the same problems with an independent fitter
// and prints the residual ratios, local minima and finder misses.
#include "peaks.h"
#include "profile_data.h"
#include "pseudovoigt.h"
#include "spline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {
struct Truth {
  double x0, a, w, eta;
};

double pseudo_voigt(double x, const Truth& t) {
  const double ln2 = std::log(2.0), pi = 3.14159265358979;
  const double d2 = (x - t.x0) * (x - t.x0) / (t.w * t.w);
  return t.a * ((1 - t.eta) * std::sqrt(ln2 / pi) / t.w * std::exp(-ln2 * d2) +
                t.eta / (pi * t.w) / (1 + d2));
}

// A falling background with 5 to 12 peaks of every shape, some of them
// overlapping, and noise of counting statistics.
std::vector<float> make_profile(std::mt19937& rng, int length, std::vector<Truth>& truth) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int npeaks = 5 + static_cast<int>(u(rng) * 8);
  truth.clear();
  double x = 60.0;
  for (int k = 0; k < npeaks; ++k) {
    const double w = 1.5 + 6.5 * u(rng);
    x += (u(rng) < 0.25 ? 2.5 : 8.0 + 25.0 * u(rng)) * w;
    if (x > length - 60) break;
    const double height = 400.0 + 8000.0 * u(rng) * u(rng);
    truth.push_back({x, height * w * 2.3, w, u(rng)});
  }
  std::vector<float> y(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    double v = 1500.0 + 30000.0 * std::exp(-i / 250.0);
    for (const Truth& t : truth) v += pseudo_voigt(i, t);
    std::normal_distribution<double> noise(0.0, std::sqrt(v));
    y[i] = static_cast<float>(v + noise(rng));
  }
  return y;
}

void dump(std::FILE* f, int profile, int fit, const profile_data& rec, int start, int end,
          const std::vector<float>& before, int result) {
  std::fprintf(f, "fit %d %d %d %d %d\n", profile, fit, start, end, result);
  std::fprintf(f, "y");
  for (int i = start; i <= end; ++i) std::fprintf(f, " %.9g", rec.ysub[i]);
  for (int pass = 0; pass < 2; ++pass) {
    const float* p = pass == 0 ? before.data() : rec.peaks.get();
    std::fprintf(f, pass == 0 ? "\np0" : "\np1");
    for (int k = 0; k < 4 * rec.npeaks; ++k)
      std::fprintf(f, " %.9g", k % 4 == 0 ? p[k] - static_cast<float>(start) : p[k]);
  }
  std::fprintf(f, "\n");
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: peakfit_quality DIR [PROFILES]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int profiles = argc > 2 ? std::atoi(argv[2]) : 30;
  std::FILE* problems = std::fopen((dir + "/problems.txt").c_str(), "w");
  std::FILE* finder = std::fopen((dir + "/finder.txt").c_str(), "w");
  if (!problems || !finder) return 1;
  std::mt19937 rng(20261207);
  std::vector<Truth> truth;
  for (int q = 0; q < profiles; ++q) {
    const int length = 800 + 200 * (q % 5);
    const std::vector<float> y = make_profile(rng, length, truth);
    profile_data rec;
    set_profile(rec, y.data(), length);
    findpeaks(rec, 400.0f, 400.0f, 30.0f, static_cast<float>(length - 30), 0);
    std::fprintf(finder, "profile %d %d", q, length);
    for (const Truth& t : truth) std::fprintf(finder, " %g:%g", t.x0, t.w);
    std::fprintf(finder, "\nfound");
    for (int k = 0; k < rec.npeaks; ++k) std::fprintf(finder, " %g", rec.peaks[4 * k]);
    std::fprintf(finder, "\nsplines");
    for (int j = 0; j < rec.nsplinepoints; ++j) std::fprintf(finder, " %g", rec.splinex[j]);
    std::fprintf(finder, "\n");
    if (rec.npeaks < 1 || rec.nsplinepoints < 2) continue;
    subtractbackground(rec);
    prefitpeaks(rec, 1000.0f);
    const int last = rec.nsplinepoints - 1;
    for (int fit = 1; fit <= 2; ++fit) {
      if (fit == 2) {
        refitbackground(rec);
        subtractbackground(rec);
      }
      const int start = static_cast<int>(rec.splinex[fit - 1]);
      const int end = static_cast<int>(rec.splinex[last]);
      const std::vector<float> before(rec.peaks.get(), rec.peaks.get() + 4 * rec.npeaks);
      const int result = fitpeaks(rec, start, end);
      dump(problems, q, fit, rec, start, end, before, result);
    }
  }
  std::fclose(problems);
  std::fclose(finder);
  return 0;
}
