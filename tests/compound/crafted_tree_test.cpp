// Looping and shared chains are read in one pass (a walk per stream took
// minutes), and a tree added whole gives the bytes of adding it one entry at
// a time.
#include <gtest/gtest.h>

#include "compound_document.h"
#include "crafted_document.h"
#include "test_support.h"

using namespace YCompoundFiles;
using compound_test::kEnd;
using compound_test::kNone;
using Tree = std::vector<CompoundDocument::TreeEntry>;
constexpr uint64_t kInRoot = CompoundDocument::TreeEntry::kInRoot;

namespace {

CompoundDocument::TreeEntry tree_entry(uint64_t parent, const std::u16string& name, bool storage,
                                       std::vector<char> bytes = {}) {
  CompoundDocument::TreeEntry e;
  e.parent = parent, e.name = name, e.storage = storage, e.bytes = std::move(bytes);
  return e;
}

}  // namespace

TEST(CraftedTrees, StreamsSharingOneLongChainOrLoopAreReadInOnePass) {
  // 16,000 streams of 4096 bytes starting all over one chain of 8,000 blocks:
  // one that ends (each stream reads its own 8 blocks) or a loop (none reads).
  const uint32_t streams = 16000, blocks = 8000;
  const uint32_t first = compound_test::crafted_first_data_block(streams + 1, blocks);
  std::vector<char> data(blocks * 512ull);
  for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<char>(k / 512);
  std::vector<compound_test::CraftedEntry> entries{{u"Root Entry", 5, kNone, kNone, 1}};
  for (uint32_t i = 1; i <= streams; ++i)
    entries.push_back({u"S" + std::u16string(i / 1000 + 1, u'x') + char16_t(0x100 + i % 1000), 2,
                       kNone, i < streams ? i + 1 : kNone, kNone, first + i % (blocks - 8), 4096});
  for (bool loop : {false, true}) {
    const std::string path = compound_test::scratch_path("shared.cdf");
    compound_test::write_file_bytes(
        path, compound_test::crafted_document(entries, blocks, data, [&](uint32_t b) {
          return b + 1 < first + blocks ? b + 1 : loop ? first : kEnd;
        }));
    CompoundDocument doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    EXPECT_EQ(doc.MakeStream("New"), kDamaged);
    Tree tree;
    ASSERT_EQ(doc.ListTree(tree), kSuccess);
    ASSERT_EQ(tree.size(), streams);
    std::vector<char> read;
    for (const CompoundDocument::TreeEntry& e : tree) {
      ASSERT_EQ(doc.ReadStream(e, read), loop ? kDamaged : kSuccess);
      const char start = static_cast<char>(entries[e.id].start - first);
      if (!loop) {
        ASSERT_TRUE(read[0] == start && read[4095] == static_cast<char>(start + 7));
      }
    }
  }
}

TEST(TreeTransfer, AddingATreeWholeWritesTheBytesOfAddingItEntryByEntry) {
  // Names that tie case-blind in different storages and sort before and after
  // "Workbook", streams empty, small and big, enough for several directory,
  // table and small-table blocks.
  Tree tree;
  std::vector<std::u16string> paths;
  const std::u16string names[] = {u"a", u"A", u"Zz", u"aa", u"Data", u"\x05Summary", u"b"};
  for (int i = 0; i < 400; ++i) {
    const uint64_t parent = i < 3 ? kInRoot : i % 3;
    const std::u16string name = i < 3 ? u"Store" + std::u16string(1, char16_t(u'0' + i))
                                      : names[i % 7] + char16_t(u'0' + i / 7 % 10);
    std::vector<char> bytes(i < 3 || i % 5 == 0 ? 0 : i % 5 == 1 ? 4096 + i * 13 : i * 17 % 4000);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k * 7 + i);
    tree.push_back(tree_entry(parent, name + std::u16string(i / 70, u'q'), i < 3, bytes));
    paths.push_back((i < 3 ? u"\\" : paths[parent] + u"\\") + tree.back().name);
  }
  std::vector<std::vector<unsigned char>> files;
  for (bool whole : {false, true}) {
    const std::string path = compound_test::scratch_path("tree.cdf");
    CompoundDocument doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
    ASSERT_EQ(doc.WriteStream("Workbook", std::vector<char>(5000, 'w'), 5000), kSuccess);
    if (whole) {
      // A name taken case-blind, a parent that is no storage, a nesting past
      // the bound: nothing is added.
      EXPECT_EQ(doc.AddTree({tree[0], tree_entry(kInRoot, u"STORE0", false)}), kNameExists);
      EXPECT_EQ(doc.AddTree({tree[3], tree_entry(0, u"x", false)}), kNoSuchStorage);
      Tree deep;
      for (uint64_t d = 0; d <= CompoundDocument::kMaxDepth; ++d)
        deep.push_back(tree_entry(d == 0 ? kInRoot : d - 1, u"D", true));
      EXPECT_EQ(doc.AddTree(deep), kTooDeep);
      ASSERT_EQ(doc.AddTree(tree), kSuccess);
    }
    for (size_t i = 0; !whole && i < tree.size(); ++i) {
      const char16_t* p = paths[i].c_str();
      ASSERT_EQ(tree[i].storage ? doc.MakeDirectory(p) : doc.MakeStream(p), kSuccess);
      ASSERT_EQ(
          tree[i].storage ? kSuccess : doc.WriteStream(p, tree[i].bytes, tree[i].bytes.size()),
          kSuccess);
    }
    doc.Close();
    compound_test::Layout layout;
    EXPECT_EQ(compound_test::check_layout(path, layout), "");
    files.push_back(compound_test::read_file_bytes(path));
  }
  EXPECT_GT(files[0].size(), 300u * 512);
  EXPECT_TRUE(files[0] == files[1]);
}

TEST(TreeTransfer, StorageClassesTravelWithTheTreeAndTheRootKeepsItsOwn) {
  CompoundDocument::StorageClass kind;
  kind.class_id[0] = 0x00020820, kind.class_id[3] = 0x46000000, kind.state_bits = 0x10203;
  Tree tree = {tree_entry(CompoundDocument::TreeEntry::kInRoot, u"Extra", true),
               tree_entry(0, u"Inside", false, {1, 2, 3})};
  tree[0].storage_class = kind;
  const std::string path = compound_test::scratch_path("classes.cdf");
  CompoundDocument doc;
  ASSERT_TRUE(doc.Create(path.c_str()));
  ASSERT_EQ(doc.AddTree(tree), kSuccess);
  ASSERT_EQ(doc.SetStorageClass("\\", kind), kSuccess);
  EXPECT_EQ(doc.SetStorageClass("\\Extra\\Inside", kind), kNoSuchStorage);  // a stream
  EXPECT_EQ(doc.SetStorageClass("\\Nowhere", kind), kNoSuchStorage);
  doc.Close();

  ASSERT_TRUE(doc.Open(path.c_str(), CompoundDocument::kRead));
  CompoundDocument::StorageClass got;
  ASSERT_EQ(doc.GetStorageClass("\\", got), kSuccess);
  EXPECT_EQ(got, kind);
  ASSERT_EQ(doc.GetStorageClass(u"\\Extra", got), kSuccess);
  EXPECT_EQ(got, kind);
  EXPECT_EQ(doc.GetStorageClass("\\Extra\\Inside", got), kNoSuchStorage);
  Tree listed;
  ASSERT_EQ(doc.ListTree(listed), kSuccess);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].storage_class, kind);
  EXPECT_EQ(listed[1].storage_class, CompoundDocument::StorageClass());
}
