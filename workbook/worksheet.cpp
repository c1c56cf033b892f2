#include "worksheet.h"

#include <algorithm>
#include <iterator>

namespace YCompoundFiles {
namespace YExcel {
namespace {

using CellTable = Worksheet::CellTable;
using RowBlock = CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;
namespace Cells = CellRecords::Code;
namespace Sheet = WorksheetRecords::Code;
namespace FormulaParts = CellRecords::FormulaParts;

bool starts_row_block(uint16_t code) {
  return code == Sheet::kRow || CellRecords::is_cell_record_code(code);
}

// Records that can only follow the cell table: a row block that has not met
// its DBCell ends before them.
bool ends_cell_table(uint16_t code) {
  return code == Sheet::kWindow2 || code == RecordCode::kEof || code == RecordCode::kBof;
}

// Cell records of the row block at the start of view, counted from the
// record headers alone, so that the block's vector is allocated once.
// Row options: outline level, collapsed, hidden, a height of the user's,
// a format of the row's own.
constexpr uint32_t kRowLayoutOptions = 0x00F7;

uint64_t count_cell_records(const ByteView& view) {
  uint64_t position = 0;
  uint64_t count = 0;
  uint16_t code = 0;
  while (peek_record_code(view, position, code) && code != Sheet::kDBCell &&
         !ends_cell_table(code)) {
    uint16_t length = 0;
    view.Get(length, position + 2);
    if (CellRecords::is_cell_record_code(code)) ++count;
    position += Record::kHeaderSize + length;
  }
  return count;
}

}  // namespace

// Scratch records for a worksheet read without keeping its cell table:
// every Row, cell and DBCell record is read into these in turn.
struct CellStreaming {
  const Worksheet::CellVisitor& visit;
  RowBlock::Row row;
  CellBlock cell;
  RowBlock::DBCell dbcell;
};

namespace {

// Keeps a Row record that carries layout; a later record of the same row
// replaces an earlier one.
void keep_layout_row(std::vector<RowBlock::Row>* rows, const RowBlock::Row& row) {
  if (!rows || !Worksheet::RowCarriesLayout(row)) return;
  auto at =
      std::lower_bound(rows->begin(), rows->end(), row.row_index,
                       [](const RowBlock::Row& r, uint16_t index) { return r.row_index < index; });
  if (at != rows->end() && at->row_index == row.row_index)
    *at = row;
  else
    rows->insert(at, row);
}

// Reads a row block from its first record through its DBCell: into block,
// or, when streaming, into the scratch records, each cell handed on. Rows
// that carry layout go to layout_rows as well, records of no cell to
// carried (when given).
uint64_t read_row_block(RowBlock& block, const char* bytes, uint64_t size, CellStreaming* streaming,
                        std::vector<RowBlock::Row>* layout_rows,
                        std::vector<CarriedRecord>* carried,
                        std::vector<Worksheet::KeptFormula>* formulas) {
  const ByteView view(bytes, size);
  if (!streaming) block.cell_blocks.reserve(block.cell_blocks.size() + count_cell_records(view));
  uint64_t position = 0;
  uint16_t code = 0;
  while (peek_record_code(view, position, code)) {
    if (ends_cell_table(code)) return position;
    const ByteView at = view.From(position);
    uint64_t used = 0;
    if (code == Sheet::kDBCell) {
      used = (streaming ? streaming->dbcell : block.dbcell).Read(at.data(), at.size());
      return used ? position + used : 0;
    }
    if (code == Sheet::kRow) {
      RowBlock::Row& row = streaming ? streaming->row : block.rows.emplace_back();
      used = row.Read(at.data(), at.size());
      if (used) keep_layout_row(layout_rows, row);
    } else if (CellRecords::is_cell_record_code(code)) {
      CellBlock& cell = streaming ? streaming->cell : block.cell_blocks.emplace_back();
      used = cell.Read(at.data(), at.size());
      if (used && formulas && code == Cells::kFormula)
        formulas->push_back(
            {cell.formula.row, cell.formula.col, std::vector<char>(at.data(), at.data() + used)});
      if (used && streaming) streaming->visit(cell);
    } else {
      CarriedRecord other;
      used = other.Read(at.data(), at.size());
      if (used && carried) carried->push_back(std::move(other));
    }
    if (!used) return 0;
    position += used;
  }
  return 0;
}

// Appends row blocks for as long as a Row or cell record comes next.
uint64_t read_cell_table(CellTable& table, const char* bytes, uint64_t size,
                         CellStreaming* streaming,
                         std::vector<RowBlock::Row>* layout_rows = nullptr,
                         std::vector<CarriedRecord>* carried = nullptr,
                         std::vector<Worksheet::KeptFormula>* formulas = nullptr) {
  const ByteView view(bytes, size);
  if (!streaming) table.row_blocks.reserve(table.row_blocks.size() + 1000);
  RowBlock scratch;
  uint64_t position = 0;
  uint16_t code = 0;
  while (peek_record_code(view, position, code) && starts_row_block(code)) {
    const ByteView at = view.From(position);
    RowBlock& block = streaming ? scratch : table.row_blocks.emplace_back();
    const uint64_t used =
        read_row_block(block, at.data(), at.size(), streaming, layout_rows, carried, formulas);
    if (!used) return 0;
    position += used;
  }
  return position;
}

}  // namespace

// ---------------------------------------------------------------------------
// CellBlock

CellBlock::CellBlock() : code(kNoRecord), flag(1) {}

Record* CellBlock::InUse() {
  switch (code) {
    case Cells::kFormula:
      return &formula;
    case Cells::kMulRK:
      return &mul_rk;
    case Cells::kMulBlank:
      return &mul_blank;
    case Cells::kLabelSST:
      return &label_sst;
    case Cells::kBlank:
      return &blank;
    case Cells::kNumber:
      return &number;
    case Cells::kBoolErr:
      return &bool_err;
    case Cells::kRK:
      return &rk;
    case Cells::kLabel:
    case Cells::kRString:
      return &label;
    default:
      return nullptr;
  }
}

uint64_t CellBlock::Read(const char* bytes, uint64_t size) {
  uint16_t record_code = 0;
  if (!peek_record_code(ByteView(bytes, size), 0, record_code) ||
      !CellRecords::is_cell_record_code(record_code))
    return 0;
  code = record_code;
  return InUse()->Read(bytes, size);
}

uint64_t CellBlock::Write(char* out) {
  Record* record = InUse();
  return record ? record->Write(out) : 0;
}

uint64_t CellBlock::DataSize() {
  Record* record = InUse();
  return record ? record->DataSize() : 0;
}

uint64_t CellBlock::RecordSize() {
  Record* record = InUse();
  return record ? record->RecordSize() : 0;
}

uint16_t CellBlock::RowIndex() const {
  switch (code) {
    case Cells::kFormula:
      return formula.row;
    case Cells::kMulRK:
      return mul_rk.row;
    case Cells::kMulBlank:
      return mul_blank.row;
    case Cells::kLabelSST:
      return label_sst.row;
    case Cells::kBlank:
      return blank.row;
    case Cells::kNumber:
      return number.row;
    case Cells::kBoolErr:
      return bool_err.row;
    case Cells::kRK:
      return rk.row;
    case Cells::kLabel:
    case Cells::kRString:
      return label.row;
    default:
      return 0;
  }
}

uint16_t CellBlock::ColIndex() const {
  switch (code) {
    case Cells::kFormula:
      return formula.col;
    case Cells::kMulRK:
      return mul_rk.first_col;
    case Cells::kMulBlank:
      return mul_blank.first_col;
    case Cells::kLabelSST:
      return label_sst.col;
    case Cells::kBlank:
      return blank.col;
    case Cells::kNumber:
      return number.col;
    case Cells::kBoolErr:
      return bool_err.col;
    case Cells::kRK:
      return rk.col;
    case Cells::kLabel:
    case Cells::kRString:
      return label.col;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// RowBlock

uint64_t RowBlock::Read(const char* bytes, uint64_t size) {
  return read_row_block(*this, bytes, size, nullptr, nullptr, nullptr, nullptr);
}

uint64_t RowBlock::Write(char* out) {
  uint64_t position = 0;
  for (Row& r : rows) position += r.Write(out + position);
  for (CellBlock& c : cell_blocks) position += c.Write(out + position);
  return position + dbcell.Write(out + position);
}

uint64_t RowBlock::DataSize() {
  uint64_t total = 0;
  for (Row& r : rows) total += r.RecordSize();
  for (CellBlock& c : cell_blocks) total += c.RecordSize();
  return total + dbcell.RecordSize();
}

// ---------------------------------------------------------------------------
// CellTable

uint64_t CellTable::Read(const char* bytes, uint64_t size) {
  return read_cell_table(*this, bytes, size, nullptr);
}

uint64_t CellTable::Write(char* out) {
  uint64_t position = 0;
  for (RowBlock& b : row_blocks) position += b.Write(out + position);
  return position;
}

uint64_t CellTable::DataSize() {
  uint64_t total = 0;
  for (RowBlock& b : row_blocks) total += b.RecordSize();
  return total;
}

// ---------------------------------------------------------------------------
// Worksheet

Worksheet::Worksheet() {
  bof.SetDefaults(BOF::kWorksheet);
  for (uint16_t slot : {kIndexSlot, kDimensionsSlot, kCellsSlot, kWindow2Slot})
    pieces.push_back(CarriedRecord::Slot(slot));
}

uint64_t Worksheet::Read(const char* bytes, uint64_t size) {
  return ReadSubstream(bytes, size, nullptr);
}

uint64_t Worksheet::Read(const char* bytes, uint64_t size, const CellVisitor& visit) {
  CellStreaming streaming{visit, {}, {}, {}};
  return ReadSubstream(bytes, size, &streaming);
}

void Worksheet::CarryWhole(const char* bytes, uint64_t size) {
  whole = true;
  pieces.assign(1, CarriedRecord());
  pieces[0].Take(bytes, size);
}

uint64_t Worksheet::ReadSubstream(const char* bytes, uint64_t size, CellStreaming* streaming) {
  const ByteView view(bytes, size);
  uint64_t position = 0;
  uint16_t code = 0;
  if (!peek_record_code(view, 0, code) || code != RecordCode::kBof) return 0;
  pieces.clear();
  // A section's slot goes where its first record stood; a second record of
  // a modelled kind (which no writer makes) is carried.
  auto first = [&](uint16_t slot) {
    if (has_slot(pieces, slot)) return false;
    pieces.push_back(CarriedRecord::Slot(slot));
    return true;
  };
  while (peek_record_code(view, position, code)) {
    const ByteView at = view.From(position);
    const char* p = at.data();
    const uint64_t n = at.size();
    uint64_t used = 0;
    if (code == RecordCode::kEof) {
      Record end;
      used = end.Read(p, n);
      add_missing_slots(pieces, {kIndexSlot, kDimensionsSlot, kCellsSlot, kWindow2Slot});
      // Writers put cells in row order; the rest is sorted.
      std::stable_sort(formulas.begin(), formulas.end(),
                       [](const KeptFormula& a, const KeptFormula& b) {
                         return a.row != b.row ? a.row < b.row : a.col < b.col;
                       });
      return used ? position + used : 0;
    }
    if (code == RecordCode::kBof && position == 0) {
      used = bof.Read(p, n);
    } else if (code == RecordCode::kBof) {
      // An embedded substream (a chart) goes whole, as one piece.
      used = skip_substream(p, n);
      if (used) pieces.emplace_back().Take(p, used);
    } else if (code == Sheet::kIndex && first(kIndexSlot)) {
      used = index.Read(p, n);
    } else if (code == Sheet::kDimensions && first(kDimensionsSlot)) {
      used = dimensions.Read(p, n);
    } else if (code == Sheet::kWindow2 && first(kWindow2Slot)) {
      used = window2.Read(p, n);
    } else if (starts_row_block(code)) {
      first(kCellsSlot);
      used = read_cell_table(cell_table, p, n, streaming, &layout_rows, &pieces, &formulas);
    } else if (code == Sheet::kDBCell) {
      // The DBCell of a block without rows: the cell table's index, which
      // every save writes afresh; carrying it would leave stale offsets.
      uint16_t length = 0;
      if (at.Get(length, 2) && at.Has(Record::kHeaderSize, length))
        used = Record::kHeaderSize + length;
    } else {
      used = pieces.emplace_back().Read(p, n);
    }
    if (!used) return 0;
    position += used;
  }
  return 0;
}

const Worksheet::KeptFormula* Worksheet::FormulaAt(uint16_t row, uint16_t col) const {
  const auto at =
      std::lower_bound(formulas.begin(), formulas.end(), std::make_pair(row, col),
                       [](const KeptFormula& f, const std::pair<uint16_t, uint16_t>& p) {
                         return f.row != p.first ? f.row < p.first : f.col < p.second;
                       });
  return at != formulas.end() && at->row == row && at->col == col ? &*at : nullptr;
}

std::vector<Worksheet::FormulaRange> Worksheet::FormulaRanges() const {
  std::vector<FormulaRange> ranges;
  for (const KeptFormula& formula : formulas) {
    // The record after the FORMULA: its range leads its data.
    const ByteView view(formula.bytes.data(), formula.bytes.size());
    uint16_t length = 0, code = 0;
    view.Get(length, 2);
    const uint64_t next = Record::kHeaderSize + length;
    if (!view.Get(code, next)) continue;
    const char* kind = code == FormulaParts::Code::kShrFmla || code == FormulaParts::Code::kShrFmla1
                           ? "shared formula"
                       : code == FormulaParts::Code::kArray ? "array formula"
                       : code == FormulaParts::Code::kTable ? "data table"
                                                            : nullptr;
    FormulaRange range{kind, 0, 0, 0, 0};
    const uint64_t data = next + Record::kHeaderSize;
    if (kind && view.Get(range.first_row, data) && view.Get(range.last_row, data + 2) &&
        view.Get(range.first_col, data + 4) && view.Get(range.last_col, data + 5))
      ranges.push_back(range);
  }
  return ranges;
}

bool Worksheet::Protected() const {
  constexpr uint16_t kProtect = 0x0012;
  return std::any_of(pieces.begin(), pieces.end(), [](const CarriedRecord& piece) {
    uint16_t value = 0;
    return piece.Code() == kProtect && piece.Get(value, 0) && value != 0;
  });
}

bool Worksheet::RowCarriesLayout(const CellTable::RowBlock::Row& row) {
  static const CellTable::RowBlock::Row kDefaults;
  return (row.options & kRowLayoutOptions) != 0 || row.height != kDefaults.height;
}

uint64_t Worksheet::Write(char* out, const std::function<uint64_t(char*)>& cells) {
  const auto section = [&](uint16_t slot, char* at) -> uint64_t {
    switch (slot) {
      case kIndexSlot:
        return at ? index.Write(at) : index.RecordSize();
      case kDimensionsSlot:
        return at ? dimensions.Write(at) : dimensions.RecordSize();
      case kCellsSlot:
        return cells(at);
      case kWindow2Slot:
        return at ? window2.Write(at) : window2.RecordSize();
      default:
        return 0;
    }
  };
  if (whole) return write_pieces(pieces, out, section);
  uint64_t position = out ? bof.Write(out) : bof.RecordSize();
  position += write_pieces(pieces, out ? out + position : nullptr, section);
  return position + (out ? eof.Write(out + position) : eof.RecordSize());
}

uint64_t Worksheet::Write(char* out) {
  return Write(out,
               [this](char* at) { return at ? cell_table.Write(at) : cell_table.RecordSize(); });
}

uint64_t Worksheet::DataSize() {
  return Write(nullptr);
}

uint64_t Worksheet::SizeBeforeCells() {
  uint64_t total = bof.RecordSize();
  for (const CarriedRecord& piece : pieces) {
    if (piece.slot == kCellsSlot) break;
    if (piece.slot == kIndexSlot)
      total += index.RecordSize();
    else if (piece.slot == kDimensionsSlot)
      total += dimensions.RecordSize();
    else if (piece.slot == kWindow2Slot)
      total += window2.RecordSize();
    else
      total += piece.bytes.size();
  }
  return total;
}

}  // namespace YExcel
}  // namespace YCompoundFiles
