// The peak road of the profile functions: find the peaks, prefit them over
// the spline background and run the two full fits, on synthetic radial
// profiles of 1000 to 4000 samples with 5 to 50 peaks.
#include "peaks.h"
#include "profile_data.h"
#include "pseudovoigt.h"
#include "spline.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {
// A falling background from the central beam and evenly spaced peaks of
// varied height, width and shape.
std::vector<float> synthetic_profile(int length, int npeaks) {
  const double spacing = (length - 80.0) / npeaks;
  const double width = std::min(8.0, std::max(1.5, spacing / 8.0));
  std::vector<float> y(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) y[i] = static_cast<float>(100.0 + 50000.0 / (i + 20.0));
  for (int k = 0; k < npeaks; ++k) {
    const double x0 = 60.0 + (k + 0.5) * spacing + 0.3;
    const double a = 3000.0 * (1.0 + 0.5 * std::sin(k)) * width;
    const double w = width * (1.0 + 0.2 * std::cos(1.7 * k));
    const double eta = 0.3 + 0.4 * std::fabs(std::sin(0.9 * k));
    for (int i = 0; i < length; ++i) {
      const double d = (i - x0) / w;
      y[i] += static_cast<float>(
          a * ((1 - eta) * std::sqrt(std::log(2.0) / M_PI) / w * std::exp(-std::log(2.0) * d * d) +
               eta / (M_PI * w) / (1 + d * d)));
    }
  }
  return y;
}

void BM_PeakRoad(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  const int npeaks = static_cast<int>(state.range(1));
  const auto y = synthetic_profile(length, npeaks);
  int32_t found = 0;
  int32_t prefit_iterations = 0;
  int32_t first_fit = 0;
  int32_t second_fit = 0;
  for (auto _ : state) {
    profile_data rec;
    set_profile(rec, y.data(), length);
    findpeaks(rec, 20.0f, 10.0f, 10.0f, static_cast<float>(length), 0);
    found = rec.npeaks;
    if (rec.npeaks < 1 || rec.nsplinepoints < 2) {
      state.SkipWithError("no peaks found");
      break;
    }
    // The steps of the prefit and peak-fit script functions, one by one
    // so that the solver's iteration counts can be read.
    subtractbackground(rec);
    prefit_iterations = prefitpeaks(rec, 1000.0f);
    const int32_t last = rec.nsplinepoints - 1;
    subtractbackground(rec);
    first_fit = fitpeaks(rec, static_cast<int32_t>(rec.splinex[0]),
                         static_cast<int32_t>(rec.splinex[last]));
    refitbackground(rec);
    subtractbackground(rec);
    second_fit = fitpeaks(rec, static_cast<int32_t>(rec.splinex[1]),
                          static_cast<int32_t>(rec.splinex[last]));
    benchmark::DoNotOptimize(rec.peaks.get());
  }
  state.counters["peaks_found"] = found;
  state.counters["prefit_iter"] = prefit_iterations;
  state.counters["fit1_iter"] = first_fit;
  state.counters["fit2_iter"] = second_fit;
}

// The hot loop alone: one model evaluation of every peak at every sample.
void BM_PseudoVoigtModel(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  const int npeaks = static_cast<int>(state.range(1));
  std::vector<float> p;
  for (int k = 0; k < npeaks; ++k)
    p.insert(p.end(), {static_cast<float>(length) * (k + 0.5f) / npeaks, 1000.0f, 4.0f, 0.5f});
  std::vector<float> hx(static_cast<size_t>(length));
  for (auto _ : state) {
    pseudovoigt_model(p.data(), hx.data(), static_cast<int>(p.size()), length, nullptr);
    benchmark::DoNotOptimize(hx.data());
  }
  state.SetItemsProcessed(state.iterations() * length * npeaks);
}
}  // namespace

BENCHMARK(BM_PeakRoad)
    ->ArgsProduct({{1000, 2000, 4000}, {5, 20, 50}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PseudoVoigtModel)->Args({4000, 50})->Unit(benchmark::kMicrosecond);

namespace {
// Tables as large as a script may pass: n peak rows alternating between the
// profile's start and its end, n spline points every 2 samples, none of
// them a trusted background point.  The walk over the tables must stay
// linear (it once searched every spline point for every peak).
void BM_PrefitLargeTables(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  const int32_t length = 2 * n;
  const std::vector<float> y(static_cast<size_t>(length), 5000.0f);
  std::vector<float> peaks(4 * static_cast<size_t>(n), 0.0f);
  std::vector<float> sx(static_cast<size_t>(n)), sy(static_cast<size_t>(n), 100.0f);
  for (int32_t k = 0; k < n; ++k) {
    peaks[4 * static_cast<size_t>(k)] = k % 2 ? static_cast<float>(length - 1) : 100.5f;
    sx[static_cast<size_t>(k)] = 2.0f * static_cast<float>(k);
  }
  for (auto _ : state) {
    profile_data rec;
    set_profile(rec, y.data(), length);
    set_peaks(rec, peaks.data(), n);
    set_splinepoints(rec, sx.data(), sy.data(), n);
    subtractbackground(rec);
    benchmark::DoNotOptimize(prefitpeaks(rec, 1000.0f));
  }
}
}  // namespace

BENCHMARK(BM_PrefitLargeTables)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
