#pragma once
// Cells to records, the form a save uses: every worksheet's cell table is
// written straight from the cells into the stream, with the bytes that
// WorkbookContent::RecordsFromCells and the worksheet containers would
// write, but without a record object per cell. Time and memory follow the
// cells a sheet stores, not the size of its table.
//
// Use: construct on the workbook (this rebuilds the shared string table and
// every worksheet's records but its cell table, as RecordsFromCells does,
// the cell tables left empty), lay the stream out with CellTableSize and
// SetPositions, then WriteSheet each worksheet in order after the globals.
#include <cstdint>
#include <functional>
#include <vector>

#include "workbook_content.h"

namespace YCompoundFiles {
namespace YExcel {

// The shared string table as a save rebuilds it: each distinct text once
// per width, in the order of first use, listed from the workbook's table of
// texts, which holds every text its sheets' cells show. Listing costs what
// the cells do: no text is looked up by its content.
class SharedStrings {
 public:
  // Empties the table and its counts; its strings will be texts'.
  SharedStrings(Workbook::SharedStringTable& table, TextTable& texts);
  // The index of a string cell's text, listed when new; counts the cell.
  uint64_t Add(const ExcelCell& cell);
  // The index of the text of a cell added before.
  uint64_t Find(const ExcelCell& cell) const;

 private:
  uint32_t& Listed(uint32_t text);

  Workbook::SharedStringTable& table_;
  // Per text of the table, by id: its index in the string table + 1, or 0.
  std::vector<uint32_t> listed_fixed_;
  std::vector<uint32_t> listed_shared_;
};

class CellTableWriter {
 public:
  explicit CellTableWriter(WorkbookContent& book);

  // Bytes of sheet s's cell table (its row blocks).
  uint64_t CellTableSize(uint64_t s) const { return layouts_[s].size; }
  // The stream offset of worksheet s's BOF: fills its Index with the
  // offsets of its DBCell records.
  void SetPositions(uint64_t s, uint64_t start);
  // Writes worksheet s (BOF, Index, Dimensions, the cell table, Window2,
  // EOF) at out; returns the bytes written.
  uint64_t WriteSheet(uint64_t s, char* out);

  struct Layout {
    uint64_t base = 0;                  // the first row of block 0
    uint64_t rows = 0;                  // the first row after the last block's
    std::vector<uint64_t> block_sizes;  // bytes of each row block, DBCell included
    std::vector<uint64_t> dbcell_at;    // offset of each block's DBCell in the block
    uint64_t size = 0;                  // the cell table's bytes
    uint64_t stored = 0;                // rows that may hold cells: below both counts
    uint64_t first_col = 0;             // of the cells written, once sized
  };

 private:
  // Sizes (out null) or writes row block b of sheet s; returns its bytes
  // and the offset of its DBCell.
  uint64_t Block(uint64_t s, uint64_t b, char* out, uint64_t& dbcell_at);

  WorkbookContent& book_;
  SharedStrings strings_;
  std::vector<Layout> layouts_;
  // One per sheet, walking its rows as the blocks are sized and written.
  std::vector<ExcelSheet::RowReader> readers_;
  std::vector<const ExcelCell*> block_cells_;
  // Scratch records, reused for every record written.
  WorksheetRecords::Row row_;
  WorksheetRecords::DBCell dbcell_;
  CellRecords::RK rk_;
  CellRecords::Number number_;
  CellRecords::LabelSST label_;
  CellRecords::MulRK mul_rk_;
  CellRecords::Blank blank_;
  CellRecords::BoolErr bool_err_;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
