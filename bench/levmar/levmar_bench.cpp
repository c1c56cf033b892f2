// Peak fits of the size the profile analysis runs: 5, 20 and 50
// pseudo-Voigt peaks on 1000 to 4000 samples, unbounded and inside the boxes
// the group fits use.  Counters: iterations and model evaluations per fit.
#include "levmar.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

// Sum of peaks (position, area, HWHM, Lorentz weight) at samples 0..n-1,
// with the per-peak factors hoisted out of the sample loop.  exp() below
// -104 is 0 in float; skipping it there keeps glibc's slow underflow path
// out of the timings without changing a bit of the result.
void pseudo_voigt(float* p, float* hx, int m, int n, void*) {
  const double ln2 = std::log(2.0), pi = 3.14159265358979;
  for (int i = 0; i < n; ++i) hx[i] = 0.0F;
  for (int k = 0; k + 3 < m; k += 4) {
    const float x0 = p[k];
    const float a = std::fabs(p[k + 1]);
    const float w = std::fabs(p[k + 2]);
    const float eta = std::fmin(1.0F, std::fmax(0.0F, p[k + 3]));
    const float w2 = w * w;
    const float g0 = static_cast<float>((1.0 - eta) * std::sqrt(ln2 / pi / w2));
    const float ge = static_cast<float>(-ln2 / w2);
    const float l0 = static_cast<float>(eta / pi / w);
    const float lw = 1.0F / w2;
    for (int i = 0; i < n; ++i) {
      const float d = static_cast<float>(i) - x0;
      const float d2 = d * d;
      const float z = ge * d2;
      const float gauss = z < -104.0F ? 0.0F : std::exp(z);
      hx[i] += a * (g0 * gauss + l0 / (1.0F + lw * d2));
    }
  }
}

struct Problem {
  std::vector<float> x, start, lb, ub;
};

// Evenly spaced peaks of varied shape, a deterministic ripple as noise, and
// a start like the prefit's: position within a sample, area and width within
// a quarter, weight 0.5.
Problem make_problem(int peaks, int n) {
  Problem pr;
  std::vector<float> truth;
  const float spacing = static_cast<float>(n) / (peaks + 1);
  for (int k = 0; k < peaks; ++k) {
    const float x0 = spacing * (k + 1);
    const float area = 2000.0F + 300.0F * (k % 5);
    const float w = 3.0F + 0.4F * (k % 7);
    truth.insert(truth.end(), {x0, area, w, 0.2F + 0.1F * (k % 6)});
    pr.start.insert(pr.start.end(), {x0 + (k % 2 ? 0.7F : -0.6F), area * (k % 3 ? 0.8F : 1.2F),
                                     w * (k % 2 ? 1.25F : 0.8F), 0.5F});
  }
  pr.x.resize(n);
  pseudo_voigt(truth.data(), pr.x.data(), static_cast<int>(truth.size()), n, nullptr);
  for (int i = 0; i < n; ++i) pr.x[i] += 2.0F * std::sin(0.37F * i);
  for (std::size_t i = 0; i < pr.start.size(); ++i) {
    const float v = pr.start[i];
    switch (i % 4) {
      case 0:
        pr.lb.push_back(v - 20.0F);
        pr.ub.push_back(v + 20.0F);
        break;
      case 1:
        pr.lb.push_back(0.0F);
        pr.ub.push_back(INFINITY);
        break;
      case 2:
        pr.lb.push_back(v / 2.0F);
        pr.ub.push_back(v * 2.0F);
        break;
      default:
        pr.lb.push_back(0.0F);
        pr.ub.push_back(1.0F);
        break;
    }
  }
  return pr;
}

void fit(benchmark::State& state, bool bounded) {
  const int peaks = static_cast<int>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  const Problem pr = make_problem(peaks, n);
  const int m = 4 * peaks;
  float opts[LM_OPTS_SZ] = {1e-3F, 1e-8F, 1e-8F, 1e-8F, 1e-6F};
  float info[LM_INFO_SZ] = {};
  std::vector<float> p;
  std::vector<float> x = pr.x, lb = pr.lb, ub = pr.ub;
  for (auto _ : state) {
    p = pr.start;
    const int ret = bounded ? slevmar_bc_dif(pseudo_voigt, p.data(), x.data(), m, n, lb.data(),
                                             ub.data(), 250, opts, info, nullptr, nullptr, nullptr)
                            : slevmar_dif(pseudo_voigt, p.data(), x.data(), m, n, 250, opts, info,
                                          nullptr, nullptr, nullptr);
    benchmark::DoNotOptimize(ret);
  }
  state.counters["iterations"] = info[5];
  state.counters["evaluations"] = info[7];
  state.counters["reason"] = info[6];
  state.counters["final_error"] = info[1];
}

void BM_Unbounded(benchmark::State& state) {
  fit(state, false);
}
void BM_Bounded(benchmark::State& state) {
  fit(state, true);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({5, 1000})->Args({20, 2000})->Args({50, 4000})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Unbounded)->Apply(sizes);
BENCHMARK(BM_Bounded)->Apply(sizes);

}  // namespace
