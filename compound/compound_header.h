#pragma once
// The 512-byte header of a compound-document file (file block 0).
//
// Fields are held in file order; all are little-endian on disk. Block ids
// are 32-bit; the special ids are listed below. Write/Read move every field
// at its offset; Read validates nothing (the document checks what it needs,
// see CompoundDocument::Open).
#include <cstdint>

namespace YCompoundFiles {

// Special block and entry ids.
constexpr uint32_t kFreeBlock = 0xFFFFFFFFu;        // free table entry; "no entry" in links
constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;       // end of a chain; no chain at all
constexpr uint32_t kTableBlock = 0xFFFFFFFDu;       // block holding the big-block table
constexpr uint32_t kExtensionBlock = 0xFFFFFFFCu;   // block listing further table blocks
constexpr uint32_t kLowestSpecialId = 0xFFFFFFFAu;  // ids from here up are never blocks
constexpr uint32_t kNoEntry = 0xFFFFFFFFu;          // no sibling / child

// Table-block ids held in the header; further ones live in extension blocks,
// each holding 127 ids and the id of the next extension block.
constexpr uint32_t kHeaderSlots = 109;
constexpr uint32_t kIdsPerExtensionBlock = 127;

class CompoundHeader {
 public:
  static constexpr unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

  // The header of a new document: big blocks of 512 bytes, small blocks of
  // 64, one table block (document block 0), directory at document block 1.
  CompoundHeader();

  // buffer holds 512 bytes.
  void Write(unsigned char* buffer) const;
  void Read(const unsigned char* buffer);

  bool HasMagic() const;

  unsigned char magic[8];
  uint32_t class_id[4];
  uint16_t minor_version;      // 0x003B
  uint16_t major_version;      // 3
  uint16_t byte_order;         // 0xFFFE
  uint16_t big_block_shift;    // 9
  uint32_t small_block_shift;  // 6 (the format's u16 shift and two zero bytes)
  uint32_t reserved1;
  uint32_t reserved2;          // the format's directory-block count, 0 in version 3
  uint32_t table_block_count;  // offset 44: every big-table block, also those beyond 109
  uint32_t directory_start;    // offset 48
  uint32_t reserved3;
  uint32_t small_stream_cutoff;  // 4096; written and read, never consulted
  uint32_t small_table_start;    // offset 60: first block of the small-block table chain
  uint32_t small_table_count;    // offset 64
  uint32_t extension_start;      // offset 68: first extension block, or kEndOfChain
  uint32_t extension_count;      // offset 72
  uint32_t slots[kHeaderSlots];  // offset 76: the first 109 table-block ids, kFreeBlock unused

  // Derived from the shifts after construction and Read; 0 for a shift
  // too large to mean anything.
  uint64_t big_block_size;
  uint64_t small_block_size;

 private:
  void Derive();
};

}  // namespace YCompoundFiles
