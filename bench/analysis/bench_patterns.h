// Synthetic patterns shared by the pattern benchmarks, made once per size,
// and the memory-read floor they are compared with.
#ifndef KELPO_BENCH_PATTERNS_H
#define KELPO_BENCH_PATTERNS_H

#include "../../tests/analysis/synthetic_pattern.h"
#include "image_data.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

struct bench_pattern {
    synthetic_options truth;
    std::vector<float> pixels;
};

inline const bench_pattern &pattern_of_size(int32_t size)
{
    static std::map<int32_t, bench_pattern> made;
    auto found = made.find(size);
    if (found != made.end()) return found->second;
    bench_pattern &p = made[size];
    p.truth = synthetic_defaults(size, size);
    p.pixels = synthetic_pattern(size, size, p.truth);
    return p;
}

// A record over the shared pattern, centred on the true centre.
inline void attach(image_data &rec, const bench_pattern &p, int32_t size)
{
    rec.data = const_cast<float *>(p.pixels.data());
    rec.width = size;
    rec.height = size;
    rec.center_x = static_cast<int32_t>(p.truth.center_x);
    rec.center_y = static_cast<int32_t>(p.truth.center_y);
    rec.axis_ratio = static_cast<float>(p.truth.axis_ratio);
    rec.angle = static_cast<float>(p.truth.angle);
}

// The floor: one plain single-precision sum over the pixels in row order.
inline float row_order_sum(const std::vector<float> &pixels)
{
    float s = 0.0f;
    for (float v : pixels) s += v;
    return s;
}

// Seconds of the floor for a size: the best of several runs, measured once.
inline double floor_seconds(int32_t size)
{
    static std::map<int32_t, double> measured;
    auto found = measured.find(size);
    if (found != measured.end()) return found->second;
    const bench_pattern &p = pattern_of_size(size);
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(row_order_sum(p.pixels));
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
        best = std::min(best, t.count());
    }
    measured[size] = best;
    return best;
}

// Runs body once per benchmark iteration and reports its mean time as a
// multiple of the floor ("x_floor").
template <class Body>
void run_against_floor(benchmark::State &state, int32_t size, Body &&body)
{
    const double floor = floor_seconds(size);
    double total = 0.0;
    int64_t runs = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
        total += t.count();
        ++runs;
    }
    if (runs > 0) state.counters["x_floor"] = total / static_cast<double>(runs) / floor;
    state.counters["pixels"] = static_cast<double>(size) * size;
}

#define KELPO_PATTERN_SIZES ->Arg(1024)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)

#endif
