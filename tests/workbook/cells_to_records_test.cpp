#include <gtest/gtest.h>

#include "cells_to_records.h"
#include "record_bytes.h"
#include "rk_codec.h"
#include "workbook_content.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;
using RowBlock = Worksheet::CellTable::RowBlock;

struct Book : WorkbookContent {
  explicit Book(size_t n = 1) {
    globals.bound_sheets.resize(n);
    worksheets.resize(n);
    for (size_t i = 0; i < n; ++i) sheets.emplace_back(this, i);
  }
  ExcelSheet& sheet(size_t i = 0) { return sheets[i]; }
  std::vector<RowBlock::CellBlock>& records(size_t s = 0, size_t b = 0) {
    return worksheets[s].cell_table.row_blocks[b].cell_blocks;
  }
};

TEST(CellsToRecordsTest, IntegerRunsBecomeMulRK) {
  Book book;
  for (int c : {0, 1, 2}) *book.sheet().Cell(0, c) = c + 10;
  for (int c : {0, 1, 3}) *book.sheet().Cell(1, c) = c;
  book.RecordsFromCells();
  const auto& r = book.records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].code, 0x00BD);
  EXPECT_EQ(r[0].mul_rk.first_col, 0);
  EXPECT_EQ(r[0].mul_rk.last_col, 2);
  ASSERT_EQ(r[0].mul_rk.entries.size(), 3u);
  EXPECT_EQ(r[0].mul_rk.entries[2].value, RKCodec::FromInteger(12));
  EXPECT_EQ(r[1].code, 0x00BD);
  EXPECT_EQ(r[1].mul_rk.last_col, 1);
  EXPECT_EQ(r[2].code, 0x027E);
  EXPECT_EQ(r[2].rk.col, 3);
  EXPECT_EQ(r[2].rk.row, 1);
}

TEST(CellsToRecordsTest, DoublesGoToRKOnlyWhenTheyComeBackUnchanged) {
  Book book;
  ExcelSheet& s = book.sheet();
  *s.Cell(0, 0) = 1;
  *s.Cell(0, 1) = 0.5;
  *s.Cell(1, 0) = 1.5;
  *s.Cell(1, 1) = 2.25;
  *s.Cell(1, 2) = 3.14159;
  *s.Cell(2, 0) = 3.14159;
  *s.Cell(2, 1) = 2.71828;
  *s.Cell(3, 0) = 10000.25;   // two decimals, but the RK form would change it
  *s.Cell(3, 1) = 600000000;  // beyond the 30-bit integer form
  book.RecordsFromCells();
  std::vector<uint16_t> codes;
  for (const auto& r : book.records()) codes.push_back(r.code);
  EXPECT_EQ(codes, (std::vector<uint16_t>{0x027E, 0x027E, 0x00BD, 0x0203, 0x0203, 0x0203, 0x0203,
                                          0x0203}));
  EXPECT_EQ(book.records()[2].mul_rk.last_col, 1);
  EXPECT_EQ(book.records()[6].number.value, 10000.25);
  EXPECT_EQ(book.records()[7].number.value, 600000000.0);
}

TEST(CellsToRecordsTest, StringsAreSharedOncePerWidth) {
  Book book;
  ExcelSheet& s = book.sheet();
  *s.Cell(0, 0) = "a";
  *s.Cell(0, 1) = "b";
  *s.Cell(0, 2) = "a";
  book.RecordsFromCells();
  const auto& table = book.globals.shared_strings;
  EXPECT_EQ(table.total_count, 3u);
  EXPECT_EQ(table.unique_count, 2u);
  ASSERT_EQ(table.Count(), 2u);
  EXPECT_STREQ(table.texts->Narrow(table.text_index[1]), "b");
  std::vector<uint64_t> indices;
  for (const auto& r : book.records()) indices.push_back(r.label_sst.string_index);
  EXPECT_EQ(indices, (std::vector<uint64_t>{0, 1, 0}));

  *s.Cell(1, 0) = u"a";
  book.RecordsFromCells();  // a second save starts the table afresh
  EXPECT_EQ(table.total_count, 4u);
  ASSERT_EQ(table.Count(), 3u);
  EXPECT_EQ(std::u16string(table.texts->Wide(table.text_index[2])), u"a");
}

TEST(CellsToRecordsTest, SheetSizesGiveDimensionsIndexAndRowBlocks) {
  Book book(3);
  book.sheet(1).Cell(4, 2);  // 5 x 3, only (0, 0) set
  *book.sheet(1).Cell(0, 0) = 1;
  for (int r = 0; r <= 32; ++r) *book.sheet(2).Cell(r, 0) = r;
  book.sheet(2).Cell(33, 0);
  book.RecordsFromCells();

  const Worksheet& empty = book.worksheets[0];
  EXPECT_EQ(empty.dimensions.first_unused_row, 0u);
  EXPECT_EQ(empty.dimensions.first_unused_col, 0);
  EXPECT_EQ(empty.index.dbcell_positions.size(), 1u);
  EXPECT_TRUE(empty.cell_table.row_blocks.empty());
  EXPECT_EQ(empty.window2.options, 0x06B6);

  const Worksheet& small = book.worksheets[1];
  EXPECT_EQ(small.dimensions.first_used_row, 0u);
  EXPECT_EQ(small.dimensions.first_unused_row, 5u);
  EXPECT_EQ(small.dimensions.first_unused_col, 3);
  ASSERT_EQ(small.cell_table.row_blocks.size(), 1u);
  ASSERT_EQ(small.cell_table.row_blocks[0].rows.size(), 1u);
  EXPECT_EQ(small.cell_table.row_blocks[0].rows[0].first_unused_col, 3);
  EXPECT_EQ(small.cell_table.row_blocks[0].dbcell.row_offsets.size(), 1u);
  EXPECT_EQ(small.cell_table.row_blocks[0].cell_blocks.size(), 1u);
  EXPECT_EQ(small.window2.options, 0x00B6);  // neither selected nor shown: not the active sheet

  const Worksheet& tall = book.worksheets[2];
  ASSERT_EQ(tall.cell_table.row_blocks.size(), 2u);
  EXPECT_EQ(tall.index.dbcell_positions.size(), 2u);
  EXPECT_EQ(tall.cell_table.row_blocks[0].rows.size(), 32u);
  EXPECT_EQ(tall.cell_table.row_blocks[1].rows.size(), 1u);  // row 33 holds no cell
  EXPECT_EQ(tall.index.first_unused_row, 34u);
}

TEST(CellsToRecordsTest, BlocksCountFromTheFirstUsedRowAndColumnIsTheSmallest) {
  Book book;
  ExcelSheet& s = book.sheet();
  *s.Cell(40, 3) = 1;
  *s.Cell(41, 1) = 2;
  *s.Cell(79, 0) = 3;
  book.RecordsFromCells();
  const Worksheet& w = book.worksheets[0];
  EXPECT_EQ(w.dimensions.first_used_row, 40u);
  EXPECT_EQ(w.dimensions.first_used_col, 0);
  EXPECT_EQ(w.index.first_used_row, 40u);
  ASSERT_EQ(w.cell_table.row_blocks.size(), 2u);  // rows 40-71 and 72-79
  EXPECT_EQ(w.index.dbcell_positions.size(), 2u);
  EXPECT_EQ(w.cell_table.row_blocks[0].rows[0].row_index, 40);
  EXPECT_EQ(w.cell_table.row_blocks[1].rows[0].row_index, 79);

  Book other;
  *other.sheet().Cell(0, 3) = 1;
  *other.sheet().Cell(1, 1) = 1;
  other.RecordsFromCells();
  EXPECT_EQ(other.worksheets[0].dimensions.first_used_col, 1);
}

TEST(CellsToRecordsTest, FormatsGoWithTheirCellsAndFormattedEmptyCellsBecomeBlanks) {
  Book book;
  ExcelSheet& s = book.sheet();
  for (int c : {0, 1, 2}) {
    *s.Cell(0, c) = c;
    s.Cell(0, c)->SetFormat(static_cast<uint16_t>(15 + c));
  }
  *s.Cell(1, 0) = 3.14159;
  s.Cell(1, 0)->SetFormat(20);
  *s.Cell(1, 1) = "text";
  s.Cell(1, 1)->SetFormat(18);
  s.Cell(1, 3)->SetFormat(19);  // formatted, empty
  s.Cell(1, 5);                 // neither
  *s.Cell(2, 0) = 0.5;
  s.Cell(2, 0)->SetFormat(21);
  s.Cell(2, 0)->EraseContents();  // the format stays
  book.RecordsFromCells();

  const auto& r = book.records();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0].code, 0x00BD);
  EXPECT_EQ(r[0].mul_rk.entries[0].xf_index, 15);
  EXPECT_EQ(r[0].mul_rk.entries[2].xf_index, 17);
  EXPECT_EQ(r[1].code, 0x0203);
  EXPECT_EQ(r[1].number.xf_index, 20);
  EXPECT_EQ(r[2].code, 0x00FD);
  EXPECT_EQ(r[2].label_sst.xf_index, 18);
  EXPECT_EQ(r[3].code, 0x0201);
  EXPECT_EQ(r[3].blank.col, 3);
  EXPECT_EQ(r[3].blank.xf_index, 19);
  EXPECT_EQ(r[4].code, 0x0201);
  EXPECT_EQ(r[4].blank.xf_index, 21);

  // Read back from the records: the same formats, the blanks still empty.
  ExcelSheet back(&book, 0);
  EXPECT_EQ(back.At(0, 1)->Format(), 16);
  EXPECT_EQ(back.At(1, 0)->Format(), 20);
  EXPECT_EQ(back.At(1, 1)->Format(), 18);
  EXPECT_EQ(back.At(1, 3)->Format(), 19);
  EXPECT_EQ(back.At(1, 3)->Type(), ExcelCell::kUndefined);
  EXPECT_EQ(back.At(1, 5)->Format(), 0);
  EXPECT_EQ(back.At(2, 0)->Format(), 21);
}

TEST(CellsToRecordsTest, WrittenRecordsReadBackToTheSameCells) {
  Book book(2);
  book.globals.bound_sheets[1].name = "Second";
  ExcelSheet& s = book.sheet(0);
  for (int r = 0; r < 70; ++r) {
    *s.Cell(r, 0) = r * 0.25;
    *s.Cell(r, 1) = r * 1.1;
    *s.Cell(r, 2) = r - 35;
    if (r % 3 == 0) *s.Cell(r, 3) = ("text " + std::to_string(r % 9)).c_str();
  }
  *s.Cell(5, 9) = u"\u03A9 wide";
  *book.sheet(1).Cell(2, 2) = -7;

  book.RecordsFromCells();
  Bytes stream = written_bytes(book.globals);
  for (Worksheet& w : book.worksheets) stream += written_bytes(w);

  Book back(0);
  const uint64_t globals = back.globals.Read(stream.data(), stream.size());
  ASSERT_GT(globals, 0u);
  uint64_t p = globals;
  for (int i = 0; i < 2; ++i) {
    back.worksheets.emplace_back();
    const uint64_t used = back.worksheets.back().Read(stream.data() + p, stream.size() - p);
    ASSERT_GT(used, 0u);
    p += used;
  }
  EXPECT_EQ(p, stream.size());
  for (size_t i = 0; i < 2; ++i) back.sheets.emplace_back(&back, i);

  for (size_t i = 0; i < 2; ++i) {
    const ExcelSheet& a = book.sheet(i);
    const ExcelSheet& b = back.sheet(i);
    ASSERT_EQ(b.GetTotalRows(), a.GetTotalRows());
    ASSERT_EQ(b.GetTotalCols(), a.GetTotalCols());
    for (uint64_t r = 0; r < a.GetTotalRows(); ++r) {
      for (uint64_t c = 0; c < a.GetTotalCols(); ++c) {
        const ExcelCell& x = *a.At(r, c);
        const ExcelCell& y = *b.At(r, c);
        ASSERT_EQ(y.Type(), x.Type()) << i << " " << r << " " << c;
        EXPECT_EQ(y.GetDouble(), x.GetDouble()) << r << " " << c;
        if (x.GetString()) {
          EXPECT_STREQ(y.GetString(), x.GetString());
        }
        if (x.GetWString()) {
          EXPECT_EQ(std::u16string(y.GetWString()), std::u16string(x.GetWString()));
        }
      }
    }
  }
  EXPECT_STREQ(back.sheet(1).GetSheetName(), "Second");
}

// Every kind of cell and run, cells asked for but never set, erased ones,
// sheets that start below row 0 and one cell far out.
void fill_mixed(Book& book) {
  uint32_t state = 7;
  auto next = [&](uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  for (size_t s = 0; s < book.sheets.size(); ++s) {
    ExcelSheet& sheet = book.sheet(s);
    const int first = static_cast<int>(s) * 37;
    for (int r = first; r < first + 120; ++r) {
      if (next(7) == 0) continue;
      // Columns in a shuffled order: the sheet keeps them in order itself.
      for (int k = 0; k < 40; ++k) {
        const int c = (k * 17) % 40;
        switch (next(9)) {
          case 0:
            break;
          case 1:
            sheet.Cell(r, c)->SetInteger(static_cast<int32_t>(next(1000)) - 500);
            break;
          case 2:
            sheet.Cell(r, c)->SetInteger(static_cast<int32_t>(next(2000000000)) *
                                         (next(2) ? 1 : -1));
            break;
          case 3:
            sheet.Cell(r, c)->SetDouble((static_cast<int>(next(100000)) - 50000) / 100.0);
            break;
          case 4:
            sheet.Cell(r, c)->SetDouble(next(100000) / 7.0);
            break;
          case 5:
            sheet.Cell(r, c)->SetString(("t" + std::to_string(next(30))).c_str());
            break;
          case 6:
            sheet.Cell(r, c)->SetString(
                (u"w" + std::u16string(1, static_cast<char16_t>(0x100 + next(20)))).c_str());
            break;
          case 7:
            sheet.Cell(r, c);
            break;
          default:
            sheet.Cell(r, c)->SetDouble(next(1000) * 0.5);
            break;
        }
        if (next(50) == 0) sheet.Cell(r, c)->SetFormat(static_cast<uint16_t>(15 + next(6)));
      }
    }
    sheet.EraseCell(first + 3, 17);
  }
  book.sheet(book.sheets.size() - 1).Cell(3000, 200)->SetInteger(5);
}

// Worksheet bytes with the stream positions they hold cleared, as
// RecordsFromCells leaves them: the Index's DBCell positions and each
// DBCell's offsets.
Bytes without_positions(Bytes bytes) {
  for (size_t p = 0; p + 4 <= bytes.size(); p += 4 + get16(bytes, p + 2)) {
    const uint16_t code = get16(bytes, p);
    const size_t from = code == 0x020B ? 16 : (code == 0x00D7 ? 0 : get16(bytes, p + 2));
    for (size_t i = from; i < get16(bytes, p + 2); ++i) bytes[p + 4 + i] = 0;
  }
  return bytes;
}

TEST(CellsToRecordsTest, StreamWrittenStraightFromCellsEqualsTheRecordObjects) {
  Book book(3);
  fill_mixed(book);

  std::vector<Bytes> straight;
  Bytes strings;
  {
    CellTableWriter writer(book);
    strings = written_bytes(book.globals.shared_strings);
    for (size_t s = 0; s < book.sheets.size(); ++s) {
      writer.SetPositions(s, 0);
      Bytes bytes(book.worksheets[s].RecordSize() + writer.CellTableSize(s));
      ASSERT_EQ(writer.WriteSheet(s, bytes.data()), bytes.size());
      straight.push_back(bytes);
      // The writer keeps no cell records.
      EXPECT_TRUE(book.worksheets[s].cell_table.row_blocks.empty());
    }
  }

  book.RecordsFromCells();
  EXPECT_EQ(written_bytes(book.globals.shared_strings), strings);
  for (size_t s = 0; s < book.sheets.size(); ++s) {
    const Bytes a = without_positions(straight[s]), b = written_bytes(book.worksheets[s]);
    ASSERT_EQ(a.size(), b.size()) << "sheet " << s;
    const size_t first =
        static_cast<size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
    EXPECT_EQ(first, a.size()) << "sheet " << s << " differs at byte " << first;
  }
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
