// Runs the main road of a script on patterns made elsewhere (by
// bench/plugin/real_patterns.py) and prints what it found, one JSON object
// a line, for that script to score against the geometry it drew.
//
// Each line of standard input names one pattern:
//   path width height begincut [truth_x truth_y [start_x start_y]]
// path holds width x height little-endian float32 counts, row-major; they go
// to the plug-in as a 16-bit image, as a camera gives them. For each pattern
// the probe calls GuessCenter, then RefineCenter and RefineCenterEllipticity
// from the guess, or from the start given (the latter from a/b 1), takes AzimuthalIntegral about
// the refined centre and AzimuthalIntegralEllipticity with the refined ellipse (outer radius 1: the
// largest circle inside the image), and with a truth centre also AzimuthalIntegral about it; on
// each profile it runs PeakFindPreFit and PeakFit with begincut, endcut 5 bins before the end, and
// delta and minstep 1 % of the profile's largest value beyond begincut.
//
// Usage: pattern_probe [plug-in path] < jobs
#include "plugin_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using standin::cell_arg;
using standin::float_arg;
using standin::float_ptr_arg;
using standin::image_arg;
using standin::real_image_arg;

void print_array(const std::vector<double>& values) {
  std::printf("[");
  for (size_t i = 0; i < values.size(); ++i)
    std::printf("%s%.6g", i ? "," : "", std::isfinite(values[i]) ? values[i] : 0.0);
  std::printf("]");
}

// The profile, then the fitted peak table (position, intensity, HWHM,
// weight a peak) of the profile image the call makes.
void profile_and_peaks(standin::Host& host, const std::string& function,
                       const std::vector<DM_Arg>& args, DM_ImageToken* profile, int begincut) {
  host.Call(function, args);
  std::vector<double> values = *profile ? host.Pixels(*profile) : std::vector<double>();
  if (*profile) host.ReleaseImage(*profile);
  std::printf("{\"profile\":");
  print_array(values);
  std::vector<double> fit;
  const int length = static_cast<int>(values.size());
  const int endcut = length - 5;
  if (endcut > begincut + 2) {
    const double largest = *std::max_element(values.begin() + begincut, values.begin() + endcut);
    const float delta = static_cast<float>(0.01 * largest);
    DM_ImageToken rows = host.NewImage("profile", DM_TYPE_REAL4, length, 4);
    values.resize(4 * static_cast<size_t>(length), 0.0);
    host.SetPixels(rows, values);
    DM_ImageToken peaks = nullptr, splines = nullptr;
    host.Call("PeakFindPreFit",
              {real_image_arg(rows), cell_arg(&peaks), cell_arg(&splines), float_arg(delta),
               float_arg(delta), float_arg(static_cast<float>(begincut)),
               float_arg(static_cast<float>(endcut))});
    if (peaks && splines) {
      host.Call("PeakFit", {real_image_arg(rows), real_image_arg(peaks), real_image_arg(splines)});
      fit = host.Pixels(peaks);
    }
    for (DM_ImageToken image : {peaks, splines, rows})
      if (image) host.ReleaseImage(image);
  }
  std::printf(",\"peaks\":");
  print_array(fit);
  std::printf("}");
}

}  // namespace

int main(int argc, char** argv) {
  PluginSession session;
  if (!session.Open(argc > 1 ? argv[1] : KELPO_PLUGIN_PATH)) return 1;
  standin::Host& host = session.host;

  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream job(line);
    std::string path;
    int width = 0, height = 0, begincut = 0;
    float truth_x = -1, truth_y = -1;
    if (!(job >> path >> width >> height >> begincut) || width <= 0 || height <= 0) {
      std::fprintf(stderr, "cannot read the job: %s\n", line.c_str());
      return 1;
    }
    const bool truth = static_cast<bool>(job >> truth_x >> truth_y);
    float start_x = 0, start_y = 0;
    const bool start = truth && static_cast<bool>(job >> start_x >> start_y);
    std::vector<float> counts(static_cast<size_t>(width) * height);
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(counts.data()),
                   static_cast<std::streamsize>(counts.size() * sizeof(float)))) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    const size_t errors_before = host.ScriptErrors().size();
    DM_ImageToken pattern = host.NewImage("pattern", DM_TYPE_UINT16, width, height);
    host.SetPixels(pattern, std::vector<double>(counts.begin(), counts.end()));

    float gx = 0, gy = 0, radius = 0;
    host.Call("GuessCenter",
              {image_arg(pattern), float_ptr_arg(&gx), float_ptr_arg(&gy), float_ptr_arg(&radius)});
    std::printf("{\"guess\":[%g,%g,%g]", gx, gy, radius);
    const float from_x = start ? start_x : gx, from_y = start ? start_y : gy;
    float x = from_x, y = from_y, refined_radius = radius;
    host.Call("RefineCenter", {image_arg(pattern), float_ptr_arg(&x), float_ptr_arg(&y),
                               float_ptr_arg(&refined_radius)});
    std::printf(",\"refine\":[%g,%g,%g]", x, y, refined_radius);
    float ex = from_x, ey = from_y, angle = 0, ratio = 1, ellipse_radius = radius;
    host.Call("RefineCenterEllipticity",
              {image_arg(pattern), float_ptr_arg(&ex), float_ptr_arg(&ey), float_ptr_arg(&angle),
               float_ptr_arg(&ratio), float_ptr_arg(&ellipse_radius), float_arg(0)});
    std::printf(",\"ellipse\":[%g,%g,%g,%.6f,%g]", ex, ey, angle, ratio, ellipse_radius);

    DM_ImageToken profile = nullptr;
    std::printf(",\"circle\":");
    profile_and_peaks(
        host, "AzimuthalIntegral",
        {image_arg(pattern), cell_arg(&profile), float_arg(x), float_arg(y), float_arg(1)},
        &profile, begincut);
    profile = nullptr;
    std::printf(",\"elliptic\":");
    profile_and_peaks(host, "AzimuthalIntegralEllipticity",
                      {image_arg(pattern), cell_arg(&profile), float_arg(ex), float_arg(ey),
                       float_arg(angle), float_arg(ratio), float_arg(1)},
                      &profile, begincut);
    if (truth) {
      profile = nullptr;
      std::printf(",\"truth\":");
      profile_and_peaks(host, "AzimuthalIntegral",
                        {image_arg(pattern), cell_arg(&profile), float_arg(std::round(truth_x)),
                         float_arg(std::round(truth_y)), float_arg(1)},
                        &profile, begincut);
    }
    std::printf(",\"script_errors\":%zu}\n", host.ScriptErrors().size() - errors_before);
    std::fflush(stdout);
    host.ReleaseImage(pattern);
  }
  return 0;
}
