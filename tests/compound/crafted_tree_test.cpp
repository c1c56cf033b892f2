// Deep, wide and looping directories: refused or read in one pass (a
// recursive walk overflows the stack, a walk per entry takes minutes), and a
// tree added whole gives the bytes of adding it one entry at a time.
#include <gtest/gtest.h>

#include "compound_document.h"
#include "crafted_document.h"
#include "test_support.h"

using namespace YCompoundFiles;
using compound_test::CraftedEntry;
using Tree = std::vector<CompoundDocument::TreeEntry>;

namespace {

std::string write_crafted(
    const std::string& name, const std::vector<CraftedEntry>& entries, uint64_t data_blocks = 0,
    std::function<uint32_t(uint32_t)> next = [](uint32_t) { return compound_test::kEnd; }) {
  const std::string path = compound_test::scratch_path(name);
  compound_test::write_file_bytes(path,
                                  compound_test::crafted_document(entries, data_blocks, {}, next));
  return path;
}

std::u16string numbered(const char16_t* prefix, uint64_t n) {
  std::u16string name = prefix;
  for (char c : std::to_string(n)) name.push_back(static_cast<char16_t>(c));
  return name;
}

CompoundDocument::TreeEntry tree_entry(uint64_t parent, const std::u16string& name, bool storage,
                                       std::vector<char> bytes = {}) {
  CompoundDocument::TreeEntry e;
  e.parent = parent, e.name = name, e.storage = storage, e.bytes = std::move(bytes);
  return e;
}

}  // namespace

TEST(CraftedTrees, DeepTreesOpenUpToTheBoundAndAreRefusedBeyondIt) {
  for (uint64_t depth :
       {CompoundDocument::kMaxDepth, CompoundDocument::kMaxDepth + 1, uint64_t{30000}}) {
    SCOPED_TRACE(depth);
    std::vector<CraftedEntry> entries{
        {u"Root Entry", 5, compound_test::kNone, compound_test::kNone, 1}};
    for (uint32_t i = 1; i <= depth; ++i)
      entries.push_back({numbered(u"A storage name of thirty-one ", i % 100), 1,
                         compound_test::kNone, compound_test::kNone,
                         i < depth ? i + 1 : compound_test::kNone});
    CompoundDocument doc;
    const bool opened = doc.Open(write_crafted("deep.cdf", entries).c_str());
    ASSERT_EQ(opened, depth <= CompoundDocument::kMaxDepth);
    if (!opened) {
      EXPECT_EQ(doc.OpenFailure(), kTooDeep);
      continue;
    }
    Tree tree;
    ASSERT_EQ(doc.ListTree(tree), kSuccess);
    ASSERT_EQ(tree.size(), depth);
    for (uint64_t i = 1; i < depth; ++i) ASSERT_EQ(tree[i].parent, i - 1);
    // Nothing is made deeper than a document may be.
    Tree chain;
    for (uint64_t i = 0; i <= CompoundDocument::kMaxDepth; ++i)
      chain.push_back(
          tree_entry(i == 0 ? CompoundDocument::TreeEntry::kInRoot : i - 1, u"S", true));
    EXPECT_EQ(doc.AddTree(chain), kTooDeep);
    chain.pop_back();
    EXPECT_EQ(doc.AddTree(chain), kSuccess);
  }
}

TEST(CraftedTrees, StreamsSharingOneLongChainOrLoopAreReadInOnePass) {
  // 16,000 streams of 4096 bytes, each starting somewhere on one chain of
  // 8,000 blocks: a chain that ends (every stream reads its own 8 blocks),
  // or a loop (none reads).
  const uint32_t streams = 16000, blocks = 8000;
  const uint32_t first = compound_test::crafted_first_data_block(streams + 1, blocks);
  std::vector<char> data(blocks * 512ull);
  for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<char>(k / 512);
  std::vector<CraftedEntry> entries{
      {u"Root Entry", 5, compound_test::kNone, compound_test::kNone, 1}};
  for (uint32_t i = 1; i <= streams; ++i)
    entries.push_back({numbered(u"S", i), 2, compound_test::kNone,
                       i < streams ? i + 1 : compound_test::kNone, compound_test::kNone,
                       first + i % (blocks - 8), 4096});
  for (bool loop : {false, true}) {
    const std::string path = compound_test::scratch_path("shared.cdf");
    compound_test::write_file_bytes(
        path, compound_test::crafted_document(entries, blocks, data, [&](uint32_t b) {
          return b + 1 < first + blocks ? b + 1 : loop ? first : compound_test::kEnd;
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
  // Names that tie case-blind in different storages, sort before and after
  // "Workbook", streams empty, small and big, and enough of them for several
  // directory, table and small-table blocks.
  Tree tree;
  std::vector<std::u16string> paths;
  const std::u16string names[] = {u"a", u"A", u"Zz", u"aa", u"Data", u"\x05Summary", u"b"};
  for (int i = 0; i < 400; ++i) {
    const uint64_t parent = i < 3 ? CompoundDocument::TreeEntry::kInRoot : (i * 7) % 3;
    const bool storage = i < 3 || i % 11 == 0;
    if (storage && i >= 3) continue;
    std::u16string name = names[i % 7] + std::u16string(1, char16_t(u'0' + i / 7 % 10)) +
                          std::u16string(i / 70, u'q');
    if (i < 3) name = u"Store" + std::u16string(1, char16_t(u'0' + i));
    const size_t size = i % 5 == 0 ? 0 : i % 5 == 1 ? 4096 + i * 13 : i * 17 % 4000;
    std::vector<char> bytes(storage ? 0 : size);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k * 7 + i);
    tree.push_back(tree_entry(parent, name, storage, bytes));
    paths.push_back(
        (parent == CompoundDocument::TreeEntry::kInRoot ? u"\\" : paths[parent] + u"\\") + name);
  }
  const std::vector<char> workbook(5000, 'w');
  std::vector<std::vector<unsigned char>> files;
  for (bool whole : {false, true}) {
    const std::string path = compound_test::scratch_path(whole ? "whole.cdf" : "by-entry.cdf");
    CompoundDocument doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
    ASSERT_EQ(doc.WriteStream("Workbook", workbook, workbook.size()), kSuccess);
    if (whole) {
      // A name taken case-blind, or a parent that is no storage, adds nothing.
      EXPECT_EQ(doc.AddTree(
                    {tree[0], tree_entry(CompoundDocument::TreeEntry::kInRoot, u"STORE0", false)}),
                kNameExists);
      EXPECT_EQ(doc.AddTree({tree[3], tree_entry(0, u"x", false)}), kNoSuchStorage);
      ASSERT_EQ(doc.AddTree(tree), kSuccess);
    }
    for (size_t i = 0; !whole && i < tree.size(); ++i) {
      const char16_t* p = paths[i].c_str();
      if (tree[i].storage) {
        ASSERT_EQ(doc.MakeDirectory(p), kSuccess);
      } else {
        ASSERT_EQ(doc.MakeStream(p), kSuccess);
        ASSERT_EQ(doc.WriteStream(p, tree[i].bytes, tree[i].bytes.size()), kSuccess);
      }
    }
    Tree listed;
    ASSERT_EQ(doc.ListTree(listed), kSuccess);
    ASSERT_EQ(listed.size(), tree.size() + 1);
    doc.Close();
    compound_test::Layout layout;
    EXPECT_EQ(compound_test::check_layout(path, layout), "");
    files.push_back(compound_test::read_file_bytes(path));
  }
  EXPECT_GT(files[0].size(), 300u * 512);
  EXPECT_TRUE(files[0] == files[1]);
}

TEST(TreeTransfer, WideTreesAreAddedListedAndReadInOnePass) {
  Tree tree;
  for (int i = 0; i < 40000; ++i)
    tree.push_back(tree_entry(CompoundDocument::TreeEntry::kInRoot, numbered(u"S", i), false,
                              std::vector<char>(i % 4 ? 0 : 100, static_cast<char>(i))));
  const std::string path = compound_test::scratch_path("wide.cdf");
  CompoundDocument doc;
  ASSERT_TRUE(doc.Create(path.c_str()));
  ASSERT_EQ(doc.AddTree(tree), kSuccess);
  ASSERT_TRUE(doc.Open(path.c_str(), CompoundDocument::kRead));
  Tree listed;
  ASSERT_EQ(doc.ListTree(listed), kSuccess);
  ASSERT_EQ(listed.size(), tree.size());
  std::vector<char> data;
  uint64_t read = 0;
  for (const auto& e : listed) {
    ASSERT_EQ(doc.ReadStream(e, data), kSuccess);
    read += data.size();
  }
  EXPECT_EQ(read, 10000u * 100);
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
