// The peak and RDF script functions through the stand-in host.
#include "stand_in_host.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using standin::cell_arg;
using standin::float_arg;
using standin::float_ptr_arg;
using standin::real_image_arg;

// One host with the plug-in loaded and started, for the whole run.
struct Loaded {
  standin::Host host;
  standin::PluginLibrary plugin;
  Loaded() {
    std::string error;
    if (!plugin.Load(KELPO_PLUGIN_PATH, host, error)) {
      std::fprintf(stderr, "cannot load the plug-in: %s\n", error.c_str());
      std::abort();
    }
    plugin.Startup();
  }
  ~Loaded() {
    plugin.Shutdown();
    plugin.Unload();
  }
};

Loaded& loaded() {
  static Loaded instance;
  return instance;
}

double pseudo_voigt(double x, double x0, double a, double w, double eta) {
  const double ln2 = std::log(2.0);
  const double pi = 3.14159265358979;
  const double d2 = (x - x0) * (x - x0) / (w * w);
  return a * ((1.0 - eta) * std::sqrt(ln2 / pi) / w * std::exp(-ln2 * d2) +
              eta / (pi * w) / (1.0 + d2));
}

// npeaks evenly spaced peaks over a falling background; the widths follow
// the spacing so that neighbours stay apart.
std::vector<double> peak_profile(int length, int npeaks) {
  const double first = 60.0, last = length - 40.0;
  const double spacing = (last - first) / std::max(npeaks - 1, 1);
  const double width = std::min(6.0, std::max(1.5, spacing / 10.0));
  std::vector<double> y(static_cast<size_t>(length) * 4, 0.0);
  for (int i = 0; i < length; ++i) {
    double v = 80.0 + 30.0 * std::exp(-i / 700.0);
    for (int k = 0; k < npeaks; ++k)
      v += pseudo_voigt(i, first + k * spacing, 1500.0 + 500.0 * (k % 3), width, 0.1 * (k % 3));
    y[i] = v;
  }
  return y;
}

// The iteration counts of the "Fit converged after N iterations." lines (or
// of the error lines, which end "after N ...").
void count_iterations(const std::vector<std::string>& lines, double& first, double& second) {
  std::vector<double> counts;
  for (const std::string& s : lines) {
    size_t at = s.find("after ");
    if (at == std::string::npos) continue;
    counts.push_back(std::atof(s.c_str() + at + 6));
  }
  first = counts.size() > 0 ? counts[0] : -1;
  second = counts.size() > 1 ? counts[1] : -1;
}

void BM_PeakFindPreFitThenPeakFit(benchmark::State& state) {
  standin::Host& host = loaded().host;
  const int length = static_cast<int>(state.range(0));
  const int npeaks = static_cast<int>(state.range(1));
  const std::vector<double> pixels = peak_profile(length, npeaks);
  double found = 0, first = 0, second = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DM_ImageToken profile = host.NewImage("profile", DM_TYPE_REAL4, length, 4);
    host.SetPixels(profile, pixels);
    DM_ImageToken peaks = nullptr, splines = nullptr;
    host.ClearResults();
    state.ResumeTiming();

    host.Call("PeakFindPreFit", {real_image_arg(profile), cell_arg(&peaks), cell_arg(&splines),
                                 float_arg(10), float_arg(50), float_arg(0), float_arg(1e6f)});
    if (peaks) {
      host.ClearResults();
      host.Call("PeakFit",
                {real_image_arg(profile), real_image_arg(peaks), real_image_arg(splines)});
    }

    state.PauseTiming();
    found = peaks ? host.Height(peaks) : 0;
    count_iterations(host.Results(), first, second);
    for (DM_ImageToken t : {profile, peaks, splines})
      if (t) host.ReleaseImage(t);
    state.ResumeTiming();
  }
  state.counters["peaks_found"] = found;
  state.counters["fit1_iterations"] = first;
  state.counters["fit2_iterations"] = second;
}
BENCHMARK(BM_PeakFindPreFitThenPeakFit)
    ->ArgsProduct({{1000, 2000, 4000}, {5, 20, 50}})
    ->Unit(benchmark::kMillisecond);

void BM_KirklandfitThenCalculateRDF(benchmark::State& state) {
  standin::Host& host = loaded().host;
  const int length = static_cast<int>(state.range(0));
  const float step = 0.01f;
  // Two elements; the profile is a scaled curve plus an offset and a
  // ripple for the RDF to find.
  const std::vector<double> elements = {2.0, 0, 0, 1.5, 1, 1, 3.0, 0, 0, 0.8, 0, 0, 0, 60.0,
                                        1.0, 0, 0, 0.7, 1, 1, 1.5, 0, 0, 0.3, 0, 0, 0, 40.0};
  DM_ImageToken table = host.NewImage("elements", DM_TYPE_REAL4, 14, 2);
  host.SetPixels(table, elements);
  std::vector<double> pixels(static_cast<size_t>(length) * 3, 0.0);
  for (int i = 0; i < length; ++i) {
    const double q = (step * i / 10.0) * (step * i / 10.0);
    double f2 = 0.0;
    for (int e = 0; e < 2; ++e) {
      const double* c = elements.data() + 14 * e;
      const double f = c[0] / (q + c[3]) + c[6] * std::exp(-c[9] * q);
      f2 += f * f * c[13] / 100.0;
    }
    pixels[i] = (12.5 * f2 + 40.0) * (1.0 + 0.05 * std::sin(i * step * 2.5));
  }
  double iterations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DM_ImageToken profile = host.NewImage("profile", DM_TYPE_REAL4, length, 3);
    host.SetPixels(profile, pixels);
    DM_ImageToken rdf = nullptr;
    float offset = 10.0f, scale = 3.0f;
    host.ClearResults();
    state.ResumeTiming();

    host.Call("RDF_Kirklandfit",
              {real_image_arg(profile), real_image_arg(table), float_ptr_arg(&offset),
               float_ptr_arg(&scale), float_arg(5), float_arg(static_cast<float>(length - 1)),
               float_arg(step), float_arg(0)});
    host.Call("CalculateRDF", {real_image_arg(profile), cell_arg(&rdf), float_arg(0),
                               float_arg(static_cast<float>(length)),
                               float_arg(static_cast<float>(step * 10.0 / 6.28318530717958))});

    state.PauseTiming();
    double unused = 0;
    count_iterations(host.Results(), iterations, unused);
    host.ReleaseImage(profile);
    if (rdf) host.ReleaseImage(rdf);
    state.ResumeTiming();
  }
  host.ReleaseImage(table);
  state.counters["fit_iterations"] = iterations;
}
BENCHMARK(BM_KirklandfitThenCalculateRDF)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
