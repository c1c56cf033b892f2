#pragma once
// A "Workbook" stream's records by substream, for the workbook tests and
// the round-trip fuzz target alike (no test framework needed).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace workbook_test {

using Bytes = std::vector<char>;

inline uint16_t get16(const Bytes& b, size_t offset) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[offset]) |
                               static_cast<unsigned char>(b[offset + 1]) << 8);
}

// The records of a "Workbook" stream by substream (the globals first, then
// one per sheet in stream order), each record with its CONTINUE parts, and
// an embedded substream's records in the one that holds it.
inline std::vector<std::vector<Bytes>> substream_records(const Bytes& stream) {
  std::vector<std::vector<Bytes>> substreams;
  size_t depth = 0;
  for (size_t p = 0; p + 4 <= stream.size();) {
    const uint16_t code = get16(stream, p);
    size_t end = p + 4 + get16(stream, p + 2);
    while (end + 4 <= stream.size() && get16(stream, end) == 0x003C)
      end += 4 + get16(stream, end + 2);
    if (end > stream.size()) break;
    if (code == 0x0809 && depth++ == 0) substreams.emplace_back();
    if (depth == 0) break;  // padding after the last substream
    substreams.back().emplace_back(stream.begin() + static_cast<long>(p),
                                   stream.begin() + static_cast<long>(end));
    if (code == 0x000A) --depth;
    p = end;
  }
  return substreams;
}

}  // namespace workbook_test
