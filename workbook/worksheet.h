#pragma once
// One worksheet substream of the "Workbook" stream, parsed into containers:
//
//   Worksheet: BOF, Index, layout records, Dimensions, cell table,
//              Window2, EOF
//   CellTable: row blocks
//   RowBlock:  Row records, cell blocks (one per cell record), DBCell
//   CellBlock: one cell record, of the kind its code names
//
// Write emits each container's records in that order; a parsed and
// rewritten worksheet holds nothing else (records of other kinds are
// consumed, with their CONTINUE parts, and dropped).
//
// The layout records are what a user sees of rows and columns without a
// value: column widths, default formats, hidden and outlined columns
// (COLINFO, DEFCOLWIDTH, STANDARDWIDTH), the default row height, and the
// outline's gutters and options (GUTS, WSBOOL), kept verbatim in file order.
// Row records that carry more than the defaults (a height set by the user,
// a format, hidden, an outline level) are also kept apart, in row order, so
// that a sheet rebuilt from its cells writes them again.
//
// Read(bytes, size) as in record.h: size is what remains of the stream;
// the result is the bytes consumed, or 0 when a record is damaged or the
// stream ends first. Write(out) needs RecordSize() bytes at out.
//
// The positions in Index and the offsets in each DBCell are filled in by the
// workbook when it lays the stream out; Write writes whatever they hold.
#include <cstdint>
#include <functional>
#include <vector>

#include "cell_records.h"
#include "formula_records.h"
#include "record.h"
#include "worksheet_records.h"

namespace YCompoundFiles {
namespace YExcel {

// Scratch records of a worksheet read without keeping its cell table.
struct CellStreaming;

struct Worksheet {
  using Index = WorksheetRecords::Index;
  using Dimensions = WorksheetRecords::Dimensions;
  using Window2 = WorksheetRecords::Window2;

  struct CellTable {
    struct RowBlock {
      using Row = WorksheetRecords::Row;
      using DBCell = WorksheetRecords::DBCell;

      // Holds one record of each cell kind and uses the one its code names.
      struct CellBlock {
        using Blank = CellRecords::Blank;
        using BoolErr = CellRecords::BoolErr;
        using LabelSST = CellRecords::LabelSST;
        using MulBlank = CellRecords::MulBlank;
        using MulRKEntry = CellRecords::MulRKEntry;
        using MulRK = CellRecords::MulRK;
        using Number = CellRecords::Number;
        using RK = CellRecords::RK;
        using Formula = CellRecords::Formula;

        static constexpr uint16_t kNoRecord = 0xFFFF;

        CellBlock();
        // Stores the code of the record at bytes and lets that record read
        // itself (a Formula with its companions). 0 for a code that is not a
        // cell record's, or a damaged record.
        uint64_t Read(const char* bytes, uint64_t size);
        // The record in use writes itself; nothing (0) without one.
        uint64_t Write(char* out);
        uint64_t DataSize();
        uint64_t RecordSize();
        // Row and (first) column of the record in use; 0 without one.
        uint16_t RowIndex() const;
        uint16_t ColIndex() const;

        uint16_t code;
        uint8_t flag;
        Blank blank;
        BoolErr bool_err;
        LabelSST label_sst;
        MulBlank mul_blank;
        MulRK mul_rk;
        Number number;
        RK rk;
        Formula formula;

       private:
        Record* InUse();
      };

      // Reads from its first record through its DBCell. A block that lacks
      // its DBCell ends before the worksheet's Window2, EOF or a BOF, which
      // it leaves unread.
      uint64_t Read(const char* bytes, uint64_t size);
      uint64_t Write(char* out);
      uint64_t DataSize();
      uint64_t RecordSize() { return DataSize(); }

      std::vector<Row> rows;
      std::vector<CellBlock> cell_blocks;
      DBCell dbcell;
    };

    // Appends row blocks for as long as a Row or cell record comes next.
    uint64_t Read(const char* bytes, uint64_t size);
    uint64_t Write(char* out);
    uint64_t DataSize();
    uint64_t RecordSize() { return DataSize(); }

    std::vector<RowBlock> row_blocks;
  };

  // Receives each cell record of a worksheet read without keeping its cell
  // table (see Read); the record is scratch, valid for the call only.
  using CellVisitor = std::function<void(const CellTable::RowBlock::CellBlock&)>;

  // BOF of type 0x0010 with this library's values; default Index,
  // Dimensions (all 0) and Window2; empty cell table.
  Worksheet();

  // Parses the substream that starts with a BOF at bytes, through its EOF.
  // A substream embedded in it (its own BOF to its EOF, such as a chart) is
  // skipped whole.
  uint64_t Read(const char* bytes, uint64_t size);
  // Parses the substream as Read does, but hands each cell record to visit
  // instead of keeping it: the cell table stays empty, and no record object
  // is made per cell, row or block.
  uint64_t Read(const char* bytes, uint64_t size, const CellVisitor& visit);
  uint64_t Write(char* out);
  uint64_t DataSize();
  uint64_t RecordSize() { return DataSize(); }

  // Whether a record of this code is a layout record.
  static bool IsLayoutRecord(uint16_t code);
  // Whether a Row record carries more than the defaults (see above).
  static bool RowCarriesLayout(const CellTable::RowBlock::Row& row);
  // Bytes of the layout records.
  uint64_t LayoutSize();
  uint64_t WriteLayout(char* out);

  BOF bof;
  Index index;
  std::vector<Record> layout;
  // Row records that carry layout, by ascending row; one per row.
  std::vector<CellTable::RowBlock::Row> layout_rows;
  Dimensions dimensions;
  CellTable cell_table;
  Window2 window2;
  YEOF eof;

 private:
  uint64_t ReadSubstream(const char* bytes, uint64_t size, CellStreaming* streaming);
};

}  // namespace YExcel
}  // namespace YCompoundFiles
