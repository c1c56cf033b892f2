#include "byte_codec.h"

namespace YCompoundFiles {
namespace {

template <class T>
size_t EffectiveWidth(size_t width) {
  return (width == 0 || width > sizeof(T)) ? sizeof(T) : width;
}

template <class T>
void GetRaw(const void* buffer, T& value, size_t offset, size_t width) {
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer) + offset;
  const size_t n = EffectiveWidth<T>(width);
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  value = static_cast<T>(v);
}

template <class T>
void PutRaw(void* buffer, T value, size_t offset, size_t width) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer) + offset;
  const size_t n = EffectiveWidth<T>(width);
  const uint64_t v = value;
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool Fits(size_t length, size_t offset, size_t bytes) {
  return offset <= length && bytes <= length - offset;
}

template <class T>
bool GetVec(const std::vector<char>& buffer, T& value, size_t offset, size_t width) {
  value = 0;
  if (!Fits(buffer.size(), offset, EffectiveWidth<T>(width))) return false;
  GetRaw(buffer.data(), value, offset, width);
  return true;
}

template <class T>
bool PutVec(std::vector<char>& buffer, T value, size_t offset, size_t width) {
  if (!Fits(buffer.size(), offset, EffectiveWidth<T>(width))) return false;
  PutRaw(buffer.data(), value, offset, width);
  return true;
}

template <class T>
void GetArrayRaw(const void* buffer, T* array, size_t offset, size_t count) {
  for (size_t k = 0; k < count; ++k) GetRaw(buffer, array[k], offset + k * sizeof(T), 0);
}

template <class T>
void PutArrayRaw(void* buffer, const T* array, size_t offset, size_t count) {
  for (size_t k = 0; k < count; ++k) PutRaw(buffer, array[k], offset + k * sizeof(T), 0);
}

template <class T>
bool ArrayFits(size_t length, size_t offset, size_t count) {
  return count <= (SIZE_MAX / sizeof(T)) && Fits(length, offset, count * sizeof(T));
}

}  // namespace

void ByteCodec::Get(const void* b, uint8_t& v, size_t o, size_t w) { GetRaw(b, v, o, w); }
void ByteCodec::Get(const void* b, uint16_t& v, size_t o, size_t w) { GetRaw(b, v, o, w); }
void ByteCodec::Get(const void* b, uint32_t& v, size_t o, size_t w) { GetRaw(b, v, o, w); }
void ByteCodec::Get(const void* b, uint64_t& v, size_t o, size_t w) { GetRaw(b, v, o, w); }
void ByteCodec::Put(void* b, uint8_t v, size_t o, size_t w) { PutRaw(b, v, o, w); }
void ByteCodec::Put(void* b, uint16_t v, size_t o, size_t w) { PutRaw(b, v, o, w); }
void ByteCodec::Put(void* b, uint32_t v, size_t o, size_t w) { PutRaw(b, v, o, w); }
void ByteCodec::Put(void* b, uint64_t v, size_t o, size_t w) { PutRaw(b, v, o, w); }

bool ByteCodec::Get(const std::vector<char>& b, uint8_t& v, size_t o, size_t w) { return GetVec(b, v, o, w); }
bool ByteCodec::Get(const std::vector<char>& b, uint16_t& v, size_t o, size_t w) { return GetVec(b, v, o, w); }
bool ByteCodec::Get(const std::vector<char>& b, uint32_t& v, size_t o, size_t w) { return GetVec(b, v, o, w); }
bool ByteCodec::Get(const std::vector<char>& b, uint64_t& v, size_t o, size_t w) { return GetVec(b, v, o, w); }
bool ByteCodec::Put(std::vector<char>& b, uint8_t v, size_t o, size_t w) { return PutVec(b, v, o, w); }
bool ByteCodec::Put(std::vector<char>& b, uint16_t v, size_t o, size_t w) { return PutVec(b, v, o, w); }
bool ByteCodec::Put(std::vector<char>& b, uint32_t v, size_t o, size_t w) { return PutVec(b, v, o, w); }
bool ByteCodec::Put(std::vector<char>& b, uint64_t v, size_t o, size_t w) { return PutVec(b, v, o, w); }

void ByteCodec::GetArray(const void* b, uint8_t* a, size_t o, size_t n) { GetArrayRaw(b, a, o, n); }
void ByteCodec::GetArray(const void* b, uint16_t* a, size_t o, size_t n) { GetArrayRaw(b, a, o, n); }
void ByteCodec::PutArray(void* b, const uint8_t* a, size_t o, size_t n) { PutArrayRaw(b, a, o, n); }
void ByteCodec::PutArray(void* b, const uint16_t* a, size_t o, size_t n) { PutArrayRaw(b, a, o, n); }

bool ByteCodec::GetArray(const std::vector<char>& b, uint8_t* a, size_t o, size_t n) {
  if (!ArrayFits<uint8_t>(b.size(), o, n)) return false;
  GetArrayRaw(b.data(), a, o, n);
  return true;
}
bool ByteCodec::GetArray(const std::vector<char>& b, uint16_t* a, size_t o, size_t n) {
  if (!ArrayFits<uint16_t>(b.size(), o, n)) return false;
  GetArrayRaw(b.data(), a, o, n);
  return true;
}
bool ByteCodec::PutArray(std::vector<char>& b, const uint8_t* a, size_t o, size_t n) {
  if (!ArrayFits<uint8_t>(b.size(), o, n)) return false;
  PutArrayRaw(b.data(), a, o, n);
  return true;
}
bool ByteCodec::PutArray(std::vector<char>& b, const uint16_t* a, size_t o, size_t n) {
  if (!ArrayFits<uint16_t>(b.size(), o, n)) return false;
  PutArrayRaw(b.data(), a, o, n);
  return true;
}

}  // namespace YCompoundFiles
