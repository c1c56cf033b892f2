#pragma once
// Compound documents written byte for byte, for trees and tables this library
// would never write: the header, the table blocks, the directory, then the
// data blocks, whose table entries next(b) gives.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace compound_test {

constexpr uint32_t kNone = 0xFFFFFFFF, kEnd = 0xFFFFFFFE;

struct CraftedEntry {
  std::u16string name;
  uint8_t type = 1;  // 1 storage, 2 stream, 5 root
  uint32_t left = kNone, right = kNone, child = kNone, start = kEnd, size = 0;
};

inline uint32_t crafted_table_blocks(uint64_t entries, uint64_t data_blocks) {
  uint32_t t = 1;
  while (t * 128ull < (entries + 3) / 4 + data_blocks + t) ++t;
  return t;
}
inline uint32_t crafted_first_data_block(uint64_t entries, uint64_t data_blocks) {
  return crafted_table_blocks(entries, data_blocks) + static_cast<uint32_t>((entries + 3) / 4);
}

inline std::vector<unsigned char> crafted_document(const std::vector<CraftedEntry>& entries,
                                                   uint32_t data_blocks,
                                                   const std::vector<char>& data,
                                                   const std::function<uint32_t(uint32_t)>& next) {
  const uint32_t tables = crafted_table_blocks(entries.size(), data_blocks);
  const uint32_t first = crafted_first_data_block(entries.size(), data_blocks);
  std::vector<unsigned char> out(512ull * (1 + first + data_blocks), 0);
  auto put = [&](uint64_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  put(0, 0xE11AB1A1E011CFD0, 8), put(24, 0x3E, 2), put(26, 3, 2), put(28, 0xFFFE, 2);
  put(30, 9, 2), put(32, 6, 4), put(44, tables, 4), put(48, tables, 4), put(56, 4096, 4);
  put(60, kEnd, 4), put(68, kEnd, 4);
  for (uint32_t k = 0; k < 109; ++k) put(76 + 4 * k, k < tables ? k : kNone, 4);
  for (uint32_t b = 0; b < 128 * tables; ++b)
    put(512 + 4ull * b,
        b < tables                ? 0xFFFFFFFD
        : b + 1 < first           ? b + 1
        : b < first               ? kEnd
        : b < first + data_blocks ? next(b)
                                  : kNone,
        4);
  for (size_t i = 0; i < entries.size(); ++i) {
    const CraftedEntry& e = entries[i];
    const uint64_t at = 512ull * (1 + tables) + 128 * i;
    for (size_t c = 0; c < e.name.size(); ++c) put(at + 2 * c, e.name[c], 2);
    put(at + 64, 2 * e.name.size() + 2, 2), put(at + 66, e.type + 256, 2);
    put(at + 68, e.left, 4), put(at + 72, e.right, 4), put(at + 76, e.child, 4);
    put(at + 116, e.start, 4), put(at + 120, e.size, 4);
  }
  std::copy(data.begin(), data.end(), out.begin() + 512 * (1 + first));
  return out;
}

}  // namespace compound_test
