#pragma once
// A compound document (structured storage) file: a small file system of
// storages (directories) and streams (files) inside one file of 512-byte
// blocks, as the published format version 3 lays it out.
//
// Paths: names separated by backslashes. A path that begins with a backslash
// starts at the root storage, any other at the current storage; the path of
// a single backslash is the root. Names match exactly (case-sensitive) and
// hold at most 31 UTF-16 code units. Every path operation has a wide form
// (UTF-16, zero-terminated) and a narrow form, converted with the C library's
// multibyte-to-wide conversion of the current locale.
//
// Every changing operation writes the document back before it returns, so
// the file on disk is complete and consistent after each call; there is no
// separate save. Nothing throws or prints: results are bool or the codes
// below.
//
// Files written elsewhere are read as they are. Changing them needs the
// layout this class keeps (every table entry in use before the first free
// one, every used block in exactly one chain); other files open read-only in
// effect, and changing operations return kLayoutNotChangeable.
//
// Not thread-safe: one thread uses a document at a time.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "block_file.h"
#include "compound_header.h"
#include "directory_entry.h"
#include "directory_node.h"

namespace YCompoundFiles {

// Result codes of the path operations.
enum CompoundResult : int {
  kSuccess = 1,
  kNoFinalName = -1,      // the path is empty or ends with a backslash
  kNoSuchStorage = -2,    // a storage on the path, or the storage to work on, does not exist
                          // (also: the entry named is a stream where a storage is needed)
  kStorageNotEmpty = -3,  // the storage to remove has children
  kNoSuchStream = -4,     // the stream named does not exist (also: the entry is a storage)
  kNameTooLong = -5,      // the final name has 32 code units or more
  kNameExists = -6,       // the storage already holds an entry of that name
                          // (names equal ignoring case count as equal)
  // Codes added to report failures the codes above cannot express.
  kBadText = -7,               // a path that cannot be converted between narrow text and UTF-16
  kNotOpen = -8,               // the document is not open
  kIoError = -9,               // a block read or write of the file failed; after a failed
                               // write every changing operation returns this until reopening
  kDamaged = -10,              // the file's structure is damaged (broken chain, a stream
                               // larger than its chain, ...)
  kReadOnly = -11,             // the document was opened without write access
  kLayoutNotChangeable = -12,  // a file written elsewhere whose layout this class reads
                               // but does not change (see above)
  kTooLarge = -13,             // a size over 4 GiB - 1, a size beyond the data or buffer given,
                               // or a file that would outgrow the 32-bit block ids
  kTooDeep = -14,              // storages nested deeper than CompoundDocument::kMaxDepth
};

class CompoundDocument {
 public:
  static constexpr uint32_t kRead = BlockFile::kRead;
  static constexpr uint32_t kWrite = BlockFile::kWrite;
  // Streams of this many bytes or more live in big blocks, smaller ones in
  // 64-byte small blocks.
  static constexpr uint64_t kSmallStreamCutoff = 4096;
  // How deep entries may lie (the root's children lie at depth 1). Real
  // documents nest storages a few levels deep; a file nested deeper is
  // crafted, and what its paths cost grows with the square of its depth, so
  // it is refused on opening (kTooDeep), and no operation nests deeper.
  static constexpr uint64_t kMaxDepth = 256;

  // What a program records about a storage's kind: its class id (16 bytes,
  // as four little-endian words) and its state bits. Streams carry none.
  struct StorageClass {
    uint32_t class_id[4] = {0, 0, 0, 0};
    uint32_t state_bits = 0;
    bool operator==(const StorageClass& other) const;
    bool operator!=(const StorageClass& other) const { return !(*this == other); }
  };

  // One storage or stream of a document's tree, as ListTree lists them and
  // AddTree adds them: a list holds parents before their children, and an
  // entry names its storage by that storage's position in the list.
  struct TreeEntry {
    static constexpr uint64_t kInRoot = UINT64_MAX;
    uint64_t parent = kInRoot;  // position of the storage holding it, or kInRoot
    std::u16string name;
    bool storage = false;
    std::vector<char> bytes;     // a stream's content, for AddTree (ListTree leaves it empty)
    uint32_t id = 0;             // from ListTree: the entry, for ReadStream; valid until a change
    StorageClass storage_class;  // a storage's, from ListTree and for AddTree
  };

  CompoundDocument();
  ~CompoundDocument();
  CompoundDocument(const CompoundDocument&) = delete;
  CompoundDocument& operator=(const CompoundDocument&) = delete;

  // Makes a new, empty document at the path, replacing any file there. False
  // (document closed) when the file cannot be created or written. The narrow
  // file name is used byte for byte.
  bool Create(const char* path);
  bool Create(const char16_t* path);
  // Opens an existing document; mode is kRead or kRead | kWrite (a document
  // must be read to be used, so kWrite alone fails). False, with
  // the document closed, when the file cannot be opened or is not a readable
  // compound document (wrong magic, version, byte order or block sizes,
  // counts or ids outside the file, broken table or directory chains, a
  // damaged directory tree).
  bool Open(const char* path, uint32_t mode = kRead | kWrite);
  bool Open(const char16_t* path, uint32_t mode = kRead | kWrite);
  // The same on a file the caller has opened (see BlockFile::CreateOn and
  // BlockFile::OpenOn): the document is never reopened by a name.
  bool CreateOn(int descriptor);
  bool OpenOn(int descriptor, uint32_t mode = kRead | kWrite);
  // Releases everything; closing a closed document does nothing.
  void Close();
  bool IsOpen() const;
  // Why the last Open failed (kTooDeep, kDamaged, kIoError, ...), or
  // kSuccess when it opened; kNotOpen when the file does not open or is not
  // a compound document at all.
  int OpenFailure() const { return open_failure_; }

  // "." stays, ".." goes to the parent (the root stays at the root), the
  // root path goes to the root; otherwise each component must be a child
  // storage. A trailing backslash is ignored. 1, or -2 with the current
  // storage unchanged.
  int ChangeDirectory(const char16_t* path);
  int ChangeDirectory(const char* path);
  // Add a storage or an empty stream at the path; missing storages on the
  // way are made (and stay when a later step fails). 1, -1, -5, -6, or the
  // code of a failed storage creation on the way.
  int MakeDirectory(const char16_t* path);
  int MakeDirectory(const char* path);
  int MakeStream(const char16_t* path);
  int MakeStream(const char* path);
  // The absolute path of the current storage: "\Data\Sub", or "\" for the
  // root. The narrow form converts with the current locale (-7 on failure).
  int CurrentDirectory(std::u16string& path) const;
  int CurrentDirectory(std::string& path) const;
  // Removes an empty storage: 1, -2 (none, or a stream), -3 (not empty).
  // When the current storage goes, its parent becomes current.
  int RemoveDirectory(const char16_t* path);
  int RemoveDirectory(const char* path);
  // Removes a storage with everything below it, or a stream: 1 or -2. When
  // the current storage is removed or lies below the removed one, the
  // nearest surviving parent becomes current; otherwise it is unchanged.
  int RemoveTree(const char16_t* path);
  int RemoveTree(const char* path);
  // Names of the children of the current storage, or of the storage the
  // path names (-2 when there is none; names untouched), in ascending entry
  // id. The narrow form converts each name (-7 on failure).
  int ListDirectory(std::vector<std::u16string>& names, const char16_t* path = nullptr) const;
  int ListDirectory(std::vector<std::string>& names, const char* path = nullptr) const;
  // Every storage and stream below the root, parents before children, each
  // storage's children in ascending entry id; the walk needs no recursion.
  int ListTree(std::vector<TreeEntry>& entries) const;
  // Reads a stream that ListTree listed: as ReadStream by path.
  int ReadStream(const TreeEntry& entry, std::vector<char>& data) const;
  // Adds the entries below the root (none of their names may be taken),
  // giving the same document as MakeDirectory, or MakeStream and
  // WriteStream, of each in turn would, but without the cost per entry that
  // grows with the document. Nothing is added when one of them cannot be
  // (-1, -5, -6, -13, -14; -2 for a parent that is not an earlier storage).
  int AddTree(const std::vector<TreeEntry>& entries);
  // Of the storage at the path, the root path naming the root: 1, or -2
  // when there is no storage there.
  int GetStorageClass(const char16_t* path, StorageClass& value) const;
  int GetStorageClass(const char* path, StorageClass& value) const;
  int SetStorageClass(const char16_t* path, const StorageClass& value);
  int SetStorageClass(const char* path, const StorageClass& value);
  // The form in which the names of one storage must differ: readers find
  // entries case-blind (-6 for a name taken in this form).
  static std::u16string FoldedName(std::u16string_view name);
  // Frees a stream's blocks and removes its entry: 1 or -4 (none, or a storage).
  int RemoveStream(const char16_t* path);
  int RemoveStream(const char* path);
  // The stream's recorded size; the root path gives the size of the
  // small-block container. 1 or -4.
  int StreamSize(const char16_t* path, uint64_t& size) const;
  int StreamSize(const char* path, uint64_t& size) const;
  // Reads the whole stream; the vector is emptied first and holds the
  // stream afterwards. 1, -4, -9 or -10 (a broken chain, or a recorded size
  // beyond the chain).
  int ReadStream(const char16_t* path, std::vector<char>& data) const;
  int ReadStream(const char* path, std::vector<char>& data) const;
  // Reads the whole stream into a caller's buffer of `capacity` bytes:
  // -13 when the stream does not fit (nothing is read).
  int ReadStream(const char16_t* path, char* buffer, uint64_t capacity) const;
  int ReadStream(const char* path, char* buffer, uint64_t capacity) const;
  // Replaces the stream's content with the first `size` bytes of the data.
  // 1, -4 (none, a storage, the root path), -13 (size over 4 GiB - 1 or
  // beyond the vector), or a code of the failure list above.
  int WriteStream(const char16_t* path, const std::vector<char>& data, uint64_t size);
  int WriteStream(const char* path, const std::vector<char>& data, uint64_t size);
  int WriteStream(const char16_t* path, const char* data, uint64_t size);
  int WriteStream(const char* path, const char* data, uint64_t size);

 private:
  // Allocation tables and chains.
  bool LoadHeader();
  int SaveHeader();
  int LoadBlockTables();
  int SaveBlockTables();
  int FollowChain(uint32_t start, std::vector<uint32_t>& chain, bool big) const;
  int FollowEndingChain(uint32_t start, uint64_t blocks, std::vector<uint32_t>& chain,
                        bool big) const;
  uint64_t ChainDataSize(uint32_t start, bool big) const;
  int ReadBlocksOfChain(const std::vector<uint32_t>& chain, char* out, uint64_t size) const;
  int ReadMiniStream(std::vector<char>& data) const;
  int WriteChain(const char* data, uint64_t size, uint32_t& start, bool big);
  int WriteBigChain(const char* data, uint64_t size, uint32_t& start);
  int WriteSmallChain(const char* data, uint64_t size, uint32_t& start);
  int ResizeChain(uint32_t& start, uint64_t blocks, std::vector<uint32_t>& chain,
                  bool known = false);
  int FindFreeBlocks(bool big, uint32_t& block);
  void SetTableEntry(uint64_t index, uint32_t value, bool big);
  uint64_t UsedBlocks(bool big) const;
  int CheckLayout();

  // Block insertion, erasure and renumbering.
  int GrowBlockTable(bool big);
  int EraseBlock(std::vector<uint32_t> blocks, bool big);
  void ShiftBlockReferences(const std::vector<uint32_t>& sorted_blocks, bool raise);
  void ShiftSmallBlockReferences(const std::vector<uint32_t>& sorted_erased);
  int FitExtensionBlocks();
  int WriteFilledBlock(uint32_t block, unsigned char fill);

  // Directory.
  int LoadDirectory();
  int SaveDirectory();
  int MakeEntry(const std::u16string& path, uint8_t type);
  int AddChild(DirectoryNode* storage, const std::u16string& name, uint8_t type,
               DirectoryNode** added);
  static bool EntryNameLess(const DirectoryEntry& a, const DirectoryEntry& b);
  DirectoryNode* InsertEntry(DirectoryNode* parent, std::unique_ptr<DirectoryEntry> entry,
                             uint64_t index);
  void DeleteEntry(DirectoryNode* node);
  void LinkSiblings(DirectoryNode* storage);
  void ShiftEntryReferences(uint64_t index, bool up);
  DirectoryNode* FindEntry(const std::u16string& path) const;
  static DirectoryNode* FindChild(const DirectoryNode* storage, const std::u16string& name);
  static void SplitPath(const std::u16string& path, std::u16string& storage, std::u16string& name);
  DirectoryNode* ResolveStorage(const std::u16string& path) const;
  DirectoryNode* FindNode(uint64_t index) const;
  static bool IsRootPath(const std::u16string& path);

  // Stream and storage operations on UTF-16 paths.
  int BeginChange() const;
  int FinishChange(int result);
  int Save();
  int ReadStreamData(const DirectoryEntry& entry, bool is_root, std::vector<char>& out) const;
  int WriteBlocksOfChain(const std::vector<uint32_t>& chain, const char* data, uint64_t size);
  int WriteStreamData(DirectoryEntry& entry, const char* data, uint64_t size);
  int CheckTree(const std::vector<TreeEntry>& entries) const;
  int AllocateTree(const std::vector<TreeEntry>& entries);
  void PlaceTree(const std::vector<TreeEntry>& entries, uint64_t first);
  int AddTreeInTurn(const std::vector<TreeEntry>& entries);
  bool EntriesInOrder() const;
  static uint64_t Depth(const DirectoryNode* node);
  int RemoveNode(DirectoryNode* node);
  int DoChangeDirectory(const std::u16string& path);
  int DoRemoveDirectory(const std::u16string& path);
  int DoRemoveTree(const std::u16string& path);
  int DoRemoveStream(const std::u16string& path);
  int DoStreamSize(const std::u16string& path, uint64_t& size) const;
  int DoReadStream(const std::u16string& path, std::vector<char>& data) const;
  int DoWriteStream(const std::u16string& path, const char* data, uint64_t size);
  int DoListDirectory(std::vector<std::u16string>& names, const char16_t* path) const;
  bool DoCreate();
  bool DoOpen();

  BlockFile file_;
  CompoundHeader header_;
  std::vector<uint32_t> big_table_;
  std::vector<uint32_t> small_table_;
  std::unique_ptr<DirectoryNode> root_;
  DirectoryNode* current_ = nullptr;
  std::vector<std::unique_ptr<DirectoryEntry>> entries_;
  // Where the tables live: every big-table block in table order, the
  // extension blocks listing those beyond the header's 109, and the chain
  // of small-table blocks.
  std::vector<uint32_t> table_blocks_;
  std::vector<uint32_t> extension_blocks_;
  std::vector<uint32_t> small_table_blocks_;
  // What the last save wrote, so that the next one writes only what changed
  // (empty after opening: the first save writes everything).
  struct SavedTable {
    std::vector<uint32_t> table;
    std::vector<uint32_t> blocks;
  };
  SavedTable saved_big_;
  SavedTable saved_small_;
  std::vector<char> saved_directory_;
  std::vector<uint32_t> saved_directory_chain_;
  // No free entry lies below these positions (allocation starts here).
  uint64_t first_free_big_ = 0;
  uint64_t first_free_small_ = 0;
  // 0, or the code every changing operation returns (a layout not kept here).
  int write_refusal_ = 0;
  // A write to the file failed: memory and file may disagree.
  bool write_failed_ = false;
  int open_failure_ = kNotOpen;
  // The mini stream's chain, kept for the reads and writes of small streams;
  // forgotten when a change begins and whenever blocks are erased or the
  // mini stream starts anew.
  mutable std::vector<uint32_t> mini_chain_;
  mutable bool mini_chain_known_ = false;
  // In a document that is not changed (write_refusal_ set), whether the
  // chain from each block ends well, found once on opening.
  std::vector<uint8_t> big_chain_ends_;
  std::vector<uint8_t> small_chain_ends_;
  // Counts erasures of big blocks, after which block numbers held aside are stale.
  uint64_t block_erasures_ = 0;
};

}  // namespace YCompoundFiles
