#pragma once
// Shared by the fuzz targets: a reader that turns the fuzzer's bytes into
// choices, a per-process scratch folder, files as bytes, and the check that
// stops a run with a message.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// Reads choices from the input front to back; past the end every read gives
// zero, so any input decodes to some run.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  size_t Remaining() const { return Empty() ? 0 : size_ - pos_; }
  uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
  bool Bit() { return (Byte() & 1) != 0; }
  uint32_t U32();
  // A value in [0, n) (n > 0).
  uint32_t Below(uint32_t n) { return n <= 256 ? Byte() % n : U32() % n; }
  // Up to max_length bytes, the length read first.
  std::string Bytes(size_t max_length);
  // A float that is most often one of the values numerical code gets wrong:
  // NaN, infinities, zeros, the extremes, denormals, small integers.
  float Float();

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A folder of this process's own, made on first use and removed at exit.
const std::string& scratch_folder_path();

std::vector<char> read_file(const std::string& path);
void write_file(const std::string& path, const void* data, size_t size);

// Stops the run (the fuzzer then keeps the input) with the text.
[[noreturn]] void fail(const std::string& what);

}  // namespace fuzz

#define FUZZ_CHECK(condition, what)                                        \
  do {                                                                     \
    if (!(condition)) ::fuzz::fail(std::string(#condition ": ") + (what)); \
  } while (0)
