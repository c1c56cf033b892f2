#pragma once
// One 128-byte record of the directory stream. Entry ids are positions in
// that stream (entry i at byte i * 128).
#include <cstdint>
#include <string>
#include <string_view>

namespace YCompoundFiles {

class DirectoryEntry {
 public:
  static constexpr uint8_t kFree = 0;  // unused slot
  static constexpr uint8_t kStorage = 1;
  static constexpr uint8_t kStream = 2;
  static constexpr uint8_t kRoot = 5;
  static constexpr size_t kMaxNameLength = 31;  // UTF-16 code units, without the terminator

  // A new storage entry: black, no links, no chain, size 0, empty name.
  DirectoryEntry();
  // An unused slot as the published format writes it: everything zero
  // except the three links, which are kNoEntry.
  static DirectoryEntry Free();

  // buffer holds 128 bytes. Write leaves bytes 124-127 untouched (the
  // directory writer zeroes its buffer first); Read validates nothing.
  void Write(unsigned char* buffer) const;
  void Read(const unsigned char* buffer);

  // The name up to its first zero unit; length() > 31 never happens for a
  // name set through SetName.
  std::u16string Name() const;
  // The same without a copy; valid while the entry lives unchanged.
  std::u16string_view NameView() const;
  // True when a zero unit ends the name within the 32 units.
  bool NameTerminated() const;
  // Copies at most 31 units and sets the name size to units * 2 + 2.
  void SetName(const std::u16string& name);

  char16_t name[32];
  uint16_t name_size;  // bytes including the terminator
  uint8_t type;
  uint8_t colour;  // 1, black
  uint32_t left;   // sibling ids, kNoEntry for none
  uint32_t right;
  uint32_t child;  // root of the storage's sibling tree
  uint32_t class_id[4];
  uint32_t state_bits;
  uint32_t created[2];
  uint32_t modified[2];
  uint32_t start;  // first block of the entry's stream; kEndOfChain for none
  uint32_t size;   // stream size in bytes
};

}  // namespace YCompoundFiles
