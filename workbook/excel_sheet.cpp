#include "excel_sheet.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "rk_codec.h"
#include "text_table.h"
#include "workbook_content.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using CellBlock = Worksheet::CellTable::RowBlock::CellBlock;
namespace Cells = CellRecords::Code;

void set_from_rk(ExcelCell& cell, uint32_t rk) {
  if (RKCodec::HasDoubleForm(rk)) {
    cell.SetDouble(RKCodec::ToDouble(rk));
    return;
  }
  // An integer with the scale flag holds hundredths (other writers store
  // 3.25 as 325 that way): cutting them off would change the value, so it
  // becomes the double the writer meant, whole values staying integers.
  const int32_t payload = RKCodec::ToInteger(rk & ~1u);
  if (!(rk & 1u))
    cell.SetInteger(payload);
  else if (payload % 100 == 0)
    cell.SetInteger(payload / 100);
  else
    cell.SetDouble(payload / 100.0);
}

// A formula that is one constant stands for a plain value.
void set_from_constant(ExcelCell& cell, const CellRecords::FormulaConstant& constant) {
  using Kind = CellRecords::FormulaConstant::Kind;
  switch (constant.kind) {
    case Kind::kError:
      cell.SetError(constant.code);
      break;
    case Kind::kBoolean:
      cell.SetBoolean(constant.code != 0);
      break;
    case Kind::kNumber:
      cell.SetDouble(constant.number);
      break;
    case Kind::kText:
      if (constant.wide) {
        cell.SetString(constant.text.c_str());
      } else {
        // Characters of one byte are Latin-1, as narrow texts are.
        const std::string narrow(constant.text.begin(), constant.text.end());
        cell.SetString(narrow.c_str());
      }
      break;
  }
}

// The last result of a formula: a number, or, marked by 0xFFFF in its last
// two bytes, a text (in the STRING record after it), a boolean, an error
// or an empty text. The file's byte order is the machine's, as the number
// cells' readers assume.
void set_from_result(ExcelCell& cell, const CellRecords::Formula& formula) {
  const uint8_t* result = formula.result;
  if (result[6] != 0xFF || result[7] != 0xFF) {
    double number = 0;
    std::memcpy(&number, result, sizeof number);
    cell.SetDouble(number);
    return;
  }
  switch (result[0]) {
    case 0: {
      const std::vector<char>& data = formula.string.data;
      const ByteView view(data.data(), data.size());
      uint16_t count = 0;
      uint8_t flags = 0;
      view.Get(count, 0);
      view.Get(flags, 2);
      std::u16string text;
      for (uint64_t i = 0; i < count; ++i) {
        uint16_t unit = 0;
        uint8_t narrow = 0;
        if (flags & 1 ? !view.Get(unit, 3 + 2 * i) : !view.Get(narrow, 3 + i)) break;
        text.push_back(static_cast<char16_t>(flags & 1 ? unit : narrow));
      }
      // An empty text leaves the cell without a value (the formula stays).
      if (flags & 1)
        cell.SetString(text.c_str());
      else
        cell.SetString(std::string(text.begin(), text.end()).c_str());
      break;
    }
    case 1:
      cell.SetBoolean(result[2] != 0);
      break;
    case 2:
      cell.SetError(result[2]);
      break;
    default:
      cell.EraseContents();
      break;
  }
}

const Workbook::BoundSheet* bound_sheet_of(const WorkbookContent* owner, uint64_t index) {
  if (!owner || index >= owner->globals.bound_sheets.size()) return nullptr;
  return &owner->globals.bound_sheets[index];
}

}  // namespace

ExcelSheet::ExcelSheet(WorkbookContent* owner, uint64_t sheet_index)
    : owner_(owner),
      sheet_index_(sheet_index),
      rows_(0),
      cols_(0),
      slot_{},
      texts_(owner ? owner->texts.get() : nullptr) {
  ReadCells();
}

ExcelSheet::~ExcelSheet() {
  DropPages();
}

ExcelSheet::Page* ExcelSheet::NewPage(uint16_t first, uint8_t column) {
  if (!slab_pages_left_) {
    // Slabs stay below the size the allocator maps on its own, which would
    // cost page faults on every load; a load that said how many pages it
    // fills gets no more.
    uint64_t pages = std::clamp<uint64_t>(pages_made_ / 8, 4, kSlabPages);
    if (pages_expected_ > pages_made_) pages = std::min(kSlabPages, pages_expected_ - pages_made_);
    slabs_.emplace_back(new unsigned char[pages * sizeof(Page)]);
    slab_room_ = slabs_.back().get();
    slab_pages_left_ = pages;
  }
  static_assert(alignof(Page) <= alignof(std::max_align_t), "pages lie in slabs of new[]");
  Page* page = new (slab_room_) Page(first, column, texts_);
  slab_room_ += sizeof(Page);
  --slab_pages_left_;
  ++pages_made_;
  return page;
}

void ExcelSheet::DropPages() {
  // The cells of a sheet with a table of texts hold none of their own: when
  // the table lets every text go at once, they go with their pages.
  if (!texts_ || !texts_->Abandoned()) {
    for (Column& column : columns_)
      for (Page* page : column.pages) page->~Page();
  }
  columns_.clear();
  slabs_.clear();
  slab_room_ = nullptr;
  slab_pages_left_ = pages_made_ = pages_expected_ = 0;
}

namespace {

// Adds count to each column from first on that a record reaches.
void count_cells(const CellBlock& record, ExcelSheet::ColumnCounts& counts) {
  size_t n = 0;
  switch (record.code) {
    case Cells::kMulRK:
      n = record.mul_rk.entries.size();
      break;
    case Cells::kMulBlank:
      n = record.mul_blank.xf_indices.size();
      break;
    case Cells::kRK:
    case Cells::kNumber:
    case Cells::kBoolErr:
    case Cells::kBlank:
    case Cells::kLabelSST:
    case Cells::kLabel:
    case Cells::kRString:
      n = 1;
      break;
    default:
      break;
  }
  for (uint64_t c = record.ColIndex(); n > 0 && c < ExcelSheet::kMaxCols; --n, ++c) ++counts[c];
}

uint16_t page_start(uint64_t row) {
  return static_cast<uint16_t>(row / ExcelSheet::kPageRows * ExcelSheet::kPageRows);
}

}  // namespace

ExcelSheet::Page::Page(uint16_t first, uint8_t column, TextTable* table)
    : texts(table), first_row(first) {
  for (uint16_t i = 0; i < kPageRows; ++i) {
    cells[i].data_.row = static_cast<uint16_t>(first + i);
    cells[i].data_.column = column;
    cells[i].data_.marks = ExcelCell::kInSheet;
  }
}

TextTable* ExcelSheet::TextsOf(const ExcelCell& cell) {
  static_assert(std::is_standard_layout_v<Page>, "a page is found from its cells");
  const ExcelCell* first = &cell - cell.Row() % kPageRows;
  const char* page = reinterpret_cast<const char*>(first) - offsetof(Page, cells);
  return reinterpret_cast<const Page*>(page)->texts;
}

size_t ExcelSheet::Column::PageFrom(uint16_t row, size_t hint) const {
  const size_t n = pages.size();
  auto ends_after = [row](size_t i, const std::vector<Page*>& p) {
    return p[i]->first_row + kPageRows > row;
  };
  // A walk in row order finds the page at the hint or the next one.
  if (hint < n && ends_after(hint, pages) && (hint == 0 || !ends_after(hint - 1, pages)))
    return hint;
  if (hint + 1 < n && ends_after(hint + 1, pages) && !ends_after(hint, pages)) return hint + 1;
  // A column whose pages follow each other holds row's page where the row
  // says.
  if (n > 0) {
    const size_t guess = row < pages[0]->first_row ? 0 : (row - pages[0]->first_row) / kPageRows;
    if (guess < n && ends_after(guess, pages) && (guess == 0 || !ends_after(guess - 1, pages)))
      return guess;
  }
  return static_cast<size_t>(
      std::partition_point(pages.begin(), pages.end(),
                           [row](const Page* p) { return p->first_row + kPageRows <= row; }) -
      pages.begin());
}

const ExcelCell* ExcelSheet::Column::Find(uint16_t row) const {
  const size_t at = PageFrom(row, pages.size() - (pages.empty() ? 0 : 1));
  if (at == pages.size() || pages[at]->first_row > row) return nullptr;
  const Page& page = *pages[at];
  const unsigned i = row - page.first_row;
  return (page.stored >> i) & 1u ? &page.cells[i] : nullptr;
}

ExcelCell* ExcelSheet::Cell(uint64_t row, uint64_t col) {
  if (row >= kMaxRows || col >= kMaxCols) return nullptr;
  rows_ = std::max(rows_, row + 1);
  cols_ = std::max(cols_, col + 1);
  Column& column = slot_[col] ? columns_[slot_[col] - 1u] : ColumnFor(col);
  auto& pages = column.pages;
  const uint16_t first = page_start(row);
  size_t at = pages.size();
  // Cells that come in row order go into the last page or a new one after;
  // in a column whose pages follow each other, the row names its page.
  if (!pages.empty() && pages.back()->first_row == first) {
    at = pages.size() - 1;
  } else if (!pages.empty() && pages.back()->first_row > first) {
    const size_t guess =
        first >= pages[0]->first_row ? (first - pages[0]->first_row) / kPageRows : pages.size();
    at = guess < pages.size() && pages[guess]->first_row == first
             ? guess
             : column.PageFrom(static_cast<uint16_t>(row), pages.size() - 1);
  }
  if (at == pages.size() || pages[at]->first_row != first)
    pages.insert(pages.begin() + static_cast<std::ptrdiff_t>(at),
                 NewPage(first, static_cast<uint8_t>(col)));
  Page& page = *pages[at];
  const unsigned i = static_cast<unsigned>(row - first);
  page.stored |= 1u << i;
  return &page.cells[i];
}

ExcelSheet::Column& ExcelSheet::ColumnFor(uint64_t col) {
  if (!slot_[col]) {
    const auto place = static_cast<size_t>(
        std::count_if(slot_.begin(), slot_.begin() + col, [](uint16_t s) { return s != 0; }));
    // Moves the columns after it, not their pages.
    columns_.emplace(columns_.begin() + static_cast<std::ptrdiff_t>(place));
    for (uint16_t& s : slot_)
      if (s > place) ++s;
    slot_[col] = static_cast<uint16_t>(place + 1);
  }
  return columns_[slot_[col] - 1u];
}

void ExcelSheet::ReserveCells(const ColumnCounts& counts) {
  uint64_t pages = 0;
  for (size_t c = 0; c < kMaxCols; ++c) {
    if (!counts[c]) continue;
    // A column's rows that follow each other, from any row on.
    const uint64_t column_pages = (counts[c] + kPageRows - 1) / kPageRows + 1;
    ColumnFor(c).pages.reserve(column_pages);
    pages += column_pages;
  }
  pages_expected_ = pages_made_ + pages;
}

uint64_t ExcelSheet::StoredRows() const {
  uint64_t rows = 0;
  for (const Column& column : columns_) {
    if (column.pages.empty()) continue;
    const Page& last = *column.pages.back();
    rows = std::max<uint64_t>(rows, last.first_row + 32u - __builtin_clz(last.stored));
  }
  return rows;
}

ExcelSheet::RowCells ExcelSheet::StoredRow(uint64_t row) const {
  RowCells cells;
  if (row >= kMaxRows) return cells;
  for (const Column& column : columns_)
    if (const ExcelCell* cell = column.Find(static_cast<uint16_t>(row)))
      cells.cells_[cells.size_++] = cell;
  return cells;
}

ExcelSheet::RowReader::RowReader(const ExcelSheet& sheet) : rows_(kGroup) {
  for (size_t c = 0; c < kMaxCols; ++c)
    if (sheet.slot_[c]) at_.push_back({&sheet, c, 0});
}

const ExcelSheet::RowCells& ExcelSheet::RowReader::Row(uint64_t row) {
  row_.size_ = 0;
  if (row >= kMaxRows) return row_;
  const auto r = static_cast<uint16_t>(row);
  for (Cursor& cursor : at_) {
    const Column& column = cursor.sheet->columns_[cursor.sheet->slot_[cursor.column] - 1u];
    cursor.page = column.PageFrom(r, cursor.page);
    if (cursor.page == column.pages.size()) continue;
    const Page& page = *column.pages[cursor.page];
    const unsigned i = r - page.first_row;
    if (page.first_row <= r && ((page.stored >> i) & 1u))
      row_.cells_[row_.size_++] = &page.cells[i];
  }
  return row_;
}

const std::vector<ExcelSheet::RowCells>& ExcelSheet::RowReader::Rows(uint64_t first,
                                                                     uint64_t count) {
  count = std::min({count, kGroup, first < kMaxRows ? kMaxRows - first : 0});
  for (uint64_t i = 0; i < count; ++i) rows_[i].size_ = 0;
  if (!count) return rows_;
  const uint64_t end = first + count;
  for (Cursor& cursor : at_) {
    const Column& column = cursor.sheet->columns_[cursor.sheet->slot_[cursor.column] - 1u];
    size_t p = cursor.page = column.PageFrom(static_cast<uint16_t>(first), cursor.page);
    // The cells of the rows from first on, each put into its row's list.
    for (; p < column.pages.size() && column.pages[p]->first_row < end; ++p) {
      const Page& page = *column.pages[p];
      for (uint32_t stored = page.stored; stored; stored &= stored - 1) {
        const uint64_t row = page.first_row + static_cast<unsigned>(__builtin_ctz(stored));
        if (row < first) continue;
        if (row >= end) break;
        RowCells& cells = rows_[row - first];
        cells.cells_[cells.size_++] = &page.cells[row - page.first_row];
      }
    }
    // The next group of rows lies in the page where this one ended, or the
    // next: asked for now, it arrives while the other columns are read
    // (too many columns side by side for the processor to see coming).
    if (p > 0 && column.pages[p - 1]->first_row + kPageRows > end) --p;
    if (p < column.pages.size()) {
      const auto* next = reinterpret_cast<const char*>(column.pages[p]);
      for (size_t line = 0; line < sizeof(Page); line += 64) __builtin_prefetch(next + line);
    }
  }
  return rows_;
}

const ExcelCell* ExcelSheet::At(uint64_t row, uint64_t col) const {
  static const ExcelCell empty;
  if (row >= rows_ || col >= cols_) return nullptr;
  const ExcelCell* found =
      slot_[col] ? columns_[slot_[col] - 1u].Find(static_cast<uint16_t>(row)) : nullptr;
  return found ? found : &empty;
}

const char* ExcelSheet::GetSheetName() const {
  const Workbook::BoundSheet* sheet = bound_sheet_of(owner_, sheet_index_);
  return sheet ? sheet->name.Narrow() : nullptr;
}

const char16_t* ExcelSheet::GetWSheetName() const {
  const Workbook::BoundSheet* sheet = bound_sheet_of(owner_, sheet_index_);
  return sheet ? sheet->name.Wide() : nullptr;
}

bool ExcelSheet::GetSheetName(char* buffer) const {
  const char* name = GetSheetName();
  if (!name) return false;
  std::strcpy(buffer, name);
  return true;
}

bool ExcelSheet::GetSheetName(char16_t* buffer) const {
  const char16_t* name = GetWSheetName();
  if (!name) return false;
  do *buffer++ = *name;
  while (*name++);
  return true;
}

bool ExcelSheet::RenameSheet(const char* name) {
  if (!name || !bound_sheet_of(owner_, sheet_index_) || owner_->FindSheet(name) >= 0) return false;
  owner_->globals.bound_sheets[sheet_index_].name = name;
  return true;
}

bool ExcelSheet::RenameSheet(const char16_t* name) {
  if (!name || !bound_sheet_of(owner_, sheet_index_) || owner_->FindSheet(name) >= 0) return false;
  owner_->globals.bound_sheets[sheet_index_].name = name;
  return true;
}

bool ExcelSheet::EraseCell(uint64_t row, uint64_t col) {
  if (row >= rows_ || col >= cols_) return false;
  if (const ExcelCell* cell = At(row, col); cell->Type() != ExcelCell::kUndefined)
    const_cast<ExcelCell*>(cell)->EraseContents();
  return true;
}

void ExcelSheet::ReadCells() {
  DropPages();
  slot_.fill(0);
  rows_ = cols_ = 0;
  if (!owner_ || sheet_index_ >= owner_->worksheets.size()) return;
  Worksheet& worksheet = owner_->worksheets[sheet_index_];
  // The sheet takes the size its Dimensions record gives (within the
  // limits), but cells are stored only where they exist: a damaged or
  // merely generous record must not make a nearly empty sheet cost
  // gigabytes.
  rows_ = std::min<uint64_t>(worksheet.dimensions.first_unused_row, kMaxRows);
  cols_ = std::min<uint64_t>(worksheet.dimensions.first_unused_col, kMaxCols);

  ColumnCounts counts{};
  for (const Worksheet::CellTable::RowBlock& block : worksheet.cell_table.row_blocks)
    for (const CellBlock& record : block.cell_blocks) count_cells(record, counts);
  ReserveCells(counts);
  const Workbook::SharedStringTable& strings = owner_->globals.shared_strings;
  for (Worksheet::CellTable::RowBlock& block : worksheet.cell_table.row_blocks)
    for (const CellBlock& record : block.cell_blocks) ReadCell(record, strings);
  FinishReading(worksheet.dimensions);
}

void ExcelSheet::ReadCell(const CellBlock& record,
                          const GlobalsRecords::SharedStringTable& strings) {
  const uint64_t r = record.RowIndex();
  const uint64_t c = record.ColIndex();
  switch (record.code) {
    case Cells::kMulRK:
      for (uint64_t j = 0; j < record.mul_rk.entries.size(); ++j) {
        if (ExcelCell* cell = Cell(r, c + j)) {
          set_from_rk(*cell, record.mul_rk.entries[j].value);
          cell->SetFormat(record.mul_rk.entries[j].xf_index);
        }
      }
      break;
    case Cells::kRK:
      if (ExcelCell* cell = Cell(r, c)) {
        set_from_rk(*cell, record.rk.value);
        cell->SetFormat(record.rk.xf_index);
      }
      break;
    case Cells::kNumber:
      if (ExcelCell* cell = Cell(r, c)) {
        cell->SetDouble(record.number.value);
        cell->SetFormat(record.number.xf_index);
      }
      break;
    case Cells::kBoolErr:
      if (ExcelCell* cell = Cell(r, c)) {
        if (record.bool_err.error)
          cell->SetError(record.bool_err.value);
        else
          cell->SetBoolean(record.bool_err.value != 0);
        cell->SetFormat(record.bool_err.xf_index);
      }
      break;
    // Blanks hold only a format.
    case Cells::kBlank:
      if (ExcelCell* cell = Cell(r, c)) cell->SetFormat(record.blank.xf_index);
      break;
    case Cells::kMulBlank:
      for (uint64_t j = 0; j < record.mul_blank.xf_indices.size(); ++j)
        if (ExcelCell* cell = Cell(r, c + j)) cell->SetFormat(record.mul_blank.xf_indices[j]);
      break;
    case Cells::kLabelSST: {
      const uint64_t index = record.label_sst.string_index;
      if (index >= strings.Count()) break;
      ExcelCell* cell = Cell(r, c);
      if (!cell) break;
      cell->SetFormat(record.label_sst.xf_index);
      if (!strings.texts) {
        const LongUnicodeString& text = strings.strings[index];
        if (text.IsWide())
          cell->SetText(std::u16string_view(text.wide.c_str()));
        else
          cell->SetText(std::string_view(text.narrow.c_str()));
        break;
      }
      // A text read from the workbook's file is shown where it lies; a text
      // of another table, or one that may still move, is copied.
      const uint32_t t = strings.TextAt(index);
      const TextTable& texts = *strings.texts;
      const bool wide = texts.IsWide(t);
      if (&texts == texts_ && texts.IsFixed(t)) {
        cell->ShowText(t, wide);
      } else if (wide) {
        cell->SetText(std::u16string_view(texts.Wide(t)));
      } else {
        cell->SetText(std::string_view(texts.Narrow(t)));
      }
      break;
    }
    // Older text cells: their text becomes the cell's, saved as LabelSST.
    case Cells::kLabel:
    case Cells::kRString:
      if (ExcelCell* cell = Cell(r, c)) {
        cell->SetFormat(record.label.xf_index);
        if (record.label.text.IsWide())
          cell->SetText(std::u16string_view(record.label.text.wide));
        else
          cell->SetText(std::string_view(record.label.text.narrow));
      }
      break;
    case Cells::kFormula: {
      CellRecords::FormulaConstant constant;
      ExcelCell* cell = Cell(r, c);
      if (!cell) break;
      cell->SetFormat(record.formula.xf_index);
      if (record.formula.Constant(constant)) {
        set_from_constant(*cell, constant);
        break;
      }
      // Other formulas show their last result and are written back.
      set_from_result(*cell, record.formula);
      cell->MarkFormula();
      break;
    }
    default:
      break;
  }
}

void ExcelSheet::FinishReading(const Worksheet::Dimensions& dimensions) {
  rows_ = std::max(rows_, std::min<uint64_t>(dimensions.first_unused_row, kMaxRows));
  cols_ = std::max(cols_, std::min<uint64_t>(dimensions.first_unused_col, kMaxCols));
}

void ExcelSheet::Print(std::ostream& out, char separator, char qualifier) const {
  for (uint64_t r = 0; r < rows_; ++r) {
    for (uint64_t c = 0; c < cols_; ++c) {
      if (c) out << separator;
      const ExcelCell& cell = *At(r, c);
      if (cell.Type() != ExcelCell::kNarrowString || !qualifier) {
        out << cell;
        continue;
      }
      out << qualifier;
      for (const char* p = cell.GetString(); *p; ++p) {
        if (*p == qualifier) out << qualifier;
        out << *p;
      }
      out << qualifier;
    }
    out << '\n';
  }
}

}  // namespace YExcel
}  // namespace YCompoundFiles
