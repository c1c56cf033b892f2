// Scripts on several threads at once, called as a host that runs them so
// calls the plug-in: every call writes the Results lines and leaves the
// tables and numbers that the same call alone does.
#include "profile_fixture.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

using standin::float_arg;
using standin::float_ptr_arg;
using standin::image_arg;

namespace {

constexpr int kScripts = 8;

// What one script leaves: the Results lines and script errors of its calls,
// the peak table and profile image of PeakFindPreFit and PeakFit, the
// ellipse of RefineCenterEllipticity and a pixel size.
struct Script {
  std::vector<std::string> lines, errors;
  std::vector<double> peaks, profile;
  std::vector<float> ellipse;
  float pixel_size = 0.0f;
};

class ThreadedScripts : public ProfileTest {
 protected:
  // The patterns, made before any thread starts (the fixture's images are
  // not to be made on several threads).
  void MakePatterns() {
    for (int s = 0; s < kScripts; ++s) {
      SyntheticOptions o = synthetic_defaults(kSize, kSize);
      o.axis_ratio = 1.0 + 0.006 * s;
      o.angle = 0.3 + 0.2 * s;
      const std::vector<float> p = synthetic_pattern(kSize, kSize, o);
      patterns_.push_back(RealImage(kSize, kSize, std::vector<double>(p.begin(), p.end())));
    }
  }

  // Script s: its own profile (the peaks moved, resized and reshaped by s,
  // so that the fits end after different numbers of iterations), images
  // made and released on the calling thread through the host.
  Script Run(int s) {
    std::vector<KnownPeak> known;
    for (int k = 0; k < 4; ++k)
      known.push_back({200.0 + k * (180 + 7 * s) + 0.3 * s, 2000.0 + 600.0 * ((k + s) % 4),
                       2.5 + 0.3 * ((3 * k + s) % 5), 0.1 * ((k + s) % 4)});
    std::vector<double> y = synthetic_profile(1000, known);
    for (size_t i = 0; i < y.size(); ++i) y[i] += 2.0 * std::sin(0.7 * i + s);
    std::vector<double> rows(4000, -1.0);
    std::copy(y.begin(), y.end(), rows.begin());
    DM_ImageToken profile = host_.NewImage("profile", DM_TYPE_REAL4, 1000, 4);
    host_.SetPixels(profile, rows);
    DM_ImageToken peaks = nullptr, splines = nullptr;

    Script out;
    auto keep = [&out](const standin::CallResult& r) {
      out.lines.insert(out.lines.end(), r.results.begin(), r.results.end());
      out.errors.insert(out.errors.end(), r.script_errors.begin(), r.script_errors.end());
      return r;
    };
    keep(Find("PeakFindPreFit", profile, &peaks, &splines));
    if (peaks && splines) keep(Fit("PeakFit", profile, peaks, splines));
    if (peaks) out.peaks = host_.Pixels(peaks);
    out.profile = host_.Pixels(profile);

    SyntheticOptions o = synthetic_defaults(kSize, kSize);
    out.ellipse = {static_cast<float>(o.center_x) + 2, static_cast<float>(o.center_y) - 1, 0, 1, 0};
    float* e = out.ellipse.data();
    keep(host_.Call(
        "RefineCenterEllipticity",
        {image_arg(patterns_[s]), float_ptr_arg(&e[0]), float_ptr_arg(&e[1]), float_ptr_arg(&e[2]),
         float_ptr_arg(&e[3]), float_ptr_arg(&e[4]), float_arg(0.0f)}));

    DM_StringToken text = host_.NewString(std::string(120 + s, ' ') + std::to_string(0.5 + s));
    out.pixel_size = keep(host_.Call("extractpixelsize", {standin::string_arg(text)})).value;
    host_.ReleaseString(text);
    ReleaseCell(peaks);
    ReleaseCell(splines);
    host_.ReleaseImage(profile);
    return out;
  }

  static constexpr int32_t kSize = 400;
  std::vector<DM_ImageToken> patterns_;
};

void expect_same(const Script& got, const Script& want, int t, int r) {
  EXPECT_EQ(got.lines, want.lines) << t << ", " << r;
  EXPECT_EQ(got.errors, want.errors) << t << ", " << r;
  EXPECT_EQ(got.peaks, want.peaks) << t << ", " << r;
  EXPECT_EQ(got.profile, want.profile) << t << ", " << r;
  EXPECT_EQ(got.ellipse, want.ellipse) << t << ", " << r;
  EXPECT_EQ(got.pixel_size, want.pixel_size) << t << ", " << r;
}

}  // namespace

TEST_F(ThreadedScripts, ThreadedScriptsSeeOnlyTheirOwnMessagesAndTables) {
  MakePatterns();
  std::vector<Script> alone;
  std::set<std::vector<std::string>> distinct;
  for (int s = 0; s < kScripts; ++s) {
    alone.push_back(Run(s));
    EXPECT_TRUE(alone.back().errors.empty()) << s;
    ASSERT_GE(alone.back().lines.size(), 9u) << s;  // 6 of the peaks, 3 or more of the ellipse
    distinct.insert(alone.back().lines);
  }
  // Scripts that all wrote the same lines could not show a mix-up.
  EXPECT_GE(distinct.size(), 4u);
  const size_t images = host_.LiveImages(), strings = host_.LiveStrings();

  constexpr int kRounds = 2;
  std::vector<std::vector<Script>> got(kScripts);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kScripts; ++t)
    threads.emplace_back([&, t] {
      ++ready;
      while (ready < kScripts) std::this_thread::yield();
      for (int r = 0; r < kRounds; ++r) got[t].push_back(Run((t + r) % kScripts));
    });
  for (std::thread& thread : threads) thread.join();

  size_t lines = 0;
  for (const Script& s : alone) lines += s.lines.size();
  for (int t = 0; t < kScripts; ++t)
    for (int r = 0; r < kRounds; ++r) {
      expect_same(got[t][r], alone[(t + r) % kScripts], t, r);
      lines += got[t][r].lines.size();
    }
  // The Results window holds every line once, whatever the order.
  EXPECT_EQ(host_.Results().size(), lines);
  EXPECT_EQ(host_.LiveImages(), images);
  EXPECT_EQ(host_.LiveStrings(), strings);
  EXPECT_EQ(host_.LiveLocks(), 0u);
}
