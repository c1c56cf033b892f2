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
// delta and minstep 1 % of the profile's largest value beyond begincut (or both the value that
// --delta gives).
//
// With --fits FILE the probe also reruns PeakFit's sequence of fits in the numerical core on the
// same profile, peak table and spline points (the plug-in's own fits cannot be looked into) and
// writes each of its two full fits to FILE, one JSON object a line: the measurements (ysub over
// the fitted range), the peak table before and after (positions relative to the range's first
// sample), the fit's result and end message, and whether the rerun's final table is the
// plug-in's bit for bit. real_patterns_fits.py refits them with an independent solver.
//
// Usage: pattern_probe [plug-in path] [--delta D] [--fits FILE] < jobs
#include "messages.h"
#include "numeric.h"
#include "plugin_session.h"
#include "profile_data.h"
#include "pseudovoigt.h"
#include "spline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// Where --fits writes, the job's number and --delta; the fits file is off when null.
std::FILE* fits_file = nullptr;
int job_number = 0;
float fixed_delta = 0.0f;

void dump_array(const char* name, const float* values, int count) {
  std::fprintf(fits_file, ",\"%s\":[", name);
  for (int i = 0; i < count; ++i) {
    if (i) std::fputc(',', fits_file);
    if (std::isfinite(values[i]))
      std::fprintf(fits_file, "%.9g", values[i]);
    else  // as Python's json module reads them
      std::fputs(std::isnan(values[i]) ? "NaN"
                 : values[i] > 0       ? "Infinity"
                                       : "-Infinity",
                 fits_file);
  }
  std::fprintf(fits_file, "]");
}

// PeakFit's sequence again, on the table and spline points PeakFindPreFit made, with each full
// fit's problem written out; `fitted` is the plug-in's final table, for the check.
void dump_fits(const char* profile, const std::vector<double>& y, int length,
               const std::vector<double>& table, const std::vector<double>& splines,
               const std::vector<double>& fitted) {
  const int npeaks = static_cast<int>(table.size() / 4);
  const int nsplines = static_cast<int>(splines.size() / 2);
  if (npeaks < 1 || nsplines < 2) return;
  const std::vector<float> samples(y.begin(), y.begin() + length),
      peaks(table.begin(), table.end()), points(splines.begin(), splines.end());
  profile_data rec;
  set_profile(rec, samples.data(), length);
  set_peaks(rec, peaks.data(), npeaks);
  set_splinepoints(rec, points.data(), points.data() + nsplines, nsplines);
  std::string message;
  ScopedMessageSink sink([&message](const std::string& text) { message += text; });
  subtractbackground(rec);
  const int end = trunc_to_int(rec.splinex[nsplines - 1]);
  for (int fit = 1; fit <= 2; ++fit) {
    if (fit == 2) {
      refitbackground(rec);
      subtractbackground(rec);
    }
    const int start = trunc_to_int(rec.splinex[fit - 1]);
    std::fprintf(fits_file, "{\"job\":%d,\"profile\":\"%s\",\"fit\":%d,\"start\":%d", job_number,
                 profile, fit, start);
    dump_array("y", rec.ysub.get() + start, end - start + 1);
    const std::vector<float> before(rec.peaks.get(), rec.peaks.get() + 4 * npeaks);
    message.clear();
    const int result = fitpeaks(rec, start, end);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
      message.pop_back();
    for (int c = 0; c < 2; ++c) {
      std::vector<float> p =
          c ? std::vector<float>(rec.peaks.get(), rec.peaks.get() + 4 * npeaks) : before;
      for (int k = 0; k < npeaks; ++k) p[4 * k] -= static_cast<float>(start);
      dump_array(c ? "p1" : "p0", p.data(), 4 * npeaks);
    }
    std::fprintf(fits_file, ",\"result\":%d,\"message\":\"%s\"", result, message.c_str());
    // Only the final table can be checked against the plug-in's, which holds
    // |intensity|, |HWHM| and the weight clamped to [0, 1].
    bool same = fit == 1 || fitted.size() == static_cast<size_t>(4 * npeaks);
    for (int i = 0; fit == 2 && same && i < 4 * npeaks; ++i) {
      const float v = rec.peaks[i];
      const float written = i % 4 == 0   ? v
                            : i % 4 == 3 ? std::max(0.0f, std::min(1.0f, v))
                                         : std::fabs(v);
      same = static_cast<float>(fitted[i]) == written || (std::isnan(v) && std::isnan(fitted[i]));
    }
    std::fprintf(fits_file, ",\"same\":%s}\n", same ? "true" : "false");
  }
}

// The profile, then the fitted peak table (position, intensity, HWHM,
// weight a peak) of the profile image the call makes.
void profile_and_peaks(standin::Host& host, const char* name, const std::string& function,
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
    const float delta = fixed_delta > 0 ? fixed_delta : static_cast<float>(0.01 * largest);
    DM_ImageToken rows = host.NewImage("profile", DM_TYPE_REAL4, length, 4);
    values.resize(4 * static_cast<size_t>(length), 0.0);
    host.SetPixels(rows, values);
    DM_ImageToken peaks = nullptr, splines = nullptr;
    host.Call("PeakFindPreFit",
              {real_image_arg(rows), cell_arg(&peaks), cell_arg(&splines), float_arg(delta),
               float_arg(delta), float_arg(static_cast<float>(begincut)),
               float_arg(static_cast<float>(endcut))});
    if (peaks && splines) {
      const std::vector<double> prefit = host.Pixels(peaks), points = host.Pixels(splines);
      host.Call("PeakFit", {real_image_arg(rows), real_image_arg(peaks), real_image_arg(splines)});
      fit = host.Pixels(peaks);
      if (fits_file) dump_fits(name, values, length, prefit, points, fit);
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
  const char* plugin = KELPO_PLUGIN_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--fits" && i + 1 < argc) {
      fits_file = std::fopen(argv[++i], "w");
      if (!fits_file) {
        std::fprintf(stderr, "cannot write %s\n", argv[i]);
        return 1;
      }
    } else if (a == "--delta" && i + 1 < argc) {
      fixed_delta = std::strtof(argv[++i], nullptr);
    } else {
      plugin = argv[i];
    }
  }
  PluginSession session;
  if (!session.Open(plugin)) return 1;
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
        host, "circle", "AzimuthalIntegral",
        {image_arg(pattern), cell_arg(&profile), float_arg(x), float_arg(y), float_arg(1)},
        &profile, begincut);
    profile = nullptr;
    std::printf(",\"elliptic\":");
    profile_and_peaks(host, "elliptic", "AzimuthalIntegralEllipticity",
                      {image_arg(pattern), cell_arg(&profile), float_arg(ex), float_arg(ey),
                       float_arg(angle), float_arg(ratio), float_arg(1)},
                      &profile, begincut);
    if (truth) {
      profile = nullptr;
      std::printf(",\"truth\":");
      profile_and_peaks(host, "truth", "AzimuthalIntegral",
                        {image_arg(pattern), cell_arg(&profile), float_arg(std::round(truth_x)),
                         float_arg(std::round(truth_y)), float_arg(1)},
                        &profile, begincut);
    }
    std::printf(",\"script_errors\":%zu}\n", host.ScriptErrors().size() - errors_before);
    std::fflush(stdout);
    host.ReleaseImage(pattern);
    ++job_number;
  }
  if (fits_file) std::fclose(fits_file);
  return 0;
}
