// Profile kernels and the polar projection on synthetic patterns, each
// reported as a multiple of a plain row-order sum over the same pixels.
#include "azimuthal.h"
#include "bench_patterns.h"

#include <benchmark/benchmark.h>

namespace {

void BM_RowOrderSum(benchmark::State& state) {
  const int32_t size = static_cast<int32_t>(state.range(0));
  const BenchPattern& p = pattern_of_size(size);
  run_against_floor(state, size, [&] { benchmark::DoNotOptimize(row_order_sum(p.pixels)); });
}
BENCHMARK(BM_RowOrderSum) KELPO_PATTERN_SIZES;

enum Kind { kCircle, kEllipse, kSector, kSectorEllipse };

template <Kind kind, int32_t average>
void BM_Kernel(benchmark::State& state) {
  const int32_t size = static_cast<int32_t>(state.range(0));
  const BenchPattern& p = pattern_of_size(size);
  image_data rec;
  attach(rec, p, size);
  const int32_t nbins = maxradius(&rec, 0);
  // A sector that wraps through 0, as the costliest case of the test.
  const float a0 = 5.0f, a1 = 2.0f;
  run_against_floor(state, size, [&] {
    switch (kind) {
      case kCircle:
        azimuthalint_whole(&rec, nbins, average);
        break;
      case kEllipse:
        azimuthalintell(&rec, nbins, average);
        break;
      case kSector:
        azimuthalint_sektor(&rec, nbins, a0, a1, average);
        break;
      case kSectorEllipse:
        azimuthalintell_sektor(&rec, nbins, a0, a1, average);
        break;
    }
    benchmark::DoNotOptimize(rec.profile);
  });
}
BENCHMARK_TEMPLATE(BM_Kernel, kCircle, 0)->Name("BM_Integral") KELPO_PATTERN_SIZES;
BENCHMARK_TEMPLATE(BM_Kernel, kCircle, 1)->Name("BM_Average") KELPO_PATTERN_SIZES;
BENCHMARK_TEMPLATE(BM_Kernel, kEllipse, 0)->Name("BM_IntegralEllipse") KELPO_PATTERN_SIZES;
BENCHMARK_TEMPLATE(BM_Kernel, kEllipse, 1)->Name("BM_AverageEllipse") KELPO_PATTERN_SIZES;
BENCHMARK_TEMPLATE(BM_Kernel, kSector, 0)->Name("BM_IntegralSector") KELPO_PATTERN_SIZES;
BENCHMARK_TEMPLATE(BM_Kernel, kSector, 1)->Name("BM_AverageSector") KELPO_PATTERN_SIZES;
BENCHMARK_TEMPLATE(BM_Kernel, kSectorEllipse, 0)
    ->Name("BM_IntegralSectorEllipse") KELPO_PATTERN_SIZES;
BENCHMARK_TEMPLATE(BM_Kernel, kSectorEllipse, 1)
    ->Name("BM_AverageSectorEllipse") KELPO_PATTERN_SIZES;

// As the projection script function calls it: radii 1 to the mode-1 radius
// minus 5, one column per pixel of the outermost circle (mode 0).
void BM_Projection(benchmark::State& state) {
  const int32_t size = static_cast<int32_t>(state.range(0));
  const BenchPattern& p = pattern_of_size(size);
  image_data rec;
  attach(rec, p, size);
  const int32_t rend = maxradius(&rec, 1) - 5;
  run_against_floor(state, size, [&] {
    polarprojection(&rec, 1, rend, 0);
    benchmark::DoNotOptimize(rec.projection);
  });
}
BENCHMARK(BM_Projection) KELPO_PATTERN_SIZES;

}  // namespace
