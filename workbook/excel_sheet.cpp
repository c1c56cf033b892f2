#include "excel_sheet.h"

#include <algorithm>
#include <cstring>

#include "rk_codec.h"
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

const Workbook::BoundSheet* bound_sheet_of(const WorkbookContent* owner, uint64_t index) {
  if (!owner || index >= owner->globals.bound_sheets.size()) return nullptr;
  return &owner->globals.bound_sheets[index];
}

}  // namespace

ExcelSheet::ExcelSheet(WorkbookContent* owner, uint64_t sheet_index)
    : owner_(owner), sheet_index_(sheet_index), rows_(0), cols_(0) {
  ReadCells();
}

namespace {

bool column_before(const ExcelCell& cell, uint64_t col) {
  return cell.Column() < col;
}

}  // namespace

ExcelCell* ExcelSheet::Cell(uint64_t row, uint64_t col) {
  if (row >= kMaxRows || col >= kMaxCols) return nullptr;
  rows_ = std::max(rows_, row + 1);
  cols_ = std::max(cols_, col + 1);
  if (row >= cells_.size()) cells_.resize(row + 1);
  std::vector<ExcelCell>& cells = cells_[row];
  // Cells come in column order as a rule: they are appended.
  auto at = cells.end();
  if (!cells.empty() && cells.back().Column() >= col) {
    at = std::lower_bound(cells.begin(), cells.end(), col, column_before);
    if (at->Column() == col) return &*at;
  }
  // A row grows by a quarter of its length at a time, not by doubling: a
  // sheet built cell by cell keeps little room unused.
  if (cells.size() == cells.capacity()) {
    const auto offset = at - cells.begin();
    cells.reserve(cells.size() + std::max<size_t>(1, cells.size() / 4));
    at = cells.begin() + offset;
  }
  at = cells.emplace(at);
  at->column_ = static_cast<uint8_t>(col);
  return &*at;
}

const ExcelCell* ExcelSheet::At(uint64_t row, uint64_t col) const {
  static const ExcelCell empty;
  if (row >= rows_ || col >= cols_) return nullptr;
  if (row >= cells_.size()) return &empty;
  const std::vector<ExcelCell>& cells = cells_[row];
  const auto at = std::lower_bound(cells.begin(), cells.end(), col, column_before);
  return at != cells.end() && at->Column() == col ? &*at : &empty;
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
  cells_.clear();
  rows_ = cols_ = 0;
  if (!owner_ || sheet_index_ >= owner_->worksheets.size()) return;
  Worksheet& worksheet = owner_->worksheets[sheet_index_];
  // The sheet takes the size its Dimensions record gives (within the
  // limits), but cells are stored only where they exist: a damaged or
  // merely generous record must not make a nearly empty sheet cost
  // gigabytes.
  rows_ = std::min<uint64_t>(worksheet.dimensions.first_unused_row, kMaxRows);
  cols_ = std::min<uint64_t>(worksheet.dimensions.first_unused_col, kMaxCols);

  const Workbook::SharedStringTable& strings = owner_->globals.shared_strings;
  for (Worksheet::CellTable::RowBlock& block : worksheet.cell_table.row_blocks)
    for (const CellBlock& record : block.cell_blocks) ReadCell(record, strings);
}

void ExcelSheet::ReadCell(const CellBlock& record,
                          const GlobalsRecords::SharedStringTable& strings) {
  const uint64_t r = record.RowIndex();
  const uint64_t c = record.ColIndex();
  // Rows come one after the other: the one left behind gives back the room
  // its growth reserved, so that a load holds no more than its cells.
  if (r != reading_row_ && reading_row_ < cells_.size()) cells_[reading_row_].shrink_to_fit();
  reading_row_ = r;
  // While reading, a row may grow by doubling: the room is given back above.
  if (r < kMaxRows) {
    if (r >= cells_.size()) cells_.resize(r + 1);
    std::vector<ExcelCell>& row = cells_[r];
    const size_t adding = record.code == Cells::kMulRK      ? record.mul_rk.entries.size()
                          : record.code == Cells::kMulBlank ? record.mul_blank.xf_indices.size()
                                                            : 1;
    if (row.size() + adding > row.capacity())
      row.reserve(std::max(2 * row.capacity(), row.size() + adding));
  }
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
      if (record.bool_err.error == 0) {
        if (ExcelCell* cell = Cell(r, c)) {
          cell->SetInteger(record.bool_err.value);
          cell->SetFormat(record.bool_err.xf_index);
        }
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
      if (index >= strings.strings.size()) break;
      const LongUnicodeString& text = strings.strings[index];
      if (ExcelCell* cell = Cell(r, c)) {
        if (text.IsWide())
          cell->SetString(text.wide.c_str());
        else
          cell->SetString(text.narrow.c_str());
        cell->SetFormat(record.label_sst.xf_index);
      }
      break;
    }
    default:
      break;  // formulas give no value
  }
}

void ExcelSheet::FinishReading(const Worksheet::Dimensions& dimensions) {
  rows_ = std::max(rows_, std::min<uint64_t>(dimensions.first_unused_row, kMaxRows));
  cols_ = std::max(cols_, std::min<uint64_t>(dimensions.first_unused_col, kMaxCols));
  for (std::vector<ExcelCell>& row : cells_)
    if (row.capacity() > row.size()) row.shrink_to_fit();
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
