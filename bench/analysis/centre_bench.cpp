// Centre of gravity, the beam-stop pass, the first centre guess and the
// ellipse prefit on synthetic patterns (multiples of the row-order sum).
#include "azimuthal.h"
#include "bench_patterns.h"
#include "centre.h"
#include "messages.h"
#include "ring_objectives.h"

#include <benchmark/benchmark.h>

namespace {

void BM_CenterOfGravity(benchmark::State& state) {
  image_data rec;
  const int32_t size = attach_pattern(rec, state);
  run_against_floor(state, size, [&] { findcenterofg(&rec, 0, size, 0, size, 100.0f); });
}
BENCHMARK(BM_CenterOfGravity) KELPO_PATTERN_SIZES;

void BM_CenterOfGravityBeamStop(benchmark::State& state) {
  image_data rec;
  const int32_t size = attach_pattern(rec, state);
  const int32_t cx = rec.center_x, cy = rec.center_y;
  run_against_floor(state, size, [&] {
    rec.center_x = cx;
    rec.center_y = cy;
    findcenterofg_beamstop(&rec, 0, 2 * cx, 0, size, 100.0f);
  });
}
BENCHMARK(BM_CenterOfGravityBeamStop) KELPO_PATTERN_SIZES;

void BM_GuessCenter(benchmark::State& state) {
  image_data rec;
  const int32_t size = attach_pattern(rec, state);
  ScopedMessageSink quiet([](const std::string&) {});
  run_against_floor(state, size, [&] { prefindcenter_whole(&rec); });
}
BENCHMARK(BM_GuessCenter) KELPO_PATTERN_SIZES;

void BM_EllipsePrefit(benchmark::State& state) {
  image_data rec;
  const int32_t size = attach_pattern(rec, state);
  build_ring_tables(rec);
  ScopedMessageSink quiet([](const std::string&) {});
  run_against_floor(state, size, [&] {
    rec.axis_ratio = 1.0f;
    rec.angle = 0.0f;
    azimuthalint_guess_elliptic(&rec, rec.ring_start, rec.ring_end, 20);
  });
}
BENCHMARK(BM_EllipsePrefit) KELPO_PATTERN_SIZES;

}  // namespace
