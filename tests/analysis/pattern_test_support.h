// Helpers shared by the pattern tests: a record over its own pixels, and a
// sink that collects the core's text lines.
#pragma once

#include "image_data.h"
#include "messages.h"
#include "synthetic_pattern.h"

#include <string>
#include <vector>

namespace pattern_tests {

struct Pattern {
  std::vector<float> pixels;
  image_data rec;
  Pattern(int32_t w, int32_t h, float value) : pixels(static_cast<size_t>(w) * h, value) {
    Attach(w, h);
  }
  Pattern(int32_t w, int32_t h, const SyntheticOptions& o) : pixels(synthetic_pattern(w, h, o)) {
    Attach(w, h);
  }
  float& At(int32_t x, int32_t y) {
    return pixels[static_cast<size_t>(x) + static_cast<size_t>(rec.width) * y];
  }
  std::vector<float> Profile() const { return {rec.profile, rec.profile + rec.profile_length}; }

 private:
  void Attach(int32_t w, int32_t h) {
    rec.data = pixels.data();
    rec.width = w;
    rec.height = h;
  }
};

struct Lines {
  std::vector<std::string> lines;
  ScopedMessageSink sink{[this](const std::string& s) { lines.push_back(s); }};
};

}  // namespace pattern_tests
