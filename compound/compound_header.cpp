#include "compound_header.h"

#include <cstring>

#include "byte_codec.h"

namespace YCompoundFiles {

constexpr unsigned char CompoundHeader::kMagic[8];

CompoundHeader::CompoundHeader()
    : class_id{0, 0, 0, 0},
      minor_version(0x003B),
      major_version(3),
      byte_order(0xFFFE),
      big_block_shift(9),
      small_block_shift(6),
      reserved1(0),
      reserved2(0),
      table_block_count(1),
      directory_start(1),
      reserved3(0),
      small_stream_cutoff(4096),
      small_table_start(kEndOfChain),
      small_table_count(0),
      extension_start(kEndOfChain),
      extension_count(0) {
  std::memcpy(magic, kMagic, sizeof magic);
  slots[0] = 0;
  for (uint32_t i = 1; i < kHeaderSlots; ++i) slots[i] = kFreeBlock;
  Derive();
}

void CompoundHeader::Derive() {
  big_block_size = big_block_shift < 32 ? (uint64_t{1} << big_block_shift) : 0;
  small_block_size = small_block_shift < 32 ? (uint64_t{1} << small_block_shift) : 0;
}

bool CompoundHeader::HasMagic() const {
  return std::memcmp(magic, kMagic, sizeof magic) == 0;
}

void CompoundHeader::Write(unsigned char* b) const {
  std::memcpy(b, magic, sizeof magic);
  for (int i = 0; i < 4; ++i) ByteCodec::Put(b, class_id[i], 8 + 4 * i);
  ByteCodec::Put(b, minor_version, 24);
  ByteCodec::Put(b, major_version, 26);
  ByteCodec::Put(b, byte_order, 28);
  ByteCodec::Put(b, big_block_shift, 30);
  ByteCodec::Put(b, small_block_shift, 32);
  ByteCodec::Put(b, reserved1, 36);
  ByteCodec::Put(b, reserved2, 40);
  ByteCodec::Put(b, table_block_count, 44);
  ByteCodec::Put(b, directory_start, 48);
  ByteCodec::Put(b, reserved3, 52);
  ByteCodec::Put(b, small_stream_cutoff, 56);
  ByteCodec::Put(b, small_table_start, 60);
  ByteCodec::Put(b, small_table_count, 64);
  ByteCodec::Put(b, extension_start, 68);
  ByteCodec::Put(b, extension_count, 72);
  for (uint32_t i = 0; i < kHeaderSlots; ++i) ByteCodec::Put(b, slots[i], 76 + 4 * i);
}

void CompoundHeader::Read(const unsigned char* b) {
  std::memcpy(magic, b, sizeof magic);
  for (int i = 0; i < 4; ++i) ByteCodec::Get(b, class_id[i], 8 + 4 * i);
  ByteCodec::Get(b, minor_version, 24);
  ByteCodec::Get(b, major_version, 26);
  ByteCodec::Get(b, byte_order, 28);
  ByteCodec::Get(b, big_block_shift, 30);
  ByteCodec::Get(b, small_block_shift, 32);
  ByteCodec::Get(b, reserved1, 36);
  ByteCodec::Get(b, reserved2, 40);
  ByteCodec::Get(b, table_block_count, 44);
  ByteCodec::Get(b, directory_start, 48);
  ByteCodec::Get(b, reserved3, 52);
  ByteCodec::Get(b, small_stream_cutoff, 56);
  ByteCodec::Get(b, small_table_start, 60);
  ByteCodec::Get(b, small_table_count, 64);
  ByteCodec::Get(b, extension_start, 68);
  ByteCodec::Get(b, extension_count, 72);
  for (uint32_t i = 0; i < kHeaderSlots; ++i) ByteCodec::Get(b, slots[i], 76 + 4 * i);
  Derive();
}

}  // namespace YCompoundFiles
