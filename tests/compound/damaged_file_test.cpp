// Damaged and hostile files: every patch must give a refused open, or an
// open whose reads of the damaged part and whose changes report an error.
// Run under the sanitizers, a crash, hang or wild read fails the suite.
#include <gtest/gtest.h>

#include <functional>

#include "compound_document.h"
#include "test_support.h"

using namespace YCompoundFiles;
using compound_test::put_u32;
using compound_test::u32;

namespace {

using Bytes = std::vector<unsigned char>;

// Document blocks: 0 table, 1 directory, 2-11 "Big", 12 mini stream,
// 13 small table. Entries: 0 root, 1 "S", 2 "Big", 3 "Small" (in S).
std::string base_file() {
  static const std::string path = [] {
    const std::string p = compound_test::scratch_path("damage-base.cdf");
    CompoundDocument doc;
    EXPECT_TRUE(doc.Create(p.c_str()));
    EXPECT_EQ(doc.MakeDirectory("S"), kSuccess);
    EXPECT_EQ(doc.MakeStream("Big"), kSuccess);
    EXPECT_EQ(doc.MakeStream("S\\Small"), kSuccess);
    const std::vector<char> big(5000, 'B'), small(100, 's');
    EXPECT_EQ(doc.WriteStream("Big", big, big.size()), kSuccess);
    EXPECT_EQ(doc.WriteStream("S\\Small", small, small.size()), kSuccess);
    return p;
  }();
  return path;
}

constexpr uint64_t kTable = 512, kDir = 1024;
uint64_t entry_offset(int id) {
  return kDir + 128 * id;
}

struct Damage {
  const char* name;
  std::function<void(Bytes&)> patch;
  bool opens;              // the damage lies where Open does not look
  const char* bad_stream;  // a stream whose read must fail when it opens
};

const Damage kDamages[] = {
    {"bad magic", [](Bytes& b) { b[0] = 0; }, false, nullptr},
    {"major version 4", [](Bytes& b) { b[26] = 4; }, false, nullptr},
    {"byte order", [](Bytes& b) { b[28] = 0xFF; }, false, nullptr},
    {"big-block shift 12", [](Bytes& b) { b[30] = 12; }, false, nullptr},
    {"big-block shift 255", [](Bytes& b) { b[30] = 255; }, false, nullptr},
    {"small-block shift 7", [](Bytes& b) { b[32] = 7; }, false, nullptr},
    {"huge table count", [](Bytes& b) { put_u32(b, 44, 0xFFFFFFF0); }, false, nullptr},
    {"zero table count", [](Bytes& b) { put_u32(b, 44, 0); }, false, nullptr},
    {"huge extension count", [](Bytes& b) { put_u32(b, 72, 0xFFFFFFFF); }, false, nullptr},
    {"extension block out of file",
     [](Bytes& b) {
       put_u32(b, 44, 110);
       put_u32(b, 68, 99999);
       put_u32(b, 72, 1);
     },
     false, nullptr},
    {"bad slot", [](Bytes& b) { put_u32(b, 76, 0x7FFFFFFF); }, false, nullptr},
    {"directory start past file", [](Bytes& b) { put_u32(b, 48, 100000); }, false, nullptr},
    {"directory start special", [](Bytes& b) { put_u32(b, 48, 0xFFFFFFFD); }, false, nullptr},
    {"directory chain cycle", [](Bytes& b) { put_u32(b, kTable + 4, 1); }, false, nullptr},
    {"small table start past table", [](Bytes& b) { put_u32(b, 60, 5000); }, false, nullptr},
    {"root not a root", [](Bytes& b) { b[entry_offset(0) + 66] = 1; }, false, nullptr},
    {"child id out of range", [](Bytes& b) { put_u32(b, entry_offset(0) + 76, 500); }, false,
     nullptr},
    {"directory cycle", [](Bytes& b) { put_u32(b, entry_offset(1) + 76, 1); }, false, nullptr},
    {"entry owned twice", [](Bytes& b) { put_u32(b, entry_offset(1) + 76, 2); }, false, nullptr},
    {"unterminated name",
     [](Bytes& b) {
       for (int i = 0; i < 64; i += 2) b[entry_offset(2) + i] = 'A';
     },
     false, nullptr},
    {"unknown entry type", [](Bytes& b) { b[entry_offset(2) + 66] = 7; }, false, nullptr},
    {"stream with a child", [](Bytes& b) { put_u32(b, entry_offset(2) + 76, 1); }, false, nullptr},
    {"truncated to 100 bytes", [](Bytes& b) { b.resize(100); }, false, nullptr},
    {"empty file", [](Bytes& b) { b.clear(); }, false, nullptr},
    {"cyclic stream chain", [](Bytes& b) { put_u32(b, kTable + 4 * 11, 2); }, true, "Big"},
    {"chain into a table block", [](Bytes& b) { put_u32(b, kTable + 4 * 5, 0); }, true, "Big"},
    {"chain into a free block", [](Bytes& b) { put_u32(b, kTable + 4 * 5, 100); }, true, "Big"},
    {"size beyond its chain", [](Bytes& b) { put_u32(b, entry_offset(2) + 120, 0xFFFFFF00); }, true,
     "Big"},
    {"small size beyond its chain", [](Bytes& b) { put_u32(b, entry_offset(3) + 120, 3000); }, true,
     "S\\Small"},
    {"small chain cycle", [](Bytes& b) { put_u32(b, (13 + 1) * 512 + 4, 0); }, true, "S\\Small"},
    {"mini stream start past file", [](Bytes& b) { put_u32(b, entry_offset(0) + 116, 77777); },
     true, "S\\Small"},
    {"root size beyond mini stream",
     [](Bytes& b) { put_u32(b, entry_offset(0) + 120, 0x7FFFFFFF); }, true, "S\\Small"},
    // Small's 100 bytes lie in small blocks 0 and 1; a mini stream may stop
    // short of block 1's end, not of the stream's last byte or before block 1.
    {"root size cuts a small stream's last byte",
     [](Bytes& b) { put_u32(b, entry_offset(0) + 120, 99); }, true, "S\\Small"},
    {"root size ends before a small stream's last block",
     [](Bytes& b) { put_u32(b, entry_offset(0) + 120, 64); }, true, "S\\Small"},
    {"two streams share blocks",
     [](Bytes& b) {
       put_u32(b, entry_offset(3) + 116, 2);
       put_u32(b, entry_offset(3) + 120, 4096);
     },
     true, nullptr},
    {"truncated in the stream", [](Bytes& b) { b.resize(3000); }, false, nullptr},
};

}  // namespace

TEST(DamagedFiles, EveryPatchIsRefusedCleanly) {
  const Bytes base = compound_test::read_file_bytes(base_file());
  ASSERT_EQ(base.size(), 15u * 512);
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.name);
    Bytes bytes = base;
    d.patch(bytes);
    const std::string path = compound_test::scratch_path("damaged.cdf");
    compound_test::write_file_bytes(path, bytes);
    CompoundDocument doc;
    const bool opened = doc.Open(path.c_str());
    EXPECT_EQ(opened, d.opens);
    EXPECT_EQ(doc.IsOpen(), opened);
    if (!opened) continue;
    std::vector<char> data;
    if (d.bad_stream != nullptr) {
      EXPECT_LT(doc.ReadStream(d.bad_stream, data), 0);
    }
    // Every stream read either succeeds with the recorded size or fails.
    for (const char* s : {"Big", "S\\Small", "\\"}) {
      uint64_t size = 0;
      const int rc = doc.ReadStream(s, data);
      if (rc == kSuccess && doc.StreamSize(s, size) == kSuccess) {
        EXPECT_EQ(data.size(), size);
      }
    }
    // A damaged file is never changed.
    EXPECT_LT(doc.MakeStream("New"), 0);
    EXPECT_LT(doc.WriteStream("Big", "x", 1), 0);
    doc.Close();
    EXPECT_EQ(compound_test::read_file_bytes(path), bytes);
  }
}

TEST(DamagedFiles, UndamagedBaseOpensAndReads) {
  CompoundDocument doc;
  ASSERT_TRUE(doc.Open(base_file().c_str(), CompoundDocument::kRead));
  std::vector<char> data;
  ASSERT_EQ(doc.ReadStream("S\\Small", data), kSuccess);
  EXPECT_EQ(data, std::vector<char>(100, 's'));
  compound_test::Layout layout;
  EXPECT_EQ(compound_test::check_layout(base_file(), layout), "");
}

// Some writers record the mini stream up to the end of the last stream's
// data: such a file is read, though not changed in place.
TEST(DamagedFiles, MiniStreamShortOfItsLastBlockIsRead) {
  Bytes bytes = compound_test::read_file_bytes(base_file());
  put_u32(bytes, entry_offset(0) + 120, 100);
  const std::string path = compound_test::scratch_path("short-mini.cdf");
  compound_test::write_file_bytes(path, bytes);
  CompoundDocument doc;
  ASSERT_TRUE(doc.Open(path.c_str()));
  std::vector<char> data;
  ASSERT_EQ(doc.ReadStream("S\\Small", data), kSuccess);
  EXPECT_EQ(data, std::vector<char>(100, 's'));
  EXPECT_EQ(doc.WriteStream("Big", "x", 1), kLayoutNotChangeable);
}
