// The refinements as the centre-finding script functions run them, on
// synthetic patterns (multiples of the row-order sum).
#include "bench_patterns.h"
#include "messages.h"
#include "ring_objectives.h"

#include <benchmark/benchmark.h>

namespace {

// Ring window, tables and simplex, from a start 4 pixels off the truth.
void BM_RefineCenter(benchmark::State& state) {
  image_data rec;
  const int32_t size = attach_pattern(rec, state);
  const int32_t cx = rec.center_x + 4, cy = rec.center_y - 4;
  ScopedMessageSink quiet([](const std::string&) {});
  run_against_floor(state, size, [&] {
    rec.center_x = cx;
    rec.center_y = cy;
    build_ring_tables(rec);
    optimizecenter(&rec, 0, 0);
  });
}
BENCHMARK(BM_RefineCenter) KELPO_PATTERN_SIZES;

// The ellipse simplex alone, on tables built beforehand.
void BM_RefineEllipticity(benchmark::State& state) {
  image_data rec;
  const int32_t size = attach_pattern(rec, state);
  build_ring_tables(rec);
  ScopedMessageSink quiet([](const std::string&) {});
  run_against_floor(state, size, [&] {
    rec.axis_ratio = 1.0f;
    rec.angle = 0.5f;
    optimizeellipticity(&rec, 0, 0);
  });
}
BENCHMARK(BM_RefineEllipticity) KELPO_PATTERN_SIZES;

// The ring tables alone.
void BM_RingOffsets(benchmark::State& state) {
  image_data rec;
  const int32_t size = attach_pattern(rec, state);
  const int32_t n = find_ring_window(rec);
  const int32_t rs = rec.ring_start, re = rec.ring_end;
  run_against_floor(state, size, [&] {
    rec.ring_start = rs;
    rec.ring_end = re;
    ringoffsets(&rec, n);
  });
}
BENCHMARK(BM_RingOffsets) KELPO_PATTERN_SIZES;

}  // namespace
