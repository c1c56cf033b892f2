#include "utility_functions.h"

#include "kelpotools.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// Virtual keys and the key-up flag of the window system.
constexpr int32_t kVkLeftButton = 1;
constexpr int32_t kVkRightButton = 2;
constexpr int32_t kVkMiddleButton = 4;
constexpr uint8_t kVkShift = 16;
constexpr uint8_t kVkEscape = 27;
constexpr uint32_t kKeyUp = 2;

// A script float as a byte index: truncation toward zero, where a negative
// value wraps to a huge one as an unsigned conversion would.  NaN and values
// beyond the 64-bit range, which have no defined conversion, count as huge
// too, so a start is then out of range and a length reaches to the end.
uint64_t to_index(float v) {
  double t = std::trunc(static_cast<double>(v));
  if (std::isnan(t) || t >= 18446744073709551616.0 || t < -9223372036854775808.0) return UINT64_MAX;
  if (t < 0) return static_cast<uint64_t>(static_cast<int64_t>(t));
  return static_cast<uint64_t>(t);
}

}  // namespace

float GetMouseState(DM_StringToken button) {
  std::string name = DM_string_to_std(dm_string::share(button), 0);
  int32_t key = 0;
  for (const char* n : {"lm", "LM", "Lm", "lM"})
    if (name == n) key = kVkLeftButton;
  for (const char* n : {"mm", "MM", "Mm", "mM"})
    if (name == n) key = kVkMiddleButton;
  for (const char* n : {"rm", "RM", "Rm", "rM"})
    if (name == n) key = kVkRightButton;
  if (!key) return -1.0f;
  // 0x8001 (down, and pressed since the last query) reads as -32767.
  float state = static_cast<float>(GetAsyncKeyState(key));
  return state == -32767.0f ? 1.0f : 0.0f;
}

void FakeESC() {
  keybd_event(kVkEscape, 0, 0, 0);
  keybd_event(kVkEscape, 0, kKeyUp, 0);
}

void FakeShiftDown() {
  keybd_event(kVkShift, 0, 0, 0);
}

void FakeShiftUp() {
  keybd_event(kVkShift, 0, kKeyUp, 0);
}

DM_StringToken GetSubString(DM_StringToken text, float start, float length) {
  std::string bytes = DM_string_to_std(dm_string::share(text), 0);
  uint64_t from = to_index(start);
  if (from > bytes.size()) throw std::out_of_range("the start lies past the end of the text");
  std::string piece = bytes.substr(from, to_index(length));
  return DM_make_string(piece, 0).release();
}

float extractpixelsize(DM_StringToken text) {
  std::string bytes = DM_string_to_std(dm_string::share(text), 0);
  // The scan reads the call's own copy of the whole text.
  const char* scan = bytes.c_str();
  float value = 0.0f;
  if (std::sscanf(scan, "%f", &value) == 1) return value;
  char lead = 0;
  if (std::sscanf(scan, "%c %f", &lead, &value) == 2) return value;
  return 0.0f;
}

void floodfill(int32_t x, int32_t y, int32_t width, int32_t height, float* data) {
  // An explicit stack: a large region would overflow the call stack.
  std::vector<std::pair<int32_t, int32_t>> todo{{x, y}};
  while (!todo.empty()) {
    auto [px, py] = todo.back();
    todo.pop_back();
    if (px < 1 || py < 1 || px > width - 2 || py > height - 2) continue;
    float& v = data[static_cast<size_t>(px) + static_cast<size_t>(py) * width];
    if (v != 1.0f) continue;
    v = 2.0f;
    todo.push_back({px + 1, py});
    todo.push_back({px - 1, py});
    todo.push_back({px, py + 1});
    todo.push_back({px, py - 1});
  }
}

void floodfill_image(const BasicImage& image, float x, float y) {
  DM::ImageChangeDataType(image, DM_TYPE_REAL4);
  uint32_t width = DM::ImageGetDimensionSize(image, 0);
  uint32_t height = DM::ImageGetDimensionSize(image, 1);
  {
    PixelLock lock(image);
    if (std::isfinite(x) && std::isfinite(y) && std::fabs(x) < 2e9f && std::fabs(y) < 2e9f &&
        width < INT32_MAX && height < INT32_MAX)
      floodfill(static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(width),
                static_cast<int32_t>(height), lock.data());
  }
  DM::ImageDataChanged(image);
}
