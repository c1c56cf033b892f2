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
// table.
//
// Storage: each column keeps its cells sorted by row. A pointer to a cell
// (from Cell) stays valid until a cell is added to its own column, or the
// sheet is rebuilt (ReadCells) or destroyed; setting values, erasing, and
// every const reader (At, StoredRows, StoredRow, RowReader) move no cell.
// Cells that come in row order within their column (a sheet filled row by
// row, column by column, or read from a file) are appended; other orders
// cost more per cell but none is quadratic. A cell that shows a text read
// from the workbook's file points at it in the workbook's table of texts
// (TextTable); other texts are the cells' own.
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <ostream>
#include <vector>

#include "excel_cell.h"
#include "worksheet.h"

namespace YCompoundFiles {
namespace YExcel {

struct WorkbookContent;
class TextTable;
namespace GlobalsRecords {
struct SharedStringTable;
}

class ExcelSheet {
 private:
  // A cell as the sheet stores it: copying it (as copying the sheet does)
  // copies its place and text.
  struct Stored : ExcelCell {
    Stored() = default;
    Stored(const Stored& other, Relocation relocation) noexcept : ExcelCell(other, relocation) {}
    Stored(const Stored& other) : ExcelCell() { CopyWithPlace(other); }
    Stored& operator=(const Stored&) = delete;
  };

  // The cells of a column in a list of their own, which moves them as
  // plain bytes when it grows or makes room (their places and texts go
  // with the bytes), so that a growing column costs what copying bytes
  // does.
  class CellList {
   public:
    CellList() = default;
    CellList(const CellList& other);
    CellList(CellList&& other) noexcept { swap(other); }
    CellList& operator=(CellList other) noexcept {
      swap(other);
      return *this;
    }
    ~CellList() { clear(); }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    size_t capacity() const { return capacity_; }
    Stored* data() { return data_; }
    const Stored* data() const { return data_; }
    Stored* begin() { return data_; }
    Stored* end() { return data_ + size_; }
    const Stored* begin() const { return data_; }
    const Stored* end() const { return data_ + size_; }
    Stored& operator[](size_t i) { return data_[i]; }
    const Stored& operator[](size_t i) const { return data_[i]; }
    const Stored& back() const { return data_[size_ - 1]; }

    // A new undefined cell at position at (at most size()), after the
    // cells before it; room is made when there is none.
    Stored& Insert(size_t at) {
      if (size_ == capacity_) Grow();
      if (at < size_) Shift(at);
      ++size_;
      // Columns filled side by side (a load fills a row at a time) are too
      // many streams for the processor to see coming, and each first write
      // to a cache line would wait for it: the next line is asked for now,
      // to be there when the column's turn comes again.
      if (capacity_ - at > kCellsPerLine) __builtin_prefetch(data_ + at + kCellsPerLine, 1);
      return *new (data_ + at) Stored;
    }
    // Takes the cells of two lists sorted by row, leaving both empty.
    void Merge(CellList& a, CellList& b);
    void reserve(size_t capacity);
    void shrink_to_fit() { Reallocate(size_); }
    void clear();
    void swap(CellList& other) noexcept;

   private:
    static constexpr size_t kCellsPerLine = 64 / sizeof(Stored);

    void Reallocate(size_t capacity);
    void Grow();
    // Moves the cells from at on one place up, into room there is.
    void Shift(size_t at);
    static void Relocate(Stored* to, const Stored* from, size_t count);

    Stored* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
  };

 public:
  static constexpr uint64_t kMaxRows = 65536;
  static constexpr uint64_t kMaxCols = 256;

  // owner is not owned; sheet_index names the sheet's position in it (its
  // BoundSheet and Worksheet). Reads the cells (ReadCells).
  ExcelSheet(WorkbookContent* owner, uint64_t sheet_index);

  // The cell, the table grown to include it (a call that only looks still
  // grows it). Null, and nothing changed, when row >= 65536 or column >= 256.
  // The pointer is valid until a cell is added to the same column.
  ExcelCell* Cell(uint64_t row, uint64_t col);
  // The cell inside the table, or null; never grows the table.
  const ExcelCell* At(uint64_t row, uint64_t col) const;

  // The cells stored in one row, in column order.
  class RowCells {
   public:
    class Iterator {
     public:
      using iterator_category = std::forward_iterator_tag;
      using value_type = ExcelCell;
      using difference_type = std::ptrdiff_t;
      using pointer = const ExcelCell*;
      using reference = const ExcelCell&;

      explicit Iterator(const ExcelCell* const* at) : at_(at) {}
      const ExcelCell& operator*() const { return **at_; }
      const ExcelCell* operator->() const { return *at_; }
      Iterator& operator++() {
        ++at_;
        return *this;
      }
      Iterator operator++(int) { return Iterator(at_++); }
      bool operator!=(const Iterator& other) const { return at_ != other.at_; }
      bool operator==(const Iterator& other) const { return at_ == other.at_; }

     private:
      const ExcelCell* const* at_;
    };
    Iterator begin() const { return Iterator(cells_.data()); }
    Iterator end() const { return Iterator(cells_.data() + size_); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const ExcelCell& operator[](size_t i) const { return *cells_[i]; }

   private:
    friend class ExcelSheet;
    std::array<const ExcelCell*, kMaxCols> cells_;
    size_t size_ = 0;
  };
  // Rows from StoredRows() on store no cell.
  uint64_t StoredRows() const;
  // The cells stored in a row (cells of the table not stored there are
  // undefined); valid until a cell is added to the sheet.
  RowCells StoredRow(uint64_t row) const;
  // Reads stored rows one after another, each from where the last one was
  // found: a walk over the rows in order costs what the cells do, without a
  // search per cell. Valid while no cell is added to the sheet.
  class RowReader {
   public:
    static constexpr uint64_t kGroup = 32;

    explicit RowReader(const ExcelSheet& sheet);
    // The cells stored in the row; the view changes with the next call.
    const RowCells& Row(uint64_t row);
    // The cells stored in the rows first to first + count - 1 (count at
    // most kGroup), element i for row first + i; valid until the next call.
    // Each column is read once for all of them, in order, which is what a
    // walk over many columns costs least as.
    const std::vector<RowCells>& Rows(uint64_t first, uint64_t count);

   private:
    // Per column that holds cells, where the last search ended in its two
    // lists.
    struct Cursor {
      const CellList* cells;
      const CellList* later;
      size_t in_cells;
      size_t in_later;
    };
    std::vector<Cursor> at_;
    RowCells row_;
    // On the heap: a group of rows takes 66 KB.
    std::vector<RowCells> rows_;
  };
  // Calls visit(cell) for every cell stored, column by column.
  template <class Visit>
  void VisitStored(Visit visit) const {
    for (const Column& column : columns_) {
      for (const ExcelCell& cell : column.cells) visit(cell);
      for (const ExcelCell& cell : column.later) visit(cell);
    }
  }
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
  // Integer and double RK values, numbers, booleans, error values and
  // shared strings (an empty one too) become cells with their formats;
  // blanks give empty cells with their formats; a formula that is one
  // constant gives that value with its format; other formulas give their
  // last result with their format, the cell marked as a formula's
  // (ExcelCell::IsFormula), the formula kept by the worksheet. A
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
  // ReadCells does, and the columns give back room they do not use.
  void FinishReading(const Worksheet::Dimensions& dimensions);

  // At most how many cells each column receives: for a load, which knows it
  // beforehand, so that the columns make room once.
  using ColumnCounts = std::array<uint64_t, kMaxCols>;
  void ReserveCells(const ColumnCounts& counts);

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
  // The table of texts its cells may point at (TextTable): its workbook's,
  // which outlives them. Set before any cell is read, for a sheet read
  // aside; null for none.
  const TextTable* Texts() const { return texts_; }
  void SetTexts(const TextTable* texts) { texts_ = texts; }

 private:
  // One column's cells, each stored once, in two lists sorted by row. Cells
  // that come after the column's last row (or a little before it) go into
  // cells; the others wait in later, which is merged into cells once it
  // holds about sqrt(2 x cells) of them: a cell out of order costs about
  // that many moves, whatever the order.
  struct Column {
    CellList cells;
    CellList later;
    const ExcelCell* Find(uint16_t row) const;
  };

  WorkbookContent* owner_;
  uint64_t sheet_index_;
  uint64_t rows_;
  uint64_t cols_;
  // The columns that hold cells, in column order, and per column its place
  // there + 1 (0: none), so that far cells cost no empty columns.
  Column& ColumnFor(uint64_t col);
  std::vector<Column> columns_;
  std::array<uint16_t, kMaxCols> slot_;
  const TextTable* texts_;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
