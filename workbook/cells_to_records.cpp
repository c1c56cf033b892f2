// Rebuilding every worksheet's records, and the shared string table, from
// the cells of the sheet objects: the first step of every save. One walk
// over the stored cells decides the records; it either fills record objects
// (RecordsFromCells) or writes the records straight into the stream
// (CellTableWriter).
#include "cells_to_records.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "rk_codec.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using RowBlock = Worksheet::CellTable::RowBlock;
using LayoutRows = std::vector<RowBlock::Row>;
using CellBlock = RowBlock::CellBlock;
namespace Cells = CellRecords::Code;

constexpr uint64_t kRowsPerBlock = 32;
static_assert(kRowsPerBlock <= ExcelSheet::RowReader::kGroup,
              "a block is read as one group of rows");
// A sheet other than the active one is neither selected nor shown.
constexpr uint16_t kNotActive = static_cast<uint16_t>(
    ~(WorksheetRecords::Window2::kSelected | WorksheetRecords::Window2::kShown));

// A cell gets a record when it holds a value or, empty, a format.
bool written(const ExcelCell& cell) {
  return cell.Type() != ExcelCell::kUndefined || cell.Format() != 0 || cell.IsFormula();
}

bool has_written(const ExcelSheet::RowCells& row) {
  return std::any_of(row.begin(), row.end(), written);
}

// Cells of a row gathered aside, in column order.
struct CellSpan {
  const ExcelCell* const* cells;
  size_t count;
  size_t size() const { return count; }
  const ExcelCell& operator[](size_t i) const { return *cells[i]; }
};

// A double goes into an RK value only when it comes back unchanged:
// the two-decimal test alone lets values with many significant digits lose
// their last ones.
bool fits_rk(double x) {
  return RKCodec::FitsTwoDecimals(x) && RKCodec::DoubleRoundTrips(x);
}

bool is_rk_integer(const ExcelCell& cell) {
  return cell.Type() == ExcelCell::kInteger && !cell.IsFormula() &&
         RKCodec::IntegerFits(cell.GetInteger());
}

uint32_t integer_rk(const ExcelCell& cell) {
  return RKCodec::FromInteger(cell.GetInteger());
}
uint32_t double_rk(const ExcelCell& cell) {
  return RKCodec::FromDouble(cell.GetDouble());
}

// The size and position a sheet's records give it.
struct Shape {
  uint64_t rows = 0;
  uint64_t cols = 0;
  bool has_cells = false;
  uint64_t first_row = 0;
  uint64_t first_col = 0;

  uint64_t Base() const { return has_cells ? first_row : 0; }
  uint64_t Blocks() const { return rows > Base() ? (rows - Base() - 1) / kRowsPerBlock + 1 : 0; }
};

// The sheet's shape; with whole false the scan stops at the first row that
// holds cells to write, and first_col is left for the caller to find.
Shape shape_of(const ExcelSheet& sheet, const LayoutRows& layout_rows, bool whole) {
  Shape shape;
  shape.rows = sheet.GetTotalRows();
  shape.cols = sheet.GetTotalCols();
  shape.first_col = shape.cols;
  ExcelSheet::RowReader reader(sheet);
  const uint64_t stored = sheet.StoredRows();
  for (uint64_t group = 0; group < stored && (whole || !shape.has_cells);
       group += ExcelSheet::RowReader::kGroup) {
    const uint64_t count = std::min(stored - group, ExcelSheet::RowReader::kGroup);
    const auto& rows = reader.Rows(group, count);
    for (uint64_t i = 0; i < count; ++i) {
      const ExcelSheet::RowCells& row = rows[i];
      const auto first = std::find_if(row.begin(), row.end(), written);
      if (first == row.end()) continue;
      if (!shape.has_cells) shape.first_row = group + i;
      shape.has_cells = true;
      shape.first_col = std::min<uint64_t>(shape.first_col, first->Column());
    }
  }
  if (!shape.has_cells) shape.first_col = 0;
  // Rows without cells that carry layout count as used rows.
  if (!layout_rows.empty()) {
    const uint64_t first = layout_rows.front().row_index;
    shape.first_row = shape.has_cells ? std::min(shape.first_row, first) : first;
    shape.has_cells = true;
    shape.rows = std::max<uint64_t>(shape.rows, layout_rows.back().row_index + 1u);
  }
  return shape;
}

// Every worksheet without its cell table, which the cells rebuild; the
// rest (carried records, Window2, layout rows) stays (sheet i is worksheet
// i).
void rebuild_worksheets(WorkbookContent& book) {
  book.worksheets.resize(book.sheets.size());
  for (Worksheet& worksheet : book.worksheets) worksheet.cell_table.row_blocks.clear();
}

// The rows of [begin, end) that get a Row record: those with cells to write
// and those that carry layout, each with its layout record or null and its
// cells, gathered into cells once (rows from stored on hold none).
struct RowToWrite {
  uint64_t row;
  const RowBlock::Row* layout;
  size_t first;  // its cells in the gathered ones
  size_t last;
};
uint64_t rows_to_write(ExcelSheet::RowReader& reader, uint64_t stored,
                       const LayoutRows& layout_rows, uint64_t begin, uint64_t end, RowToWrite* out,
                       std::vector<const ExcelCell*>& cells) {
  auto next =
      std::lower_bound(layout_rows.begin(), layout_rows.end(), begin,
                       [](const RowBlock::Row& r, uint64_t index) { return r.row_index < index; });
  cells.clear();
  // Blocks hold at most a group of rows.
  const auto& rows =
      reader.Rows(begin, std::min(end, stored) > begin ? std::min(end, stored) - begin : 0);
  uint64_t n = 0;
  for (uint64_t r = begin; r < end; ++r) {
    const RowBlock::Row* layout = nullptr;
    if (next != layout_rows.end() && next->row_index == r) layout = &*next++;
    const size_t first = cells.size();
    if (r < stored) {
      const ExcelSheet::RowCells& row = rows[r - begin];
      if (has_written(row))
        for (const ExcelCell& cell : row) cells.push_back(&cell);
    }
    if (layout || cells.size() > first) out[n++] = {r, layout, first, cells.size()};
  }
  return n;
}

CellSpan cells_of(const RowToWrite& row, const std::vector<const ExcelCell*>& cells) {
  return CellSpan{cells.data() + row.first, row.last - row.first};
}

// A Row record: the layout it carries, or the defaults.
void set_row(RowBlock::Row& record, const RowToWrite& row, uint64_t cols) {
  static const RowBlock::Row kDefaults;
  const RowBlock::Row& from = row.layout ? *row.layout : kDefaults;
  record.row_index = static_cast<uint16_t>(row.row);
  record.first_used_col = 0;
  record.first_unused_col = static_cast<uint16_t>(cols);
  record.height = from.height;
  record.reserved1 = from.reserved1;
  record.reserved2 = from.reserved2;
  record.options = from.options;
}

// Exactly one sheet is active, selected and shown, so that a spreadsheet
// program opens the workbook with one tab, not a group of them: the active
// sheet, kept inside the workbook (the first when it names none).
uint64_t settle_active_sheet(Workbook& globals, uint64_t sheets) {
  Workbook::Window1& window = globals.window1;
  if (window.active_sheet >= sheets) window.active_sheet = 0;
  window.selected_sheets = 1;
  if (window.first_visible_tab > window.active_sheet)
    window.first_visible_tab = window.active_sheet;
  return window.active_sheet;
}

// Index, Dimensions and Window2 of a sheet, the cell table left empty.
void set_sheet_records(Worksheet& worksheet, const Shape& shape, bool active) {
  if (active)
    worksheet.window2.options |=
        WorksheetRecords::Window2::kSelected | WorksheetRecords::Window2::kShown;
  else
    worksheet.window2.options &= kNotActive;
  worksheet.index.first_used_row = shape.Base();
  worksheet.index.first_unused_row = shape.rows;
  worksheet.index.dbcell_positions.assign(std::max<uint64_t>(shape.Blocks(), 1), 0);
  worksheet.dimensions.first_used_row = shape.Base();
  worksheet.dimensions.first_unused_row = shape.rows;
  worksheet.dimensions.first_used_col = static_cast<uint16_t>(shape.first_col);
  worksheet.dimensions.first_unused_col = static_cast<uint16_t>(shape.cols);
}

// Hands the cell records that a row's cells become to the sink, in order:
// integers of the RK range as RK, runs of them as MulRK, other integers as
// Number; doubles an RK value keeps exactly as RK, runs of them as MulRK,
// other doubles as Number; strings as LabelSST; booleans and error values as
// BoolErr; empty cells with a format as Blank; the cells a formula of the
// file still computes as that formula. A run is cells of neighbouring
// columns of the same kind.
template <class Row, class Sink>
void records_of_row(const Row& row, Sink& sink) {
  size_t i = 0;
  while (i < row.size()) {
    const ExcelCell& cell = row[i];
    if (cell.IsFormula() && sink.Formula(cell)) {
      ++i;
      continue;
    }
    auto run = [&](auto like) {
      size_t k = 1;
      while (i + k < row.size() && row[i + k].Column() == cell.Column() + k && like(row[i + k]))
        ++k;
      return k;
    };
    switch (cell.Type()) {
      case ExcelCell::kUndefined:
        if (cell.Format() != 0) sink.Blank(cell);
        ++i;
        break;
      case ExcelCell::kInteger: {
        if (!RKCodec::IntegerFits(cell.GetInteger())) {
          sink.Number(cell, cell.GetInteger());
          ++i;
          break;
        }
        const size_t k = run(is_rk_integer);
        if (k == 1)
          sink.RK(cell, integer_rk(cell));
        else
          sink.MulRK(row, i, k, integer_rk);
        i += k;
        break;
      }
      case ExcelCell::kDouble: {
        // Only a run of doubles that fit an RK value becomes one record;
        // other doubles go one by one, so their run is not measured.
        const bool fits = fits_rk(cell.GetDouble());
        const size_t k = fits ? run([](const ExcelCell& x) {
          return x.Type() == ExcelCell::kDouble && !x.IsFormula() && fits_rk(x.GetDouble());
        })
                              : 1;
        if (k >= 2) {
          sink.MulRK(row, i, k, double_rk);
          i += k;
          break;
        }
        if (fits)
          sink.RK(cell, double_rk(cell));
        else
          sink.Number(cell, cell.GetDouble());
        ++i;
        break;
      }
      case ExcelCell::kBoolean:
      case ExcelCell::kError:
        sink.BoolErr(cell);
        ++i;
        break;
      default:
        sink.Label(cell);
        ++i;
        break;
    }
  }
}

// A boolean or error cell's record.
void set_bool_err(CellRecords::BoolErr& record, uint16_t row, const ExcelCell& cell) {
  bool value = false;
  uint8_t code = 0;
  record.row = row;
  record.col = cell.Column();
  record.xf_index = cell.Format();
  record.error = cell.GetError(code) ? 1 : 0;
  record.value = record.error ? code : (cell.GetBoolean(value) && value ? 1 : 0);
}

// Fills record objects: one CellBlock per record.
class RecordObjects {
 public:
  RecordObjects(RowBlock& block, uint64_t row, SharedStrings& strings, const Worksheet& worksheet)
      : block_(block), row_(static_cast<uint16_t>(row)), strings_(strings), worksheet_(worksheet) {}

  bool Formula(const ExcelCell& cell) {
    const Worksheet::KeptFormula* kept = worksheet_.FormulaAt(row_, cell.Column());
    if (!kept) return false;
    CellBlock& record = Add(Cells::kFormula);
    record.formula.Read(kept->bytes.data(), kept->bytes.size());
    record.formula.xf_index = cell.Format();
    return true;
  }

  void RK(const ExcelCell& cell, uint32_t value) {
    CellBlock& record = Add(Cells::kRK);
    record.rk.row = row_;
    record.rk.col = cell.Column();
    record.rk.xf_index = cell.Format();
    record.rk.value = value;
  }
  void Number(const ExcelCell& cell, double value) {
    CellBlock& record = Add(Cells::kNumber);
    record.number.row = row_;
    record.number.col = cell.Column();
    record.number.xf_index = cell.Format();
    record.number.value = value;
  }
  void Blank(const ExcelCell& cell) {
    CellBlock& record = Add(Cells::kBlank);
    record.blank.row = row_;
    record.blank.col = cell.Column();
    record.blank.xf_index = cell.Format();
  }
  void BoolErr(const ExcelCell& cell) {
    CellBlock& record = Add(Cells::kBoolErr);
    set_bool_err(record.bool_err, row_, cell);
  }
  void Label(const ExcelCell& cell) {
    CellBlock& record = Add(Cells::kLabelSST);
    record.label_sst.row = row_;
    record.label_sst.col = cell.Column();
    record.label_sst.xf_index = cell.Format();
    record.label_sst.string_index = strings_.Add(cell);
  }
  // The k cells of row from its i-th on.
  template <class Row, class Encode>
  void MulRK(const Row& row, size_t i, size_t k, Encode encode) {
    CellBlock& record = Add(Cells::kMulRK);
    record.mul_rk.row = row_;
    record.mul_rk.first_col = row[i].Column();
    record.mul_rk.last_col = static_cast<uint16_t>(row[i].Column() + k - 1);
    record.mul_rk.entries.assign(k, CellRecords::MulRKEntry());
    for (size_t j = 0; j < k; ++j) {
      record.mul_rk.entries[j].xf_index = row[i + j].Format();
      record.mul_rk.entries[j].value = encode(row[i + j]);
    }
  }

 private:
  CellBlock& Add(uint16_t code) {
    block_.cell_blocks.emplace_back();
    CellBlock& record = block_.cell_blocks.back();
    record.flag = 1;
    record.code = code;
    return record;
  }

  RowBlock& block_;
  uint16_t row_;
  SharedStrings& strings_;
  const Worksheet& worksheet_;
};

// Writes records through reused scratch records into out (or, with out
// null, only counts their bytes); position counts the bytes either way.
// Strings were added to the table when the layout was sized.
class RecordBytes {
 public:
  RecordBytes(char* out, uint64_t& position, uint64_t row, const SharedStrings& strings,
              const Worksheet& worksheet, CellRecords::RK& rk, CellRecords::Number& number,
              CellRecords::LabelSST& label, CellRecords::MulRK& mul_rk, CellRecords::Blank& blank,
              CellRecords::BoolErr& bool_err)
      : out_(out),
        worksheet_(worksheet),
        position_(position),
        row_(static_cast<uint16_t>(row)),
        strings_(strings),
        rk_(rk),
        number_(number),
        label_(label),
        mul_rk_(mul_rk),
        blank_(blank),
        bool_err_(bool_err) {}

  // The formula's records as they were read; only the format follows the
  // cell.
  bool Formula(const ExcelCell& cell) {
    const Worksheet::KeptFormula* kept = worksheet_.FormulaAt(row_, cell.Column());
    if (!kept) return false;
    if (out_) {
      std::memcpy(out_ + position_, kept->bytes.data(), kept->bytes.size());
      ByteCodec::Put(out_ + position_, cell.Format(), Record::kHeaderSize + 4);
    }
    position_ += kept->bytes.size();
    return true;
  }
  void RK(const ExcelCell& cell, uint32_t value) {
    rk_.row = row_;
    rk_.col = cell.Column();
    rk_.xf_index = cell.Format();
    rk_.value = value;
    Emit(rk_);
  }
  void Number(const ExcelCell& cell, double value) {
    number_.row = row_;
    number_.col = cell.Column();
    number_.xf_index = cell.Format();
    number_.value = value;
    Emit(number_);
  }
  void Blank(const ExcelCell& cell) {
    blank_.row = row_;
    blank_.col = cell.Column();
    blank_.xf_index = cell.Format();
    Emit(blank_);
  }
  void BoolErr(const ExcelCell& cell) {
    set_bool_err(bool_err_, row_, cell);
    Emit(bool_err_);
  }
  void Label(const ExcelCell& cell) {
    label_.row = row_;
    label_.col = cell.Column();
    label_.xf_index = cell.Format();
    label_.string_index = out_ ? strings_.Find(cell) : 0;
    Emit(label_);
  }
  template <class Row, class Encode>
  void MulRK(const Row& row, size_t i, size_t k, Encode encode) {
    mul_rk_.row = row_;
    mul_rk_.first_col = row[i].Column();
    mul_rk_.last_col = static_cast<uint16_t>(row[i].Column() + k - 1);
    mul_rk_.entries.resize(k);
    if (out_) {
      for (size_t j = 0; j < k; ++j) {
        mul_rk_.entries[j].xf_index = row[i + j].Format();
        mul_rk_.entries[j].value = encode(row[i + j]);
      }
    }
    Emit(mul_rk_);
  }

 private:
  template <class R>
  void Emit(R& record) {
    position_ += out_ ? record.R::Write(out_ + position_) : record.R::RecordSize();
  }

  char* out_;
  const Worksheet& worksheet_;
  uint64_t& position_;
  uint16_t row_;
  const SharedStrings& strings_;
  CellRecords::RK& rk_;
  CellRecords::Number& number_;
  CellRecords::LabelSST& label_;
  CellRecords::MulRK& mul_rk_;
  CellRecords::Blank& blank_;
  CellRecords::BoolErr& bool_err_;
};

}  // namespace

// ---------------------------------------------------------------------------
// SharedStrings

SharedStrings::SharedStrings(Workbook::SharedStringTable& table, TextTable& texts)
    : table_(table), listed_fixed_(texts.FixedCount(), 0), listed_shared_(texts.SharedSlots(), 0) {
  table_.total_count = 0;
  table_.unique_count = 0;
  table_.strings.clear();
  table_.texts = &texts;
  table_.read_count = 0;
  table_.text_index.clear();
}

uint32_t& SharedStrings::Listed(uint32_t text) {
  return TextTable::IsFixed(text) ? listed_fixed_[text]
                                  : listed_shared_[text & ~TextTable::kShared];
}

// Every text a cell of the workbook shows is its table's, held once (a
// file's table may list one twice, and each entry is kept), and the cell
// holds its id.
uint64_t SharedStrings::Add(const ExcelCell& cell) {
  ++table_.total_count;
  const uint32_t text = cell.TextId();
  uint32_t& listed = Listed(text);
  if (!listed) {
    table_.text_index.push_back(text);
    listed = ++table_.unique_count;
  }
  return listed - 1;
}

uint64_t SharedStrings::Find(const ExcelCell& cell) const {
  const uint32_t text = cell.TextId();
  return (TextTable::IsFixed(text) ? listed_fixed_[text]
                                   : listed_shared_[text & ~TextTable::kShared]) -
         1;
}

// ---------------------------------------------------------------------------
// The record objects

void WorkbookContent::RecordsFromCells() {
  rebuild_worksheets(*this);
  SharedStrings strings(globals.shared_strings, *texts);
  const uint64_t active = settle_active_sheet(globals, sheets.size());
  for (size_t s = 0; s < sheets.size(); ++s) {
    const ExcelSheet& sheet = sheets[s];
    Worksheet& worksheet = worksheets[s];
    if (worksheet.whole) continue;
    const Shape shape = shape_of(sheet, worksheet.layout_rows, true);
    set_sheet_records(worksheet, shape, s == active);
    worksheet.cell_table.row_blocks.assign(shape.Blocks(), RowBlock());
    ExcelSheet::RowReader reader(sheet);
    const uint64_t stored = sheet.StoredRows();
    std::vector<const ExcelCell*> cells;
    for (uint64_t b = 0; b < shape.Blocks(); ++b) {
      RowBlock& block = worksheet.cell_table.row_blocks[b];
      const uint64_t begin = shape.Base() + b * kRowsPerBlock;
      RowToWrite rows[kRowsPerBlock];
      const uint64_t n = rows_to_write(reader, stored, worksheet.layout_rows, begin,
                                       std::min(shape.rows, begin + kRowsPerBlock), rows, cells);
      for (uint64_t k = 0; k < n; ++k) {
        set_row(block.rows.emplace_back(), rows[k], shape.cols);
        block.dbcell.row_offsets.push_back(0);
        RecordObjects sink(block, rows[k].row, strings, worksheet);
        records_of_row(cells_of(rows[k], cells), sink);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Straight into the stream

CellTableWriter::CellTableWriter(WorkbookContent& book)
    : book_(book),
      strings_(book.globals.shared_strings, *book.texts),
      layouts_(book.sheets.size()) {
  rebuild_worksheets(book_);
  const uint64_t active = settle_active_sheet(book_.globals, book_.sheets.size());
  readers_.reserve(book_.sheets.size());
  for (size_t s = 0; s < book_.sheets.size(); ++s) {
    const ExcelSheet& sheet = book_.sheets[s];
    readers_.emplace_back(sheet);
    // A substream carried whole has no cells to write.
    if (book_.worksheets[s].whole) continue;
    // Sizing the blocks reads every row once: it also counts the strings,
    // in the order a save meets them, and finds the first used column.
    Shape shape = shape_of(sheet, book_.worksheets[s].layout_rows, false);
    Layout& layout = layouts_[s];
    layout.first_col = shape.cols;
    layout.base = shape.Base();
    layout.rows = shape.rows;
    layout.block_sizes.resize(shape.Blocks());
    layout.dbcell_at.resize(shape.Blocks());
    layout.stored = std::min(shape.rows, sheet.StoredRows());
    for (uint64_t b = 0; b < shape.Blocks(); ++b) {
      layout.block_sizes[b] = Block(s, b, nullptr, layout.dbcell_at[b]);
      layout.size += layout.block_sizes[b];
    }
    shape.first_col = layout.first_col < shape.cols ? layout.first_col : 0;
    set_sheet_records(book_.worksheets[s], shape, s == active);
  }
}

uint64_t CellTableWriter::Block(uint64_t s, uint64_t b, char* out, uint64_t& dbcell_at) {
  const ExcelSheet& sheet = book_.sheets[s];
  const uint64_t cols = sheet.GetTotalCols();
  const uint64_t begin = layouts_[s].base + b * kRowsPerBlock;
  RowToWrite rows[kRowsPerBlock];
  const uint64_t n =
      rows_to_write(readers_[s], layouts_[s].stored, book_.worksheets[s].layout_rows, begin,
                    std::min(layouts_[s].rows, begin + kRowsPerBlock), rows, block_cells_);

  if (!out) {
    for (uint64_t k = 0; k < n; ++k) {
      const CellSpan row = cells_of(rows[k], block_cells_);
      for (size_t i = 0; i < row.size(); ++i) {
        const ExcelCell& cell = row[i];
        if (written(cell))
          layouts_[s].first_col = std::min<uint64_t>(layouts_[s].first_col, cell.Column());
        // A formula's text result is in its own record, not the table.
        if ((cell.Type() == ExcelCell::kNarrowString || cell.Type() == ExcelCell::kWideString) &&
            !cell.IsFormula())
          strings_.Add(cell);
      }
    }
  }

  uint64_t position = 0;
  for (uint64_t k = 0; k < n; ++k) {
    set_row(row_, rows[k], cols);
    position += out ? row_.Write(out + position) : row_.RecordSize();
  }
  // The first row's offset counts from the second Row record to the first
  // cell; each later row's from the first cell of the row before.
  dbcell_.row_offsets.assign(n, 0);
  uint64_t previous = n ? row_.RecordSize() : 0;
  for (uint64_t k = 0; k < n; ++k) {
    dbcell_.row_offsets[k] = static_cast<uint16_t>(position - previous);
    previous = position;
    RecordBytes sink(out, position, rows[k].row, strings_, book_.worksheets[s], rk_, number_,
                     label_, mul_rk_, blank_, bool_err_);
    records_of_row(cells_of(rows[k], block_cells_), sink);
  }
  dbcell_.first_row_offset = static_cast<uint32_t>(position);
  dbcell_at = position;
  return position + (out ? dbcell_.Write(out + position) : dbcell_.RecordSize());
}

void CellTableWriter::SetPositions(uint64_t s, uint64_t start) {
  Worksheet& w = book_.worksheets[s];
  const Layout& layout = layouts_[s];
  uint64_t p = start + w.SizeBeforeCells();
  for (size_t b = 0; b < layout.block_sizes.size(); ++b) {
    w.index.dbcell_positions[b] = p + layout.dbcell_at[b];
    p += layout.block_sizes[b];
  }
}

uint64_t CellTableWriter::WriteSheet(uint64_t s, char* out) {
  return book_.worksheets[s].Write(out, [&](char* at) {
    uint64_t position = 0;
    for (size_t b = 0; b < layouts_[s].block_sizes.size(); ++b) {
      uint64_t dbcell_at = 0;
      position += Block(s, b, at + position, dbcell_at);
    }
    return position;
  });
}

}  // namespace YExcel
}  // namespace YCompoundFiles
