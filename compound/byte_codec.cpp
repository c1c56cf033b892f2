#include "byte_codec.h"

namespace YCompoundFiles {
namespace {

template <class T>
size_t effective_width(size_t width) {
  return (width == 0 || width > sizeof(T)) ? sizeof(T) : width;
}

template <class T>
void get_raw(const void* buffer, T& value, size_t offset, size_t width) {
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer) + offset;
  const size_t n = effective_width<T>(width);
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  value = static_cast<T>(v);
}

template <class T>
void put_raw(void* buffer, T value, size_t offset, size_t width) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer) + offset;
  const size_t n = effective_width<T>(width);
  const uint64_t v = value;
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool fits(size_t length, size_t offset, size_t bytes) {
  return offset <= length && bytes <= length - offset;
}

template <class T>
bool get_vec(const std::vector<char>& buffer, T& value, size_t offset, size_t width) {
  value = 0;
  if (!fits(buffer.size(), offset, effective_width<T>(width))) return false;
  get_raw(buffer.data(), value, offset, width);
  return true;
}

template <class T>
bool put_vec(std::vector<char>& buffer, T value, size_t offset, size_t width) {
  if (!fits(buffer.size(), offset, effective_width<T>(width))) return false;
  put_raw(buffer.data(), value, offset, width);
  return true;
}

template <class T>
void get_array_raw(const void* buffer, T* array, size_t offset, size_t count) {
  for (size_t k = 0; k < count; ++k) get_raw(buffer, array[k], offset + k * sizeof(T), 0);
}

template <class T>
void put_array_raw(void* buffer, const T* array, size_t offset, size_t count) {
  for (size_t k = 0; k < count; ++k) put_raw(buffer, array[k], offset + k * sizeof(T), 0);
}

template <class T>
bool array_fits(size_t length, size_t offset, size_t count) {
  return count <= (SIZE_MAX / sizeof(T)) && fits(length, offset, count * sizeof(T));
}

}  // namespace

void ByteCodec::Get(const void* b, uint8_t& v, size_t o, size_t w) {
  get_raw(b, v, o, w);
}
void ByteCodec::Get(const void* b, uint16_t& v, size_t o, size_t w) {
  get_raw(b, v, o, w);
}
void ByteCodec::Get(const void* b, uint32_t& v, size_t o, size_t w) {
  get_raw(b, v, o, w);
}
void ByteCodec::Get(const void* b, uint64_t& v, size_t o, size_t w) {
  get_raw(b, v, o, w);
}
void ByteCodec::Put(void* b, uint8_t v, size_t o, size_t w) {
  put_raw(b, v, o, w);
}
void ByteCodec::Put(void* b, uint16_t v, size_t o, size_t w) {
  put_raw(b, v, o, w);
}
void ByteCodec::Put(void* b, uint32_t v, size_t o, size_t w) {
  put_raw(b, v, o, w);
}
void ByteCodec::Put(void* b, uint64_t v, size_t o, size_t w) {
  put_raw(b, v, o, w);
}

bool ByteCodec::Get(const std::vector<char>& b, uint8_t& v, size_t o, size_t w) {
  return get_vec(b, v, o, w);
}
bool ByteCodec::Get(const std::vector<char>& b, uint16_t& v, size_t o, size_t w) {
  return get_vec(b, v, o, w);
}
bool ByteCodec::Get(const std::vector<char>& b, uint32_t& v, size_t o, size_t w) {
  return get_vec(b, v, o, w);
}
bool ByteCodec::Get(const std::vector<char>& b, uint64_t& v, size_t o, size_t w) {
  return get_vec(b, v, o, w);
}
bool ByteCodec::Put(std::vector<char>& b, uint8_t v, size_t o, size_t w) {
  return put_vec(b, v, o, w);
}
bool ByteCodec::Put(std::vector<char>& b, uint16_t v, size_t o, size_t w) {
  return put_vec(b, v, o, w);
}
bool ByteCodec::Put(std::vector<char>& b, uint32_t v, size_t o, size_t w) {
  return put_vec(b, v, o, w);
}
bool ByteCodec::Put(std::vector<char>& b, uint64_t v, size_t o, size_t w) {
  return put_vec(b, v, o, w);
}

void ByteCodec::GetArray(const void* b, uint8_t* a, size_t o, size_t n) {
  get_array_raw(b, a, o, n);
}
void ByteCodec::GetArray(const void* b, uint16_t* a, size_t o, size_t n) {
  get_array_raw(b, a, o, n);
}
void ByteCodec::PutArray(void* b, const uint8_t* a, size_t o, size_t n) {
  put_array_raw(b, a, o, n);
}
void ByteCodec::PutArray(void* b, const uint16_t* a, size_t o, size_t n) {
  put_array_raw(b, a, o, n);
}

bool ByteCodec::GetArray(const std::vector<char>& b, uint8_t* a, size_t o, size_t n) {
  if (!array_fits<uint8_t>(b.size(), o, n)) return false;
  get_array_raw(b.data(), a, o, n);
  return true;
}
bool ByteCodec::GetArray(const std::vector<char>& b, uint16_t* a, size_t o, size_t n) {
  if (!array_fits<uint16_t>(b.size(), o, n)) return false;
  get_array_raw(b.data(), a, o, n);
  return true;
}
bool ByteCodec::PutArray(std::vector<char>& b, const uint8_t* a, size_t o, size_t n) {
  if (!array_fits<uint8_t>(b.size(), o, n)) return false;
  put_array_raw(b.data(), a, o, n);
  return true;
}
bool ByteCodec::PutArray(std::vector<char>& b, const uint16_t* a, size_t o, size_t n) {
  if (!array_fits<uint16_t>(b.size(), o, n)) return false;
  put_array_raw(b.data(), a, o, n);
  return true;
}

}  // namespace YCompoundFiles
