#include "worksheet.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;

const Bytes kBof = record_of(0x0809, bytes_of({0x00, 0x06, 0x10, 0x00, 0xA0, 0x19, 0xCD, 0x07, 0xC9,
                                               0xC0, 0, 0, 0x06, 0x03, 0, 0}));
const Bytes kIndex = record_of(0x020B, filled(20));
const Bytes kDimensions = record_of(0x0200, bytes_of({0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 2, 0, 0, 0}));
const Bytes kWindow2 = record_of(0x023E, bytes_of({0xB6, 0x06, 0, 0, 0, 0, 0x40, 0}) + filled(10));
const Bytes kEof = record_of(0x000A, {});

Bytes row_record(int row) {
  return record_of(0x0208, bytes_of({row, 0, 0, 0, 2, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}
Bytes number_record(int row) {
  return record_of(0x0203, bytes_of({row, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
}
Bytes label_record(int row) {
  return record_of(0x00FD, bytes_of({row, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}
Bytes db_cell_record() {
  return record_of(0x00D7, bytes_of({40, 0, 0, 0, 20, 0, 0, 0}));
}

TEST(WorksheetTest, ParsesAndRewritesAWorksheetSubstream) {
  const Bytes sheet = kBof + kIndex + kDimensions + row_record(0) + row_record(1) +
                      number_record(0) + label_record(1) + db_cell_record() + kWindow2 + kEof;
  const Bytes stream = sheet + kBof;
  Worksheet w;
  ASSERT_EQ(w.Read(stream.data(), stream.size()), sheet.size());
  ASSERT_EQ(w.cell_table.row_blocks.size(), 1u);
  const auto& block = w.cell_table.row_blocks[0];
  EXPECT_EQ(block.rows.size(), 2u);
  ASSERT_EQ(block.cell_blocks.size(), 2u);
  EXPECT_EQ(block.cell_blocks[0].code, 0x0203);
  EXPECT_EQ(block.cell_blocks[1].code, 0x00FD);
  EXPECT_EQ(block.cell_blocks[1].RowIndex(), 1);
  EXPECT_EQ(block.dbcell.row_offsets, (std::vector<uint16_t>{20, 0}));
  EXPECT_EQ(w.dimensions.first_unused_col, 2);
  EXPECT_EQ(written_bytes(w), sheet);
}

// Read with a visitor: every cell record goes to it in stream order, the
// rest of the substream is read as ever, and no cell record is kept.
TEST(WorksheetTest, VisitorReceivesTheCellsAndNothingIsKept) {
  const Bytes sheet = kBof + kIndex + kDimensions + row_record(0) + row_record(1) +
                      number_record(0) + label_record(1) + db_cell_record() + row_record(2) +
                      number_record(2) + db_cell_record() + record_of(0x0055, filled(2)) +
                      kWindow2 + kEof;
  const Bytes stream = sheet + kBof;
  Worksheet kept;
  ASSERT_EQ(kept.Read(stream.data(), stream.size()), sheet.size());
  std::vector<std::pair<uint16_t, uint16_t>> seen;
  Worksheet visited;
  const uint64_t used = visited.Read(stream.data(), stream.size(),
                                     [&](const Worksheet::CellTable::RowBlock::CellBlock& c) {
                                       seen.emplace_back(c.code, c.RowIndex());
                                     });
  EXPECT_EQ(used, sheet.size());
  EXPECT_EQ(seen,
            (std::vector<std::pair<uint16_t, uint16_t>>{{0x0203, 0}, {0x00FD, 1}, {0x0203, 2}}));
  EXPECT_TRUE(visited.cell_table.row_blocks.empty());
  visited.cell_table = kept.cell_table;
  EXPECT_EQ(written_bytes(visited), written_bytes(kept));
  // A substream cut inside a cell record fails the visited read too.
  const Bytes cut(stream.begin(),
                  stream.begin() + static_cast<std::ptrdiff_t>(kBof.size() + kIndex.size() +
                                                               kDimensions.size() + 20 + 20 + 10));
  EXPECT_EQ(Worksheet().Read(cut.data(), cut.size(), [](const auto&) {}), 0u);
}

TEST(WorksheetTest, CarriesRecordsItDoesNotModelAndKeepsStrayCells) {
  const Bytes sheet = kBof + kIndex + kDimensions + record_of(0x00A1, filled(34)) +
                      number_record(3) + row_record(0) + label_record(0) + db_cell_record() +
                      record_of(0x001D, filled(15)) + kWindow2 + kEof;
  Worksheet w;
  ASSERT_EQ(w.Read(sheet.data(), sheet.size()), sheet.size());
  // The cell before any Row record still makes its own row block.
  ASSERT_EQ(w.cell_table.row_blocks.size(), 1u);
  const auto& block = w.cell_table.row_blocks[0];
  ASSERT_EQ(block.cell_blocks.size(), 2u);
  EXPECT_EQ(block.cell_blocks[0].RowIndex(), 3);
  EXPECT_EQ(block.rows.size(), 1u);
  const Bytes expected = kBof + kIndex + kDimensions + record_of(0x00A1, filled(34)) +
                         row_record(0) + number_record(3) + label_record(0) + db_cell_record() +
                         record_of(0x001D, filled(15)) + kWindow2 + kEof;
  EXPECT_EQ(written_bytes(w), expected);
}

TEST(WorksheetTest, ConsecutiveRowBlocksAndBlocksWithoutDBCell) {
  const Bytes two = kBof + row_record(0) + number_record(0) + db_cell_record() + row_record(40) +
                    number_record(40) + db_cell_record() + kWindow2 + kEof;
  Worksheet w;
  ASSERT_EQ(w.Read(two.data(), two.size()), two.size());
  EXPECT_EQ(w.cell_table.row_blocks.size(), 2u);

  // A writer that leaves out DBCell records: the block ends at the Window2.
  const Bytes bare = kBof + row_record(0) + number_record(0) + label_record(0) + kWindow2 + kEof;
  Worksheet v;
  ASSERT_EQ(v.Read(bare.data(), bare.size()), bare.size());
  ASSERT_EQ(v.cell_table.row_blocks.size(), 1u);
  EXPECT_EQ(v.cell_table.row_blocks[0].cell_blocks.size(), 2u);
  EXPECT_EQ(v.window2.grid_colour, 64);
}

TEST(WorksheetTest, SkipsAnEmbeddedSubstreamWholeAndKeepsItsOwnBof) {
  const Bytes chart = record_of(0x0809, bytes_of({0x00, 0x06, 0x20, 0x00}) + filled(12)) +
                      record_of(0x1002, filled(16)) + record_of(0x023E, filled(10)) + kEof;
  const Bytes sheet = kBof + kDimensions + row_record(0) + number_record(0) + db_cell_record() +
                      chart + kWindow2 + kEof;
  Worksheet w;
  ASSERT_EQ(w.Read(sheet.data(), sheet.size()), sheet.size());
  EXPECT_EQ(w.bof.type, 0x0010);
  EXPECT_EQ(w.window2.options, 0x06B6);
  EXPECT_EQ(w.cell_table.row_blocks.size(), 1u);
}

TEST(WorksheetTest, RefusesDamagedSubstreams) {
  const Bytes sheet = kBof + kIndex + kDimensions + row_record(0) + number_record(0) +
                      label_record(0) + db_cell_record() + kWindow2 + kEof;
  for (size_t cut = 0; cut < sheet.size(); ++cut) {
    Worksheet w;
    EXPECT_EQ(w.Read(sheet.data(), cut), 0u) << cut;
  }
  // A cell record too short for its fields.
  const Bytes bad = kBof + row_record(0) + record_of(0x027E, filled(4)) + db_cell_record() + kEof;
  Worksheet w;
  EXPECT_EQ(w.Read(bad.data(), bad.size()), 0u);
  // Not a substream at all.
  EXPECT_EQ(w.Read(kIndex.data(), kIndex.size()), 0u);
}

TEST(WorksheetTest, IndexAndDBCellPositionCounts) {
  WorksheetRecords::Index index;
  Bytes data =
      bytes_of({0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0x20, 0, 0, 0});
  Bytes in = record_of(0x020B, data);
  ASSERT_EQ(index.Read(in.data(), in.size()), in.size());
  EXPECT_EQ(index.dbcell_positions, (std::vector<uint64_t>{0x10, 0x20}));
  EXPECT_EQ(written_bytes(index), in);

  in = record_of(0x020B, filled(16));
  ASSERT_EQ(index.Read(in.data(), in.size()), in.size());
  EXPECT_EQ(index.dbcell_positions, std::vector<uint64_t>{0});
  // A range that asks for more blocks than a sheet can have.
  data = bytes_of({0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0});
  in = record_of(0x020B, data);
  ASSERT_EQ(index.Read(in.data(), in.size()), in.size());
  EXPECT_EQ(index.dbcell_positions.size(), 2048u);

  WorksheetRecords::DBCell dbcell;
  EXPECT_EQ(written_bytes(dbcell).size(), 8u);
  in = record_of(0x00D7, filled(10, 1));
  ASSERT_EQ(dbcell.Read(in.data(), in.size()), 14u);
  EXPECT_EQ(dbcell.row_offsets.size(), 3u);
}

TEST(WorksheetTest, FixedRecordsReadEachFieldAtItsOffsetAndWriteItBack) {
  // Every byte differs, so a field read from the wrong place or width shows.
  Bytes data;
  for (int i = 0; i < 18; ++i) data.push_back(static_cast<char>(0x11 * (i % 15 + 1)));
  WorksheetRecords::Window2 window;
  const Bytes in = record_of(0x023E, data);
  ASSERT_EQ(window.Read(in.data(), in.size()), in.size());
  EXPECT_EQ(window.first_visible_col, 0x6655);
  EXPECT_EQ(window.reserved2, 0x332211FFu);
  EXPECT_EQ(written_bytes(window), in);
  WorksheetRecords::Dimensions dimensions;
  const Bytes dims = record_of(0x0200, Bytes(data.begin(), data.begin() + 14));
  ASSERT_EQ(dimensions.Read(dims.data(), dims.size()), dims.size());
  EXPECT_EQ(dimensions.first_unused_row, 0x88776655u);
  EXPECT_EQ(dimensions.first_unused_col, 0xCCBB);
  EXPECT_EQ(written_bytes(dimensions), dims);
}

TEST(WorksheetTest, NewWorksheetRecords) {
  WorksheetRecords::Window2 window;
  EXPECT_EQ(written_bytes(window), kWindow2);
  Worksheet w;
  EXPECT_EQ(w.DataSize(), 88u);
  const Bytes out = written_bytes(w);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 20), kBof);
  EXPECT_EQ(get16(out, 20), 0x020B);
  EXPECT_EQ(get16(out, 22), 20);
}

// The export's view of a sheet it writes into: its protection, the ranges
// of its formulas, and older text cells read as cells.
TEST(WorksheetTest, ProtectionFormulaRangesAndOlderTextCells) {
  auto old_label = [](int row, int col) {
    return record_of(0x0204, bytes_of({row, 0, col, 0, 15, 0, 1, 0, 0, 'x'}));
  };
  const Bytes shared = formula_record(2, 1, 15, number_result(1), bytes_of({0x01, 2, 0, 1, 0})) +
                       record_of(0x04BC, bytes_of({2, 0, 4, 0, 1, 3, 0, 0, 3, 0, 0x1E, 1, 0}));
  const Bytes sheet = kBof + kIndex + record_of(0x0012, bytes_of({1, 0})) + kDimensions +
                      row_record(2) + shared + db_cell_record() + old_label(0, 0) +
                      old_label(5, 5) + kWindow2 + kEof;
  Worksheet w;
  ASSERT_EQ(w.Read(sheet.data(), sheet.size()), sheet.size());
  EXPECT_TRUE(w.Protected());
  ASSERT_EQ(w.formulas.size(), 1u);
  EXPECT_EQ(w.formulas[0].bytes, shared);
  ASSERT_NE(w.FormulaAt(2, 1), nullptr);
  EXPECT_EQ(w.FormulaAt(2, 2), nullptr);
  const std::vector<Worksheet::FormulaRange> ranges = w.FormulaRanges();
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_STREQ(ranges[0].kind, "shared formula");
  EXPECT_EQ(ranges[0].first_row, 2);
  EXPECT_EQ(ranges[0].last_row, 4);
  EXPECT_EQ(ranges[0].first_col, 1);
  EXPECT_EQ(ranges[0].last_col, 3);
  // Older text cells are cells, not carried records: the cells written
  // replace them.
  for (const CarriedRecord& piece : w.pieces) EXPECT_NE(piece.Code(), 0x0204);
  // Unprotected: PROTECT holds 0.
  const Bytes open = kBof + record_of(0x0012, bytes_of({0, 0})) + kWindow2 + kEof;
  Worksheet unprotected;
  ASSERT_EQ(unprotected.Read(open.data(), open.size()), open.size());
  EXPECT_FALSE(unprotected.Protected());
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
