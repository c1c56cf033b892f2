#pragma once
// One worksheet substream of the "Workbook" stream:
//
//   Worksheet: BOF, then its pieces in file order (carried records and the
//              places of Index, Dimensions, the cell table and Window2),
//              EOF
//   CellTable: row blocks
//   RowBlock:  Row records, cell blocks (one per cell record), DBCell
//   CellBlock: one cell record, of the kind its code names
//
// Every record of the substream that is not modelled here (settings of the
// view, printing and calculation, merged cells, notes, drawings, embedded
// charts as whole substreams, records of unknown kinds...) is carried in
// its place, byte for byte (carried_records.h); so are records met inside
// the cell table that belong to no cell, after it. A substream that is not
// a worksheet (a chart sheet, say) is carried whole.
//
// Row records that carry more than the defaults (a height set by the user,
// or one other than the 12.75 points a rebuilt row gets, a format, hidden,
// an outline level) are kept apart, in row order, so that a sheet rebuilt
// from its cells writes them again.
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

#include "carried_records.h"
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
        using Label = CellRecords::Label;

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
        Label label;  // Label or RString

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

  // Where the modelled sections go among the pieces.
  enum Slot : uint16_t { kIndexSlot = 1, kDimensionsSlot, kCellsSlot, kWindow2Slot };

  // BOF of type 0x0010 with this library's values; default Index,
  // Dimensions (all 0) and Window2; empty cell table; the four slots in
  // that order.
  Worksheet();

  // Parses the substream that starts with a BOF at bytes, through its EOF.
  // A substream embedded in it (its own BOF to its EOF, such as a chart) is
  // carried whole. Slots missing from the file are added (Index after the
  // BOF, the others after the slot before them).
  uint64_t Read(const char* bytes, uint64_t size);
  // Parses the substream as Read does, but hands each cell record to visit
  // instead of keeping it: the cell table stays empty, and no record object
  // is made per cell, row or block.
  uint64_t Read(const char* bytes, uint64_t size, const CellVisitor& visit);
  // Takes a substream that is not a worksheet whole (BOF to EOF).
  void CarryWhole(const char* bytes, uint64_t size);
  uint64_t Write(char* out);
  // Writes the worksheet with cells(out) writing its cell table; with out
  // null only sizes it. The bytes in all.
  uint64_t Write(char* out, const std::function<uint64_t(char*)>& cells);
  uint64_t DataSize();
  uint64_t RecordSize() { return DataSize(); }
  // Bytes from the BOF up to the cell table.
  uint64_t SizeBeforeCells();

  // Whether a Row record carries more than the defaults (see above).
  static bool RowCarriesLayout(const CellTable::RowBlock::Row& row);

  // A formula as read: its FORMULA record with the SHRFMLA, ARRAY or TABLE
  // and STRING records after it, byte for byte.
  struct KeptFormula {
    uint16_t row;
    uint16_t col;
    std::vector<char> bytes;
  };
  // The formula of the cell, or null.
  const KeptFormula* FormulaAt(uint16_t row, uint16_t col) const;
  // A range of cells one shared formula, array formula or data table fills.
  struct FormulaRange {
    const char* kind;  // "shared formula", "array formula", "data table"
    uint16_t first_row, last_row;
    uint8_t first_col, last_col;
  };
  std::vector<FormulaRange> FormulaRanges() const;
  // Whether its author protected the sheet's cells (PROTECT set).
  bool Protected() const;

  // A substream carried whole: no BOF, EOF or section is written, only the
  // pieces.
  bool whole = false;
  BOF bof;
  Index index;
  Dimensions dimensions;
  std::vector<CarriedRecord> pieces;
  // Row records that carry layout, by ascending row; one per row.
  std::vector<CellTable::RowBlock::Row> layout_rows;
  // Formulas of the file, by row and column, for the cells they compute.
  std::vector<KeptFormula> formulas;
  CellTable cell_table;
  Window2 window2;
  YEOF eof;

 private:
  uint64_t ReadSubstream(const char* bytes, uint64_t size, CellStreaming* streaming);
};

}  // namespace YExcel
}  // namespace YCompoundFiles
