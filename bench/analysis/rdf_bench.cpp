// The Kirkland fit, the reduced intensity and the RDF transform on a
// 2000-sample profile, as RDF_Kirklandfit followed by CalculateRDF does it.
#include "profile_data.h"
#include "rdf.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {
const std::vector<float> kElementTable = {0.49f, 0.32f, 0.14f, 0.12f, 1.80f, 9.91f, 0.24f,
                                          0.56f, 0.27f, 0.10f, 0.82f, 6.41f, 0.0f,  60.0f,
                                          0.20f, 0.34f, 0.19f, 0.21f, 2.12f, 8.77f, 0.41f,
                                          0.63f, 0.18f, 0.17f, 1.02f, 5.83f, 0.0f,  40.0f};

void BM_KirklandFitAndRdf(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  const float step = rdf_step(0.01f);
  profile_data shape;
  shape.step = step;
  set_elements(shape, kElementTable.data(), 2);
  std::vector<float> f2(static_cast<size_t>(length));
  kirklandfunction(shape, 0.0f, length, f2.data());
  // The curve with damped oscillations, as an amorphous sample gives.
  std::vector<float> y(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    const float s = step * static_cast<float>(i);
    y[i] = 5000.0f * f2[i] * (1.0f + 0.2f * std::sin(2.5f * s) * std::exp(-0.1f * s)) + 50.0f;
  }

  int32_t iterations = 0;
  for (auto _ : state) {
    profile_data rec;
    set_profile(rec, y.data(), length);
    rec.step = step;
    set_elements(rec, kElementTable.data(), 2);
    rec.scale = 1000.0f;
    rec.offset = 10.0f;
    iterations = kirklandfit(rec, length / 20, length - 1);
    std::vector<float> curve(static_cast<size_t>(length));
    std::vector<float> reduced(static_cast<size_t>(length));
    kirkland_curves(rec, curve.data(), reduced.data());

    profile_data rdf;
    set_profile(rdf, reduced.data(), length);
    rdf.step = step;
    rdf_sinetransform(rdf, length / 20, length);
    benchmark::DoNotOptimize(rdf.rdf.get());
  }
  state.counters["kirkland_iter"] = iterations;
}
}  // namespace

BENCHMARK(BM_KirklandFitAndRdf)->Arg(2000)->Unit(benchmark::kMillisecond);
