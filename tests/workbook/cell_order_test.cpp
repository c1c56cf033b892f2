// A sheet's cells, whatever order they are set, erased or read in: the
// sheet holds the same cells and a save writes the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "excel_file.h"
#include "xls_tool.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using xls_tool::scratch_path;
using Place = std::pair<uint16_t, uint16_t>;

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every kind of cell, by place: integers, doubles, narrow and wide texts,
// a format alone.
void set_value(ExcelCell& cell, const Place& p) {
  const int k = p.first * 7 + p.second;
  switch (k % 5) {
    case 0:
      cell.SetInteger(k);
      break;
    case 1:
      cell.SetDouble(k + 0.123456789);
      break;
    case 2:
      cell.SetString(("t" + std::to_string(k)).c_str());
      break;
    case 3:
      cell.SetString(u"w\u00e9");
      break;
    default:
      cell.SetFormat(15);
      break;
  }
}

void expect_value(const ExcelSheet& sheet, const Place& p) {
  ExcelCell want;
  set_value(want, p);
  const ExcelCell* got = sheet.At(p.first, p.second);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->Type(), want.Type()) << p.first << "," << p.second;
  EXPECT_EQ(got->GetDouble(), want.GetDouble()) << p.first << "," << p.second;
  EXPECT_EQ(got->Format(), want.Format()) << p.first << "," << p.second;
  if (want.GetString()) {
    EXPECT_STREQ(got->GetString(), want.GetString());
  }
}

// A block of rows with holes, one-cell rows, and rows far apart.
std::vector<Place> places() {
  std::vector<Place> all;
  for (uint16_t r = 0; r < 90; ++r)
    for (uint16_t c = 0; c < (r % 3 == 0 ? 1 : 9); ++c)
      if ((r * 7 + c) % 11 != 0) all.emplace_back(r, c);
  for (uint16_t r : {300, 4000, 40000, 65534}) all.emplace_back(r, r % 256);
  all.emplace_back(65535, 255);
  return all;
}

// Places inside the table that end empty: set, then erased.
std::vector<Place> holes() {
  std::vector<Place> all;
  for (uint16_t r = 1; r < 90; r += 4)
    for (uint16_t c = 0; c < 9; ++c)
      if ((r * 7 + c) % 11 == 0) all.emplace_back(r, c);
  return all;
}

// Sets the places in the order given, with the holes set and erased on the
// way; checks each cell as soon as it is set; saves.
std::string build_and_save(const std::vector<Place>& order, const std::string& name) {
  ExcelFile book;
  book.New(1);
  ExcelSheet& sheet = *book.GetWorksheet(0);
  const std::vector<Place> erased = holes();
  for (size_t i = 0; i < order.size(); ++i) {
    if (i < erased.size()) sheet.Cell(erased[i].first, erased[i].second)->SetInteger(-1);
    ExcelCell* cell = sheet.Cell(order[i].first, order[i].second);
    if (!cell) {
      ADD_FAILURE() << "no cell at " << order[i].first << "," << order[i].second;
      return {};
    }
    set_value(*cell, order[i]);
    expect_value(sheet, order[i]);
    if (i + 1 == order.size() / 2) {
      for (const Place& p : erased) EXPECT_TRUE(sheet.EraseCell(p.first, p.second));
    }
  }
  for (const Place& p : order) expect_value(sheet, p);
  for (const Place& p : erased)
    EXPECT_EQ(sheet.At(p.first, p.second)->Type(), ExcelCell::kUndefined);
  EXPECT_EQ(sheet.GetTotalRows(), 65536u);
  EXPECT_EQ(sheet.GetTotalCols(), 256u);
  const std::string path = scratch_path(name);
  EXPECT_TRUE(book.SaveAs(path.c_str()));
  return file_bytes(path);
}

TEST(CellOrderTest, AnyInsertionOrderHoldsTheSameCellsAndSavesTheSameBytes) {
  const std::vector<Place> by_rows = places();
  const std::string expected = build_and_save(by_rows, "rows.xls");
  ASSERT_FALSE(expected.empty());

  std::vector<Place> by_columns = by_rows;
  std::stable_sort(by_columns.begin(), by_columns.end(),
                   [](const Place& a, const Place& b) { return a.second < b.second; });
  std::vector<Place> backwards(by_rows.rbegin(), by_rows.rend());
  std::vector<Place> shuffled = by_rows;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  // The far corner first, then row by row: how the export sizes its sheet.
  std::vector<Place> corner_first = by_rows;
  std::rotate(corner_first.begin(), corner_first.end() - 1, corner_first.end());

  const std::pair<const char*, const std::vector<Place>*> orders[] = {
      {"columns", &by_columns},
      {"backwards", &backwards},
      {"shuffled", &shuffled},
      {"corner_first", &corner_first}};
  for (const auto& [name, order] : orders) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(build_and_save(*order, std::string(name) + ".xls") == expected);
  }

  // Read back, the file holds every cell where it was set.
  ExcelFile book;
  ASSERT_TRUE(book.Load(scratch_path("shuffled.xls").c_str()));
  const ExcelSheet& sheet = *book.GetWorksheet(0);
  for (const Place& p : by_rows) expect_value(sheet, p);
  size_t stored = 0;
  for (uint64_t r = 0; r < sheet.StoredRows(); ++r) {
    const ExcelSheet::RowCells row = sheet.StoredRow(r);
    for (size_t k = 0; k < row.size(); ++k) {
      if (k) {
        EXPECT_LT(row[k - 1].Column(), row[k].Column()) << r;
      }
      EXPECT_EQ(sheet.At(r, row[k].Column()), &row[k]);
    }
    stored += row.size();
  }
  EXPECT_EQ(stored, by_rows.size());
}

// Rows far apart each hold their own cells; the rows between hold none.
TEST(CellOrderTest, RowsFarApartKeepTheirCells) {
  ExcelFile book;
  book.New(1);
  ExcelSheet& sheet = *book.GetWorksheet(0);
  const Place far[] = {{65535, 0}, {0, 255}, {30000, 7}, {1, 0}, {65535, 255}, {30000, 6}};
  for (const Place& p : far) set_value(*sheet.Cell(p.first, p.second), p);
  ASSERT_EQ(sheet.StoredRows(), 65536u);
  EXPECT_EQ(sheet.StoredRow(0).size(), 1u);
  EXPECT_EQ(sheet.StoredRow(2).size(), 0u);
  EXPECT_EQ(sheet.StoredRow(30000).size(), 2u);
  EXPECT_EQ(sheet.StoredRow(30000)[0].Column(), 6);
  EXPECT_EQ(sheet.StoredRow(65535).size(), 2u);
  EXPECT_EQ(sheet.StoredRow(65535)[1].Column(), 255);
  EXPECT_EQ(sheet.At(29999, 7)->Type(), ExcelCell::kUndefined);

  const std::string path = scratch_path("far_rows.xls");
  ASSERT_TRUE(book.SaveAs(path.c_str()));
  ExcelFile loaded;
  ASSERT_TRUE(loaded.Load(path.c_str()));
  const ExcelSheet& back = *loaded.GetWorksheet(0);
  for (const Place& p : far) expect_value(back, p);
  EXPECT_EQ(back.StoredRow(30000).size(), 2u);
  EXPECT_EQ(back.StoredRow(29999).size(), 0u);
}

// Filled column by column, as the export fills an image, the cells lie in
// many runs: every lookup must still find the one cell stored at its place,
// whichever run holds it, and the result must save as a row-by-row fill.
TEST(CellOrderTest, ColumnByColumnFillWithRevisitsKeepsOneCellPerPlace) {
  constexpr uint16_t kRows = 150;
  constexpr uint16_t kCols = 70;
  const auto value = [](uint16_t r, uint16_t c) { return r * 1000.0 + c + 0.5; };

  ExcelFile by_rows;
  by_rows.New(1);
  for (uint16_t r = 0; r < kRows; ++r)
    for (uint16_t c = 0; c < kCols; ++c)
      by_rows.GetWorksheet(0)->Cell(r, c)->SetDouble(value(r, c));

  ExcelFile by_columns;
  by_columns.New(1);
  ExcelSheet& sheet = *by_columns.GetWorksheet(0);
  sheet.Cell(kRows - 1, kCols - 1);  // the far corner first, as the export does
  for (uint16_t c = 0; c < kCols; ++c) {
    for (uint16_t r = 0; r < kRows; ++r) {
      sheet.Cell(r, c)->SetDouble(-1);
      // An earlier column, half way down: the stored cell, not a new one.
      if (c > 0 && r == kRows / 2) {
        const uint16_t back = (c * 37 + 11) % c;
        ExcelCell* earlier = sheet.Cell(r, back);
        ASSERT_EQ(earlier, sheet.At(r, back)) << c;
        ASSERT_EQ(earlier->GetDouble(), value(r, back)) << c;
        earlier->SetDouble(value(r, back));
      }
      sheet.Cell(r, c)->SetDouble(value(r, c));
    }
  }
  for (uint16_t r = 0; r < kRows; ++r) {
    const ExcelSheet::RowCells row = sheet.StoredRow(r);
    ASSERT_EQ(row.size(), kCols) << r;
    for (uint16_t c = 0; c < kCols; ++c) {
      EXPECT_EQ(row[c].Column(), c) << r;
      EXPECT_EQ(row[c].GetDouble(), value(r, c)) << r << "," << c;
    }
  }

  const std::string rows_path = scratch_path("image_rows.xls");
  const std::string columns_path = scratch_path("image_columns.xls");
  ASSERT_TRUE(by_rows.SaveAs(rows_path.c_str()));
  ASSERT_TRUE(by_columns.SaveAs(columns_path.c_str()));
  EXPECT_TRUE(file_bytes(rows_path) == file_bytes(columns_path));
}

// Long columns filled bottom-up, shuffled, or around a far cell hold what a
// top-down fill holds and save the same bytes.
TEST(CellOrderTest, LongColumnsInAnyOrderSaveAsATopDownFill) {
  constexpr uint16_t kRows = 3000;
  std::vector<uint16_t> shuffled(kRows);
  for (uint16_t r = 0; r < kRows; ++r) shuffled[r] = r;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
  const auto fill = [&](bool in_order) {
    auto book = std::make_unique<ExcelFile>();
    book->New(1);
    ExcelSheet& sheet = *book->GetWorksheet(0);
    for (uint16_t i = 0; i < kRows; ++i) {
      const uint16_t rows[] = {i, in_order ? i : uint16_t(kRows - 1 - i),
                               in_order ? i : shuffled[i]};
      for (uint16_t c = 0; c < 3; ++c) sheet.Cell(rows[c], c)->SetInteger(rows[c] * 3 + c);
    }
    return book;
  };
  const auto top_down = fill(true);
  const auto mixed = fill(false);
  const ExcelSheet& sheet = *mixed->GetWorksheet(0);
  ExcelSheet::RowReader reader(sheet);
  for (uint16_t r = 0; r < kRows; ++r) {
    const ExcelSheet::RowCells& row = reader.Row(r);
    ASSERT_EQ(row.size(), 3u) << r;
    for (uint16_t c = 0; c < 3; ++c) {
      EXPECT_EQ(row[c].GetInteger(), r * 3 + c) << r;
      EXPECT_EQ(sheet.At(r, c), &row[c]) << r;
    }
  }
  const std::string a = scratch_path("top_down.xls"), b = scratch_path("mixed.xls");
  ASSERT_TRUE(top_down->SaveAs(a.c_str()));
  ASSERT_TRUE(mixed->SaveAs(b.c_str()));
  EXPECT_TRUE(file_bytes(a) == file_bytes(b));
}

// A cell's pointer stays valid while other columns grow and the sheet is
// read in every way (run under AddressSanitizer, a stale pointer fails).
TEST(CellOrderTest, ACellPointerSurvivesReadsAndOtherColumnsGrowing) {
  ExcelFile book;
  book.New(1);
  ExcelSheet& sheet = *book.GetWorksheet(0);
  for (uint16_t r = 0; r < 100; ++r) sheet.Cell(r, 1)->SetInteger(r);
  for (uint16_t r = 0; r < 100; ++r) sheet.Cell(r, 0)->SetInteger(-r);
  ExcelCell* cell = sheet.Cell(50, 0);
  const ExcelSheet& view = sheet;
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_EQ(view.StoredRows(), 100u + pass * 400);
    EXPECT_EQ(&view.StoredRow(50)[0], cell);
    ExcelSheet::RowReader reader(view);
    for (uint64_t r = 0; r < view.StoredRows(); ++r) reader.Row(r);
    for (uint16_t r = 0; r < 400; ++r) sheet.Cell(100 + pass * 400 + 399 - r, 2 + pass);
    cell->SetDouble(pass + 0.5);
    EXPECT_EQ(view.At(50, 0)->GetDouble(), pass + 0.5);
  }
}

// What a program does with the cells of one column: every pattern reads
// the cell it names while the column grows under it, for columns of many
// lengths (under AddressSanitizer, a moved or freed cell fails). Texts and
// numbers alternate; the model is the value each row should hold.
class ColumnPatterns : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    book_.New(1);
    sheet_ = book_.GetWorksheet(0);
  }
  void Put(int row, int value) {
    ExcelCell& cell = *sheet_->Cell(row, 2);
    if (value % 2)
      cell.SetString(("v" + std::to_string(value)).c_str());
    else
      cell.SetInteger(value);
    model_[row] = value;
  }
  void Check() {
    for (const auto& [row, value] : model_) {
      const ExcelCell& cell = *sheet_->At(row, 2);
      if (value % 2) {
        ASSERT_NE(cell.GetString(), nullptr) << row;
        EXPECT_EQ(cell.GetString(), "v" + std::to_string(value)) << row;
      } else {
        EXPECT_EQ(cell.GetInteger(), value) << row;
      }
    }
  }
  ExcelFile book_;
  ExcelSheet* sheet_ = nullptr;
  std::map<int, int> model_;
};

TEST_P(ColumnPatterns, AssignmentWithinAColumn) {
  const int n = GetParam();
  for (int r = 0; r < n; ++r)
    if (r != 3) Put(r, 100 + r);
  *sheet_->Cell(3, 2) = *sheet_->At(9, 2);
  model_[3] = model_[9];
  Check();
}

TEST_P(ColumnPatterns, FillDownAndSparseCopies) {
  const int n = GetParam();
  Put(0, 1);
  Put(n + 40, 2);
  for (int r = 1; r < n; ++r) {
    *sheet_->Cell(r, 2) = *sheet_->At(r - 1, 2);
    model_[r] = 1;
  }
  // Copies into the empty rows between filled ones.
  for (int r = 0; r < n; r += 2) Put(n + 41 + 2 * r, 200 + r);
  for (int r = 0; r < n; r += 2) {
    *sheet_->Cell(n + 42 + 2 * r, 2) = *sheet_->At(n + 41 + 2 * r, 2);
    model_[n + 42 + 2 * r] = 200 + r;
  }
  Check();
}

TEST_P(ColumnPatterns, ShiftDownToInsertARow) {
  const int n = GetParam();
  for (int r = 0; r < n; ++r) Put(r, 300 + r);
  for (int r = n - 1; r >= 4; --r) {
    *sheet_->Cell(r + 1, 2) = *sheet_->At(r, 2);
    model_[r + 1] = model_[r];
  }
  Put(4, 7);
  Check();
}

TEST_P(ColumnPatterns, SwapsAndSortedPointers) {
  const int n = GetParam();
  Put(1, 11);
  std::swap(*sheet_->Cell(1, 2), *sheet_->Cell(5, 2));
  model_[5] = 11;
  model_.erase(1);
  EXPECT_EQ(sheet_->At(1, 2)->Type(), ExcelCell::kUndefined);
  // Pointers collected down the column from the bottom up, with gaps, then
  // sorted by value: each still names its own cell.
  std::vector<ExcelCell*> cells;
  for (int r = 3 * n; r > 5; r -= 3) {
    cells.push_back(sheet_->Cell(r, 2));
    cells.back()->SetInteger((r * 37) % 101 * 2);
    model_[r] = (r * 37) % 101 * 2;
  }
  std::sort(cells.begin(), cells.end(), [](const ExcelCell* a, const ExcelCell* b) {
    return a->GetInteger() < b->GetInteger();
  });
  for (size_t i = 1; i < cells.size(); ++i)
    EXPECT_LE(cells[i - 1]->GetInteger(), cells[i]->GetInteger());
  for (const ExcelCell* cell : cells) EXPECT_EQ(cell->GetInteger(), model_[cell->Row()]);
  Check();
}

// Lengths of 10 to 67 cells, those on which a column of one list would
// grow among them, and a long one.
INSTANTIATE_TEST_SUITE_P(Lengths, ColumnPatterns,
                         ::testing::Values(10, 11, 12, 13, 15, 16, 17, 19, 20, 21, 24, 25, 26, 30,
                                           31, 32, 37, 38, 39, 46, 47, 48, 57, 58, 59, 64, 67,
                                           200));

// A sheet stays in its workbook: pointers to sheets survive sheets added
// and removed around them, and each saves its own cells under its own
// name.
TEST(SheetsTest, SheetsKeepTheirPlaceNameAndCells) {
  const std::string path = scratch_path("sheets_stay.xls");
  {
    ExcelFile book;
    book.New(1);
    ExcelSheet* a = book.AddWorksheet("A");
    ExcelSheet* b = book.AddWorksheet("B");
    a->Cell(0, 0)->SetString("cell of A");
    for (int i = 0; i < 40; ++i) book.AddWorksheet(0);
    ASSERT_TRUE(book.DeleteWorksheet("Sheet1"));
    b->Cell(0, 0)->SetString("cell of B");
    *a->Cell(1, 0) = *b->At(0, 0);
    EXPECT_STREQ(a->GetSheetName(), "A");
    EXPECT_EQ(book.GetWorksheet("B"), b);
    ASSERT_TRUE(book.SaveAs(path.c_str()));
  }
  ExcelFile loaded;
  ASSERT_TRUE(loaded.Load(path.c_str()));
  EXPECT_STREQ(loaded.GetWorksheet("A")->At(0, 0)->GetString(), "cell of A");
  EXPECT_STREQ(loaded.GetWorksheet("A")->At(1, 0)->GetString(), "cell of B");
  EXPECT_STREQ(loaded.GetWorksheet("B")->At(0, 0)->GetString(), "cell of B");
}

// Texts no cell shows any more are let go: a workbook changed and saved
// many times holds the texts its cells show, not every text it held.
TEST(SheetsTest, TextsNoCellShowsAreReleased) {
  const std::string path = scratch_path("texts_released.xls");
  ExcelFile book;
  book.New(1);
  ExcelSheet& sheet = *book.GetWorksheet(0);
  for (int r = 0; r < 50; ++r) sheet.Cell(r, 0)->SetString("same");
  ASSERT_TRUE(book.SaveAs(path.c_str()));
  ASSERT_TRUE(book.Load(path.c_str()));
  ExcelSheet& loaded = *book.GetWorksheet(0);
  for (int save = 0; save < 30; ++save) {
    for (int r = 0; r < 50; ++r)
      loaded.Cell(r, 1 + r % 2)->SetString(("s" + std::to_string(save * 50 + r)).c_str());
    ASSERT_TRUE(book.Save());
  }
  EXPECT_EQ(book.texts->SharedCount(), 50u);
  EXPECT_LE(book.texts->SharedSlots(), 100u);
  // A copy outlives the workbook's texts; a text equal to one of the file's
  // is the file's.
  ExcelCell copy = *loaded.At(49, 2);
  loaded.Cell(60, 0)->SetString("same");
  EXPECT_EQ(loaded.At(60, 0)->GetString(), loaded.At(0, 0)->GetString());
  book.New(1);
  EXPECT_STREQ(copy.GetString(), "s1499");
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
