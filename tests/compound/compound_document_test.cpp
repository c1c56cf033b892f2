#include "compound_document.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "test_support.h"

using namespace YCompoundFiles;
using compound_test::read_file_bytes;
using compound_test::u32;

namespace {

std::vector<char> pattern(size_t size, int seed = 1) {
  std::vector<char> data(size);
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>((i * 31 + seed * 7 + i / 253) & 0xFF);
  return data;
}

std::string new_document(const std::string& name, CompoundDocument& doc) {
  const std::string path = compound_test::scratch_path(name);
  EXPECT_TRUE(doc.Create(path.c_str()));
  return path;
}

void expect_free_entry(const std::vector<unsigned char>& b, uint64_t o) {
  for (int i = 0; i < 68; ++i) ASSERT_EQ(b[o + i], 0) << "byte " << i;
  for (int i = 68; i < 80; ++i) ASSERT_EQ(b[o + i], 0xFF) << "byte " << i;
  for (int i = 80; i < 128; ++i) ASSERT_EQ(b[o + i], 0) << "byte " << i;
}

}  // namespace

TEST(CompoundDocument, NewDocumentHasExactBytes) {
  CompoundDocument doc;
  const std::string path = new_document("new.cdf", doc);
  doc.Close();
  const auto b = read_file_bytes(path);
  ASSERT_EQ(b.size(), 1536u);
  // Header: magic, zero class id, minor 0x3B, major 3, byte order, shifts 9
  // and 6, one table block, directory at 1, cutoff 4096, no small table, no
  // extension blocks, slot 0 = block 0, every other slot free.
  const std::vector<unsigned char> head = {
      0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0,    0,    0, 0, 0,    0,    0,    0,
      0,    0,    0,    0,    0,    0,    0,    0,    0x3B, 0,    3, 0, 0xFE, 0xFF, 9,    0,
      6,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 1,    0,    0,    0,
      1,    0,    0,    0,    0,    0,    0,    0,    0,    0x10, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF,
      0,    0,    0,    0,    0xFE, 0xFF, 0xFF, 0xFF, 0,    0,    0, 0, 0,    0,    0,    0};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), b.begin()));
  for (int i = 80; i < 512; ++i) ASSERT_EQ(b[i], 0xFF);
  // Table block: itself, then the directory's one-block chain.
  EXPECT_EQ(u32(b, 512), 0xFFFFFFFDu);
  EXPECT_EQ(u32(b, 516), 0xFFFFFFFEu);
  for (int i = 520; i < 1024; ++i) ASSERT_EQ(b[i], 0xFF);
  // Root entry, then three free slots as the published format writes them.
  const char* root = "Root Entry";
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(b[1024 + 2 * i], i < 10 ? root[i] : 0);
    EXPECT_EQ(b[1024 + 2 * i + 1], 0);
  }
  EXPECT_EQ(b[1024 + 64], 22);
  EXPECT_EQ(b[1024 + 66], 5);
  EXPECT_EQ(b[1024 + 67], 1);
  EXPECT_EQ(u32(b, 1024 + 68), 0xFFFFFFFFu);
  EXPECT_EQ(u32(b, 1024 + 76), 0xFFFFFFFFu);
  EXPECT_EQ(u32(b, 1024 + 116), 0xFFFFFFFEu);
  EXPECT_EQ(u32(b, 1024 + 120), 0u);
  for (int slot = 1; slot < 4; ++slot) expect_free_entry(b, 1024 + 128 * slot);
}

TEST(CompoundDocument, BigChainExamplesGiveExactBlocks) {
  CompoundDocument doc;
  const std::string path = new_document("chain.cdf", doc);
  ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
  EXPECT_EQ(doc.MakeStream("Workbook"), kNameExists);
  const std::vector<char> data = pattern(5000);
  ASSERT_EQ(doc.WriteStream("Workbook", data, data.size()), kSuccess);
  auto b = read_file_bytes(path);
  ASSERT_EQ(b.size(), 512u * 13);  // header, table, directory, ten data blocks
  for (uint32_t k = 2; k < 11; ++k) EXPECT_EQ(u32(b, 512 + 4 * k), k + 1);
  EXPECT_EQ(u32(b, 512 + 44), 0xFFFFFFFEu);
  EXPECT_EQ(u32(b, 1024 + 128 + 116), 2u);     // start block
  EXPECT_EQ(u32(b, 1024 + 128 + 120), 5000u);  // size
  EXPECT_EQ(b[1024 + 128 + 64], 18);           // "Workbook": 8 units + terminator
  EXPECT_EQ(std::memcmp(data.data(), &b[1536], data.size()), 0);
  for (size_t i = 1536 + 5000; i < b.size(); ++i) ASSERT_EQ(b[i], 0);  // zero tail

  // Shrinking keeps the first blocks and erases the rest from the file.
  const std::vector<char> shorter = pattern(4200, 2);
  ASSERT_EQ(doc.WriteStream("Workbook", shorter, shorter.size()), kSuccess);
  b = read_file_bytes(path);
  ASSERT_EQ(b.size(), 512u * 12);
  EXPECT_EQ(u32(b, 512 + 36), 10u);
  EXPECT_EQ(u32(b, 512 + 40), 0xFFFFFFFEu);
  EXPECT_EQ(u32(b, 512 + 44), 0xFFFFFFFFu);
  std::vector<char> back;
  ASSERT_EQ(doc.ReadStream("Workbook", back), kSuccess);
  EXPECT_EQ(back, shorter);
}

TEST(CompoundDocument, MigrationBetweenBigAndSmallBlocks) {
  CompoundDocument doc;
  const std::string path = new_document("migrate.cdf", doc);
  ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
  const std::vector<char> big = pattern(5000);
  ASSERT_EQ(doc.WriteStream("Workbook", big, big.size()), kSuccess);
  const std::vector<char> small = pattern(100, 3);
  ASSERT_EQ(doc.WriteStream("Workbook", small, small.size()), kSuccess);
  // The big blocks are gone; the mini stream is block 2, the small table block 3.
  const auto b = read_file_bytes(path);
  ASSERT_EQ(b.size(), 512u * 5);
  EXPECT_EQ(u32(b, 512 + 8), 0xFFFFFFFEu);
  EXPECT_EQ(u32(b, 512 + 12), 0xFFFFFFFEu);
  EXPECT_EQ(u32(b, 60), 3u);
  EXPECT_EQ(u32(b, 64), 1u);
  EXPECT_EQ(u32(b, 1024 + 116), 2u);    // root: mini stream start
  EXPECT_EQ(u32(b, 1024 + 120), 128u);  // two small blocks
  EXPECT_EQ(u32(b, 1024 + 128 + 116), 0u);
  EXPECT_EQ(u32(b, 2048), 1u);  // small entry 0 -> 1
  EXPECT_EQ(u32(b, 2052), 0xFFFFFFFEu);
  EXPECT_EQ(u32(b, 2056), 0xFFFFFFFFu);
  EXPECT_EQ(std::memcmp(small.data(), &b[1536], small.size()), 0);
  for (size_t i = 1536 + 100; i < 2048; ++i) ASSERT_EQ(b[i], 0);

  // And back: the small blocks, the mini stream and the small table all go.
  ASSERT_EQ(doc.WriteStream("Workbook", big, big.size()), kSuccess);
  doc.Close();
  compound_test::Layout layout;
  ASSERT_EQ(compound_test::check_layout(path, layout), "");
  EXPECT_EQ(layout.streams.at("\\Workbook"), big);
  const auto after = read_file_bytes(path);
  EXPECT_EQ(u32(after, 60), 0xFFFFFFFEu);
  EXPECT_EQ(u32(after, 1024 + 116), 0xFFFFFFFEu);
  EXPECT_EQ(u32(after, 1024 + 120), 0u);
}

TEST(CompoundDocument, PathRulesAndResultCodes) {
  CompoundDocument doc;
  new_document("paths.cdf", doc);
  EXPECT_EQ(doc.MakeStream(""), kNoFinalName);
  EXPECT_EQ(doc.MakeStream("A\\"), kNoFinalName);
  EXPECT_EQ(doc.MakeStream(std::string(31, 'n').c_str()), kSuccess);
  EXPECT_EQ(doc.MakeStream(std::string(32, 'm').c_str()), kNameTooLong);
  EXPECT_EQ(doc.MakeStream("A\\B"), kSuccess);     // makes the storage A on the way
  EXPECT_EQ(doc.MakeStream("a\\C"), kNameExists);  // "a" collides with "A" for readers
  std::string cwd;
  ASSERT_EQ(doc.CurrentDirectory(cwd), kSuccess);
  EXPECT_EQ(cwd, "\\");
  EXPECT_EQ(doc.ChangeDirectory("A\\B"), kNoSuchStorage);  // a stream is no storage
  EXPECT_EQ(doc.ChangeDirectory("Nope"), kNoSuchStorage);
  EXPECT_EQ(doc.ChangeDirectory(".."), kSuccess);
  ASSERT_EQ(doc.MakeDirectory("\\A\\Sub\\Deep"), kSuccess);
  ASSERT_EQ(doc.ChangeDirectory("A\\Sub\\"), kSuccess);
  ASSERT_EQ(doc.CurrentDirectory(cwd), kSuccess);
  EXPECT_EQ(cwd, "\\A\\Sub");
  EXPECT_EQ(doc.MakeStream("Rel"), kSuccess);
  uint64_t size = 9;
  EXPECT_EQ(doc.StreamSize("\\A\\Sub\\Rel", size), kSuccess);
  EXPECT_EQ(size, 0u);
  std::vector<std::string> names;
  ASSERT_EQ(doc.ListDirectory(names), kSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"Rel", "Deep"}));  // ascending id: shorter names first
  EXPECT_EQ(doc.ListDirectory(names, "\\Missing"), kNoSuchStorage);
  EXPECT_EQ(names.size(), 2u);

  // Wrong kinds are refused.
  EXPECT_EQ(doc.RemoveStream("Deep"), kNoSuchStream);
  EXPECT_EQ(doc.RemoveDirectory("Rel"), kNoSuchStorage);
  EXPECT_EQ(doc.WriteStream("Deep", "x", 1), kNoSuchStream);
  EXPECT_EQ(doc.WriteStream("\\", "x", 1), kNoSuchStream);
  EXPECT_EQ(doc.RemoveDirectory("\\A"), kStorageNotEmpty);

  // Removing the current storage's parent moves the current storage up to
  // the nearest survivor.
  ASSERT_EQ(doc.ChangeDirectory("Deep"), kSuccess);
  ASSERT_EQ(doc.RemoveTree("\\A\\Sub"), kSuccess);
  ASSERT_EQ(doc.CurrentDirectory(cwd), kSuccess);
  EXPECT_EQ(cwd, "\\A");
  EXPECT_EQ(doc.MakeStream("AfterRemoval"), kSuccess);
  EXPECT_EQ(doc.StreamSize("\\A\\AfterRemoval", size), kSuccess);
  ASSERT_EQ(doc.RemoveDirectory("\\A\\AfterRemoval"), kNoSuchStorage);
  ASSERT_EQ(doc.RemoveStream("\\A\\AfterRemoval"), kSuccess);
  ASSERT_EQ(doc.RemoveStream("\\A\\B"), kSuccess);
  ASSERT_EQ(doc.RemoveDirectory("\\A"), kSuccess);
  ASSERT_EQ(doc.CurrentDirectory(cwd), kSuccess);
  EXPECT_EQ(cwd, "\\");
}

TEST(CompoundDocument, ReadsAndRefusalsReportFailures) {
  CompoundDocument doc;
  std::vector<char> data{'x'};
  EXPECT_EQ(doc.ReadStream("Workbook", data), kNotOpen);
  EXPECT_EQ(doc.MakeStream("Workbook"), kNotOpen);
  const std::string path = new_document("refusals.cdf", doc);
  EXPECT_EQ(doc.ReadStream("Workbook", data), kNoSuchStream);
  EXPECT_TRUE(data.empty());
  ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
  data.assign(3, 'x');
  ASSERT_EQ(doc.ReadStream("Workbook", data), kSuccess);
  EXPECT_TRUE(data.empty());
  const std::vector<char> content = pattern(4095);
  ASSERT_EQ(doc.WriteStream("Workbook", content, content.size()), kSuccess);
  EXPECT_EQ(doc.WriteStream("Workbook", content, content.size() + 1), kTooLarge);
  EXPECT_EQ(doc.WriteStream("Workbook", content.data(), 0x100000000ull), kTooLarge);
  char small_buffer[100];
  EXPECT_EQ(doc.ReadStream("Workbook", small_buffer, sizeof small_buffer), kTooLarge);
  uint64_t size = 0;
  ASSERT_EQ(doc.StreamSize("\\", size), kSuccess);
  EXPECT_EQ(size, 64u * 64);                        // 4095 bytes take 64 small blocks
  EXPECT_EQ(doc.MakeStream("\xff\xfe"), kBadText);  // not valid text in the C locale
  doc.Close();

  ASSERT_TRUE(doc.Open(path.c_str(), CompoundDocument::kRead));
  EXPECT_EQ(doc.MakeStream("Other"), kReadOnly);
  std::vector<char> back;
  ASSERT_EQ(doc.ReadStream("Workbook", back), kSuccess);
  EXPECT_EQ(back, content);
  EXPECT_FALSE(doc.Open(compound_test::scratch_path("does-not-exist").c_str()));
  EXPECT_FALSE(doc.IsOpen());
}

// One open document through many changes: every save writes only what
// changed (tables, directory, the pieces of the mini stream), so the file
// must be complete after each call without reopening in between.
TEST(CompoundDocument, ManyChangesInOneSessionLeaveACompleteFile) {
  CompoundDocument doc;
  const std::string path = new_document("session.cdf", doc);
  const std::vector<size_t> sizes = {0, 1, 100, 3000, 4095, 4096, 5000, 70000, 600000};
  std::map<std::string, std::vector<char>> expected;
  uint32_t state = 12345;
  auto next = [&](uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  for (int step = 0; step < 60; ++step) {
    const std::string name = "S" + std::to_string(next(6));
    if (!expected.count(name)) {
      ASSERT_EQ(doc.MakeStream(name.c_str()), kSuccess);
      expected[name];
    }
    if (next(8) == 0) {
      ASSERT_EQ(doc.RemoveStream(name.c_str()), kSuccess);
      expected.erase(name);
    } else {
      const std::vector<char> data =
          pattern(sizes[next(static_cast<uint32_t>(sizes.size()))], step);
      ASSERT_EQ(doc.WriteStream(name.c_str(), data, data.size()), kSuccess);
      expected[name] = data;
    }
    compound_test::Layout layout;
    ASSERT_EQ(compound_test::check_layout(path, layout), "") << "step " << step;
    ASSERT_EQ(layout.streams.size(), expected.size()) << "step " << step;
    for (auto& s : expected)
      ASSERT_TRUE(layout.streams.at("\\" + s.first) == s.second) << "step " << step;
  }
}

// Erasing a long chain releases the table blocks it leaves empty in the
// same pass: a stream of 8 MB rewritten as 3 KB leaves the file of a
// document that never held more.
TEST(CompoundDocument, ShrinkingALargeStreamReleasesItsTableBlocks) {
  const std::vector<char> small = pattern(3000, 2);
  CompoundDocument fresh;
  const std::string fresh_path = new_document("fresh.cdf", fresh);
  ASSERT_EQ(fresh.MakeStream("Workbook"), kSuccess);
  ASSERT_EQ(fresh.WriteStream("Workbook", small, small.size()), kSuccess);
  fresh.Close();

  CompoundDocument doc;
  const std::string path = new_document("shrunk.cdf", doc);
  ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
  const std::vector<char> big = pattern(8u << 20);
  ASSERT_EQ(doc.WriteStream("Workbook", big, big.size()), kSuccess);
  EXPECT_GT(u32(read_file_bytes(path), 44), 100u);
  ASSERT_EQ(doc.WriteStream("Workbook", small, small.size()), kSuccess);
  doc.Close();
  compound_test::Layout layout;
  ASSERT_EQ(compound_test::check_layout(path, layout), "");
  EXPECT_EQ(layout.streams.at("\\Workbook"), small);
  EXPECT_EQ(read_file_bytes(path), read_file_bytes(fresh_path));
}
