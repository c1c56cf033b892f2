// Shared by the tests of the profile script functions and their image
// converters: synthetic profiles with known peaks, element tables, and call
// helpers through the host.
#pragma once

#include "plugin_fixture.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

struct KnownPeak {
  double position, intensity, hwhm, weight;
};

// The pseudo-Voigt of one peak at x, in double.
inline double pseudo_voigt(double x, const KnownPeak& p) {
  const double ln2 = std::log(2.0);
  const double pi = 3.14159265358979;
  const double d2 = (x - p.position) * (x - p.position) / (p.hwhm * p.hwhm);
  return p.intensity * ((1.0 - p.weight) * std::sqrt(ln2 / pi) / p.hwhm * std::exp(-ln2 * d2) +
                        p.weight / (pi * p.hwhm) / (1.0 + d2));
}

// Peaks over a slowly falling background, samples 0 .. length-1.
inline std::vector<double> synthetic_profile(int length, const std::vector<KnownPeak>& peaks) {
  std::vector<double> y(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    y[i] = 80.0 + 30.0 * std::exp(-i / 700.0);
    for (const KnownPeak& p : peaks) y[i] += pseudo_voigt(i, p);
  }
  return y;
}

// One element row: a Lorentzian term a/(q + b) and a Gaussian term
// c exp(-d q), and the share in percent.
inline std::vector<double> element_row(double a, double b, double c, double d, double share) {
  return {a, 0, 0, b, 1, 1, c, 0, 0, d, 0, 0, 0, share};
}

// The Kirkland curve of such rows at sample i, in double.
inline double kirkland_value(const std::vector<std::vector<double>>& rows, double step, int i) {
  const double q = (step * i / 10.0) * (step * i / 10.0);
  double sum = 0.0;
  for (const auto& r : rows) {
    double f = r[0] / (q + r[3]) + r[1] / (q + r[4]) + r[2] / (q + r[5]) +
               r[6] * std::exp(-r[9] * q) + r[7] * std::exp(-r[10] * q) +
               r[8] * std::exp(-r[11] * q);
    sum += f * f * r[13] / 100.0;
  }
  return sum;
}

class ProfileTest : public PluginTest {
 protected:
  // A profile image `rows` high whose row 0 holds the values; the other
  // rows are filled with `fill`.
  DM_ImageToken ProfileImage(const std::vector<double>& values, uint32_t rows = 4,
                             double fill = -1.0) {
    const uint32_t width = static_cast<uint32_t>(values.size());
    std::vector<double> v(static_cast<size_t>(width) * rows, fill);
    std::copy(values.begin(), values.end(), v.begin());
    return RealImage(width, rows, v, "profile");
  }

  DM_ImageToken TableImage(const std::vector<std::vector<double>>& rows,
                           const std::string& name = "table") {
    const uint32_t width = rows.empty() ? 0u : static_cast<uint32_t>(rows[0].size());
    std::vector<double> v;
    for (const auto& r : rows) v.insert(v.end(), r.begin(), r.end());
    return RealImage(width, static_cast<uint32_t>(rows.size()), v, name);
  }

  standin::CallResult Find(const char* function, DM_ImageToken profile, DM_ImageToken* peaks,
                           DM_ImageToken* splines, float delta = 10.0f, float minstep = 50.0f,
                           float begincut = 0.0f, float endcut = 1.0e6f) {
    return host_.Call(function, {standin::real_image_arg(profile), standin::cell_arg(peaks),
                                 standin::cell_arg(splines), standin::float_arg(delta),
                                 standin::float_arg(minstep), standin::float_arg(begincut),
                                 standin::float_arg(endcut)});
  }

  standin::CallResult Fit(const char* function, DM_ImageToken profile, DM_ImageToken peaks,
                          DM_ImageToken splines) {
    return host_.Call(function, {standin::real_image_arg(profile), standin::real_image_arg(peaks),
                                 standin::real_image_arg(splines)});
  }

  standin::CallResult KirklandFit(DM_ImageToken profile, DM_ImageToken elements, float* offset,
                                  float* scale, float start, float end, float step,
                                  float unused = 0.0f) {
    return host_.Call(
        "RDF_Kirklandfit",
        {standin::real_image_arg(profile), standin::real_image_arg(elements),
         standin::float_ptr_arg(offset), standin::float_ptr_arg(scale), standin::float_arg(start),
         standin::float_arg(end), standin::float_arg(step), standin::float_arg(unused)});
  }

  standin::CallResult KirklandFunction(DM_ImageToken profile, DM_ImageToken elements, float* offset,
                                       float* scale, float step, float unused = 0.0f) {
    return host_.Call("RDF_Kirklandfunction",
                      {standin::real_image_arg(profile), standin::real_image_arg(elements),
                       standin::float_ptr_arg(offset), standin::float_ptr_arg(scale),
                       standin::float_arg(step), standin::float_arg(unused)});
  }

  standin::CallResult CalculateRdf(DM_ImageToken profile, DM_ImageToken* rdf, float start,
                                   float end, float c) {
    return host_.Call("CalculateRDF",
                      {standin::real_image_arg(profile), standin::cell_arg(rdf),
                       standin::float_arg(start), standin::float_arg(end), standin::float_arg(c)});
  }

  // Row r of an image.
  std::vector<double> Row(DM_ImageToken image, uint32_t r) {
    const std::vector<double> all = host_.Pixels(image);
    const uint32_t w = host_.Width(image);
    return std::vector<double>(all.begin() + static_cast<long>(r) * w,
                               all.begin() + static_cast<long>(r + 1) * w);
  }
};
