#include "excel_sheet.h"

#include <gtest/gtest.h>

#include <sstream>
#include <type_traits>

#include "record_bytes.h"
#include "rk_codec.h"
#include "workbook_content.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using CellBlock = Worksheet::CellTable::RowBlock::CellBlock;
using namespace workbook_test;

// A workbook of one sheet, its worksheet records as given.
struct OneSheet : WorkbookContent {
  explicit OneSheet(Worksheet worksheet = Worksheet()) {
    globals.bound_sheets.resize(1);
    worksheets.push_back(std::move(worksheet));
    sheets.emplace_back(this, 0);
  }
  ExcelSheet& sheet() { return sheets[0]; }
};

TEST(ExcelCellTest, SettersGettersAndConversions) {
  ExcelCell cell;
  EXPECT_EQ(cell.Type(), ExcelCell::kUndefined);
  int32_t i = 77;
  EXPECT_FALSE(cell.Get(i));
  EXPECT_EQ(i, 77);

  cell = 2.7;
  EXPECT_EQ(cell.GetInteger(), 2);
  cell = -2.7;
  EXPECT_EQ(cell.GetInteger(), -2);
  cell = 3e10;
  EXPECT_EQ(cell.GetInteger(), INT32_MIN);
  cell = 3;
  EXPECT_EQ(cell.Type(), ExcelCell::kInteger);
  EXPECT_EQ(cell.GetDouble(), 3.0);

  cell = "text";
  EXPECT_EQ(cell.Type(), ExcelCell::kNarrowString);
  EXPECT_EQ(cell.GetInteger(), 0);
  EXPECT_EQ(cell.GetStringLength(), 4u);
  char buffer[5];
  EXPECT_TRUE(cell.Get(buffer));
  EXPECT_STREQ(buffer, "text");
  EXPECT_EQ(cell.GetWString(), nullptr);
  // A number set after a string: the text is no longer offered.
  cell = 12;
  EXPECT_EQ(cell.GetString(), nullptr);
  cell = u"wide";
  EXPECT_EQ(cell.Type(), ExcelCell::kWideString);
  EXPECT_EQ(std::u16string(cell.GetWString()), u"wide");
  EXPECT_EQ(cell.GetString(), nullptr);
  cell = "";
  EXPECT_EQ(cell.Type(), ExcelCell::kUndefined);
}

TEST(ExcelSheetTest, TableGrowsToTheCellAskedForWithinTheLimits) {
  OneSheet book;
  ExcelSheet& s = book.sheet();
  EXPECT_EQ(s.GetTotalRows(), 0u);
  ASSERT_NE(s.Cell(2, 3), nullptr);
  EXPECT_EQ(s.GetTotalRows(), 3u);
  EXPECT_EQ(s.GetTotalCols(), 4u);
  EXPECT_EQ(s.Cell(1, 1)->Type(), ExcelCell::kUndefined);
  s.Cell(0, 5)->SetInteger(1);
  EXPECT_EQ(s.GetTotalCols(), 6u);
  ASSERT_NE(s.At(2, 5), nullptr);
  EXPECT_EQ(s.At(3, 0), nullptr);

  EXPECT_EQ(s.Cell(65536, 0), nullptr);
  EXPECT_EQ(s.Cell(0, 256), nullptr);
  EXPECT_EQ(s.GetTotalRows(), 3u);
  ASSERT_NE(s.Cell(0, 255), nullptr);
  EXPECT_EQ(s.GetTotalCols(), 256u);

  EXPECT_TRUE(s.EraseCell(0, 5));
  EXPECT_EQ(s.At(0, 5)->Type(), ExcelCell::kUndefined);
  EXPECT_FALSE(s.EraseCell(3, 0));
}

TEST(ExcelSheetTest, NamesAreReadAndRenamedInTheirOwnWidth) {
  OneSheet book;
  book.globals.bound_sheets.resize(2);
  book.globals.bound_sheets[1].name = u"Other";
  ExcelSheet& s = book.sheet();
  EXPECT_STREQ(s.GetSheetName(), "Sheet1");
  EXPECT_EQ(s.GetWSheetName(), nullptr);
  char16_t wide[256];
  EXPECT_FALSE(s.GetSheetName(wide));

  EXPECT_FALSE(s.RenameSheet("Sheet1"));  // its own name
  EXPECT_FALSE(s.RenameSheet(u"Other"));
  EXPECT_TRUE(s.RenameSheet("Other"));  // the other one is held wide
  EXPECT_TRUE(s.RenameSheet(u"Profil\u00E9"));
  ASSERT_TRUE(s.GetSheetName(wide));
  EXPECT_EQ(std::u16string(wide), u"Profil\u00E9");
  EXPECT_EQ(s.GetSheetName(), nullptr);
}

CellBlock block(uint16_t code, uint16_t row, uint16_t col) {
  CellBlock b;
  b.code = code;
  b.rk.row = b.number.row = b.bool_err.row = b.label_sst.row = b.blank.row = b.formula.row =
      b.mul_rk.row = row;
  b.rk.col = b.number.col = b.bool_err.col = b.label_sst.col = b.blank.col = b.formula.col = col;
  b.mul_rk.first_col = col;
  return b;
}

TEST(ExcelSheetTest, ReadsCellValuesFromTheRecords) {
  Worksheet w;
  w.dimensions.first_unused_row = 10;
  w.dimensions.first_unused_col = 3;
  w.cell_table.row_blocks.resize(1);
  auto& cells = w.cell_table.row_blocks[0].cell_blocks;
  CellBlock mul = block(0x00BD, 1, 0);
  mul.mul_rk.entries.resize(3);
  mul.mul_rk.entries[0].value = RKCodec::FromInteger(-4);
  mul.mul_rk.entries[1].value = RKCodec::FromDouble(0.5);
  mul.mul_rk.entries[2].value = RKCodec::FromInteger(9);
  cells.push_back(mul);
  CellBlock boolean = block(0x0205, 2, 0);
  boolean.bool_err.value = 1;
  cells.push_back(boolean);
  CellBlock error = block(0x0205, 2, 1);
  error.bool_err.value = 7;
  error.bool_err.error = 1;
  cells.push_back(error);
  cells.push_back(block(0x0201, 2, 2));
  cells.push_back(block(0x0006, 3, 0));
  CellBlock number = block(0x0203, 3, 1);
  number.number.value = 3.14159;
  cells.push_back(number);
  for (uint16_t i = 0; i < 3; ++i) {
    CellBlock label = block(0x00FD, 4, i);
    label.label_sst.string_index = i;  // index 2 lies beyond the table
    cells.push_back(label);
  }
  // Formulas of one constant are their values; other formulas show their
  // last result.
  const Bytes constants[] = {formula_record(5, 0, 9, other_result(2, 0x24), bytes_of({0x1C, 0x24})),
                             formula_record(5, 1, 9, number_result(7), bytes_of({0x1E, 7, 0})),
                             formula_record(5, 2, 9, other_result(0), bytes_of({0x17, 1, 0, 'x'})) +
                                 record_of(0x0207, bytes_of({1, 0, 0, 'x'})),
                             formula_record(5, 3, 9, number_result(8), bytes_of({0x1E, 7, 0}))};
  for (const Bytes& c : constants) ASSERT_TRUE(cells.emplace_back().Read(c.data(), c.size()));
  CellBlock far = block(0x027E, 20, 7);  // outside the Dimensions
  far.rk.value = RKCodec::FromInteger(1);
  cells.push_back(far);

  OneSheet book(w);
  book.globals.shared_strings.strings.resize(2);
  book.globals.shared_strings.strings[0] = "narrow";
  book.globals.shared_strings.strings[1] = u"wide";
  book.sheet().ReadCells();
  ExcelSheet& s = book.sheet();

  EXPECT_EQ(s.GetTotalRows(), 21u);
  EXPECT_EQ(s.GetTotalCols(), 8u);
  EXPECT_EQ(s.At(1, 0)->GetInteger(), -4);
  EXPECT_EQ(s.At(1, 1)->Type(), ExcelCell::kDouble);
  EXPECT_EQ(s.At(1, 1)->GetDouble(), 0.5);
  EXPECT_EQ(s.At(1, 2)->GetInteger(), 9);
  bool truth = false;
  uint8_t code = 0;
  EXPECT_TRUE(s.At(2, 0)->GetBoolean(truth) && truth);
  EXPECT_TRUE(s.At(2, 1)->GetError(code));
  EXPECT_EQ(code, 7);  // #DIV/0!
  EXPECT_EQ(s.At(2, 2)->Type(), ExcelCell::kUndefined);
  EXPECT_EQ(s.At(3, 0)->Type(), ExcelCell::kDouble);  // a result of 0
  EXPECT_TRUE(s.At(3, 0)->IsFormula());
  EXPECT_EQ(s.At(3, 1)->GetDouble(), 3.14159);
  EXPECT_STREQ(s.At(4, 0)->GetString(), "narrow");
  EXPECT_EQ(s.At(4, 1)->Type(), ExcelCell::kWideString);
  EXPECT_EQ(s.At(4, 2)->Type(), ExcelCell::kUndefined);
  EXPECT_EQ(s.At(20, 7)->GetInteger(), 1);
  EXPECT_TRUE(s.At(5, 0)->GetError(code) && code == ExcelCell::kErrorNum);
  EXPECT_EQ(s.At(5, 1)->GetDouble(), 7.0);
  EXPECT_STREQ(s.At(5, 2)->GetString(), "x");
  EXPECT_EQ(s.At(5, 2)->Format(), 9);
  EXPECT_FALSE(s.At(5, 2)->IsFormula());
  EXPECT_EQ(s.At(5, 3)->GetDouble(), 8.0);  // 7 + 1 gave 8
  EXPECT_TRUE(s.At(5, 3)->IsFormula());
  // Any new value, and a copy, is no formula's.
  ExcelCell copy = *s.At(5, 3);
  EXPECT_FALSE(copy.IsFormula());
  s.Cell(5, 3)->SetDouble(8.0);
  EXPECT_FALSE(s.At(5, 3)->IsFormula());
}

TEST(ExcelSheetTest, ScaledIntegerRKValuesKeepTheirHundredths) {
  // Other writers store 3.25 as the integer 325 with the scale flag.
  Worksheet w;
  w.cell_table.row_blocks.resize(1);
  const std::pair<uint32_t, double> cases[] = {{(325u << 2) | 3u, 3.25},
                                               {(10u << 2) | 3u, 0.1},
                                               {static_cast<uint32_t>(-150 * 4) | 3u, -1.5},
                                               {(300u << 2) | 3u, 3.0},
                                               {(57u << 2) | 2u, 57.0}};
  for (uint16_t i = 0; i < 5; ++i) {
    CellBlock rk = block(0x027E, i, 0);
    rk.rk.value = cases[i].first;
    w.cell_table.row_blocks[0].cell_blocks.push_back(rk);
  }
  OneSheet book(w);
  for (uint16_t i = 0; i < 5; ++i)
    EXPECT_EQ(book.sheet().At(i, 0)->GetDouble(), cases[i].second) << i;
  EXPECT_EQ(book.sheet().At(0, 0)->Type(), ExcelCell::kDouble);
  EXPECT_EQ(book.sheet().At(3, 0)->Type(), ExcelCell::kInteger);
  EXPECT_EQ(book.sheet().At(4, 0)->Type(), ExcelCell::kInteger);
}

TEST(ExcelSheetTest, DimensionsSizeTheTableWithinTheLimits) {
  Worksheet w;
  w.dimensions.first_unused_row = 10;
  w.dimensions.first_unused_col = 3;
  OneSheet small(w);
  EXPECT_EQ(small.sheet().GetTotalRows(), 10u);
  EXPECT_EQ(small.sheet().GetTotalCols(), 3u);

  // Damaged Dimensions cannot make the table larger than a sheet.
  w.dimensions.first_unused_row = 4000000000u;
  w.dimensions.first_unused_col = 1;
  OneSheet tall(w);
  EXPECT_EQ(tall.sheet().GetTotalRows(), 65536u);
  EXPECT_EQ(tall.sheet().GetTotalCols(), 1u);
  w.dimensions.first_unused_row = 1;
  w.dimensions.first_unused_col = 60000;
  OneSheet wide(w);
  EXPECT_EQ(wide.sheet().GetTotalCols(), 256u);

  // A full-size claim stores nothing until cells are set: every position
  // inside reads as empty.
  w.dimensions.first_unused_row = 65536;
  w.dimensions.first_unused_col = 256;
  OneSheet full(w);
  ExcelSheet& s = full.sheet();
  ASSERT_NE(s.At(65535, 255), nullptr);
  EXPECT_EQ(s.At(65535, 255)->Type(), ExcelCell::kUndefined);
  EXPECT_TRUE(s.EraseCell(40000, 100));
  *s.Cell(3, 4) = 2.5;
  EXPECT_EQ(s.At(3, 4)->GetDouble(), 2.5);
  EXPECT_EQ(s.GetTotalRows(), 65536u);
}

TEST(ExcelSheetTest, PrintsDelimitedText) {
  OneSheet book;
  ExcelSheet& s = book.sheet();
  *s.Cell(0, 0) = 1;
  *s.Cell(0, 1) = 0.1;
  *s.Cell(0, 2) = "say \"hi\"";
  *s.Cell(1, 2) = u"wide";
  std::ostringstream out;
  s.Print(out, ';', '"');
  EXPECT_EQ(out.str(), "1;0.1;\"say \"\"hi\"\"\"\n;;\n");
}

TEST(ExcelCellTest, CopiesHoldTheirOwnTextAndTheFormatStays) {
  ExcelCell a;
  a = "alpha";
  a.SetFormat(17);
  ExcelCell b = a;
  EXPECT_NE(b.GetString(), a.GetString());  // a text of its own
  EXPECT_STREQ(b.GetString(), "alpha");
  b = "beta";
  EXPECT_STREQ(a.GetString(), "alpha");
  ExcelCell c = std::move(b);
  EXPECT_STREQ(c.GetString(), "beta");
  EXPECT_EQ(c.Format(), 17);
  ExcelCell& same = a;  // self-assignment, named apart so compilers allow it
  a = same;
  a.SetString(a.GetString());  // its own text
  EXPECT_STREQ(a.GetString(), "alpha");
  a = u"\u00b5";
  a = 2.5;
  EXPECT_EQ(a.GetWString(), nullptr);
  EXPECT_EQ(a.Format(), 17);
  a.EraseContents();
  EXPECT_EQ(a.Type(), ExcelCell::kUndefined);
  EXPECT_EQ(a.Format(), 17);
}

TEST(ExcelSheetTest, CellsSetInAnyOrderAreStoredOnceInColumnOrder) {
  OneSheet book;
  ExcelSheet& s = book.sheet();
  // Column by column from the far corner, as an image is filled.
  for (int c = 6; c >= 0; --c)
    for (int r = 4; r >= 0; --r) s.Cell(r, (c * 3) % 7)->SetInteger(r * 10 + (c * 3) % 7);
  EXPECT_EQ(s.Cell(2, 3), s.Cell(2, 3));
  ASSERT_EQ(s.StoredRows(), 5u);
  for (int r = 0; r < 5; ++r) {
    const ExcelSheet::RowCells row = s.StoredRow(r);
    ASSERT_EQ(row.size(), 7u) << r;
    for (int c = 0; c < 7; ++c) {
      EXPECT_EQ(row[c].Column(), c);
      EXPECT_EQ(s.At(r, c)->GetInteger(), r * 10 + c);
    }
  }
  // Far cells cost what they hold, not the table they span.
  s.Cell(65535, 255)->SetString("corner");
  EXPECT_EQ(s.GetTotalRows(), 65536u);
  EXPECT_EQ(s.GetTotalCols(), 256u);
  EXPECT_EQ(s.StoredRow(65535).size(), 1u);
  EXPECT_EQ(s.StoredRow(300).size(), 0u);
  EXPECT_EQ(s.At(300, 100)->Type(), ExcelCell::kUndefined);
  EXPECT_TRUE(s.EraseCell(300, 100));
  EXPECT_EQ(s.StoredRow(300).size(), 0u);
}

// A sheet is its workbook's: copying, moving or swapping one would leave
// its name and texts behind.
static_assert(!std::is_copy_constructible_v<ExcelSheet> &&
                  !std::is_move_constructible_v<ExcelSheet> &&
                  !std::is_copy_assignable_v<ExcelSheet> && !std::is_swappable_v<ExcelSheet>,
              "a sheet stays in its workbook");

// Cells read one record at a time, as a load reads them, in any order:
// rows left and come back to, columns from right to left, a record for a
// cell already read. The sheet ends as ReadCells makes it, and its rows
// keep no room they do not use.
TEST(ExcelSheetTest, CellsReadOneByOneInAnyOrderEqualReadCells) {
  Worksheet w;
  w.dimensions.first_unused_row = 12;
  w.dimensions.first_unused_col = 5;
  w.cell_table.row_blocks.resize(1);
  auto& cells = w.cell_table.row_blocks[0].cell_blocks;
  const uint16_t places[][2] = {{3, 4}, {3, 2}, {1, 0}, {3, 0}, {1, 3}, {3, 2}, {7, 200}, {3, 3}};
  for (size_t i = 0; i < sizeof places / sizeof places[0]; ++i) {
    CellBlock number = block(0x0203, places[i][0], places[i][1]);
    number.number.value = 0.5 + static_cast<double>(i);
    number.number.xf_index = static_cast<uint16_t>(i);
    cells.push_back(number);
  }
  CellBlock mul = block(0x00BD, 1, 1);
  mul.mul_rk.entries.resize(2);
  mul.mul_rk.entries[1].value = RKCodec::FromInteger(8);
  cells.push_back(mul);

  OneSheet book(w);
  const ExcelSheet& whole = book.sheet();
  ExcelSheet one_by_one(nullptr, 0);
  for (const CellBlock& record : cells) one_by_one.ReadCell(record, book.globals.shared_strings);
  one_by_one.FinishReading(w.dimensions);

  ASSERT_EQ(one_by_one.GetTotalRows(), 12u);
  ASSERT_EQ(one_by_one.GetTotalCols(), 201u);
  ASSERT_EQ(one_by_one.StoredRows(), whole.StoredRows());
  for (uint64_t r = 0; r < whole.StoredRows(); ++r) {
    const ExcelSheet::RowCells a = one_by_one.StoredRow(r);
    const ExcelSheet::RowCells b = whole.StoredRow(r);
    ASSERT_EQ(a.size(), b.size()) << r;
    for (size_t k = 0; k < a.size(); ++k) {
      EXPECT_EQ(a[k].Column(), b[k].Column());
      EXPECT_EQ(a[k].Type(), b[k].Type());
      EXPECT_EQ(a[k].GetDouble(), b[k].GetDouble());
      EXPECT_EQ(a[k].Format(), b[k].Format());
    }
  }
  EXPECT_EQ(one_by_one.At(3, 2)->GetDouble(), 5.5);  // the later record holds
  EXPECT_EQ(one_by_one.At(3, 2)->Format(), 5);
  EXPECT_EQ(one_by_one.At(1, 2)->GetInteger(), 8);
  EXPECT_EQ(one_by_one.StoredRow(3).size(), 4u);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
