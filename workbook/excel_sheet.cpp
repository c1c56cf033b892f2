#include "excel_sheet.h"

#include <algorithm>
#include <cstring>
#include <string>

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

namespace {

// A cell this close to the end of its column's cells is inserted there at
// once: moving a few cells is cheaper than a second list (a column that
// holds the far corner first, as the export sizes its sheet, fills up in
// front of it).
constexpr size_t kNearEnd = 64;
// later is merged at the earliest at this many cells.
constexpr size_t kMinLater = 32;

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
      n = 1;
      break;
    default:
      break;
  }
  for (uint64_t c = record.ColIndex(); n > 0 && c < ExcelSheet::kMaxCols; --n, ++c) ++counts[c];
}

// The first cell of cells not before row, searched outward from hint: a
// reader that goes row by row, or a guess from the row, finds it at once.
template <class Cells>
size_t lower_bound_from(const Cells& cells, uint16_t row, size_t hint) {
  const size_t n = cells.size();
  hint = std::min(hint, n);
  size_t lo = 0;
  size_t hi = hint;
  size_t step = 1;
  if (hint < n && cells[hint].Row() < row) {
    lo = hi = hint + 1;
    while (hi < n && cells[hi].Row() < row) {
      lo = hi + 1;
      hi += step;
      step *= 2;
    }
    hi = std::min(hi, n);
  } else {
    lo = hint;
    while (lo > 0 && cells[lo - 1].Row() >= row) {
      hi = lo - 1;
      lo = hi > step ? hi - step : 0;
      step *= 2;
    }
  }
  return static_cast<size_t>(
      std::lower_bound(cells.begin() + lo, cells.begin() + hi, row,
                       [](const ExcelCell& cell, uint16_t r) { return cell.Row() < r; }) -
      cells.begin());
}

// Where row would stand in a column whose rows follow each other.
template <class Cells>
size_t guess(const Cells& cells, uint16_t row) {
  return cells.empty() || row < cells[0].Row() ? 0 : row - cells[0].Row();
}

template <class Cells>
const ExcelCell* find_in(const Cells& cells, uint16_t row) {
  if (cells.empty() || row > cells.back().Row()) return nullptr;
  const size_t at = lower_bound_from(cells, row, guess(cells, row));
  return at < cells.size() && cells[at].Row() == row ? &cells[at] : nullptr;
}

}  // namespace

const ExcelCell* ExcelSheet::Column::Find(uint16_t row) const {
  if (const ExcelCell* found = find_in(cells, row)) return found;
  return find_in(later, row);
}

ExcelCell* ExcelSheet::Cell(uint64_t row, uint64_t col) {
  if (row >= kMaxRows || col >= kMaxCols) return nullptr;
  rows_ = std::max(rows_, row + 1);
  cols_ = std::max(cols_, col + 1);
  Column& column = slot_[col] ? columns_[slot_[col] - 1u] : ColumnFor(col);
  CellList& cells = column.cells;
  const auto r = static_cast<uint16_t>(row);
  auto place = [&](CellList& list, size_t at) {
    ExcelCell& cell = list.Insert(at);
    cell.data_.row = r;
    cell.data_.column = static_cast<uint8_t>(col);
    return &cell;
  };
  // In order: every cell of later lies before the last of cells.
  if (cells.empty() || cells.back().Row() < r) return place(cells, cells.size());
  const size_t at = lower_bound_from(cells, r, guess(cells, r));
  if (cells[at].Row() == r) return &cells[at];
  if (const ExcelCell* found = find_in(column.later, r)) return const_cast<ExcelCell*>(found);
  if (cells.size() - at <= kNearEnd) return place(cells, at);

  CellList& later = column.later;
  ExcelCell* added = place(later, lower_bound_from(later, r, guess(later, r)));
  if (later.size() < kMinLater || later.size() * later.size() < 2 * cells.size()) return added;
  CellList merged;
  merged.Merge(cells, later);
  cells.swap(merged);
  return const_cast<ExcelCell*>(find_in(cells, r));
}

// ---------------------------------------------------------------------------
// The lists of a column's cells. A cell is moved by constructing a copy of
// its bytes where it goes; the place it leaves is reused or freed without
// ending the cell there, so that its text has one owner throughout.

// Moves count cells as their bytes (the ranges may overlap): what a
// cell's relocation is, done at the speed of a memory copy.
void ExcelSheet::CellList::Relocate(Stored* to, const Stored* from, size_t count) {
  static_assert(sizeof(Stored) == sizeof(ExcelCell), "a stored cell is a cell");
  if (count)
    std::memmove(static_cast<void*>(to), static_cast<const void*>(from), count * sizeof(Stored));
}

ExcelSheet::CellList::CellList(const CellList& other) {
  reserve(other.size_);
  for (; size_ < other.size_; ++size_) new (data_ + size_) Stored(other.data_[size_]);
}

void ExcelSheet::CellList::swap(CellList& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
}

void ExcelSheet::CellList::clear() {
  // Bounds held apart, so that the loop is a test per cell (a cell of a
  // number releases nothing), not a reload of this list after each call.
  for (Stored *cell = data_, *end = data_ + size_; cell != end; ++cell) cell->~Stored();
  ::operator delete(data_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

void ExcelSheet::CellList::Reallocate(size_t capacity) {
  if (capacity == capacity_) return;
  Stored* to = capacity ? static_cast<Stored*>(::operator new(capacity * sizeof(Stored))) : nullptr;
  Relocate(to, data_, size_);
  ::operator delete(data_);
  data_ = to;
  capacity_ = capacity;
}

void ExcelSheet::CellList::reserve(size_t capacity) {
  if (capacity > capacity_) Reallocate(capacity);
}

void ExcelSheet::CellList::Grow() {
  // A column grows by a quarter of its length at a time, not by doubling,
  // so that a sheet built cell by cell keeps little room unused.
  reserve(size_ + std::max<size_t>(4, size_ / 4));
}

void ExcelSheet::CellList::Shift(size_t at) {
  Relocate(data_ + at + 1, data_ + at, size_ - at);
}

void ExcelSheet::CellList::Merge(CellList& a, CellList& b) {
  clear();
  reserve(a.size_ + b.size_);
  size_t i = 0;
  size_t j = 0;
  while (i < a.size_ || j < b.size_) {
    const bool from_a = j == b.size_ || (i < a.size_ && a.data_[i].Row() < b.data_[j].Row());
    new (data_ + size_++) Stored(from_a ? a.data_[i++] : b.data_[j++], ExcelCell::Relocation());
  }
  // Their cells are here now.
  a.size_ = b.size_ = 0;
}

ExcelSheet::Column& ExcelSheet::ColumnFor(uint64_t col) {
  if (!slot_[col]) {
    const auto place = static_cast<size_t>(
        std::count_if(slot_.begin(), slot_.begin() + col, [](uint16_t s) { return s != 0; }));
    // Moves the columns after it, not their cells.
    columns_.emplace(columns_.begin() + static_cast<std::ptrdiff_t>(place));
    for (uint16_t& s : slot_)
      if (s > place) ++s;
    slot_[col] = static_cast<uint16_t>(place + 1);
  }
  return columns_[slot_[col] - 1u];
}

void ExcelSheet::ReserveCells(const ColumnCounts& counts) {
  for (size_t c = 0; c < kMaxCols; ++c)
    if (counts[c]) ColumnFor(c).cells.reserve(counts[c]);
}

uint64_t ExcelSheet::StoredRows() const {
  uint64_t rows = 0;
  for (const Column& column : columns_) {
    if (!column.cells.empty()) rows = std::max<uint64_t>(rows, column.cells.back().Row() + 1u);
    if (!column.later.empty()) rows = std::max<uint64_t>(rows, column.later.back().Row() + 1u);
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
  for (const Column& column : sheet.columns_)
    if (!column.cells.empty()) at_.push_back({&column.cells, &column.later, 0, 0});
}

namespace {

// Whether cells holds row, searched from at (where the row before was
// found, as a rule, so that the next row lies at or after it).
template <class Cells>
const ExcelCell* look(const Cells& cells, uint16_t row, size_t& at) {
  const size_t n = cells.size();
  if (at < n && cells[at].Row() < row) ++at;
  if ((at < n && cells[at].Row() < row) || (at > 0 && at <= n && cells[at - 1].Row() >= row))
    at = lower_bound_from(cells, row, at);
  return at < n && cells[at].Row() == row ? &cells[at] : nullptr;
}

}  // namespace

const ExcelSheet::RowCells& ExcelSheet::RowReader::Row(uint64_t row) {
  row_.size_ = 0;
  if (row >= kMaxRows) return row_;
  const auto r = static_cast<uint16_t>(row);
  for (Cursor& cursor : at_) {
    const ExcelCell* cell = look(*cursor.cells, r, cursor.in_cells);
    if (!cell && !cursor.later->empty()) cell = look(*cursor.later, r, cursor.in_later);
    if (cell) row_.cells_[row_.size_++] = cell;
  }
  return row_;
}

const std::vector<ExcelSheet::RowCells>& ExcelSheet::RowReader::Rows(uint64_t first,
                                                                     uint64_t count) {
  count = std::min({count, kGroup, first < kMaxRows ? kMaxRows - first : 0});
  for (uint64_t i = 0; i < count; ++i) rows_[i].size_ = 0;
  const uint64_t end = first + count;
  // The cells of the rows from first on, each put into its row's list.
  auto take = [&](const CellList& cells, size_t& at) {
    if (cells.empty() || !count) return;
    look(cells, static_cast<uint16_t>(first), at);
    for (; at < cells.size() && cells[at].Row() < end; ++at) {
      RowCells& row = rows_[cells[at].Row() - first];
      row.cells_[row.size_++] = &cells[at];
    }
    // The next group of rows lies right after, in each column: asked for
    // now, it arrives while the other columns are read.
    const ExcelCell* next = cells.data() + at;
    const ExcelCell* last = cells.data() + std::min(cells.size(), at + kGroup);
    for (; next < last; next += 64 / sizeof(ExcelCell)) __builtin_prefetch(next);
  };
  for (Cursor& cursor : at_) {
    take(*cursor.cells, cursor.in_cells);
    take(*cursor.later, cursor.in_later);
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
  columns_.clear();
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
        if (wide)
          cell->ShowText(texts.Wide(t));
        else
          cell->ShowText(texts.Narrow(t));
      } else if (wide) {
        cell->SetText(std::u16string_view(texts.Wide(t)));
      } else {
        cell->SetText(std::string_view(texts.Narrow(t)));
      }
      break;
    }
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
  // Room reserved beyond the cells is given back, so that a load holds no
  // more than its cells.
  for (Column& column : columns_)
    if (column.cells.capacity() - column.cells.size() > column.cells.size() / 8)
      column.cells.shrink_to_fit();
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
