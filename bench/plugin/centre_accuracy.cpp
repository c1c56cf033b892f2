// How accurate the centre finding is: draws synthetic 1024 x 1024 patterns of
// 16-bit counts with known geometry over a sweep of axis ratio, noise and
// beam stop, plus saturated hot pixels, runs the script functions as a
// script would (GuessCenter, then RefineCenter and, separately,
// RefineCenterEllipticity from the guess with a circular start), and prints
// the median and largest errors of each case as a Markdown table.  It runs
// about a minute; it is not part of the benchmark loop.
//
// The patterns are held out from the tests': every one has its own centre
// (anywhere in the middle fifth of the image, not on whole pixels), major-
// axis angle, ring radii and heights, drawn from a fixed seed.
//
// Usage: centre_accuracy [patterns per case (default 20)] [plug-in path]
#include "plugin_session.h"
#include "synthetic_pattern.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979;
constexpr int32_t kSize = 1024;

struct Case {
  std::string name;
  double axis_ratio;
  double noise;  // amplitude of the uniform noise in counts; the strongest
                 // ring stands 1500 above a background of about 150
  bool beam_stop;
  int hot_pixels;  // saturated pixels (65535) at random places
};

struct Errors {
  std::vector<double> guess, refine, ratio, angle;
};

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double largest(const std::vector<double>& v) {
  return v.empty() ? NAN : *std::max_element(v.begin(), v.end());
}

// A pattern of the case, drawn from the generator's next values.
SyntheticOptions draw(const Case& c, std::mt19937& random, std::vector<float>& pixels) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  SyntheticOptions o = synthetic_defaults(kSize, kSize);
  o.center_x = kSize * (0.4 + 0.2 * unit(random));
  o.center_y = kSize * (0.4 + 0.2 * unit(random));
  o.axis_ratio = c.axis_ratio;
  o.angle = kPi * unit(random);
  const double first = kSize * (0.13 + 0.05 * unit(random));
  o.radii = {first, first * 1.63, first * 2.12, first * 2.6};
  o.heights = {1500.0, 600.0 + 600.0 * unit(random), 400.0 + 400.0 * unit(random), 300.0};
  o.noise = c.noise;
  o.seed = static_cast<uint32_t>(random());
  if (!c.beam_stop) o.beam_stop_radius = o.beam_stop_arm = 0.0;
  o.beam_stop_arm_angle = 2.0 * kPi * unit(random);
  pixels = synthetic_pattern(kSize, kSize, o);
  std::uniform_int_distribution<size_t> anywhere(0, pixels.size() - 1);
  for (int k = 0; k < c.hot_pixels; ++k) pixels[anywhere(random)] = 65535.0f;
  return o;
}

// "median / largest" with the given decimals, or "-" for no values.
std::string spread(const std::vector<double>& v, int decimals) {
  if (v.empty()) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f / %.*f", decimals, median(v), decimals, largest(v));
  return text;
}

double angle_error_degrees(double found, double truth) {
  double d = std::fmod(std::fabs(found - truth), 180.0);
  return std::min(d, 180.0 - d);
}

}  // namespace

int main(int argc, char** argv) {
  const int per_case = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  PluginSession session;
  if (!session.Open(argc > 2 ? argv[2] : KELPO_PLUGIN_PATH)) return 1;
  standin::Host& host = session.host;

  std::vector<Case> cases;
  for (double ratio : {1.0, 1.01, 1.02, 1.035, 1.05, 1.08, 1.12}) {
    cases.push_back({"beam stop, noise 5", ratio, 5.0, true, 0});
    cases.push_back({"no beam stop, noise 5", ratio, 5.0, false, 0});
    cases.push_back({"beam stop, noise 100", ratio, 100.0, true, 0});
  }
  for (int hot : {1, 20}) {
    const std::string name = "beam stop, noise 5, " + std::to_string(hot) + " saturated hot pixel" +
                             (hot > 1 ? "s" : "");
    cases.push_back({name, 1.0, 5.0, true, hot});
    cases.push_back({name, 1.035, 5.0, true, hot});
  }

  std::printf(
      "%d patterns per case; centre errors in pixels from the drawn centre; a/b and angle errors\n"
      "of RefineCenterEllipticity (angle only where a/b >= 1.02); each cell median / largest.\n\n",
      per_case);
  std::printf(
      "| a/b | case | GuessCenter | RefineCenter, RefineCenterEllipticity | a/b error | "
      "angle error (degrees) |\n");
  std::printf("|---|---|---|---|---|---|\n");
  int centres_differ = 0;
  std::mt19937 random(20261207);
  using standin::float_arg;
  using standin::float_ptr_arg;
  using standin::image_arg;
  for (const Case& c : cases) {
    Errors e;
    for (int n = 0; n < per_case; ++n) {
      std::vector<float> pixels;
      const SyntheticOptions truth = draw(c, random, pixels);
      DM_ImageToken pattern = host.NewImage("pattern", DM_TYPE_UINT16, kSize, kSize);
      host.SetPixels(pattern, std::vector<double>(pixels.begin(), pixels.end()));
      auto miss = [&](float x, float y) {
        return std::hypot(x - truth.center_x, y - truth.center_y);
      };

      float gx = 0, gy = 0, radius = 0;
      host.Call("GuessCenter", {image_arg(pattern), float_ptr_arg(&gx), float_ptr_arg(&gy),
                                float_ptr_arg(&radius)});
      e.guess.push_back(miss(gx, gy));

      float x = gx, y = gy;
      host.Call("RefineCenter",
                {image_arg(pattern), float_ptr_arg(&x), float_ptr_arg(&y), float_ptr_arg(&radius)});
      e.refine.push_back(miss(x, y));

      float ex = gx, ey = gy, angle = 0, ratio = 1;
      host.Call("RefineCenterEllipticity",
                {image_arg(pattern), float_ptr_arg(&ex), float_ptr_arg(&ey), float_ptr_arg(&angle),
                 float_ptr_arg(&ratio), float_ptr_arg(&radius), float_arg(0)});
      // The ellipse refinement first refines the centre on circles
      // exactly as RefineCenter does; count any pattern where it differs.
      if (ex != x || ey != y) ++centres_differ;
      e.ratio.push_back(std::fabs(ratio - truth.axis_ratio));
      if (truth.axis_ratio >= 1.02)
        e.angle.push_back(angle_error_degrees(angle, truth.angle * 180.0 / kPi));
      host.ReleaseImage(pattern);
    }
    if (!host.ScriptErrors().empty()) {
      std::fprintf(stderr, "script error: %s\n", host.ScriptErrors().front().c_str());
      return 1;
    }
    std::printf("| %.3f | %s | %s | %s | %s | %s |\n", c.axis_ratio, c.name.c_str(),
                spread(e.guess, 1).c_str(), spread(e.refine, 1).c_str(), spread(e.ratio, 3).c_str(),
                spread(e.angle, 1).c_str());
    std::fflush(stdout);
  }
  if (centres_differ)
    std::printf("\nRefineCenterEllipticity's centre differed from RefineCenter's in %d patterns.\n",
                centres_differ);
  return 0;
}
