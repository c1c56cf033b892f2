#pragma once
// Compound documents written byte for byte, for trees and tables this library
// would never write (crafted depths, widths and loops): the header, the
// table blocks, the directory, then the data blocks.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace compound_test {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kEnd = 0xFFFFFFFE;

struct CraftedEntry {
  std::u16string name;
  uint8_t type = 1;  // 1 storage, 2 stream, 5 root
  uint32_t left = kNone, right = kNone, child = kNone, start = kEnd, size = 0;
};

// Table blocks needed for a file of `entries` entries and `data_blocks`
// blocks after the directory; the first data block follows them and the
// directory.
inline uint32_t crafted_table_blocks(uint64_t entries, uint64_t data_blocks) {
  const uint64_t used = (entries + 3) / 4 + data_blocks;
  uint32_t t = 1;
  while (t * 128ull < used + t) ++t;
  return t;
}
inline uint32_t crafted_first_data_block(uint64_t entries, uint64_t data_blocks) {
  return crafted_table_blocks(entries, data_blocks) + static_cast<uint32_t>((entries + 3) / 4);
}

// `data` fills the data blocks; next(b) is the table entry of data block b.
inline std::vector<unsigned char> crafted_document(const std::vector<CraftedEntry>& entries,
                                                   uint64_t data_blocks,
                                                   const std::vector<char>& data,
                                                   const std::function<uint32_t(uint32_t)>& next) {
  const uint32_t tables = crafted_table_blocks(entries.size(), data_blocks);
  const uint32_t directory = static_cast<uint32_t>((entries.size() + 3) / 4);
  std::vector<unsigned char> out(512ull * (1 + tables + directory + data_blocks), 0);
  auto put = [&](uint64_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  const unsigned char magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (int i = 0; i < 8; ++i) out[i] = magic[i];
  put(24, 0x3E, 2), put(26, 3, 2), put(28, 0xFFFE, 2), put(30, 9, 2), put(32, 6, 4);
  put(44, tables, 4), put(48, tables, 4), put(56, 4096, 4), put(60, kEnd, 4), put(68, kEnd, 4);
  for (uint32_t k = 0; k < 109; ++k) put(76 + 4 * k, k < tables ? k : kNone, 4);
  for (uint64_t b = 0; b < 128ull * tables; ++b) {
    uint32_t value = kNone;
    if (b < tables)
      value = 0xFFFFFFFD;
    else if (b < tables + directory)
      value = b + 1 < tables + directory ? b + 1 : kEnd;
    else if (b < tables + directory + data_blocks)
      value = next(static_cast<uint32_t>(b));
    put(512 + 4 * b, value, 4);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const CraftedEntry& e = entries[i];
    const uint64_t at = 512ull * (1 + tables) + 128 * i;
    for (size_t c = 0; c < e.name.size(); ++c) put(at + 2 * c, e.name[c], 2);
    put(at + 64, 2 * e.name.size() + 2, 2), out[at + 66] = e.type, out[at + 67] = 1;
    put(at + 68, e.left, 4), put(at + 72, e.right, 4), put(at + 76, e.child, 4);
    put(at + 116, e.start, 4), put(at + 120, e.size, 4);
  }
  for (size_t i = 0; i < data.size(); ++i) out[512ull * (1 + tables + directory) + i] = data[i];
  return out;
}

}  // namespace compound_test
