#include "fuzz_support.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

namespace fuzz {

uint32_t Input::U32() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{Byte()} << (8 * i);
  return v;
}

std::string Input::Bytes(size_t max_length) {
  const size_t length = std::min<size_t>(Below(static_cast<uint32_t>(max_length) + 1), Remaining());
  std::string out(reinterpret_cast<const char*>(data_ + pos_), length);
  pos_ += length;
  return out;
}

float Input::Float() {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  static const float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(),
                                   kInf,
                                   -kInf,
                                   0.0f,
                                   -0.0f,
                                   std::numeric_limits<float>::max(),
                                   -std::numeric_limits<float>::max(),
                                   std::numeric_limits<float>::denorm_min(),
                                   1e30f,
                                   -1e30f,
                                   1e9f,
                                   2e9f,
                                   0.5f,
                                   -1.0f,
                                   1.0f,
                                   2.0f};
  const uint8_t kind = Byte();
  if (kind < 64) return kSpecial[kind % 16];
  if (kind < 192) return static_cast<float>(static_cast<int8_t>(Byte()));
  uint32_t bits = U32();
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

namespace {
// Kept as plain bytes so that the exit handler never meets a destroyed string.
char scratch_folder[4096];
}  // namespace

const std::string& scratch_folder_path() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kelpo_fuzz_XXXXXX";
    if (pattern.size() >= sizeof scratch_folder || mkdtemp(pattern.data()) == nullptr)
      fail("cannot make a scratch folder");
    std::strcpy(scratch_folder, pattern.c_str());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratch_folder, ignored);
    });
    return pattern;
  }();
  return folder;
}

std::vector<char> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) fail("cannot write " + path);
}

void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
