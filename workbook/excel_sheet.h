#pragma once
// The cells of one sheet of a workbook, as a table that grows on demand.
//
// A sheet object reads its cells once, when it is made, from its
// worksheet's records; from then on the cells are what counts, and the
// workbook rebuilds the records from them when it saves. A sheet belongs
// to its workbook (WorkbookContent::sheets), which makes it and ends it: it
// is neither copied, moved nor swapped, so that its name, its records and
// its texts stay its workbook's.
//
// Limits: rows 0-65535, columns 0-255. The table is GetTotalRows() by
// GetTotalCols() cells, but only cells that were set, asked for or read
// are stored, each knowing its row and column; the others read as empty.
// Memory and the time of a save follow the cells, not the size of the
// table.
//
// What stays valid: a stored cell stays where it is until its sheet is
// rebuilt (ReadCells) or goes (the sheet deleted, the workbook made anew,
// loaded or destroyed). So a pointer or reference from Cell or At, or a
// cell view of StoredRow or a RowReader, stays valid while other cells are
// added, in its column or elsewhere, and while values change: reading one
// cell and assigning it to another of the same sheet (*s.Cell(3, 2) =
// *s.At(9, 2)), swapping two cells, or keeping pointers to many cells and
// sorting them, all read the cells they name. (At gives one shared empty
// cell for a place that stores none; it stays empty.) A cell's text
// (GetString) is valid until that cell's value changes.
//
// Storage: each column keeps its cells in pages of kPageRows rows that
// never move, in row order: a column costs about 17 bytes a cell where its
// rows follow each other, and a page (about 0.5 KB) for a cell far from
// any other. Cells may come in any order at the same cost. A string cell shows
// a text of its workbook's table of texts (TextTable), which holds each
// text once however many cells show it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
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
 public:
  static constexpr uint64_t kMaxRows = 65536;
  static constexpr uint64_t kMaxCols = 256;

  static constexpr uint64_t kPageRows = 32;

  // owner is not owned; sheet_index names the sheet's position in it (its
  // BoundSheet and Worksheet). Reads the cells (ReadCells).
  ExcelSheet(WorkbookContent* owner, uint64_t sheet_index);
  ExcelSheet(const ExcelSheet&) = delete;
  ExcelSheet& operator=(const ExcelSheet&) = delete;
  ~ExcelSheet();

  // The cell, the table grown to include it (a call that only looks still
  // grows it). Null, and nothing changed, when row >= 65536 or column >= 256.
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
  // undefined).
  RowCells StoredRow(uint64_t row) const;
  // Reads stored rows one after another, each from where the last one was
  // found: a walk over the rows in order costs what the cells do, without a
  // search per cell. Rows are read as the sheet is when they are asked for.
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
    // Per column, the page where the last search ended.
    struct Cursor {
      const ExcelSheet* sheet;
      size_t column;
      size_t page;
    };
    std::vector<Cursor> at_;
    RowCells row_;
    // On the heap: a group of rows takes 66 KB.
    std::vector<RowCells> rows_;
  };
  // Calls visit(cell) for every cell stored, column by column.
  template <class Visit>
  void VisitStored(Visit visit) const {
    for (const Column& column : columns_)
      for (const auto& page : column.pages)
        for (uint32_t stored = page->stored; stored; stored &= stored - 1)
          visit(page->cells[__builtin_ctz(stored)]);
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
  // ReadCells does.
  void FinishReading(const Worksheet::Dimensions& dimensions);

  // At most how many cells each column receives: for a load, which knows it
  // beforehand, so that the columns' lists of pages make room once.
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
  // The table of texts its cells show (TextTable): its workbook's, which
  // outlives them. Set before any cell is stored, for a sheet read aside;
  // with none, each cell holds its own texts.
  const TextTable* Texts() const { return texts_; }
  void SetTexts(TextTable* texts) { texts_ = texts; }

 private:
  friend class ExcelCell;
  // kPageRows cells of rows first_row on, and which of them are stored.
  // The table of texts leads a cell of the page to its texts: a cell's
  // row gives its place in the page, and so the page (TextsOf).
  struct Page {
    explicit Page(uint16_t first, uint8_t column, TextTable* table);
    TextTable* texts;
    uint32_t stored = 0;
    uint16_t first_row;
    ExcelCell cells[kPageRows];
  };
  // One column's pages, in row order (the sheet's slabs hold them).
  struct Column {
    std::vector<Page*> pages;
    // The first page that ends after row, searched from hint first.
    size_t PageFrom(uint16_t row, size_t hint) const;
    const ExcelCell* Find(uint16_t row) const;
  };
  static TextTable* TextsOf(const ExcelCell& cell);
  // A new page from the slabs, which are cut into pages in turn, each a
  // part larger than the last, so that a page costs no allocation of its
  // own. Pages go only with the sheet (or ReadCells): DropPages.
  Page* NewPage(uint16_t first, uint8_t column);
  void DropPages();

  WorkbookContent* owner_;
  uint64_t sheet_index_;
  uint64_t rows_;
  uint64_t cols_;
  // The columns that hold cells, in column order, and per column its place
  // there + 1 (0: none), so that far cells cost no empty columns.
  Column& ColumnFor(uint64_t col);
  std::vector<Column> columns_;
  std::array<uint16_t, kMaxCols> slot_;
  TextTable* texts_;
  std::vector<std::unique_ptr<unsigned char[]>> slabs_;
  unsigned char* slab_room_ = nullptr;
  uint64_t slab_pages_left_ = 0;
  uint64_t pages_made_ = 0;
  uint64_t pages_expected_ = 0;
  static constexpr uint64_t kSlabPages = 224;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
