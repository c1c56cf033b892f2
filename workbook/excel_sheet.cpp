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

uint32_t key_of(uint64_t row, uint64_t col) {
  return static_cast<uint32_t>(row << 8 | col);
}

// A run no longer than this takes a cell out of order by moving the cells
// after it; a longer one makes a new run for it.
constexpr size_t kShortRun = 64;

// At most the cells a record gives.
size_t cells_in(const CellBlock& record) {
  const size_t room =
      ExcelSheet::kMaxCols - std::min<uint64_t>(record.ColIndex(), ExcelSheet::kMaxCols);
  switch (record.code) {
    case Cells::kMulRK:
      return std::min(record.mul_rk.entries.size(), room);
    case Cells::kMulBlank:
      return std::min(record.mul_blank.xf_indices.size(), room);
    case Cells::kRK:
    case Cells::kNumber:
    case Cells::kBoolErr:
    case Cells::kBlank:
    case Cells::kLabelSST:
      return 1;
    default:
      return 0;
  }
}

// Room for one more cell: a run grows by a quarter of its length at a time,
// not by doubling, so that a sheet built cell by cell keeps little room
// unused.
void make_room(std::vector<ExcelCell>& run) {
  if (run.size() == run.capacity()) run.reserve(run.size() + std::max<size_t>(4, run.size() / 4));
}

}  // namespace

size_t ExcelSheet::LowerBound(const std::vector<ExcelCell>& run, uint32_t key, size_t hint) {
  // Searches outward from the hint, then halves: a sheet filled or read
  // in any regular order asks next for a cell near the last one.
  const size_t n = run.size();
  size_t lo = 0;
  size_t hi = std::min(hint, n);
  size_t step = 1;
  if (hi < n && KeyOf(run[hi]) < key) {
    lo = hi + 1;
    size_t probe = lo;
    while (probe < n && KeyOf(run[probe]) < key) {
      lo = probe + 1;
      probe = lo + step;
      step *= 2;
    }
    hi = std::min(probe, n);
  } else {
    while (hi > 0) {
      const size_t probe = hi >= step ? hi - step : 0;
      if (KeyOf(run[probe]) < key) {
        lo = probe + 1;
        break;
      }
      hi = probe;
      step *= 2;
    }
  }
  return static_cast<size_t>(std::lower_bound(run.begin() + lo, run.begin() + hi, key, KeyBefore) -
                             run.begin());
}

const ExcelCell* ExcelSheet::Find(uint32_t key) const {
  const size_t col = key & 0xFF;
  for (Run& run : runs_) {
    const std::vector<ExcelCell>& cells = run.cells;
    if (!run.columns.test(col) || KeyOf(cells.back()) < key || key < KeyOf(cells.front())) continue;
    const size_t at = run.finger = LowerBound(cells, key, run.finger);
    if (KeyOf(cells[at]) == key) return &cells[at];
  }
  return nullptr;
}

ExcelCell* ExcelSheet::Cell(uint64_t row, uint64_t col) {
  if (row >= kMaxRows || col >= kMaxCols) return nullptr;
  rows_ = std::max(rows_, row + 1);
  cols_ = std::max(cols_, col + 1);
  const uint32_t key = key_of(row, col);
  if (const ExcelCell* found = Find(key)) return const_cast<ExcelCell*>(found);

  if (runs_.empty()) runs_.emplace_back();
  Run* run = &runs_.back();
  auto at = run->cells.end();
  if (!run->cells.empty() && KeyOf(run->cells.back()) > key) {
    if (run->cells.size() < kShortRun) {
      at = std::lower_bound(run->cells.begin(), run->cells.end(), key, KeyBefore);
    } else {
      runs_.emplace_back();
      run = &runs_.back();
      at = run->cells.end();
    }
  }
  const auto offset = at - run->cells.begin();
  make_room(run->cells);
  at = run->cells.emplace(run->cells.begin() + offset);
  at->row_ = static_cast<uint16_t>(row);
  at->column_ = static_cast<uint8_t>(col);
  run->columns.set(col);

  const size_t runs = runs_.size();
  SettleRuns();
  return runs_.size() != runs ? const_cast<ExcelCell*>(Find(key)) : &*at;
}

void ExcelSheet::SettleRuns() {
  // The runs from the first whose later runs hold kGroup - 1 times its
  // cells are merged. Each run thus holds more than a kGroup-th of the
  // cells after it: few runs to search, and a cell merged about once for
  // every kGroup-fold growth of the sheet (a sheet filled column by column
  // merges each cell about log(columns) / log(kGroup) times).
  constexpr size_t kGroup = 4;
  size_t later = runs_.back().cells.size();
  size_t first = runs_.size();
  for (size_t i = runs_.size() - 1; i-- > 0;) {
    const size_t size = runs_[i].cells.size();
    if (later >= (kGroup - 1) * size) first = i;
    later += size;
  }
  if (first < runs_.size()) MergeRunsFrom(first);
}

void ExcelSheet::MergeRunsFrom(size_t first) const {
  if (first + 1 >= runs_.size()) return;
  size_t total = 0;
  for (size_t i = first; i < runs_.size(); ++i) total += runs_[i].cells.size();
  std::vector<ExcelCell> merged;
  merged.reserve(total);
  // The next cell of each run, the least on top.
  struct Head {
    uint32_t key;
    size_t run;
    size_t at;
  };
  const auto later = [](const Head& x, const Head& y) { return x.key > y.key; };
  std::vector<Head> heads;
  for (size_t i = first; i < runs_.size(); ++i)
    if (!runs_[i].cells.empty()) heads.push_back({KeyOf(runs_[i].cells[0]), i, 0});
  std::make_heap(heads.begin(), heads.end(), later);
  while (!heads.empty()) {
    std::pop_heap(heads.begin(), heads.end(), later);
    Head& head = heads.back();
    std::vector<ExcelCell>& cells = runs_[head.run].cells;
    // The run with the least cell gives all its cells before the next
    // least of the others at once: runs of whole columns interleave in
    // blocks.
    const uint64_t bound = heads.size() > 1 ? heads.front().key : uint64_t{1} << 32;
    do merged.push_back(std::move(cells[head.at]));
    while (++head.at < cells.size() && KeyOf(cells[head.at]) < bound);
    if (head.at == cells.size()) {
      heads.pop_back();
      continue;
    }
    head.key = KeyOf(cells[head.at]);
    std::push_heap(heads.begin(), heads.end(), later);
  }
  Run& target = runs_[first];
  for (size_t i = first + 1; i < runs_.size(); ++i) target.columns |= runs_[i].columns;
  target.cells = std::move(merged);
  target.finger = 0;
  runs_.resize(first + 1);
}

void ExcelSheet::ReserveCells(size_t count) {
  if (runs_.empty()) runs_.emplace_back();
  if (runs_.size() == 1) runs_[0].cells.reserve(count);
}

uint64_t ExcelSheet::StoredRows() const {
  MergeRuns();
  return runs_.empty() || runs_[0].cells.empty() ? 0 : runs_[0].cells.back().row_ + uint64_t{1};
}

ExcelSheet::RowCells ExcelSheet::StoredRow(uint64_t row) const {
  MergeRuns();
  if (runs_.empty() || row >= kMaxRows) return RowCells(nullptr, nullptr);
  Run& run = runs_[0];
  const std::vector<ExcelCell>& cells = run.cells;
  const auto first = cells.begin() + (run.finger = LowerBound(cells, key_of(row, 0), run.finger));
  auto last = first;
  while (last != cells.end() && last->row_ == row) ++last;
  return RowCells(cells.data() + (first - cells.begin()), cells.data() + (last - cells.begin()));
}

const ExcelCell* ExcelSheet::At(uint64_t row, uint64_t col) const {
  static const ExcelCell empty;
  if (row >= rows_ || col >= cols_) return nullptr;
  const ExcelCell* found = Find(key_of(row, col));
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
  runs_.clear();
  rows_ = cols_ = 0;
  if (!owner_ || sheet_index_ >= owner_->worksheets.size()) return;
  Worksheet& worksheet = owner_->worksheets[sheet_index_];
  // The sheet takes the size its Dimensions record gives (within the
  // limits), but cells are stored only where they exist: a damaged or
  // merely generous record must not make a nearly empty sheet cost
  // gigabytes.
  rows_ = std::min<uint64_t>(worksheet.dimensions.first_unused_row, kMaxRows);
  cols_ = std::min<uint64_t>(worksheet.dimensions.first_unused_col, kMaxCols);

  size_t count = 0;
  for (const Worksheet::CellTable::RowBlock& block : worksheet.cell_table.row_blocks)
    for (const CellBlock& record : block.cell_blocks) count += cells_in(record);
  ReserveCells(count);
  const Workbook::SharedStringTable& strings = owner_->globals.shared_strings;
  for (Worksheet::CellTable::RowBlock& block : worksheet.cell_table.row_blocks)
    for (const CellBlock& record : block.cell_blocks) ReadCell(record, strings);
  FinishReading(worksheet.dimensions);
}

void ExcelSheet::ReadCell(const CellBlock& record,
                          const GlobalsRecords::SharedStringTable& strings) {
  const uint64_t r = record.RowIndex();
  const uint64_t c = record.ColIndex();
  // Without room reserved for them all, the cells (in order as a rule) grow
  // by doubling while reading: fewer, larger moves; FinishReading gives the
  // room back.
  if (runs_.size() == 1) {
    std::vector<ExcelCell>& cells = runs_[0].cells;
    const size_t needed = cells.size() + cells_in(record);
    if (needed > cells.capacity())
      cells.reserve(std::max({size_t{1024}, 2 * cells.capacity(), needed}));
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
  // The room growth reserved is given back, so that a load holds no more
  // than its cells.
  MergeRuns();
  if (!runs_.empty() &&
      runs_[0].cells.capacity() - runs_[0].cells.size() > runs_[0].cells.size() / 8)
    runs_[0].cells.shrink_to_fit();
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
