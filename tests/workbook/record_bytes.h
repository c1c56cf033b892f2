#pragma once
// Helpers for the workbook tests: building record bytes by hand, writing
// records or containers into byte vectors, and reading a file's stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compound_document.h"
#include "substream_records.h"

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

// The "Workbook" stream of the document at path.
inline Bytes read_workbook_stream(const std::string& path) {
  YCompoundFiles::CompoundDocument doc;
  Bytes stream;
  EXPECT_TRUE(doc.Open(path.c_str(), YCompoundFiles::CompoundDocument::kRead));
  EXPECT_EQ(doc.ReadStream("Workbook", stream), YCompoundFiles::kSuccess);
  return stream;
}

// Every record of before (a substream) is in after, in the same order, but
// the records a save rebuilds from its model (cells, older text cells
// included, rows, sizes, fonts, formats, sheet entries, strings, windows,
// and formulas of one constant when constants is set); the records that store sheet indices (and
// are patched) by their code only. after holds nothing else but records of extra_codes.
inline void expect_records_kept(const std::vector<Bytes>& before, const std::vector<Bytes>& after,
                                bool constants, const std::vector<uint16_t>& extra_codes,
                                const std::string& what) {
  static const uint16_t kRebuilt[] = {
      0x003D, 0x0031, 0x041E, 0x00E0, 0x0293, 0x0085, 0x00FC, 0x00FF,  // globals
      0x020B, 0x0200, 0x0208, 0x00D7, 0x027E, 0x0203, 0x00FD,          // sheets
      0x00BD, 0x0201, 0x00BE, 0x0205, 0x023E, 0x0204, 0x00D6};
  static const uint16_t kPatched[] = {0x0017, 0x0018, 0x01AE, 0x013D};
  auto kept = [&](const std::vector<Bytes>& records, bool with_extra) {
    std::vector<Bytes> out;
    for (const Bytes& r : records) {
      const uint16_t code = get16(r, 0);
      if (std::find(std::begin(kRebuilt), std::end(kRebuilt), code) != std::end(kRebuilt)) continue;
      if (constants && (code == 0x0006 || code == 0x0207)) continue;
      if (!with_extra &&
          std::find(extra_codes.begin(), extra_codes.end(), code) != extra_codes.end())
        continue;
      out.push_back(std::find(std::begin(kPatched), std::end(kPatched), code) != std::end(kPatched)
                        ? Bytes(r.begin(), r.begin() + 2)
                        : r);
    }
    return out;
  };
  const std::vector<Bytes> was = kept(before, true);
  const std::vector<Bytes> now = kept(after, false);
  auto codes = [](const std::vector<Bytes>& records) {
    std::string text;
    for (const Bytes& r : records) text += " " + std::to_string(get16(r, 0));
    return text;
  };
  ASSERT_EQ(now.size(), was.size()) << what << "\nwas" << codes(was) << "\nnow" << codes(now);
  for (size_t i = 0; i < was.size(); ++i)
    EXPECT_TRUE(now[i] == was[i]) << what << ": record " << i << " (0x" << std::hex
                                  << get16(was[i], 0) << std::dec << ") differs";
}

}  // namespace workbook_test
