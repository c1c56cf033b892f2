#pragma once
// Little-endian access to fixed-width unsigned fields of byte buffers.
//
// Every on-disk record of the compound document and of the workbook layer
// moves its numbers through these functions, so byte order is decided here
// only.
//
// Width: 0 means the size of the value's type; a width larger than the type
// is treated as the type's size. Get first zeroes the value, then ORs in
// `width` bytes, byte i shifted left by 8*i; Put stores the low `width` bytes.
//
// Raw-pointer forms: the caller guarantees that the buffer holds
// offset + width bytes (offset + count * element size for the array forms).
// Vector forms check every access against the vector's length; an access
// outside it changes nothing (Get leaves the value zero) and returns false.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace YCompoundFiles {

class ByteCodec {
 public:
  static void Get(const void* buffer, uint8_t& value, size_t offset, size_t width = 0);
  static void Get(const void* buffer, uint16_t& value, size_t offset, size_t width = 0);
  static void Get(const void* buffer, uint32_t& value, size_t offset, size_t width = 0);
  static void Get(const void* buffer, uint64_t& value, size_t offset, size_t width = 0);
  static void Put(void* buffer, uint8_t value, size_t offset, size_t width = 0);
  static void Put(void* buffer, uint16_t value, size_t offset, size_t width = 0);
  static void Put(void* buffer, uint32_t value, size_t offset, size_t width = 0);
  static void Put(void* buffer, uint64_t value, size_t offset, size_t width = 0);

  static bool Get(const std::vector<char>& buffer, uint8_t& value, size_t offset, size_t width = 0);
  static bool Get(const std::vector<char>& buffer, uint16_t& value, size_t offset,
                  size_t width = 0);
  static bool Get(const std::vector<char>& buffer, uint32_t& value, size_t offset,
                  size_t width = 0);
  static bool Get(const std::vector<char>& buffer, uint64_t& value, size_t offset,
                  size_t width = 0);
  static bool Put(std::vector<char>& buffer, uint8_t value, size_t offset, size_t width = 0);
  static bool Put(std::vector<char>& buffer, uint16_t value, size_t offset, size_t width = 0);
  static bool Put(std::vector<char>& buffer, uint32_t value, size_t offset, size_t width = 0);
  static bool Put(std::vector<char>& buffer, uint64_t value, size_t offset, size_t width = 0);

  // Element k lies at offset + k * sizeof(element), each little-endian.
  static void GetArray(const void* buffer, uint8_t* array, size_t offset, size_t count);
  static void GetArray(const void* buffer, uint16_t* array, size_t offset, size_t count);
  static void PutArray(void* buffer, const uint8_t* array, size_t offset, size_t count);
  static void PutArray(void* buffer, const uint16_t* array, size_t offset, size_t count);
  static bool GetArray(const std::vector<char>& buffer, uint8_t* array, size_t offset,
                       size_t count);
  static bool GetArray(const std::vector<char>& buffer, uint16_t* array, size_t offset,
                       size_t count);
  static bool PutArray(std::vector<char>& buffer, const uint8_t* array, size_t offset,
                       size_t count);
  static bool PutArray(std::vector<char>& buffer, const uint16_t* array, size_t offset,
                       size_t count);
};

}  // namespace YCompoundFiles
