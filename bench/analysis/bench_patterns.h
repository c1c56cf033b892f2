// Synthetic patterns shared by the pattern benchmarks, made once per size,
// the ring set-up the centre refinements start from, and the memory-read
// floor they are all compared with.
#pragma once

#include "azimuthal.h"
#include "image_data.h"
#include "ring_objectives.h"
#include "synthetic_pattern.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

struct BenchPattern {
  SyntheticOptions truth;
  std::vector<float> pixels;
};

inline const BenchPattern& pattern_of_size(int32_t size) {
  static std::map<int32_t, BenchPattern> made;
  auto found = made.find(size);
  if (found != made.end()) return found->second;
  BenchPattern& p = made[size];
  p.truth = synthetic_defaults(size, size);
  p.pixels = synthetic_pattern(size, size, p.truth);
  return p;
}

// A record over the shared pattern, centred on the true centre.
inline void attach(image_data& rec, const BenchPattern& p, int32_t size) {
  rec.data = const_cast<float*>(p.pixels.data());
  rec.width = size;
  rec.height = size;
  rec.center_x = static_cast<int32_t>(p.truth.center_x);
  rec.center_y = static_cast<int32_t>(p.truth.center_y);
  rec.axis_ratio = static_cast<float>(p.truth.axis_ratio);
  rec.angle = static_cast<float>(p.truth.angle);
}

// attach() with the pattern of the benchmark's size (its first argument);
// returns that size.
inline int32_t attach_pattern(image_data& rec, const benchmark::State& state) {
  const int32_t size = static_cast<int32_t>(state.range(0));
  attach(rec, pattern_of_size(size), size);
  return size;
}

// The ring window as the centre-finding script functions find it: an
// integral profile from radius 100 out to five bins inside maxradius(mode 1).
// Returns that bin count, which ringoffsets() takes too.
inline int32_t find_ring_window(image_data& rec) {
  const int32_t n = maxradius(&rec, 1) - 5;
  findring(&rec, 100, n);
  return n;
}

// find_ring_window() and the ring tables built over it.
inline void build_ring_tables(image_data& rec) {
  ringoffsets(&rec, find_ring_window(rec));
}

// The floor: one plain single-precision sum over the pixels in row order.
inline float row_order_sum(const std::vector<float>& pixels) {
  float s = 0.0f;
  for (float v : pixels) s += v;
  return s;
}

// Runs body once per benchmark iteration, timed by hand, and reports it as
// a multiple of the floor ("x_floor"): the fastest body run over the fastest
// floor run.  The floor is timed in every iteration, just before the body,
// so both are sampled under the same machine load; best against best keeps
// the figure steady on a busy machine.  The floor's time is not part of the
// reported time.
template <class Body>
void run_against_floor(benchmark::State& state, int32_t size, Body&& body) {
  const std::vector<float>& pixels = pattern_of_size(size).pixels;
  double floor_best = 1e30;
  double body_best = 1e30;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(row_order_sum(pixels));
    const auto t1 = std::chrono::steady_clock::now();
    body();
    const auto t2 = std::chrono::steady_clock::now();
    const double body_seconds = std::chrono::duration<double>(t2 - t1).count();
    floor_best = std::min(floor_best, std::chrono::duration<double>(t1 - t0).count());
    body_best = std::min(body_best, body_seconds);
    state.SetIterationTime(body_seconds);
  }
  if (floor_best < 1e30) state.counters["x_floor"] = body_best / floor_best;
  state.counters["pixels"] = static_cast<double>(size) * size;
}

#define KELPO_PATTERN_SIZES \
  ->Arg(1024)->Arg(2048)->Arg(4096)->UseManualTime()->Unit(benchmark::kMillisecond)
