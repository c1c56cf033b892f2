#pragma once
// The cells of one sheet of a workbook, as a table that grows on demand.
//
// A sheet object reads its cells once, when it is made, from its
// worksheet's records; from then on the cells are what counts, and the
// workbook rebuilds the records from them when it saves. Sheet objects live
// in their workbook's vector (WorkbookContent::sheets) and are copied
// memberwise.
//
// Limits: rows 0-65535, columns 0-255. The table is GetTotalRows() by
// GetTotalCols() cells, but only cells that were set, asked for or read
// are stored, each knowing its row and column; the others read as empty.
// Memory and the time of a save follow the cells, not the size of the
// table: there is no per-row container, so a sheet of one column costs no
// more per cell than a wide one.
#include <bitset>
#include <cstdint>
#include <ostream>
#include <vector>

#include "excel_cell.h"
#include "worksheet.h"

namespace YCompoundFiles {
namespace YExcel {

struct WorkbookContent;
namespace GlobalsRecords {
struct SharedStringTable;
}

class ExcelSheet {
 public:
  static constexpr uint64_t kMaxRows = 65536;
  static constexpr uint64_t kMaxCols = 256;

  // owner is not owned; sheet_index names the sheet's position in it (its
  // BoundSheet and Worksheet). Reads the cells (ReadCells).
  ExcelSheet(WorkbookContent* owner, uint64_t sheet_index);

  // The cell, the table grown to include it (a call that only looks still
  // grows it). Null, and nothing changed, when row >= 65536 or column >= 256.
  // The pointer is valid until the table grows or is rebuilt.
  ExcelCell* Cell(uint64_t row, uint64_t col);
  // The cell inside the table, or null; never grows the table.
  const ExcelCell* At(uint64_t row, uint64_t col) const;
  // The cells stored in one row, contiguous and in column order.
  class RowCells {
   public:
    RowCells(const ExcelCell* begin, const ExcelCell* end) : begin_(begin), end_(end) {}
    const ExcelCell* begin() const { return begin_; }
    const ExcelCell* end() const { return end_; }
    size_t size() const { return static_cast<size_t>(end_ - begin_); }
    bool empty() const { return begin_ == end_; }
    const ExcelCell& operator[](size_t i) const { return begin_[i]; }

   private:
    const ExcelCell* begin_;
    const ExcelCell* end_;
  };
  // The cells stored in a row, in column order (ExcelCell::Column); cells
  // of the table not stored there are undefined. Rows from StoredRows() on
  // store none. The view is valid until the table changes.
  uint64_t StoredRows() const;
  RowCells StoredRow(uint64_t row) const;
  uint64_t GetTotalRows() const { return rows_; }
  uint64_t GetTotalCols() const { return cols_; }

  // The name in this sheet's BoundSheet, or null when it is held in the
  // other width.
  const char* GetSheetName() const;
  const char16_t* GetWSheetName() const;
  // Copies the name with its terminator (at most 256 characters); false when
  // it is held in the other width.
  bool GetSheetName(char* buffer) const;
  bool GetSheetName(char16_t* buffer) const;
  // False when a sheet's name held in the same width equals the new one
  // (this sheet's own included); else the name becomes the new one, held in
  // the argument's width (at most 255 characters kept).
  bool RenameSheet(const char* name);
  bool RenameSheet(const char16_t* name);

  // Erases the cell; false when it lies outside the table.
  bool EraseCell(uint64_t row, uint64_t col);

  // Rebuilds the table from the worksheet's records: its Dimensions give the
  // size (within the limits), then the cell records fill it in order.
  // Integer and double RK values, numbers, booleans (as integers 0 and 1)
  // and shared strings become cells with their formats; blanks give empty
  // cells with their formats; errors and formulas give nothing. A
  // record outside the Dimensions grows the table; one beyond the limits, or
  // a string index beyond the shared string table, is ignored.
  void ReadCells();
  // One step of ReadCells: the value a cell record gives (strings from the
  // table given). Records that give no value, or lie beyond the limits,
  // change nothing.
  void ReadCell(const Worksheet::CellTable::RowBlock::CellBlock& record,
                const GlobalsRecords::SharedStringTable& strings);
  // After the cells of a worksheet read without its records: the table
  // takes at least the size its Dimensions give (within the limits), as
  // ReadCells does, and the rows give back room they do not use.
  void FinishReading(const Worksheet::Dimensions& dimensions);

  // The table as delimited text: one line per row, cells separated by
  // separator; integers, doubles (15 significant digits) and narrow strings
  // (enclosed in qualifier, with inner qualifiers doubled, unless it is 0).
  void Print(std::ostream& out, char separator = ',', char qualifier = '"') const;

  WorkbookContent* Owner() const { return owner_; }
  uint64_t SheetIndex() const { return sheet_index_; }
  // For the workbook, when sheets before this one come or go, or when a
  // sheet read aside joins it.
  void SetSheetIndex(uint64_t index) { sheet_index_ = index; }
  void SetOwner(WorkbookContent* owner) { owner_ = owner; }

 private:
  WorkbookContent* owner_;
  uint64_t sheet_index_;
  uint64_t rows_;
  uint64_t cols_;
  // Orders cells by row, then column.
  static uint32_t KeyOf(const ExcelCell& cell) { return uint32_t{cell.row_} << 8 | cell.column_; }
  static bool KeyBefore(const ExcelCell& cell, uint32_t key) { return KeyOf(cell) < key; }

  // Cells in (row, column) order, no cell in two runs.
  struct Run {
    std::vector<ExcelCell> cells;
    // The columns it holds: a search skips a run without the column, so a
    // sheet filled column by column looks up new cells in no run at all.
    std::bitset<kMaxCols> columns;
    // Where the last search ended.
    size_t finger = 0;
  };

  // Merges runs from first on into one, all at once.
  void MergeRunsFrom(size_t first) const;
  // Merges the runs into one, so that each row's cells lie together.
  void MergeRuns() const {
    if (runs_.size() > 1) MergeRunsFrom(0);
  }
  // Merges the latest runs once they hold many times the cells of the one
  // before them.
  void SettleRuns();
  const ExcelCell* Find(uint32_t key) const;
  // The first cell of the run not before key, found from near hint.
  static size_t LowerBound(const std::vector<ExcelCell>& run, uint32_t key, size_t hint);
  // For a load that knows about how many cells it brings: room for them
  // all at once, so that reading neither regrows nor trims the cells.
  void ReserveCells(size_t count);
  friend class ExcelFile;

  // Cells that come in order are appended to the last run; others start or
  // join a later, short run. Runs are merged a group at a time, each group
  // several times larger than the last, so filling a sheet in any order
  // moves each cell a few times only, and a sheet filled in order is one
  // run. Readers of whole rows merge them all first (hence mutable).
  mutable std::vector<Run> runs_;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
