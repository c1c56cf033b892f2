#pragma once
// Helpers for the workbook tests: building record bytes by hand, writing
// records or containers into byte vectors, and reading a file's stream.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compound_document.h"

namespace workbook_test {

using Bytes = std::vector<char>;

inline Bytes bytes_of(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

inline void put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

inline void put32(Bytes& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// One record: code, length, data.
inline Bytes record_of(uint16_t code, const Bytes& data) {
  Bytes out;
  out.reserve(4 + data.size());
  put16(out, code);
  put16(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

inline Bytes filled(size_t n, char value = 0) {
  return Bytes(n, value);
}

inline Bytes& operator+=(Bytes& a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
  return a += b;
}

// Anything with RecordSize() and Write(char*): its bytes, with a check
// that Write writes exactly what RecordSize promised.
template <class T>
Bytes written_bytes(T& object, uint64_t* written = nullptr) {
  Bytes out(object.RecordSize(), '\x5A');
  const uint64_t n = object.Write(out.data());
  if (written) *written = n;
  out.resize(n);
  return out;
}

// A Formula record: its place, format, 8 result bytes and tokens (their
// length put in front).
inline Bytes formula_record(uint16_t row, uint16_t col, uint16_t xf, const Bytes& result,
                            const Bytes& tokens) {
  Bytes d;
  put16(d, row);
  put16(d, col);
  put16(d, xf);
  d += result + filled(6);  // options, reserved
  put16(d, static_cast<uint32_t>(tokens.size()));
  return record_of(0x0006, d + tokens);
}

// Formula results: a number, or what is none (0 text, 1 boolean, 2 error).
inline Bytes number_result(double value) {
  Bytes out(8);
  std::memcpy(out.data(), &value, 8);
  return out;
}
inline Bytes other_result(int kind, int value = 0) {
  return bytes_of({kind, 0, value, 0, 0, 0, 0xFF, 0xFF});
}

inline uint16_t get16(const Bytes& b, size_t offset) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[offset]) |
                               static_cast<unsigned char>(b[offset + 1]) << 8);
}

// The "Workbook" stream of the document at path.
inline Bytes read_workbook_stream(const std::string& path) {
  YCompoundFiles::CompoundDocument doc;
  Bytes stream;
  EXPECT_TRUE(doc.Open(path.c_str(), YCompoundFiles::CompoundDocument::kRead));
  EXPECT_EQ(doc.ReadStream("Workbook", stream), YCompoundFiles::kSuccess);
  return stream;
}

}  // namespace workbook_test
