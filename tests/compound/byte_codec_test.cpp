#include "byte_codec.h"

#include <gtest/gtest.h>

using YCompoundFiles::ByteCodec;

TEST(ByteCodec, LittleEndianFieldsOfEveryWidth) {
  const unsigned char bytes[] = {0, 0, 0, 0, 0, 0x34, 0x12, 0x78, 0x56, 0xFF};
  uint16_t v16 = 7;
  ByteCodec::Get(bytes, v16, 5, 2);
  EXPECT_EQ(v16, 0x1234);
  uint32_t v32 = 0;
  ByteCodec::Get(bytes, v32, 5);
  EXPECT_EQ(v32, 0x56781234u);
  ByteCodec::Get(bytes, v32, 5, 1);  // narrower width reads only that many bytes
  EXPECT_EQ(v32, 0x34u);

  unsigned char out[8] = {};
  ByteCodec::Put(out, uint32_t{4096}, 0, 4);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0x10);
  EXPECT_EQ(out[2], 0x00);
  EXPECT_EQ(out[3], 0x00);
  ByteCodec::Put(out, uint64_t{0x0102030405060708ull}, 0);
  EXPECT_EQ(out[0], 0x08);
  EXPECT_EQ(out[7], 0x01);
}

TEST(ByteCodec, VectorFormsRefuseAccessOutsideTheVector) {
  std::vector<char> buffer(6, 0);
  EXPECT_TRUE(ByteCodec::Put(buffer, uint16_t{0xBEEF}, 4));
  EXPECT_FALSE(ByteCodec::Put(buffer, uint32_t{1}, 4));
  uint32_t v = 99;
  EXPECT_FALSE(ByteCodec::Get(buffer, v, 3));
  EXPECT_EQ(v, 0u);
  EXPECT_FALSE(ByteCodec::Get(buffer, v, SIZE_MAX - 1));  // no wrap-around
  const uint16_t units[3] = {0x41, 0x42, 0x43};
  EXPECT_FALSE(ByteCodec::PutArray(buffer, units, 2, 3));
  EXPECT_TRUE(ByteCodec::PutArray(buffer, units, 0, 3));
  uint16_t back[3] = {};
  EXPECT_TRUE(ByteCodec::GetArray(buffer, back, 0, 3));
  EXPECT_EQ(back[2], 0x43);
  EXPECT_EQ(buffer[4], 0x43);
}
