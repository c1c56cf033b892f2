// A cell is its value: assigning copies the value and never the place, and
// a cell out of a sheet holds its own text, whatever becomes of the
// workbook it came from and on whatever thread it is read.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "excel_file.h"
#include "threads.h"
#include "xls_tool.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

// "Größe m" in 8-bit characters.
const char kNarrow[] =
    "Gr\xF6\xDF"
    "e m";

// A workbook of two sheets whose sheet "A" holds texts, numbers and a
// format at the places the assignments read.
void fill_source(ExcelFile& book) {
  book.New(1);
  ExcelSheet& a = *book.AddWorksheet("A", 0);
  a.Cell(7, 3)->SetString(kNarrow);
  a.Cell(7, 3)->SetFormat(15);
  a.Cell(9, 4)->SetString(u"\u00b5m");
  a.Cell(10, 4)->SetDouble(2.5);
}

void expect_assigned(const ExcelSheet& sheet, uint64_t row, uint64_t col, const char* text) {
  const ExcelCell* cell = sheet.At(row, col);
  ASSERT_NE(cell, nullptr) << row << ", " << col;
  EXPECT_STREQ(cell->GetString(), text) << row << ", " << col;
  EXPECT_EQ(cell->Format(), 15) << row << ", " << col;
}

// Every assignment lands where it is made, in its own sheet and workbook,
// and is saved there; the source stays as it was. Sources that show texts
// read from a file are copied as well as texts set in memory.
TEST(CellValue, AssignmentCopiesTheValueAndKeepsThePlace) {
  for (const bool loaded_source : {false, true}) {
    SCOPED_TRACE(loaded_source ? "loaded source" : "source in memory");
    auto source = std::make_unique<ExcelFile>();
    fill_source(*source);
    if (loaded_source) {
      const std::string path = xls_tool::scratch_path("cell_value_source.xls");
      ASSERT_TRUE(source->SaveAs(path.c_str()));
      source = std::make_unique<ExcelFile>();
      ASSERT_TRUE(source->Load(path.c_str()));
    }
    ExcelSheet& a = *source->GetWorksheet("A");
    ExcelSheet& b = *source->GetWorksheet("Sheet1");
    ExcelFile target;
    target.New(1);
    ExcelSheet& t = *target.GetWorksheet(0);
    t.Cell(5, 1)->SetInteger(99);  // replaced by the assignment

    *b.Cell(5, 1) = *a.At(7, 3);  // across sheets
    *t.Cell(5, 1) = *a.At(7, 3);  // across workbooks
    *a.Cell(3, 2) = *a.At(9, 4);  // within one sheet
    *t.Cell(6, 1) = *a.At(10, 4);
    // Swapping two cells swaps their values, not their places.
    *t.Cell(8, 0) = "eight";
    *t.Cell(9, 0) = 9;
    std::swap(*t.Cell(8, 0), *t.Cell(9, 0));

    for (const ExcelSheet* sheet : {&b, &t}) {
      expect_assigned(*sheet, 5, 1, kNarrow);
      EXPECT_EQ(sheet->At(5, 1)->Row(), 5);
      EXPECT_EQ(sheet->At(5, 1)->Column(), 1);
      EXPECT_EQ(sheet->At(7, 3), nullptr);
    }
    expect_assigned(a, 7, 3, kNarrow);
    EXPECT_EQ(std::u16string(a.At(3, 2)->GetWString()), u"\u00b5m");
    EXPECT_EQ(a.At(3, 2)->Row(), 3);
    EXPECT_EQ(std::u16string(a.At(9, 4)->GetWString()), u"\u00b5m");
    EXPECT_EQ(t.At(6, 1)->GetDouble(), 2.5);
    EXPECT_EQ(t.At(8, 0)->GetInteger(), 9);
    EXPECT_STREQ(t.At(9, 0)->GetString(), "eight");

    // Each workbook saves its own cells, after the other is gone.
    const std::string source_path = xls_tool::scratch_path("cell_value_assigned_source.xls");
    const std::string target_path = xls_tool::scratch_path("cell_value_assigned_target.xls");
    ASSERT_TRUE(source->SaveAs(source_path.c_str()));
    source.reset();
    ASSERT_TRUE(target.SaveAs(target_path.c_str()));
    ExcelFile source_back(source_path.c_str());
    ExcelFile target_back(target_path.c_str());
    ASSERT_EQ(source_back.GetTotalSheets(), 2u);
    ASSERT_EQ(target_back.GetTotalSheets(), 1u);
    // Texts set in memory and texts read from the file are listed once.
    EXPECT_EQ(source_back.globals.shared_strings.unique_count, 2u);
    expect_assigned(*source_back.GetWorksheet("Sheet1"), 5, 1, kNarrow);
    expect_assigned(*source_back.GetWorksheet("A"), 7, 3, kNarrow);
    EXPECT_EQ(std::u16string(source_back.GetWorksheet("A")->At(3, 2)->GetWString()), u"\u00b5m");
    expect_assigned(*target_back.GetWorksheet(0), 5, 1, kNarrow);
    EXPECT_EQ(target_back.GetWorksheet(0)->At(6, 1)->GetDouble(), 2.5);
    EXPECT_STREQ(target_back.GetWorksheet(0)->At(9, 0)->GetString(), "eight");
  }
}

// The same files as an independent reader sees them.
TEST(CellValue, AssignedCellsReadBackElsewhereWhereTheyWereAssigned) {
  REQUIRE_XLS_TOOL("xlrd");
  ExcelFile source;
  fill_source(source);
  ExcelFile target;
  target.New(1);
  *source.GetWorksheet("Sheet1")->Cell(5, 1) = *source.GetWorksheet("A")->At(7, 3);
  *target.GetWorksheet(0)->Cell(5, 1) = *source.GetWorksheet("A")->At(9, 4);
  const std::string source_path = xls_tool::scratch_path("cell_value_xlrd_source.xls");
  const std::string target_path = xls_tool::scratch_path("cell_value_xlrd_target.xls");
  ASSERT_TRUE(source.SaveAs(source_path.c_str()));
  ASSERT_TRUE(target.SaveAs(target_path.c_str()));
  xls_tool::Book read;
  ASSERT_TRUE(xls_tool::dump_book(source_path, read));
  ASSERT_EQ(read.size(), 2u);
  ASSERT_NE(read[1].At(5, 1), nullptr);
  EXPECT_EQ(read[1].At(5, 1)->text, "Gr\u00f6\u00dfe m");
  EXPECT_EQ(read[0].At(7, 3)->text, "Gr\u00f6\u00dfe m");
  ASSERT_TRUE(xls_tool::dump_book(target_path, read));
  ASSERT_EQ(read.size(), 1u);
  ASSERT_NE(read[0].At(5, 1), nullptr);
  EXPECT_EQ(read[0].At(5, 1)->text, "\u00b5m");
  EXPECT_EQ(read[0].cells.size(), 1u);
}

// Cells copied or moved out of a workbook, loaded or made in memory, keep
// their texts after it is gone and 65,536 workbooks more have come and
// gone, each with texts of its own.
TEST(CellValue, CopiedOutCellOutlivesItsWorkbookAndManyMore) {
  const std::string path = xls_tool::scratch_path("cell_value_copied_out.xls");
  ExcelCell narrow, wide, moved, made;
  {
    ExcelFile made_book;
    fill_source(made_book);
    ASSERT_TRUE(made_book.SaveAs(path.c_str()));
    made = *made_book.GetWorksheet("A")->At(7, 3);
    ExcelFile loaded(path.c_str());
    ExcelSheet& a = *loaded.GetWorksheet("A");
    narrow = *a.At(7, 3);
    const ExcelCell copied(*a.At(9, 4));
    wide = copied;
    moved = std::move(*a.Cell(9, 4));
  }
  for (int i = 0; i < 65536; ++i) {
    ExcelFile other;
    other.New(1);
    other.GetWorksheet(0)->Cell(7, 3)->SetString(("other " + std::to_string(i)).c_str());
  }
  for (const ExcelCell* cell : {&narrow, &made}) {
    EXPECT_STREQ(cell->GetString(), kNarrow);
    EXPECT_EQ(cell->GetStringLength(), 7u);
    EXPECT_EQ(cell->Format(), 15);
    EXPECT_EQ(cell->Row(), 0);  // a cell of no sheet stands nowhere
  }
  EXPECT_EQ(std::u16string(wide.GetWString()), u"\u00b5m");
  EXPECT_EQ(std::u16string(moved.GetWString()), u"\u00b5m");
}

// A cell of no sheet shows its own text on any thread: set on one, read on
// another.
TEST(CellValue, ThreadedLooseCellReadsItsOwnText) {
  ExcelCell loose;
  loose.SetString("set on the first thread");
  ExcelCell made_there;
  std::string seen;
  std::thread([&] {
    seen = loose.GetString();
    made_there.SetString(u"set on the second");
  }).join();
  EXPECT_EQ(seen, "set on the first thread");
  EXPECT_EQ(std::u16string(made_there.GetWString()), u"set on the second");
}

// A copy out of a loaded workbook reads its text while the workbook is
// destroyed on another thread; workbooks made, copied from and destroyed on
// eight threads at once show only their own texts.
TEST(CellValue, ThreadedCopiesOutliveTheirWorkbooks) {
  const std::string path = xls_tool::scratch_path("cell_value_threaded.xls");
  {
    ExcelFile book;
    fill_source(book);
    ASSERT_TRUE(book.SaveAs(path.c_str()));
  }
  auto book = std::make_unique<ExcelFile>(path.c_str());
  const ExcelCell copy = *book->GetWorksheet("A")->At(7, 3);
  std::thread destroyer([&] { book.reset(); });
  for (int i = 0; i < 1000; ++i) ASSERT_STREQ(copy.GetString(), kNarrow);
  destroyer.join();

  std::vector<int> wrong(8, 0);
  on_threads(8, [&](int t) {
    std::vector<ExcelCell> copies;
    for (int i = 0; i < 200; ++i) {
      ExcelFile own;
      if (i % 50 == 0) {
        own.Load(path.c_str());
      } else {
        own.New(1);
        own.GetWorksheet(0)->Cell(7, 3)->SetString(std::to_string(t * 1000 + i).c_str());
      }
      copies.push_back(*own.GetWorksheet(0)->At(7, 3));
    }
    for (int i = 0; i < 200; ++i) {
      const std::string expected = i % 50 == 0 ? kNarrow : std::to_string(t * 1000 + i);
      const char* text = copies[i].GetString();
      if (!text || expected != text) ++wrong[t];
    }
  });
  EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
