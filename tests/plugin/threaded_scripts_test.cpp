// Scripts on several threads at once, called as a host that runs them so
// calls the plug-in: every call writes the Results lines and leaves the
// tables and numbers that the same call alone does.
#include "profile_fixture.h"

#include "synthetic_pattern.h"
#include "threads.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

using standin::float_arg;
using standin::float_ptr_arg;

namespace {

constexpr int kScripts = 8;
constexpr int32_t kSize = 400;

// What one script leaves: the Results lines and script errors of its calls,
// the peak table and profile image after PeakFindPreFit and PeakFit, and the
// ellipse of RefineCenterEllipticity followed by a pixel size.
struct Script {
  std::vector<std::string> lines, errors;
  std::vector<double> tables;
  std::vector<float> numbers;
  bool operator==(const Script& o) const {
    return std::tie(lines, errors, tables, numbers) ==
           std::tie(o.lines, o.errors, o.tables, o.numbers);
  }
};

class ThreadedScripts : public ProfileTest {
 protected:
  // Script s: its own profile (the peaks moved, resized and reshaped by s,
  // so that the fits end after different numbers of iterations) and
  // pattern; images and texts are made and released on the calling thread.
  Script Run(int s) {
    std::vector<KnownPeak> known;
    for (int k = 0; k < 4; ++k)
      known.push_back({200.0 + k * (180 + 7 * s) + 0.3 * s, 2000.0 + 600.0 * ((k + s) % 4),
                       2.5 + 0.3 * ((3 * k + s) % 5), 0.1 * ((k + s) % 4)});
    std::vector<double> rows = synthetic_profile(1000, known);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] += 2.0 * std::sin(0.7 * i + s);
    rows.resize(4000, -1.0);
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
    if (peaks) out.tables = host_.Pixels(peaks);
    const std::vector<double> image = host_.Pixels(profile);
    out.tables.insert(out.tables.end(), image.begin(), image.end());

    const SyntheticOptions o = synthetic_defaults(kSize, kSize);
    float e[5] = {static_cast<float>(o.center_x) + 2, static_cast<float>(o.center_y) - 1, 0, 1, 0};
    keep(host_.Call(
        "RefineCenterEllipticity",
        {standin::image_arg(patterns_[s]), float_ptr_arg(&e[0]), float_ptr_arg(&e[1]),
         float_ptr_arg(&e[2]), float_ptr_arg(&e[3]), float_ptr_arg(&e[4]), float_arg(0.0f)}));
    DM_StringToken text = host_.NewString(std::string(120 + s, ' ') + std::to_string(0.5 + s));
    out.numbers = {e[0], e[1],
                   e[2], e[3],
                   e[4], keep(host_.Call("extractpixelsize", {standin::string_arg(text)})).value};
    host_.ReleaseString(text);
    ReleaseCell(peaks);
    ReleaseCell(splines);
    host_.ReleaseImage(profile);
    return out;
  }

  std::vector<DM_ImageToken> patterns_;
};

}  // namespace

TEST_F(ThreadedScripts, ThreadedScriptsSeeOnlyTheirOwnMessagesAndTables) {
  std::vector<Script> alone;
  std::set<std::vector<std::string>> distinct;
  size_t lines = 0;
  for (int s = 0; s < kScripts; ++s) {
    SyntheticOptions o = synthetic_defaults(kSize, kSize);
    o.axis_ratio = 1.0 + 0.006 * s;
    o.angle = 0.3 + 0.2 * s;
    const std::vector<float> p = synthetic_pattern(kSize, kSize, o);
    patterns_.push_back(RealImage(kSize, kSize, std::vector<double>(p.begin(), p.end())));
    alone.push_back(Run(s));
    EXPECT_TRUE(alone.back().errors.empty()) << s;
    ASSERT_GE(alone.back().lines.size(), 9u) << s;  // 6 of the peaks, 3 or more of the ellipse
    distinct.insert(alone.back().lines);
    lines += alone.back().lines.size();
  }
  // Scripts that all wrote the same lines could not show a mix-up.
  EXPECT_GE(distinct.size(), 4u);
  const size_t images = host_.LiveImages(), strings = host_.LiveStrings();

  constexpr int kRounds = 2;
  std::vector<std::vector<Script>> got(kScripts);
  on_threads(kScripts, [&](int t) {
    for (int r = 0; r < kRounds; ++r) got[t].push_back(Run((t + r) % kScripts));
  });

  for (int t = 0; t < kScripts; ++t)
    for (int r = 0; r < kRounds; ++r) {
      EXPECT_TRUE(got[t][r] == alone[(t + r) % kScripts])
          << t << ", " << r << ": " << ::testing::PrintToString(got[t][r].lines);
      lines += got[t][r].lines.size();
    }
  // The Results window holds every line once, whatever the order.
  EXPECT_EQ(host_.Results().size(), lines);
  EXPECT_EQ(host_.LiveImages(), images);
  EXPECT_EQ(host_.LiveStrings(), strings);
  EXPECT_EQ(host_.LiveLocks(), 0u);
}
