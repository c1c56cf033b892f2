// Rebuilding every worksheet's records, and the shared string table, from
// the cells of the sheet objects: the first step of every save.
#include <algorithm>
#include <map>
#include <string>
#include <type_traits>

#include "rk_codec.h"
#include "workbook_content.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using RowBlock = Worksheet::CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;
namespace Cells = CellRecords::Code;

constexpr uint64_t kRowsPerBlock = 32;
constexpr uint16_t kNotSelected = static_cast<uint16_t>(~WorksheetRecords::Window2::kSelected);

// A double goes into an RK value only when it comes back unchanged:
// the two-decimal test alone lets values with many significant digits lose
// their last ones.
bool FitsRK(double x) { return RKCodec::FitsTwoDecimals(x) && RKCodec::DoubleRoundTrips(x); }

bool IsRKInteger(const ExcelCell* cell) {
  return cell && cell->Type() == ExcelCell::kInteger && RKCodec::IntegerFits(cell->GetInteger());
}

class SharedStrings {
 public:
  explicit SharedStrings(Workbook::SharedStringTable& table) : table_(table) {
    table_.total_count = 0;
    table_.unique_count = 0;
    table_.strings.clear();
  }

  // Index of the cell's text in the table, added when new.
  uint64_t IndexOf(const ExcelCell& cell) {
    ++table_.total_count;
    if (cell.Type() == ExcelCell::kWideString) return Add(wide_, std::u16string(cell.GetWString()));
    return Add(narrow_, std::string(cell.GetString()));
  }

 private:
  template <class Text>
  uint64_t Add(std::map<Text, uint64_t>& seen, Text text) {
    const auto found = seen.find(text);
    if (found != seen.end()) return found->second;
    const uint64_t index = table_.strings.size();
    LongUnicodeString entry;
    if constexpr (std::is_same_v<Text, std::u16string>) {
      entry.flags = 1;
      entry.wide = text;
    } else {
      entry.flags = 0;
      entry.narrow = text;
    }
    table_.strings.push_back(std::move(entry));
    seen.emplace(std::move(text), index);
    ++table_.unique_count;
    return index;
  }

  Workbook::SharedStringTable& table_;
  std::map<std::string, uint64_t> narrow_;
  std::map<std::u16string, uint64_t> wide_;
};

class SheetBuilder {
 public:
  SheetBuilder(const ExcelSheet& sheet, Worksheet& worksheet, SharedStrings& strings)
      : sheet_(sheet), worksheet_(worksheet), strings_(strings),
        rows_(sheet.GetTotalRows()), cols_(sheet.GetTotalCols()) {}

  void Build() {
    const uint64_t first_row = FirstUsedRow();
    const bool has_cells = first_row < rows_;
    const uint64_t base = has_cells ? first_row : 0;
    const uint64_t blocks = rows_ > base ? (rows_ - base - 1) / kRowsPerBlock + 1 : 0;

    worksheet_.index.first_used_row = base;
    worksheet_.index.first_unused_row = rows_;
    worksheet_.index.dbcell_positions.assign(std::max<uint64_t>(blocks, 1), 0);
    worksheet_.dimensions.first_used_row = base;
    worksheet_.dimensions.first_unused_row = rows_;
    worksheet_.dimensions.first_unused_col = static_cast<uint16_t>(cols_);
    worksheet_.cell_table.row_blocks.assign(blocks, RowBlock());

    first_col_ = cols_;
    for (uint64_t b = 0; b < blocks; ++b) {
      RowBlock& block = worksheet_.cell_table.row_blocks[b];
      const uint64_t begin = base + b * kRowsPerBlock;
      const uint64_t end = std::min(rows_, begin + kRowsPerBlock);
      block.cell_blocks.reserve(DefinedCells(begin, end));
      for (uint64_t r = begin; r < end; ++r) BuildRow(block, r);
    }
    worksheet_.dimensions.first_used_col = static_cast<uint16_t>(first_col_ < cols_ ? first_col_ : 0);
  }

 private:
  const ExcelCell* At(uint64_t r, uint64_t c) const { return sheet_.At(r, c); }
  // A cell gets a record when it holds a value or, empty, a format.
  static bool Written(const ExcelCell* cell) {
    return cell && (cell->Type() != ExcelCell::kUndefined || cell->Format() != 0);
  }
  bool Defined(uint64_t r, uint64_t c) const { return Written(At(r, c)); }

  uint64_t FirstUsedRow() const {
    for (uint64_t r = 0; r < rows_; ++r)
      for (uint64_t c = 0; c < cols_; ++c)
        if (Defined(r, c)) return r;
    return rows_;
  }

  // An upper bound of the block's cell records, so that its vector is
  // allocated once.
  uint64_t DefinedCells(uint64_t begin, uint64_t end) const {
    uint64_t n = 0;
    for (uint64_t r = begin; r < end; ++r)
      for (uint64_t c = 0; c < cols_; ++c) n += Defined(r, c);
    return n;
  }

  // Cells after c that continue a run of like values.
  template <class Like>
  uint64_t RunLength(uint64_t r, uint64_t c, Like like) const {
    uint64_t k = 1;
    while (c + k < cols_ && like(At(r, c + k))) ++k;
    return k;
  }

  void BuildRow(RowBlock& block, uint64_t r) {
    bool pending = true;
    uint64_t c = 0;
    while (c < cols_) {
      const ExcelCell* cell = At(r, c);
      if (!Written(cell)) {
        ++c;
        continue;
      }
      first_col_ = std::min(first_col_, c);
      if (pending) {
        RowBlock::Row row;
        row.row_index = static_cast<uint16_t>(r);
        row.first_unused_col = static_cast<uint16_t>(cols_);
        block.rows.push_back(row);
        block.dbcell.row_offsets.push_back(0);
        pending = false;
      }
      block.cell_blocks.emplace_back();
      CellBlock& record = block.cell_blocks.back();
      record.flag = 1;
      c += FillRecord(record, r, c, *cell);
    }
  }

  // Fills the record for the cell at (r, c) and returns the columns it
  // covers.
  uint64_t FillRecord(CellBlock& record, uint64_t r, uint64_t c, const ExcelCell& cell) {
    const uint16_t xf = cell.Format();
    switch (cell.Type()) {
      case ExcelCell::kUndefined: {
        record.code = Cells::kBlank;
        record.blank.row = static_cast<uint16_t>(r);
        record.blank.col = static_cast<uint16_t>(c);
        record.blank.xf_index = xf;
        return 1;
      }
      case ExcelCell::kInteger: {
        if (!RKCodec::IntegerFits(cell.GetInteger())) {
          SetNumber(record, r, c, cell.GetInteger(), xf);
          return 1;
        }
        const uint64_t k = RunLength(r, c, IsRKInteger);
        if (k == 1) {
          SetRK(record, r, c, RKCodec::FromInteger(cell.GetInteger()), xf);
          return 1;
        }
        SetMulRK(record, r, c, k, [](const ExcelCell* x) { return RKCodec::FromInteger(x->GetInteger()); });
        return k;
      }
      case ExcelCell::kDouble: {
        const bool fits = FitsRK(cell.GetDouble());
        const uint64_t k = RunLength(r, c, [fits](const ExcelCell* x) {
          return x && x->Type() == ExcelCell::kDouble && FitsRK(x->GetDouble()) == fits;
        });
        if (fits && k >= 2) {
          SetMulRK(record, r, c, k, [](const ExcelCell* x) { return RKCodec::FromDouble(x->GetDouble()); });
          return k;
        }
        if (fits)
          SetRK(record, r, c, RKCodec::FromDouble(cell.GetDouble()), xf);
        else
          SetNumber(record, r, c, cell.GetDouble(), xf);
        return 1;
      }
      default: {
        record.code = Cells::kLabelSST;
        record.label_sst.row = static_cast<uint16_t>(r);
        record.label_sst.col = static_cast<uint16_t>(c);
        record.label_sst.xf_index = xf;
        record.label_sst.string_index = strings_.IndexOf(cell);
        return 1;
      }
    }
  }

  static void SetRK(CellBlock& record, uint64_t r, uint64_t c, uint32_t value, uint16_t xf) {
    record.code = Cells::kRK;
    record.rk.row = static_cast<uint16_t>(r);
    record.rk.col = static_cast<uint16_t>(c);
    record.rk.xf_index = xf;
    record.rk.value = value;
  }

  static void SetNumber(CellBlock& record, uint64_t r, uint64_t c, double value, uint16_t xf) {
    record.code = Cells::kNumber;
    record.number.row = static_cast<uint16_t>(r);
    record.number.col = static_cast<uint16_t>(c);
    record.number.xf_index = xf;
    record.number.value = value;
  }

  template <class Encode>
  void SetMulRK(CellBlock& record, uint64_t r, uint64_t c, uint64_t k, Encode encode) const {
    record.code = Cells::kMulRK;
    record.mul_rk.row = static_cast<uint16_t>(r);
    record.mul_rk.first_col = static_cast<uint16_t>(c);
    record.mul_rk.last_col = static_cast<uint16_t>(c + k - 1);
    record.mul_rk.entries.assign(k, CellRecords::MulRKEntry());
    for (uint64_t j = 0; j < k; ++j) {
      record.mul_rk.entries[j].value = encode(At(r, c + j));
      record.mul_rk.entries[j].xf_index = At(r, c + j)->Format();
    }
  }

  const ExcelSheet& sheet_;
  Worksheet& worksheet_;
  SharedStrings& strings_;
  const uint64_t rows_;
  const uint64_t cols_;
  uint64_t first_col_ = 0;
};

}  // namespace

void WorkbookContent::RecordsFromCells() {
  worksheets.assign(sheets.size(), Worksheet());
  SharedStrings strings(globals.shared_strings);
  for (size_t s = 0; s < sheets.size(); ++s) {
    if (s > 0) worksheets[s].window2.options &= kNotSelected;
    SheetBuilder(sheets[s], worksheets[s], strings).Build();
  }
}

}  // namespace YExcel
}  // namespace YCompoundFiles
