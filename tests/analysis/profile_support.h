// Helpers shared by the tests of the profile functions.
#pragma once

#include "messages.h"
#include "profile_data.h"
#include "threads.h"

#include <cmath>
#include <string>
#include <vector>

// Records every line the core writes while it exists.
struct Lines {
  std::vector<std::string> lines;
  ScopedMessageSink sink{[this](const std::string& s) { lines.push_back(s); }};
};

// The pseudo-Voigt peak in double, independent of the code under test.
inline float pseudo_voigt(double x, double x0, double a, double w, double eta) {
  const double ln2 = std::log(2.0);
  const double pi = 3.14159265358979;
  const double d = (x - x0) / w;
  return static_cast<float>(a * ((1 - eta) * std::sqrt(ln2 / pi) / w * std::exp(-ln2 * d * d) +
                                 eta / (pi * w) / (1 + d * d)));
}

inline profile_data record_of(const std::vector<float>& y, float step = 0.0f) {
  profile_data rec;
  set_profile(rec, y.data(), static_cast<int32_t>(y.size()));
  rec.step = step;
  return rec;
}

inline void set_splines(profile_data& rec, const std::vector<float>& xs,
                        const std::vector<float>& ys) {
  set_splinepoints(rec, xs.data(), ys.data(), static_cast<int32_t>(xs.size()));
}

inline std::vector<float> peak_row(const profile_data& rec, int k) {
  return {rec.peaks[4 * k], rec.peaks[4 * k + 1], rec.peaks[4 * k + 2], rec.peaks[4 * k + 3]};
}
