#include "block_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "test_support.h"

using YCompoundFiles::BlockFile;

namespace {

std::vector<char> block(char fill) {
  return std::vector<char>(512, fill);
}

// A file of blocks filled with 'a', 'b', ... in order.
std::string make_file(const std::string& name, int blocks) {
  const std::string path = compound_test::scratch_path(name);
  BlockFile f;
  EXPECT_TRUE(f.Create(path.c_str()));
  for (int i = 0; i < blocks; ++i)
    EXPECT_TRUE(f.WriteBlock(i, block(static_cast<char>('a' + i)).data()));
  EXPECT_TRUE(f.Close());
  return path;
}

std::string fills(const std::string& path) {
  const auto bytes = compound_test::read_file_bytes(path);
  std::string s;
  for (size_t i = 0; i < bytes.size(); i += 512) s.push_back(static_cast<char>(bytes[i]));
  return s;
}

}  // namespace

TEST(BlockFile, OpenCountsPartialBlocksAndRefusesModeZero) {
  const std::string path = compound_test::scratch_path("partial.bin");
  compound_test::write_file_bytes(path, std::vector<unsigned char>(513, 1));
  BlockFile f;
  EXPECT_FALSE(f.Open(path.c_str(), 0));
  EXPECT_FALSE(f.IsOpen());
  ASSERT_TRUE(f.Open(path.c_str(), BlockFile::kRead));
  EXPECT_EQ(f.BlockCount(), 2u);
  EXPECT_EQ(f.FileSize(), 513u);
  std::vector<char> buffer(512, 9);
  ASSERT_TRUE(f.ReadBlock(1, buffer.data()));  // the missing tail reads as zero
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[1], 0);
  EXPECT_FALSE(f.ReadBlock(2, buffer.data()));
  EXPECT_FALSE(f.WriteBlock(0, buffer.data()));  // no write bit
  EXPECT_FALSE(f.Open(compound_test::scratch_path("missing.bin").c_str(), BlockFile::kRead));
}

TEST(BlockFile, MoveInsertEraseKeepTheOtherBlocksInOrder) {
  const std::string path = make_file("moves.bin", 6);
  BlockFile f;
  ASSERT_TRUE(f.Open(path.c_str(), BlockFile::kRead | BlockFile::kWrite));
  EXPECT_TRUE(f.SwapBlocks(2, 2));
  ASSERT_TRUE(f.MoveBlock(5, 2));
  ASSERT_TRUE(f.Flush());
  EXPECT_EQ(fills(path), "abfcde");
  ASSERT_TRUE(f.MoveBlock(2, 5));
  ASSERT_TRUE(f.Flush());
  EXPECT_EQ(fills(path), "abcdef");
  ASSERT_TRUE(f.InsertBlock(0, block('z').data()));
  ASSERT_TRUE(f.InsertBlock(f.BlockCount(), block('y').data()));
  ASSERT_TRUE(f.Flush());
  EXPECT_EQ(fills(path), "zabcdefy");
  ASSERT_TRUE(f.EraseBlocks({0, 3, 7, 3}));  // repeats count once
  EXPECT_EQ(f.BlockCount(), 5u);
  ASSERT_TRUE(f.EraseBlock(0));
  ASSERT_TRUE(f.Flush());
  EXPECT_EQ(fills(path), "bdef");
  EXPECT_EQ(compound_test::read_file_bytes(path).size(), 4u * 512);
  EXPECT_FALSE(f.EraseBlocks({4}));  // past the end: refused, nothing changes
  EXPECT_TRUE(f.EraseBlocks({}));
  EXPECT_EQ(f.BlockCount(), 4u);
}

TEST(BlockFile, WideNamesAreConvertedAndWritesPastTheEndAreCounted) {
  const std::string narrow = compound_test::scratch_path("wide.bin");
  const std::u16string wide(narrow.begin(), narrow.end());
  BlockFile f;
  ASSERT_TRUE(f.Create(wide.c_str()));
  ASSERT_TRUE(f.WriteBlock(2, block('c').data()));
  EXPECT_EQ(f.BlockCount(), 3u);
  EXPECT_EQ(f.FileSize(), 3u * 512);
  const char16_t lone_surrogate[] = {u'/', 0xD800, u'x', 0};
  EXPECT_FALSE(f.Create(lone_surrogate));
}

TEST(BlockFile, DescriptorsAreDuplicatedAndTheirAccessKept) {
  const std::string path = make_file("descriptor.bin", 2);
  const int read_only = open(path.c_str(), O_RDONLY);
  ASSERT_GE(read_only, 0);
  BlockFile f;
  EXPECT_FALSE(f.OpenOn(read_only, BlockFile::kRead | BlockFile::kWrite));
  EXPECT_FALSE(f.CreateOn(read_only));
  ASSERT_TRUE(f.OpenOn(read_only, BlockFile::kRead));
  EXPECT_EQ(f.BlockCount(), 2u);
  EXPECT_TRUE(f.Close());
  EXPECT_NE(fcntl(read_only, F_GETFD), -1);  // still the caller's
  close(read_only);
  int pipe_end[2];
  ASSERT_EQ(pipe(pipe_end), 0);
  EXPECT_FALSE(f.OpenOn(pipe_end[0], BlockFile::kRead));
  close(pipe_end[0]);
  close(pipe_end[1]);
}
