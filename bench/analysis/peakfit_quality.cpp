// How close the peak road comes to the least-squares minimum, and how long
// it takes next to MINPACK, on noisy synthetic profiles with known peaks
// (not a timed test).
//
//   peakfit_quality [--quick] [--seed S] [--profiles N] [--only Q] [--dump DIR]
//
// Quality: profiles of 500 to 4,000 samples with 3 to 50 peaks (overlapping
// pairs, a background that falls steeply at the start, weights over [0, 1],
// widths 1.2 to 15 samples) go through the finder, the prefit and the two
// full fits as the script functions run them.  Each full fit is then
// continued by MINPACK's lmdif in double precision from its end point (and
// once more with the weights it left near 0 or 1 set to 0.5); the lowest
// sum of squares found is the minimum the fit is measured against.  The
// figures against the continuation alone follow.
//
// Time: per profile, the finder, prefit and both full fits against lmdif
// (double) fitting the same two full-fit problems from the same starts, at
// 1,000/5, 2,000/20, 1,000/50 and 4,000/50 samples/peaks.
//
// --dump writes DIR/problems.txt and DIR/finder.txt for peakfit_quality.py,
// which refits the problems with scipy's bounded trust-region fitter as a
// second, independent check.  --quick runs a few small profiles (CI).
//
// With the default seed the program fails (exit status 1, a FAILED line)
// when a fit ends further from the minimum than the README allows; timings
// never fail it.
#include "peaks.h"
#include "profile_data.h"
#include "pseudovoigt.h"
#include "spline.h"

#include <cminpack.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {
struct Truth {
  double x0, a, w, eta;
};

const double kLn2Bench = std::log(2.0);
const double kPiBench = 3.14159265358979;

double pseudo_voigt(double x, const Truth& t) {
  const double d2 = (x - t.x0) * (x - t.x0) / (t.w * t.w);
  return t.a * ((1 - t.eta) * std::sqrt(kLn2Bench / kPiBench) / t.w * std::exp(-kLn2Bench * d2) +
                t.eta / (kPiBench * t.w) / (1 + d2));
}

// npeaks peaks over `length` samples: narrower peaks where they crowd, a
// quarter of them close behind the one before, on a background that falls
// steeply over the first samples; noise of counting statistics.
std::vector<float> make_profile(std::mt19937& rng, int length, int npeaks,
                                std::vector<Truth>& truth) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  truth.clear();
  const double room = length - 140.0;
  const double spacing = room / npeaks;
  const double widest = std::min(15.0, std::max(1.2, spacing / 5.0));
  double x = 70.0;
  for (int k = 0; k < npeaks; ++k) {
    const double w = 1.2 + (widest - 1.2) * u(rng) * u(rng);
    if (k > 0) x += u(rng) < 0.25 ? (2.5 + 1.5 * u(rng)) * w : spacing * (0.5 + 0.5 * u(rng));
    if (x > length - 70) break;
    const double height = 400.0 + 8000.0 * u(rng) * u(rng);
    truth.push_back({x, height * w * 2.3, w, u(rng)});
  }
  std::vector<float> y(static_cast<size_t>(length));
  const double fall = 20.0 + 60.0 * u(rng);
  for (int i = 0; i < length; ++i) {
    double v = 1500.0 + 60000.0 * std::exp(-i / fall) + 3000.0 * std::exp(-i / (8.0 * fall));
    for (const Truth& t : truth) v += pseudo_voigt(i, t);
    std::normal_distribution<double> noise(0.0, std::sqrt(v));
    y[i] = static_cast<float>(v + noise(rng));
  }
  return y;
}

// One full fit: its measurements and the tables before and after,
// positions relative to the fit's first sample.
struct Problem {
  std::vector<double> y, start, end;
};

struct Curve {
  const std::vector<double>* y;
};

void model(const double* p, int m, int n, double* out) {
  std::fill(out, out + n, 0.0);
  for (int k = 0; k + 3 < m; k += 4) {
    const Truth t{p[k], std::fabs(p[k + 1]), std::fabs(p[k + 2]),
                  std::min(1.0, std::max(0.0, p[k + 3]))};
    for (int i = 0; i < n; ++i) out[i] += pseudo_voigt(i, t);
  }
}

int residuals(void* data, int n, int m, const double* p, double* fvec, int) {
  const std::vector<double>& y = *static_cast<Curve*>(data)->y;
  model(p, m, n, fvec);
  for (int i = 0; i < n; ++i) fvec[i] -= y[i];
  return 0;
}

double sum_of_squares(const std::vector<double>& y, const std::vector<double>& p) {
  std::vector<double> r(y.size());
  Curve c{&y};
  residuals(&c, static_cast<int>(y.size()), static_cast<int>(p.size()), p.data(), r.data(), 1);
  double s = 0.0;
  for (double v : r) s += v * v;
  return s;
}

// lmdif from p (double precision, forward differences); returns the sum of
// squares at its end and leaves p there.
double lmdif_fit(const std::vector<double>& y, std::vector<double>& p) {
  const int n = static_cast<int>(y.size());
  const int m = static_cast<int>(p.size());
  if (n < m) return sum_of_squares(y, p);
  std::vector<double> fvec(static_cast<size_t>(n));
  std::vector<int> iwa(static_cast<size_t>(m));
  const int lwa = n * m + 5 * m + n;
  std::vector<double> wa(static_cast<size_t>(lwa));
  Curve c{&y};
  lmdif1(residuals, &c, n, m, p.data(), fvec.data(), 1e-8, iwa.data(), wa.data(), lwa);
  return sum_of_squares(y, p);
}

// The lowest sum of squares lmdif finds from the fit's end, as it is and
// with its weights near an end released to the middle; `at` receives the
// point, `plain` the lowest from the end as it is.
double reference_minimum(const Problem& f, std::vector<double>& at, double& plain) {
  double best = sum_of_squares(f.y, f.end);
  at = f.end;
  std::vector<double> p = f.end;
  double ss = lmdif_fit(f.y, p);
  if (ss < best) best = ss, at = p;
  plain = best;
  p = f.end;
  bool released = false;
  for (size_t k = 3; k < p.size(); k += 4)
    if (p[k] < 0.02 || p[k] > 0.98) p[k] = 0.5, released = true;
  if (released) {
    ss = lmdif_fit(f.y, p);
    if (ss < best) best = ss, at = p;
  }
  return best;
}

// The peak that the fit left farthest from the minimum, in its widths.
void print_farthest(const Problem& f, const std::vector<double>& at) {
  size_t worst = 0;
  double far = -1.0;
  for (size_t k = 0; k + 3 < at.size(); k += 4) {
    const double w = std::fabs(at[k + 2]);
    const double d = std::fabs(f.end[k] - at[k]) / w + std::fabs(f.end[k + 2] - at[k + 2]) / w +
                     std::fabs(f.end[k + 1] - at[k + 1]) / std::fabs(at[k + 1]) +
                     std::fabs(f.end[k + 3] - at[k + 3]);
    if (d > far) far = d, worst = k;
  }
  std::printf(
      "    peak %zu: start (%.2f %.0f %.3f %.3f), fit (%.2f %.0f %.3f %.3f), minimum (%.2f %.0f "
      "%.3f %.3f)\n",
      worst / 4, f.start[worst], f.start[worst + 1], f.start[worst + 2], f.start[worst + 3],
      f.end[worst], f.end[worst + 1], f.end[worst + 2], f.end[worst + 3], at[worst], at[worst + 1],
      at[worst + 2], at[worst + 3]);
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Road {
  std::vector<Problem> fits;
  std::vector<int> results;
  double seconds = 0.0;
  double finder_seconds = 0.0;
  double prefit_seconds = 0.0;  // finder and prefit
  int found = 0;
};

// The finder, the prefit and the two full fits, as the script functions run
// them (the copies for the problems are not timed).
Road run_road(const std::vector<float>& y, profile_data& rec) {
  Road road;
  const int length = static_cast<int>(y.size());
  double seconds = 0.0;
  auto t0 = std::chrono::steady_clock::now();
  set_profile(rec, y.data(), length);
  findpeaks(rec, 400.0f, 400.0f, 30.0f, static_cast<float>(length - 30), 0);
  road.finder_seconds = seconds_since(t0);
  road.found = rec.npeaks;
  if (rec.npeaks < 1 || rec.nsplinepoints < 2) return road;
  subtractbackground(rec);
  prefitpeaks(rec, 1000.0f);
  road.prefit_seconds = seconds_since(t0);
  const int last = rec.nsplinepoints - 1;
  for (int fit = 1; fit <= 2; ++fit) {
    if (fit == 2) {
      refitbackground(rec);
      subtractbackground(rec);
    }
    const int start = static_cast<int>(rec.splinex[fit - 1]);
    const int end = static_cast<int>(rec.splinex[last]);
    seconds += seconds_since(t0);
    Problem f;
    f.y.assign(rec.ysub.get() + start, rec.ysub.get() + end + 1);
    const int m = 4 * rec.npeaks;
    for (int k = 0; k < m; ++k)
      f.start.push_back(k % 4 == 0 ? rec.peaks[k] - static_cast<float>(start) : rec.peaks[k]);
    t0 = std::chrono::steady_clock::now();
    road.results.push_back(fitpeaks(rec, start, end));
    seconds += seconds_since(t0);
    for (int k = 0; k < m; ++k)
      f.end.push_back(k % 4 == 0 ? rec.peaks[k] - static_cast<float>(start) : rec.peaks[k]);
    road.fits.push_back(std::move(f));
    t0 = std::chrono::steady_clock::now();
  }
  road.seconds = seconds;
  return road;
}

void dump(std::FILE* f, int profile, int fit, const Problem& p, int result) {
  std::fprintf(f, "fit %d %d 0 %d %d\ny", profile, fit, static_cast<int>(p.y.size()) - 1, result);
  for (double v : p.y) std::fprintf(f, " %.9g", v);
  std::fprintf(f, "\np0");
  for (double v : p.start) std::fprintf(f, " %.9g", v);
  std::fprintf(f, "\np1");
  for (double v : p.end) std::fprintf(f, " %.9g", v);
  std::fprintf(f, "\n");
}

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t h = v.size() / 2;
  return v.size() % 2 ? v[h] : 0.5 * (v[h - 1] + v[h]);
}

// Prints the fits' figures; returns every fit's residual / minimum.
std::vector<double> quality(unsigned seed, int profiles, int only, bool quick,
                            const std::string& dir) {
  std::FILE* problems = dir.empty() ? nullptr : std::fopen((dir + "/problems.txt").c_str(), "w");
  std::FILE* finder = dir.empty() ? nullptr : std::fopen((dir + "/finder.txt").c_str(), "w");
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> ratios[2];
  std::vector<double> plain_ratios;
  int failed = 0, at_limit = 0, outside = 0, weights = 0;
  for (int q = 0; q < profiles; ++q) {
    const bool skip = only >= 0 && q != only;
    const int length = quick ? 500 + 100 * (q % 3) : 500 + static_cast<int>(3500 * u(rng));
    const int most = std::min(50, (length - 140) / 15);
    const int npeaks = 3 + static_cast<int>((most - 2) * u(rng) * (quick ? 0.2 : 1.0));
    std::vector<Truth> truth;
    const std::vector<float> y = make_profile(rng, length, npeaks, truth);
    if (skip) continue;
    profile_data rec;
    const Road road = run_road(y, rec);
    if (finder) {
      std::fprintf(finder, "profile %d %d", q, length);
      for (const Truth& t : truth) std::fprintf(finder, " %g:%g", t.x0, t.w);
      std::fprintf(finder, "\nfound");
      for (int k = 0; k < rec.npeaks; ++k) std::fprintf(finder, " %g", rec.peaks[4 * k]);
      std::fprintf(finder, "\nsplines");
      for (int j = 0; j < rec.nsplinepoints; ++j) std::fprintf(finder, " %g", rec.splinex[j]);
      std::fprintf(finder, "\n");
    }
    for (size_t k = 0; k < road.fits.size(); ++k) {
      const Problem& f = road.fits[k];
      const double ss = sum_of_squares(f.y, f.end);
      std::vector<double> at;
      double plain = 0.0;
      const double ratio = ss / reference_minimum(f, at, plain);
      ratios[k].push_back(ratio);
      plain_ratios.push_back(ss / plain);
      failed += road.results[k] < 0;
      at_limit += road.results[k] == 250;
      for (size_t i = 3; i < f.end.size(); i += 4) {
        ++weights;
        outside += f.end[i] < 0.0 || f.end[i] > 1.0;
      }
      if (problems) dump(problems, q, static_cast<int>(k) + 1, f, road.results[k]);
      if (!quick && ratio > 1.01) {
        std::printf("  profile %d (%d samples, %d true peaks, %d found) fit %zu: %.4f after %d\n",
                    q, length, static_cast<int>(truth.size()), road.found, k + 1, ratio,
                    road.results[k]);
        print_farthest(f, at);
      }
    }
  }
  if (problems) std::fclose(problems);
  if (finder) std::fclose(finder);
  std::vector<double> all = ratios[0];
  all.insert(all.end(), ratios[1].begin(), ratios[1].end());
  for (int k = 0; k < 3; ++k) {
    const std::vector<double>& r = k < 2 ? ratios[k] : all;
    if (r.empty()) continue;
    const auto within = std::count_if(r.begin(), r.end(), [](double v) { return v <= 1.01; });
    const auto above5 = std::count_if(r.begin(), r.end(), [](double v) { return v > 1.05; });
    std::printf(
        "%s: %zu fits, residual / minimum median %.5f, worst %.4f; within 1 %%: %ld (%.1f %%), "
        "above 5 %%: %ld\n",
        k == 0   ? "first fit "
        : k == 1 ? "second fit"
                 : "all fits  ",
        r.size(), median(r), *std::max_element(r.begin(), r.end()), static_cast<long>(within),
        100.0 * static_cast<double>(within) / static_cast<double>(r.size()),
        static_cast<long>(above5));
  }
  if (!plain_ratios.empty()) {
    const auto& r = plain_ratios;
    std::printf(
        "against lmdif from the end as it is (no weights released): median %.5f, worst %.4f; "
        "within 1 %%: %ld, above 5 %%: %ld\n",
        median(r), *std::max_element(r.begin(), r.end()),
        static_cast<long>(std::count_if(r.begin(), r.end(), [](double v) { return v <= 1.01; })),
        static_cast<long>(std::count_if(r.begin(), r.end(), [](double v) { return v > 1.05; })));
  }
  std::printf("fits failed: %d, at the iteration limit: %d; weights outside [0, 1]: %d of %d\n",
              failed, at_limit, outside, weights);
  return all;
}

// The README's bound for these profiles: a fit ends at most 2.2 times the
// minimum (its shares within 1 % and its median describe 1,600 fits and
// bound no smaller sample).  Returns false, with a FAILED line, when a fit
// ends further off.
bool meets_readme(const std::vector<double>& ratios) {
  if (ratios.empty()) return true;
  const double worst = *std::max_element(ratios.begin(), ratios.end());
  if (worst > 2.2) {
    std::printf("FAILED: a fit ended %.4f times the minimum, above the README's 2.2\n", worst);
    return false;
  }
  std::printf("The README's bound holds: worst fit %.4f times the minimum, at most 2.2\n", worst);
  return true;
}

void timing(unsigned seed, bool quick) {
  const int sizes[4][2] = {{1000, 5}, {2000, 20}, {1000, 50}, {4000, 50}};
  std::mt19937 rng(seed);
  std::printf(
      "\nseconds per profile, medians (ours: finder + prefit + both fits, in brackets the finder's "
      "and the finder's and prefit's share; lmdif: double precision, both full fits from the "
      "same starts):\n");
  for (const auto& size : sizes) {
    if (quick && size[0] * size[1] > 20000) continue;
    const int repeats = quick ? 1 : size[1] < 10 ? 21 : 5;
    std::vector<double> ours, finder, prefit, theirs, ratio;
    for (int r = 0; r < repeats; ++r) {
      std::vector<Truth> truth;
      const std::vector<float> y = make_profile(rng, size[0], size[1], truth);
      profile_data rec;
      const Road road = run_road(y, rec);
      double t = 0.0;
      for (const Problem& f : road.fits) {
        std::vector<double> p = f.start;
        const auto t0 = std::chrono::steady_clock::now();
        lmdif_fit(f.y, p);
        t += seconds_since(t0);
      }
      ours.push_back(road.seconds);
      finder.push_back(road.finder_seconds);
      prefit.push_back(road.prefit_seconds);
      theirs.push_back(t);
      ratio.push_back(road.seconds / t);
    }
    std::printf(
        "  %4d samples, %2d peaks: ours %8.4f (%.4f, %.4f) | lmdif %8.4f; ours / lmdif per "
        "profile: median %.2f, worst %.2f (%d profiles)\n",
        size[0], size[1], median(ours), median(finder), median(prefit), median(theirs),
        median(ratio), *std::max_element(ratio.begin(), ratio.end()), repeats);
  }
}
}  // namespace

int main(int argc, char** argv) {
  const unsigned readme_seed = 20261207;
  unsigned seed = readme_seed;
  int profiles = 40;
  bool quick = false;
  int only = -1;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      quick = true;
      profiles = 3;
    } else if (a == "--seed" && i + 1 < argc) {
      seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--profiles" && i + 1 < argc) {
      profiles = std::atoi(argv[++i]);
    } else if (a == "--only" && i + 1 < argc) {
      only = std::atoi(argv[++i]);
    } else if (a == "--dump" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(
          stderr,
          "usage: peakfit_quality [--quick] [--seed S] [--profiles N] [--only Q] [--dump DIR]\n");
      return 2;
    }
  }
  std::printf("profiles of seed %u:\n", seed);
  const std::vector<double> ratios = quality(seed, profiles, only, quick, dir);
  if (only < 0) timing(seed + 1, quick);
  // The README's figures come from the default seed's profiles.
  if (seed != readme_seed || only >= 0) return 0;
  return meets_readme(ratios) ? 0 : 1;
}
