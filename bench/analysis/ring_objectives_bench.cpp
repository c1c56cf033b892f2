// The refinements as the centre-finding script functions run them, on
// synthetic patterns (multiples of the row-order sum).
#include "azimuthal.h"
#include "bench_patterns.h"
#include "messages.h"
#include "ring_objectives.h"

#include <benchmark/benchmark.h>

namespace {

// Ring window, tables and simplex, from a start 4 pixels off the truth.
void BM_RefineCenter(benchmark::State &state)
{
    const int32_t size = static_cast<int32_t>(state.range(0));
    const bench_pattern &p = pattern_of_size(size);
    image_data rec;
    attach(rec, p, size);
    const int32_t cx = rec.center_x + 4, cy = rec.center_y - 4;
    ScopedMessageSink quiet([](const std::string &) {});
    run_against_floor(state, size, [&] {
        rec.center_x = cx;
        rec.center_y = cy;
        const int32_t n = maxradius(&rec, 1) - 5;
        findring(&rec, 100, n);
        ringoffsets(&rec, n);
        optimizecenter(&rec, 0, 0);
    });
}
BENCHMARK(BM_RefineCenter) KELPO_PATTERN_SIZES;

// The ellipse simplex alone, on tables built beforehand.
void BM_RefineEllipticity(benchmark::State &state)
{
    const int32_t size = static_cast<int32_t>(state.range(0));
    const bench_pattern &p = pattern_of_size(size);
    image_data rec;
    attach(rec, p, size);
    const int32_t n = maxradius(&rec, 1) - 5;
    findring(&rec, 100, n);
    ringoffsets(&rec, n);
    ScopedMessageSink quiet([](const std::string &) {});
    run_against_floor(state, size, [&] {
        rec.axis_ratio = 1.0f;
        rec.angle = 0.5f;
        optimizeellipticity(&rec, 0, 0);
    });
}
BENCHMARK(BM_RefineEllipticity) KELPO_PATTERN_SIZES;

// The ring tables alone.
void BM_RingOffsets(benchmark::State &state)
{
    const int32_t size = static_cast<int32_t>(state.range(0));
    const bench_pattern &p = pattern_of_size(size);
    image_data rec;
    attach(rec, p, size);
    const int32_t n = maxradius(&rec, 1) - 5;
    findring(&rec, 100, n);
    const int32_t rs = rec.ring_start, re = rec.ring_end;
    run_against_floor(state, size, [&] {
        rec.ring_start = rs;
        rec.ring_end = re;
        ringoffsets(&rec, n);
    });
}
BENCHMARK(BM_RingOffsets) KELPO_PATTERN_SIZES;

}  // namespace
