#include "directory_entry.h"

#include "byte_codec.h"
#include "compound_header.h"

namespace YCompoundFiles {

DirectoryEntry::DirectoryEntry()
    : name{},
      name_size(0),
      type(kStorage),
      colour(1),
      left(kNoEntry),
      right(kNoEntry),
      child(kNoEntry),
      class_id{0, 0, 0, 0},
      state_bits(0),
      created{0, 0},
      modified{0, 0},
      start(kEndOfChain),
      size(0) {}

DirectoryEntry DirectoryEntry::Free() {
  DirectoryEntry e;
  e.type = kFree;
  e.colour = 0;
  e.start = 0;
  return e;
}

void DirectoryEntry::Write(unsigned char* b) const {
  for (int i = 0; i < 32; ++i) ByteCodec::Put(b, static_cast<uint16_t>(name[i]), 2 * i);
  ByteCodec::Put(b, name_size, 64);
  ByteCodec::Put(b, type, 66);
  ByteCodec::Put(b, colour, 67);
  ByteCodec::Put(b, left, 68);
  ByteCodec::Put(b, right, 72);
  ByteCodec::Put(b, child, 76);
  for (int i = 0; i < 4; ++i) ByteCodec::Put(b, class_id[i], 80 + 4 * i);
  ByteCodec::Put(b, state_bits, 96);
  ByteCodec::Put(b, created[0], 100);
  ByteCodec::Put(b, created[1], 104);
  ByteCodec::Put(b, modified[0], 108);
  ByteCodec::Put(b, modified[1], 112);
  ByteCodec::Put(b, start, 116);
  ByteCodec::Put(b, size, 120);
}

void DirectoryEntry::Read(const unsigned char* b) {
  for (int i = 0; i < 32; ++i) {
    uint16_t unit;
    ByteCodec::Get(b, unit, 2 * i);
    name[i] = static_cast<char16_t>(unit);
  }
  ByteCodec::Get(b, name_size, 64);
  ByteCodec::Get(b, type, 66);
  ByteCodec::Get(b, colour, 67);
  ByteCodec::Get(b, left, 68);
  ByteCodec::Get(b, right, 72);
  ByteCodec::Get(b, child, 76);
  for (int i = 0; i < 4; ++i) ByteCodec::Get(b, class_id[i], 80 + 4 * i);
  ByteCodec::Get(b, state_bits, 96);
  ByteCodec::Get(b, created[0], 100);
  ByteCodec::Get(b, created[1], 104);
  ByteCodec::Get(b, modified[0], 108);
  ByteCodec::Get(b, modified[1], 112);
  ByteCodec::Get(b, start, 116);
  ByteCodec::Get(b, size, 120);
}

std::u16string DirectoryEntry::Name() const {
  return std::u16string(NameView());
}

std::u16string_view DirectoryEntry::NameView() const {
  size_t n = 0;
  while (n < 32 && name[n] != 0) ++n;
  return std::u16string_view(name, n);
}

bool DirectoryEntry::NameTerminated() const {
  for (int i = 0; i < 32; ++i)
    if (name[i] == 0) return true;
  return false;
}

void DirectoryEntry::SetName(const std::u16string& text) {
  const size_t n = text.size() < kMaxNameLength ? text.size() : kMaxNameLength;
  for (size_t i = 0; i < 32; ++i) name[i] = i < n ? text[i] : u'\0';
  name_size = static_cast<uint16_t>(n * 2 + 2);
}

}  // namespace YCompoundFiles
