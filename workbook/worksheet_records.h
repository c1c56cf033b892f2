#pragma once
// The records of a worksheet substream other than the cells: Index,
// Dimensions, Row, DBCell and Window2. The worksheet containers name them
// Worksheet::Index, RowBlock::Row and so on.
//
// Read, Write and the sizes follow record.h. Offsets are offsets in the
// record's data; every field is little-endian. These records read fields
// their data lacks as zero and write back any data beyond their fields
// unchanged.
#include <cstdint>
#include <vector>

#include "record.h"

namespace YCompoundFiles {
namespace YExcel {
namespace WorksheetRecords {

namespace Code {
constexpr uint16_t kIndex = 0x020B;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kRow = 0x0208;
constexpr uint16_t kDBCell = 0x00D7;
constexpr uint16_t kWindow2 = 0x023E;
}  // namespace Code

// 0x020B: 0 u32 reserved, 4 u32 first used row, 8 u32 first unused row,
// 12 u32 reserved, from 16 one u32 per row block: the stream offset of the
// block's DBCell. Data size 16 + 4n.
//
// Read keeps (first unused - first used - 1) / 32 + 1 positions (the row
// blocks the range spans), at least 1 and at most 2048 (a full sheet),
// taken from the data as far as it holds them, the others 0.
struct Index : Record {
  static constexpr uint64_t kMaxBlocks = 65536 / 32;

  Index();  // one position, 0
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;
  uint64_t RecordSize() override;

  uint32_t reserved1;
  uint64_t first_used_row;    // 4 bytes on file
  uint64_t first_unused_row;  // 4 bytes on file
  uint32_t reserved2;
  std::vector<uint64_t> dbcell_positions;  // 4 bytes each on file

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x0200, 14 data bytes: 0 u32 first used row, 4 u32 last used row + 1,
// 8 u16 first used column, 10 u16 last used column + 1, 12 u16 reserved.
struct Dimensions : Record {
  Dimensions();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint64_t first_used_row;    // 4 bytes on file
  uint64_t first_unused_row;  // 4 bytes on file
  uint16_t first_used_col;
  uint16_t first_unused_col;
  uint16_t reserved;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x0208, 16 data bytes: 0 row index, 2 first used column, 4 last used
// column + 1, 6 height in twips (255), 8 and 10 reserved, 12 u32 options.
struct Row : Record {
  Row();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t row_index;
  uint16_t first_used_col;
  uint16_t first_unused_col;
  uint16_t height;
  uint16_t reserved1;
  uint16_t reserved2;
  uint32_t options;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x00D7: 0 u32 distance from the start of the block's first Row record to
// this record, from 4 one u16 per Row of the block: the offset of that
// row's first cell record. Data size 4 + 2n.
struct DBCell : Record {
  DBCell();  // no offsets
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;
  uint64_t RecordSize() override;

  uint32_t first_row_offset;
  std::vector<uint16_t> row_offsets;
};

// 0x023E, 18 data bytes: 0 options (0x06B6: grid lines, headings, zero
// values, outline symbols, automatic grid colour, selected 0x0200, shown in
// the window 0x0400), 2 first visible row, 4 first visible column, 6 grid
// colour index (64), 8 reserved, 10 page-break-preview zoom, 12 normal zoom,
// 14 u32 reserved.
struct Window2 : Record {
  static constexpr uint16_t kSelected = 0x0200;
  static constexpr uint16_t kShown = 0x0400;

  Window2();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t options;
  uint16_t first_visible_row;
  uint16_t first_visible_col;
  uint16_t grid_colour;
  uint16_t reserved1;
  uint16_t page_break_zoom;
  uint16_t normal_zoom;
  uint32_t reserved2;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

}  // namespace WorksheetRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
