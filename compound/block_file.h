#pragma once
// A disk file seen as an array of equal-sized blocks, read, written, moved,
// inserted and erased by index. It knows nothing of the compound-document
// format; the document keeps its header in block 0 and its block n in file
// block n + 1.
//
// One handle stays open from Create/Open to Close. Writes go through the C
// library's buffer and reach the disk at Flush (the document flushes at the
// end of every changing operation) or Close. Every operation reports failure
// by returning false; nothing throws or prints. Buffers are caller-owned and
// hold at least one block (count blocks for the run forms).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace YCompoundFiles {

class BlockFile {
 public:
  static constexpr uint32_t kRead = 1;
  static constexpr uint32_t kWrite = 2;

  BlockFile();
  ~BlockFile();
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;

  // Creates the file (or empties an existing one) and opens it for reading
  // and writing. The narrow name is used byte for byte; the wide (UTF-16)
  // name is converted with the C library's wide-to-multibyte conversion and
  // a name that cannot be converted is refused.
  bool Create(const char* name);
  bool Create(const char16_t* name);
  // Opens an existing file; mode holds kRead and/or kWrite. False when the
  // file cannot be opened or the mode has neither bit. Both refuse, at once,
  // anything but a regular file (a named pipe, socket, device or folder).
  bool Open(const char* name, uint32_t mode);
  bool Open(const char16_t* name, uint32_t mode);
  // The same on a file the caller has opened, for a caller that must never
  // reopen it by name: the block file works on a duplicate of the
  // descriptor, which the caller keeps. CreateOn empties the file (opened
  // for reading and writing); OpenOn needs the access the mode asks for.
  // Both refuse anything but a regular file. FileName() is then empty.
  bool CreateOn(int descriptor);
  bool OpenOn(int descriptor, uint32_t mode);
  // Closes the file; block size returns to 512, counts to 0. True when the
  // file is closed afterwards and everything buffered reached it.
  bool Close();
  bool IsOpen() const { return file_ != nullptr; }
  // Pushes buffered writes to the file. False when a write failed.
  bool Flush();

  // Reads block index (needs kRead, index < BlockCount()). A partial last
  // block is completed with zero bytes.
  bool ReadBlock(uint64_t index, char* buffer);
  // Reads count consecutive blocks starting at index.
  bool ReadBlocks(uint64_t index, uint64_t count, char* buffer);
  // Writes block index (needs kWrite). Writing at or past the end grows the
  // file; blocks skipped over read as zero bytes and are counted.
  bool WriteBlock(uint64_t index, const char* buffer);
  bool WriteBlocks(uint64_t index, uint64_t count, const char* buffer);
  // Exchanges two blocks; a == b is true at once.
  bool SwapBlocks(uint64_t a, uint64_t b);
  // Moves block from to index to; the blocks in between shift by one place.
  bool MoveBlock(uint64_t from, uint64_t to);
  // Inserts a block at index; blocks from index on move up by one. An index
  // past the end writes the block there (see WriteBlock).
  bool InsertBlock(uint64_t index, const char* buffer);
  // Removes one block; the following blocks move down by one.
  bool EraseBlock(uint64_t index);
  // Removes every listed block (repeats count once); the others close up in
  // their order, moved in place, and the file is truncated. False, with the
  // file unchanged, when an index is not below BlockCount().
  bool EraseBlocks(std::vector<uint64_t> indices);

  uint64_t BlockSize() const { return block_size_; }
  // Sets the block size and recomputes the block count from the file size.
  void SetBlockSize(uint64_t size);
  uint64_t BlockCount() const { return block_count_; }
  uint64_t FileSize() const { return file_size_; }
  uint32_t Mode() const { return mode_; }
  const std::string& FileName() const { return name_; }

 private:
  bool Adopt(std::FILE* file, uint32_t mode);
  bool Seek(uint64_t offset);
  bool MoveRange(uint64_t from, uint64_t to, uint64_t count);
  void Recount();

  std::string name_;
  uint32_t mode_ = 0;
  std::FILE* file_ = nullptr;
  uint64_t block_size_ = 512;
  uint64_t block_count_ = 0;
  uint64_t file_size_ = 0;
  bool write_failed_ = false;
};

}  // namespace YCompoundFiles
