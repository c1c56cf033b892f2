// Files written here must open in independent readers (Python's olefile and
// libgsf's gsf tool) with the same streams and bytes, and files written by
// other writers must read back byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "compound_document.h"
#include "model_based_test.h"
#include "test_support.h"

using namespace YCompoundFiles;

namespace {

void write_manifest(const std::string& manifest, const compound_test::Layout& layout) {
  std::ofstream out(manifest);
  int i = 0;
  for (auto& s : layout.streams) {
    const std::string blob = "blob_" + std::to_string(i++) + ".bin";
    const std::string dir = manifest.substr(0, manifest.rfind('/') + 1);
    compound_test::write_file_bytes(dir + blob,
                                    std::vector<unsigned char>(s.second.begin(), s.second.end()));
    out << "S\t" << s.first << "\t" << blob << "\n";
  }
  for (auto& d : layout.storages) out << "D\t" << d << "\n";
}

// The independent readers see what the layout check sees.
void expect_readers_agree(const std::string& file) {
  compound_test::Layout layout;
  ASSERT_EQ(compound_test::check_layout(file, layout), "");
  const std::string manifest = compound_test::scratch_path("manifest.txt");
  write_manifest(manifest, layout);
  std::string output;
  EXPECT_EQ(compound_test::run_tool("check '" + file + "' '" + manifest + "'", output), 0)
      << output;
}

// Reads every stream a manifest lists through this library.
void expect_document_matches_manifest(const std::string& file, const std::string& manifest) {
  CompoundDocument doc;
  ASSERT_TRUE(doc.Open(file.c_str(), CompoundDocument::kRead));
  std::ifstream in(manifest);
  std::string kind, path, blob;
  int streams = 0;
  while (in >> kind >> path) {
    if (kind != "S") continue;
    in >> blob;
    const auto expected =
        compound_test::read_file_bytes(manifest.substr(0, manifest.rfind('/') + 1) + blob);
    std::vector<char> data;
    ASSERT_EQ(doc.ReadStream(path.c_str(), data), kSuccess) << path;
    EXPECT_TRUE(data.size() == expected.size() &&
                (data.empty() || std::memcmp(data.data(), expected.data(), data.size()) == 0))
        << path;
    ++streams;
  }
  EXPECT_GT(streams, 0);
}

std::vector<char> pattern(size_t size) {
  std::vector<char> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 509) & 0xFF);
  return data;
}

}  // namespace

TEST(Interop, RandomModelFilesOpenInOlefileAndGsf) {
  REQUIRE_TOOLS("olefile", "gsf");
  RunModel(11, 60, [](const std::string& file, int step) {
    if (step % 6 == 5) expect_readers_agree(file);
  });
}

TEST(Interop, StreamsBeyondOneHundredNineTableBlocksUseExtensionBlocks) {
  REQUIRE_TOOLS("olefile", "gsf");
  const std::string file = compound_test::scratch_path("large.cdf");
  CompoundDocument doc;
  ASSERT_TRUE(doc.Create(file.c_str()));
  ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
  ASSERT_EQ(doc.MakeStream("Note"), kSuccess);
  ASSERT_EQ(doc.WriteStream("Note", pattern(300), 300), kSuccess);
  const std::vector<char> big = pattern(9u << 20);
  ASSERT_EQ(doc.WriteStream("Workbook", big, big.size()), kSuccess);
  const auto bytes = compound_test::read_file_bytes(file);
  EXPECT_GT(compound_test::u32(bytes, 44), 109u);  // every table block counted
  EXPECT_EQ(compound_test::u32(bytes, 72), 1u);
  expect_readers_agree(file);
  // Shrinking releases the extension block and the table blocks again.
  ASSERT_EQ(doc.WriteStream("Workbook", big, 1u << 20), kSuccess);
  doc.Close();
  EXPECT_EQ(compound_test::u32(compound_test::read_file_bytes(file), 72), 0u);
  expect_readers_agree(file);
}

// Some writers record the mini stream's size up to the end of the last small
// stream's data, short of its last small block: the other readers take such
// a file, and so does this one.
TEST(Interop, MiniStreamShortOfItsLastSmallBlockIsRead) {
  REQUIRE_TOOLS("olefile", "gsf");
  const std::string file = compound_test::scratch_path("short-mini.cdf");
  compound_test::Layout layout;
  layout.streams["\\Big"] = pattern(5000);
  layout.streams["\\S\\Small"] = pattern(100);
  layout.storages.insert("\\S");
  {
    CompoundDocument doc;
    ASSERT_TRUE(doc.Create(file.c_str()));
    ASSERT_EQ(doc.MakeDirectory("S"), kSuccess);
    for (const auto& s : layout.streams) {
      ASSERT_EQ(doc.MakeStream(s.first.c_str()), kSuccess);
      ASSERT_EQ(doc.WriteStream(s.first.c_str(), s.second, s.second.size()), kSuccess);
    }
  }
  auto bytes = compound_test::read_file_bytes(file);
  const uint64_t root = (uint64_t{compound_test::u32(bytes, 48)} + 1) * 512;
  ASSERT_EQ(compound_test::u32(bytes, root + 120), 128u);
  compound_test::put_u32(bytes, root + 120, 100);
  compound_test::write_file_bytes(file, bytes);

  const std::string manifest = compound_test::scratch_path("short-mini-manifest.txt");
  write_manifest(manifest, layout);
  std::string output;
  EXPECT_EQ(compound_test::run_tool("check '" + file + "' '" + manifest + "'", output), 0)
      << output;
  expect_document_matches_manifest(file, manifest);
}

TEST(Interop, WorkbookWrittenByXlwtReadsBack) {
  REQUIRE_TOOLS("olefile", "xlwt");
  const std::string file = compound_test::scratch_path("xlwt.xls");
  const std::string manifest = compound_test::scratch_path("xlwt-manifest.txt");
  std::string output;
  ASSERT_EQ(compound_test::run_tool("make-xlwt '" + file + "' '" + manifest + "'", output), 0)
      << output;
  expect_document_matches_manifest(file, manifest);
}

TEST(Interop, DocumentWrittenByGsfReadsBackAndChangesSafely) {
  REQUIRE_TOOLS("olefile", "gsf");
  const std::string file = compound_test::scratch_path("gsf.ole");
  const std::string manifest = compound_test::scratch_path("gsf-manifest.txt");
  std::string output;
  ASSERT_EQ(compound_test::run_tool("make-gsf '" + file + "' '" + manifest + "'", output), 0)
      << output;
  expect_document_matches_manifest(file, manifest);
  // A change either works and leaves a file every reader agrees on, or is
  // refused and leaves the file as it was.
  const auto before = compound_test::read_file_bytes(file);
  CompoundDocument doc;
  ASSERT_TRUE(doc.Open(file.c_str()));
  const int rc = doc.WriteStream("Small", pattern(5000), 5000);
  doc.Close();
  if (rc == kSuccess) {
    expect_readers_agree(file);
  } else {
    EXPECT_EQ(rc, kLayoutNotChangeable);
    EXPECT_EQ(compound_test::read_file_bytes(file), before);
  }
}

// The older layout continues the table past 109 blocks in a run of
// consecutive blocks holding table entries. Built by hand: blocks 0-108
// table, 109 directory, 110-14099 one stream, 14100-14101 the run.
TEST(Interop, TableRunLayoutIsReadAndRewrittenAsPublished) {
  const uint32_t kStreamBlocks = 13990, kRun = 110 + kStreamBlocks, kTotal = kRun + 2;
  std::vector<uint32_t> table(111 * 128, 0xFFFFFFFF);
  for (uint32_t i = 0; i < 109; ++i) table[i] = 0xFFFFFFFD;
  table[109] = 0xFFFFFFFE;
  for (uint32_t i = 110; i < kRun; ++i) table[i] = i + 1 < kRun ? i + 1 : 0xFFFFFFFE;
  table[kRun] = table[kRun + 1] = 0xFFFFFFFD;
  std::vector<unsigned char> b((kTotal + 1) * 512, 0);
  const unsigned char magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(magic, magic + 8, b.begin());
  b[24] = 0x3B, b[26] = 3, b[28] = 0xFE, b[29] = 0xFF, b[30] = 9, b[32] = 6;
  compound_test::put_u32(b, 44, 109);
  compound_test::put_u32(b, 48, 109);
  compound_test::put_u32(b, 56, 4096);
  compound_test::put_u32(b, 60, 0xFFFFFFFE);
  compound_test::put_u32(b, 68, kRun);
  compound_test::put_u32(b, 72, 2);
  for (uint32_t k = 0; k < 109; ++k) compound_test::put_u32(b, 76 + 4 * k, k);
  auto block = [](uint32_t id) { return (uint64_t{id} + 1) * 512; };
  for (uint32_t i = 0; i < table.size(); ++i) {
    const uint32_t holder = i / 128 < 109 ? i / 128 : kRun + (i / 128 - 109);
    compound_test::put_u32(b, block(holder) + 4 * (i % 128), table[i]);
  }
  const uint64_t dir = block(109);
  const char16_t* names[] = {u"Root Entry", u"Workbook"};
  for (int e = 0; e < 2; ++e) {
    for (int i = 0; names[e][i]; ++i)
      b[dir + 128 * e + 2 * i] = static_cast<unsigned char>(names[e][i]);
    b[dir + 128 * e + 64] = e == 0 ? 22 : 18;
    b[dir + 128 * e + 66] = e == 0 ? 5 : 2;
    b[dir + 128 * e + 67] = 1;
    for (int f = 68; f < 80; ++f) b[dir + 128 * e + f] = 0xFF;
    compound_test::put_u32(b, dir + 128 * e + 116, e == 0 ? 0xFFFFFFFE : 110);
    compound_test::put_u32(b, dir + 128 * e + 120, e == 0 ? 0 : kStreamBlocks * 512);
  }
  compound_test::put_u32(b, dir + 76, 1);
  for (int e = 2; e < 4; ++e)
    for (int f = 68; f < 80; ++f) b[dir + 128 * e + f] = 0xFF;
  const std::vector<char> content = pattern(kStreamBlocks * 512);
  std::copy(content.begin(), content.end(), b.begin() + static_cast<std::ptrdiff_t>(block(110)));
  const std::string file = compound_test::scratch_path("run-layout.cdf");
  compound_test::write_file_bytes(file, b);

  CompoundDocument doc;
  ASSERT_TRUE(doc.Open(file.c_str()));
  std::vector<char> back;
  ASSERT_EQ(doc.ReadStream("Workbook", back), kSuccess);
  EXPECT_TRUE(back == content);
  // The first change rewrites the table in the published layout.
  ASSERT_EQ(doc.MakeStream("Extra"), kSuccess);
  doc.Close();
  const auto after = compound_test::read_file_bytes(file);
  EXPECT_EQ(compound_test::u32(after, 44), 111u);
  EXPECT_EQ(compound_test::u32(after, 72), 1u);
  ASSERT_TRUE(doc.Open(file.c_str()));
  ASSERT_EQ(doc.ReadStream("Workbook", back), kSuccess);
  EXPECT_TRUE(back == content);
  doc.Close();
  std::string missing;
  if (compound_test::tools_present({"olefile", "gsf"}, missing)) expect_readers_agree(file);
}
