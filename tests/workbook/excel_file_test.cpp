#include "excel_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "compound_document.h"
#include "record_bytes.h"
#include "xls_tool.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;
using xls_tool::scratch_path;

std::vector<std::string> Names(const ExcelFile& book) {
  std::vector<std::string> names;
  for (uint64_t i = 0; i < book.GetTotalSheets(); ++i) {
    const char* n = book.GetSheetName(i);
    names.push_back(n ? n : "<wide>");
  }
  return names;
}

void expect_indices_in_step(const ExcelFile& book) {
  ASSERT_EQ(book.sheets.size(), book.worksheets.size());
  ASSERT_EQ(book.sheets.size(), book.globals.bound_sheets.size());
  for (size_t i = 0; i < book.sheets.size(); ++i) EXPECT_EQ(book.sheets[i].SheetIndex(), i);
}

// A compound document holding the given "Workbook" stream (none when
// stream is null).
void write_document(const std::string& path, const Bytes* stream) {
  CompoundDocument doc;
  ASSERT_TRUE(doc.Create(path.c_str()));
  if (!stream) return;
  ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
  ASSERT_EQ(doc.WriteStream("Workbook", *stream, stream->size()), kSuccess);
}

// One record of a stream as a reader walking the headers sees it.
struct Rec {
  uint64_t offset;
  uint16_t code;
  uint16_t length;
};

std::vector<Rec> walk(const Bytes& s) {
  std::vector<Rec> out;
  for (uint64_t p = 0; p + 4 <= s.size();) {
    const Rec r{p, get16(s, p), get16(s, p + 2)};
    out.push_back(r);
    p += 4 + r.length;
  }
  return out;
}

uint32_t get32(const Bytes& b, size_t offset) {
  return get16(b, offset) | uint32_t{get16(b, offset + 2)} << 16;
}

// A saved two-sheet workbook: "First" with 40 rows of mixed cells, "Second"
// with a few.
std::string saved_sample(const std::string& name) {
  const std::string path = scratch_path(name);
  ExcelFile book;
  book.New(1);
  book.RenameWorksheet(0, "First");
  ExcelSheet* second = book.AddWorksheet("Second");
  ExcelSheet* first = book.GetWorksheet("First");
  for (int r = 0; r < 40; ++r) {
    *first->Cell(r, 0) = r;
    *first->Cell(r, 1) = r * 0.37;
    *first->Cell(r, 3) = (r % 3 ? "text" : "other");
  }
  *second->Cell(2, 2) = u"wide \u00b5m";
  *second->Cell(5, 0) = 1.25;
  EXPECT_TRUE(book.SaveAs(path.c_str()));
  return path;
}

TEST(ExcelFileTest, NewAndAddWorksheetNameAndPlaceSheets) {
  ExcelFile book;
  EXPECT_EQ(book.GetTotalSheets(), 0u);
  book.New(3);
  EXPECT_EQ(Names(book), (std::vector<std::string>{"Sheet1", "Sheet2", "Sheet3"}));
  EXPECT_EQ(book.globals.fonts.size(), 4u);
  EXPECT_EQ(book.globals.xfs.size(), 21u);
  EXPECT_EQ(book.globals.styles.size(), 6u);
  book.New(0);
  EXPECT_EQ(Names(book), (std::vector<std::string>{"Sheet1"}));

  ExcelSheet* profile = book.AddWorksheet("Profile", 0);
  ASSERT_NE(profile, nullptr);
  EXPECT_EQ(profile, book.GetWorksheet(0));
  EXPECT_EQ(Names(book), (std::vector<std::string>{"Profile", "Sheet1"}));
  EXPECT_EQ(book.worksheets[0].window2.options & Worksheet::Window2::kSelected, 0);
  EXPECT_NE(book.worksheets[1].window2.options & Worksheet::Window2::kSelected, 0);
  EXPECT_EQ(book.AddWorksheet("Profile"), nullptr);
  EXPECT_NE(book.AddWorksheet("profile"), nullptr);   // case counts
  EXPECT_NE(book.AddWorksheet(u"Profile"), nullptr);  // so does width
  EXPECT_EQ(book.GetSheetName(3), nullptr);
  EXPECT_EQ(book.AddWorksheet("Late", 5), nullptr);  // beyond the end
  EXPECT_EQ(book.AddWorksheet("Late", -2), nullptr);
  EXPECT_EQ(book.AddWorksheet(std::string(256, 'n').c_str()), nullptr);
  EXPECT_NE(book.AddWorksheet(std::string(255, 'n').c_str(), 4), nullptr);
  expect_indices_in_step(book);

  // Unnamed sheets take the first free number from the count + 1 on.
  book.New(3);
  ASSERT_TRUE(book.DeleteWorksheet("Sheet2"));
  EXPECT_STREQ(book.AddWorksheet(-1)->GetSheetName(), "Sheet4");  // "Sheet3" is taken
  EXPECT_STREQ(book.AddWorksheet(0)->GetSheetName(), "Sheet5");
  // A refused position must not make that search run on for ever.
  EXPECT_EQ(book.AddWorksheet(9), nullptr);
  expect_indices_in_step(book);
}

TEST(ExcelFileTest, DeleteAndRenameKeepSheetsInStep) {
  ExcelFile book;
  book.New(3);
  *book.GetWorksheet("Sheet2")->Cell(0, 0) = 2;
  *book.GetWorksheet("Sheet3")->Cell(0, 0) = 3;
  EXPECT_FALSE(book.DeleteWorksheet(3));
  EXPECT_FALSE(book.DeleteWorksheet(-1));
  EXPECT_FALSE(book.DeleteWorksheet("Nope"));
  ASSERT_TRUE(book.DeleteWorksheet(0));
  expect_indices_in_step(book);
  EXPECT_STREQ(book.GetWorksheet(0)->GetSheetName(), "Sheet2");
  EXPECT_EQ(book.GetWorksheet(0)->At(0, 0)->GetInteger(), 2);
  EXPECT_STREQ(book.GetWorksheet(1)->GetSheetName(), "Sheet3");
  EXPECT_EQ(book.GetWorksheet(2), nullptr);

  EXPECT_FALSE(book.RenameWorksheet(0, "Sheet2"));  // its own name
  EXPECT_FALSE(book.RenameWorksheet(0, "Sheet3"));
  EXPECT_FALSE(book.RenameWorksheet(2, "Free"));
  EXPECT_FALSE(book.RenameWorksheet(0, std::string(256, 'r').c_str()));
  EXPECT_TRUE(book.RenameWorksheet(0, u"Sheet3"));  // held wide now
  EXPECT_EQ(book.GetSheetName(0), nullptr);
  char narrow[256];
  char16_t wide[256];
  EXPECT_FALSE(book.GetSheetName(0, narrow));
  ASSERT_TRUE(book.GetSheetName(0, wide));
  EXPECT_EQ(std::u16string(wide), u"Sheet3");
  EXPECT_FALSE(book.GetSheetName(7, wide));
  EXPECT_EQ(book.GetSheetName(7), nullptr);
  EXPECT_TRUE(book.RenameWorksheet("Sheet3", "Last"));
  EXPECT_FALSE(book.RenameWorksheet("Sheet3", "Other"));
  ASSERT_TRUE(book.GetSheetName(1, narrow));
  EXPECT_STREQ(narrow, "Last");
  EXPECT_TRUE(book.DeleteWorksheet(u"Sheet3"));
  EXPECT_EQ(Names(book), (std::vector<std::string>{"Last"}));
  expect_indices_in_step(book);
}

TEST(ExcelFileTest, TheActiveSheetFollowsItsSheetAndAloneIsSelected) {
  ExcelFile book;
  book.New(3);
  EXPECT_FALSE(book.SetActiveSheet(3));
  ASSERT_TRUE(book.SetActiveSheet(1));  // Sheet2
  book.AddWorksheet("Front", 0);
  book.AddWorksheet("Back", -1);
  EXPECT_EQ(book.ActiveSheet(), 2u);
  book.RecordsFromCells();
  for (size_t i = 0; i < book.worksheets.size(); ++i)
    EXPECT_EQ(book.worksheets[i].window2.options & 0x0600, i == 2 ? 0x0600 : 0) << i;
  EXPECT_EQ(book.globals.window1.selected_sheets, 1);
  ASSERT_TRUE(book.DeleteWorksheet("Front"));
  EXPECT_EQ(book.ActiveSheet(), 1u);
  ASSERT_TRUE(book.DeleteWorksheet("Sheet2"));  // the active one: its successor takes over
  EXPECT_STREQ(book.GetSheetName(book.ActiveSheet()), "Sheet3");
  ASSERT_TRUE(book.DeleteWorksheet("Back"));
  ASSERT_TRUE(book.DeleteWorksheet("Sheet3"));
  EXPECT_EQ(book.ActiveSheet(), 0u);
}

TEST(ExcelFileTest, SavedWorkbookLoadsWithItsSheetsAndCells) {
  const std::string path = saved_sample("roundtrip.xls");
  ExcelFile book;
  ASSERT_TRUE(book.Load(path.c_str()));
  EXPECT_TRUE(book.Document().IsOpen());
  EXPECT_EQ(Names(book), (std::vector<std::string>{"First", "Second"}));
  expect_indices_in_step(book);
  ExcelSheet* first = book.GetWorksheet("First");
  EXPECT_EQ(first->GetTotalRows(), 40u);
  EXPECT_EQ(first->GetTotalCols(), 4u);
  for (int r = 0; r < 40; ++r) {
    EXPECT_EQ(first->At(r, 0)->GetInteger(), r);
    EXPECT_EQ(first->At(r, 1)->GetDouble(), r * 0.37) << r;
    EXPECT_EQ(first->At(r, 2)->Type(), ExcelCell::kUndefined);
    EXPECT_STREQ(first->At(r, 3)->GetString(), r % 3 ? "text" : "other");
  }
  const ExcelSheet* second = book.GetWorksheet(1);
  EXPECT_EQ(std::u16string(second->At(2, 2)->GetWString()), u"wide \u00b5m");
  EXPECT_EQ(second->At(5, 0)->GetDouble(), 1.25);

  // Save writes back into the file it was loaded from.
  *book.GetWorksheet("Second")->Cell(6, 1) = "added";
  ASSERT_TRUE(book.Save());
  ExcelFile again(path.c_str());
  ASSERT_EQ(again.GetTotalSheets(), 2u);
  EXPECT_STREQ(again.GetWorksheet("Second")->At(6, 1)->GetString(), "added");
  EXPECT_EQ(again.GetWorksheet("First")->At(39, 0)->GetInteger(), 39);
}

TEST(ExcelFileTest, BooleansAndErrorValuesComeBackFromASave) {
  const std::string path = scratch_path("bool-error.xls");
  {
    ExcelFile book;
    book.New(1);
    ExcelSheet& sheet = *book.GetWorksheet(0);
    sheet.Cell(0, 0)->SetBoolean(true);
    sheet.Cell(0, 1)->SetBoolean(false);
    sheet.Cell(0, 2)->SetError(ExcelCell::kErrorNum);
    sheet.Cell(0, 3)->SetError(0x99);  // no error value: left as it was
    ASSERT_TRUE(book.SaveAs(path.c_str()));
  }
  ExcelFile again(path.c_str());
  const ExcelSheet& sheet = *again.GetWorksheet(0);
  bool truth = false;
  uint8_t code = 0;
  EXPECT_TRUE(sheet.At(0, 0)->GetBoolean(truth) && truth);
  EXPECT_TRUE(sheet.At(0, 1)->GetBoolean(truth) && !truth);
  EXPECT_TRUE(sheet.At(0, 2)->GetError(code));
  EXPECT_EQ(code, ExcelCell::kErrorNum);
  EXPECT_EQ(sheet.At(0, 3)->Type(), ExcelCell::kUndefined);
  EXPECT_EQ(sheet.At(0, 0)->GetInteger(), 0);  // a boolean is no number
}

// What a user sees of rows and columns without a value comes back from a
// save: column records, and Row records with a height, format, hidden flag
// or outline level, with or without cells.
// A formula of one constant, as some programs write a plain value, is
// saved as that value with its format, which must exist as a cell's must.
TEST(ExcelFileTest, AFormulaOfOneConstantIsSavedAsItsValue) {
  const std::string path = saved_sample("constants.xls");
  const Bytes saved = read_workbook_stream(path);
  size_t after = 0;  // the record of (5, 0) on "Second", the last sheet
  for (const Rec& r : walk(saved))
    if ((r.code == 0x027E || r.code == 0x0203) && get16(saved, r.offset + 4) == 5)
      after = r.offset + 4 + r.length;
  auto with_boolean = [&](uint16_t xf) {
    const Bytes record = formula_record(5, 1, xf, other_result(1, 1), bytes_of({0x1D, 1}));
    Bytes s = saved;
    s.insert(s.begin() + static_cast<long>(after), record.begin(), record.end());
    write_document(path, &s);
  };
  with_boolean(16);
  ExcelFile book;
  ASSERT_TRUE(book.Load(path.c_str())) << book.Problem();
  EXPECT_TRUE(book.Survey().Keepable());
  ASSERT_TRUE(book.Save());
  for (const Rec& r : walk(read_workbook_stream(path))) EXPECT_NE(r.code, 0x0006);
  ExcelFile again(path.c_str());
  bool truth = false;
  EXPECT_TRUE(again.GetWorksheet("Second")->At(5, 1)->GetBoolean(truth) && truth);
  EXPECT_EQ(again.GetWorksheet("Second")->At(5, 1)->Format(), 16);
  with_boolean(99);
  EXPECT_FALSE(book.Load(path.c_str()));
  EXPECT_EQ(book.Problem(), "its \"Workbook\" stream is damaged: a cell format is missing");
}

TEST(ExcelFileTest, RowAndColumnLayoutSurvivesASave) {
  const std::string path = scratch_path("layout.xls");
  auto column = [](uint16_t xf) {
    const Bytes bytes = record_of(
        0x007D, bytes_of({2, 0, 3, 0, 0, 0x10, static_cast<char>(xf), 0, 0x01, 0x01, 0, 0}));
    CarriedRecord record;
    record.Read(bytes.data(), bytes.size());
    return record;
  };
  // Carried records before the Dimensions, as writers put COLINFO.
  auto with_column = [](Worksheet& w, const CarriedRecord& record) {
    w.pieces.erase(std::remove_if(w.pieces.begin(), w.pieces.end(),
                                  [](const CarriedRecord& p) { return p.Code() == 0x007D; }),
                   w.pieces.end());
    w.pieces.insert(w.pieces.begin() + 1, record);
  };
  auto row = [](uint16_t index, uint32_t options) {
    Worksheet::CellTable::RowBlock::Row record;
    record.row_index = index;
    record.height = 600;
    record.options = options;
    return record;
  };
  {
    ExcelFile book;
    book.New(1);
    *book.GetWorksheet(0)->Cell(3, 1) = 2.5;
    with_column(book.worksheets[0], column(15));
    // A formatted row with a cell, a hidden empty row beyond the cells.
    book.worksheets[0].layout_rows = {row(3, 0x000F0080 | 0x40), row(40, 0x21)};
    ASSERT_TRUE(book.SaveAs(path.c_str()));
  }
  ExcelFile again(path.c_str());
  ASSERT_EQ(again.GetTotalSheets(), 1u);
  const Worksheet& sheet = again.worksheets[0];
  ASSERT_EQ(sheet.pieces.size(), 5u);
  EXPECT_EQ(sheet.pieces[1].bytes, column(15).bytes);
  ASSERT_EQ(sheet.layout_rows.size(), 2u);
  EXPECT_EQ(sheet.layout_rows[0].options, 0x000F00C0u);
  EXPECT_EQ(sheet.layout_rows[1].row_index, 40);
  EXPECT_EQ(sheet.layout_rows[1].height, 600);
  EXPECT_EQ(again.GetWorksheet(0)->GetTotalRows(), 41u);
  EXPECT_EQ(again.GetWorksheet(0)->At(3, 1)->GetDouble(), 2.5);

  // A column format the workbook lacks is damage, as a cell's is.
  with_column(again.worksheets[0], column(200));
  ASSERT_TRUE(again.Save());
  ExcelFile damaged;
  EXPECT_FALSE(damaged.Load(path.c_str()));
  EXPECT_EQ(damaged.Problem(),
            "its \"Workbook\" stream is damaged: a column names a cell format the workbook lacks");
}

// A load reads the cells straight into the sheets: the worksheets keep no
// cell records, and a far cell costs what it holds.
TEST(ExcelFileTest, LoadedSheetsHoldTheirCellsAndNoCellRecords) {
  const std::string path = scratch_path("far.xls");
  {
    ExcelFile book;
    book.New(1);
    ExcelSheet& s = *book.GetWorksheet(0);
    s.Cell(0, 0)->SetDouble(1.5);
    s.Cell(1, 1)->SetString("two");
    s.Cell(65535, 255)->SetInteger(3);
    for (int c = 0; c < 40; ++c) s.Cell(7, c)->SetDouble(c * 0.25);
    ASSERT_TRUE(book.SaveAs(path.c_str()));
  }
  ExcelFile book;
  ASSERT_TRUE(book.Load(path.c_str()));
  EXPECT_TRUE(book.worksheets[0].cell_table.row_blocks.empty());
  const ExcelSheet& s = *book.GetWorksheet(0);
  EXPECT_EQ(s.GetTotalRows(), 65536u);
  EXPECT_EQ(s.GetTotalCols(), 256u);
  uint64_t stored = 0;
  for (uint64_t r = 0; r < s.StoredRows(); ++r) stored += s.StoredRow(r).size();
  EXPECT_EQ(stored, 43u);
  EXPECT_EQ(s.At(0, 0)->GetDouble(), 1.5);
  EXPECT_STREQ(s.At(1, 1)->GetString(), "two");
  EXPECT_EQ(s.At(65535, 255)->GetInteger(), 3);
  EXPECT_EQ(s.At(7, 39)->GetDouble(), 9.75);
  // Saved again, the file is the same: the DBCells of blocks without rows
  // are written afresh, not carried as well.
  const std::string again = scratch_path("far-again.xls");
  ASSERT_TRUE(book.SaveAs(again.c_str()));
  EXPECT_TRUE(read_workbook_stream(again) == read_workbook_stream(path));
}

TEST(ExcelFileTest, StreamPositionsPointAtTheirRecords) {
  // 33 rows on the first sheet: two row blocks.
  const std::string path = scratch_path("positions.xls");
  ExcelFile book;
  book.New(2);
  for (int r = 0; r < 33; ++r) {
    *book.GetWorksheet(0)->Cell(r, 0) = r;
    if (r % 4 == 0) *book.GetWorksheet(0)->Cell(r, 2) = 0.5 + r;
    if (r % 5 == 0) *book.GetWorksheet(0)->Cell(r, 3) = "five";
  }
  *book.GetWorksheet(1)->Cell(3, 1) = 3.14159;
  *book.GetWorksheet(1)->Cell(4, 0) = "x";
  ASSERT_TRUE(book.SaveAs(path.c_str()));
  ASSERT_EQ(book.worksheets[0].index.dbcell_positions.size(), 2u);
  EXPECT_EQ(book.globals.bound_sheets[0].position, book.globals.RecordSize());

  const Bytes s = read_workbook_stream(path);
  const std::vector<Rec> recs = walk(s);
  auto at = [&](uint64_t offset) -> const Rec* {
    for (const Rec& r : recs)
      if (r.offset == offset) return &r;
    return nullptr;
  };
  std::vector<uint64_t> sheet_starts;
  for (const Rec& r : recs)
    if (r.code == 0x0085) sheet_starts.push_back(get32(s, r.offset + 4));
  ASSERT_EQ(sheet_starts.size(), 2u);
  int dbcells_checked = 0;
  for (uint64_t start : sheet_starts) {
    const Rec* bof = at(start);
    ASSERT_NE(bof, nullptr);
    EXPECT_EQ(bof->code, 0x0809);
    EXPECT_EQ(get16(s, start + 6), 0x0010);  // a worksheet
    // The Index follows the BOF; each position it lists is a DBCell.
    const Rec* index = at(start + 4 + bof->length);
    ASSERT_NE(index, nullptr);
    ASSERT_EQ(index->code, 0x020B);
    for (uint64_t k = 16; k < index->length; k += 4) {
      const uint64_t p = get32(s, index->offset + 4 + k);
      const Rec* dbcell = at(p);
      ASSERT_NE(dbcell, nullptr) << p;
      ASSERT_EQ(dbcell->code, 0x00D7);
      // Back to the block's first Row record, then forward to each row's
      // first cell as a reader following the offsets would.
      const uint64_t first_row = p - get32(s, p + 4);
      ASSERT_NE(at(first_row), nullptr);
      std::vector<const Rec*> rows;
      for (const Rec* r = at(first_row); r && r->code == 0x0208; r = at(r->offset + 4 + r->length))
        rows.push_back(r);
      ASSERT_EQ(rows.size(), (dbcell->length - 4u) / 2u);
      uint64_t cursor = rows[0]->offset + 20;  // the second Row record
      for (size_t k2 = 0; k2 < rows.size(); ++k2) {
        cursor += get16(s, p + 8 + 2 * k2);
        const Rec* cell = at(cursor);
        ASSERT_NE(cell, nullptr) << "row " << k2;
        EXPECT_NE(cell->code, 0x0208);
        EXPECT_NE(cell->code, 0x00D7);
        EXPECT_EQ(get16(s, cursor + 4), get16(s, rows[k2]->offset + 4)) << "row " << k2;
      }
      ++dbcells_checked;
    }
  }
  EXPECT_EQ(dbcells_checked, 3);
}

// The offsets of the BoundSheet records, in order.
std::vector<uint64_t> sheet_entries(const Bytes& s) {
  std::vector<uint64_t> out;
  for (const Rec& r : walk(s)) {
    if (r.code == 0x0085) out.push_back(r.offset);
    if (r.code == 0x000A) break;
  }
  return out;
}

TEST(ExcelFileTest, WhatIsNotAWorkbookFailsToLoadAndChangesNothing) {
  const Bytes good = read_workbook_stream(saved_sample("good.xls"));
  std::vector<std::pair<std::string, Bytes>> streams = {
      {"empty", Bytes()},
      {"one byte", bytes_of({0x09})},
      {"a header cut short", bytes_of({0x09, 0x08, 0x10})},
      {"not a BOF first", record_of(0x0042, bytes_of({1, 2})) + good},
      {"no globals", Bytes(good.begin() + get32(good, sheet_entries(good)[0] + 4), good.end())},
  };
  Bytes long_record = good;
  long_record[3] = 0x7F;  // the BOF claims more than there is
  streams.push_back({"a record beyond the stream", long_record});
  // Every cut inside the stream loses a record or a whole sheet.
  for (size_t cut = 1; cut < good.size(); cut += cut < 300 ? 1 : 37)
    streams.push_back({"cut at " + std::to_string(cut),
                       Bytes(good.begin(), good.begin() + static_cast<long>(cut))});

  ExcelFile book;
  book.New(2);
  auto expect_refused = [&](const std::string& path, const std::string& what) {
    EXPECT_FALSE(book.Load(path.c_str())) << what;
    EXPECT_EQ(Names(book), (std::vector<std::string>{"Sheet1", "Sheet2"})) << what;
    EXPECT_FALSE(book.Document().IsOpen()) << what;
  };
  expect_refused(scratch_path("missing.xls"), "missing");
  const std::string path = scratch_path("damaged.xls");
  std::ofstream(path) << "just some text, longer than nothing at all\n";
  expect_refused(path, "text");
  write_document(path, nullptr);
  expect_refused(path, "no stream");
  for (const auto& s : streams) {
    write_document(path, &s.second);
    expect_refused(path, s.first);
  }
  EXPECT_FALSE(book.Save());  // nothing open to save into
  EXPECT_FALSE(book.SaveAs("/nonexistent-folder/book.xls"));

  // Bytes after the last sheet that start no substream are not part of it.
  const Bytes trailing = good + bytes_of({0x42, 0x00, 0x00, 0x00, 0x07});
  write_document(path, &trailing);
  ASSERT_TRUE(book.Load(path.c_str()));
  EXPECT_EQ(Names(book), (std::vector<std::string>{"First", "Second"}));
}

void put32_at(Bytes& b, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

TEST(ExcelFileTest, SheetsOtherThanWorksheetsAreCarriedWhole) {
  const std::string path = scratch_path("three.xls");
  {
    ExcelFile book;
    book.New(3);
    for (int i = 0; i < 3; ++i) *book.GetWorksheet(i)->Cell(i, i) = 10 + i;
    ASSERT_TRUE(book.SaveAs(path.c_str()));
  }
  const Bytes saved = read_workbook_stream(path);
  const std::vector<uint64_t> entries = sheet_entries(saved);
  ASSERT_EQ(entries.size(), 3u);

  // The middle sheet turned into a chart: its BOF says so.
  Bytes chart = saved;
  const uint32_t middle = get32(chart, entries[1] + 4);
  chart[middle + 6] = 0x20;
  write_document(path, &chart);
  ExcelFile book;
  ASSERT_TRUE(book.Load(path.c_str()));
  EXPECT_EQ(Names(book), (std::vector<std::string>{"Sheet1", "Sheet2", "Sheet3"}));
  expect_indices_in_step(book);
  EXPECT_FALSE(book.IsWorksheet(1));
  EXPECT_TRUE(book.IsWorksheet(2));
  EXPECT_EQ(book.GetWorksheet("Sheet3")->At(2, 2)->GetInteger(), 12);
  // Cells given to it are not written: its substream goes as it came.
  *book.GetWorksheet(1)->Cell(0, 0) = 1;
  ASSERT_TRUE(book.AddWorksheet("First", 0));
  ASSERT_TRUE(book.Save());
  ExcelFile again(path.c_str());
  EXPECT_EQ(Names(again), (std::vector<std::string>{"First", "Sheet1", "Sheet2", "Sheet3"}));
  EXPECT_EQ(again.GetWorksheet(3)->At(2, 2)->GetInteger(), 12);
  const Bytes resaved = read_workbook_stream(path);
  const Bytes substream(chart.begin() + middle, chart.begin() + get32(chart, entries[2] + 4));
  const std::vector<uint64_t> moved = sheet_entries(resaved);
  ASSERT_EQ(moved.size(), 4u);
  EXPECT_EQ(Bytes(resaved.begin() + get32(resaved, moved[2] + 4),
                  resaved.begin() + get32(resaved, moved[3] + 4)),
            substream);

  // Stale offsets: sheets pair with substreams in order when the counts agree.
  Bytes stale = saved;
  for (uint64_t e : entries) put32_at(stale, e + 4, 0);
  write_document(path, &stale);
  ASSERT_TRUE(book.Load(path.c_str()));
  EXPECT_EQ(book.GetWorksheet("Sheet2")->At(1, 1)->GetInteger(), 11);

  // ... and the load fails when they do not.
  Bytes missing(saved.begin(), saved.begin() + static_cast<long>(middle));
  write_document(path, &missing);
  EXPECT_FALSE(book.Load(path.c_str()));
  put32_at(stale, entries[0] + 4, 0);
  stale.resize(get32(saved, entries[2] + 4));
  write_document(path, &stale);
  EXPECT_FALSE(book.Load(path.c_str()));
}

// Older text cells (Label, RString) load as text cells, one split across a
// CONTINUE record and changing width there included; a save writes them as
// LabelSST in their rows, and cells set there replace them.
TEST(ExcelFileTest, OlderTextCellsLoadAsTextCells) {
  const std::string path = scratch_path("labels.xls");
  {
    ExcelFile book;
    book.New(1);
    book.GetWorksheet(0)->Cell(0, 0)->SetDouble(1.5);
    ASSERT_TRUE(book.SaveAs(path.c_str()));
  }
  auto label = [](int code, int row, int col, const Bytes& text) {
    return record_of(static_cast<uint16_t>(code), bytes_of({row, 0, col, 0, 15, 0}) + text);
  };
  const Bytes texts =
      label(0x0204, 1, 0, bytes_of({4, 0, 0, 'c', 'a', 'f', 0xE9})) +
      label(0x0204, 1, 1, bytes_of({1, 0, 1, 0xA9, 0x03})) +
      label(0x0204, 2, 0, bytes_of({6, 0, 0, 'a', 'b', 'c'})) +
      record_of(0x003C, bytes_of({1, 'd', 0, 'e', 0, 'f', 0})) +
      label(0x00D6, 2, 1, bytes_of({4, 0, 0, 'r', 'i', 'c', 'h', 1, 0, 2, 0, 5, 0}));
  Bytes stream = read_workbook_stream(path);
  const std::vector<Rec> records = walk(stream);
  const auto window2 =
      std::find_if(records.begin(), records.end(), [](const Rec& r) { return r.code == 0x023E; });
  ASSERT_NE(window2, records.end());
  stream.insert(stream.begin() + static_cast<long>(window2->offset), texts.begin(), texts.end());
  write_document(path, &stream);

  ExcelFile book;
  ASSERT_TRUE(book.Load(path.c_str()));
  auto expect_texts = [](const ExcelSheet& s) {
    EXPECT_EQ(s.At(0, 0)->GetDouble(), 1.5);
    EXPECT_STREQ(s.At(1, 0)->GetString(), "caf\xE9");
    EXPECT_EQ(std::u16string(s.At(1, 1)->GetWString()), u"\u03A9");
    EXPECT_STREQ(s.At(2, 0)->GetString(), "abcdef");
    EXPECT_STREQ(s.At(2, 1)->GetString(), "rich");
    EXPECT_EQ(s.At(2, 1)->Format(), 15);
  };
  expect_texts(*book.GetWorksheet(0));
  book.GetWorksheet(0)->Cell(2, 1)->SetString("new");
  ASSERT_TRUE(book.SaveAs(path.c_str()));
  size_t label_sst = 0;
  for (const Rec& r : walk(read_workbook_stream(path))) {
    EXPECT_NE(r.code, 0x0204);
    EXPECT_NE(r.code, 0x00D6);
    label_sst += r.code == 0x00FD;
  }
  EXPECT_EQ(label_sst, 4u);
  ExcelFile again;
  ASSERT_TRUE(again.Load(path.c_str()));
  EXPECT_STREQ(again.GetWorksheet(0)->At(2, 1)->GetString(), "new");
  again.GetWorksheet(0)->Cell(2, 1)->SetString("rich");
  expect_texts(*again.GetWorksheet(0));
}

// A cell format past the workbook's table is refused before any file is
// touched: the file there stays as it was.
TEST(ExcelFileTest, ACellFormatTheWorkbookLacksIsRefusedBeforeTheSave) {
  const std::string path = scratch_path("missing-format.xls");
  ExcelFile book;
  book.New(2);
  ASSERT_TRUE(book.SetActiveSheet(1));
  ASSERT_TRUE(book.SaveAs(path.c_str()));
  const Bytes before = read_workbook_stream(path);
  ExcelSheet& second = *book.GetWorksheet(1);
  second.Cell(2, 27)->SetDouble(4);
  second.Cell(2, 27)->SetFormat(500);
  EXPECT_FALSE(book.SaveAs(path.c_str()));
  EXPECT_EQ(book.Problem(),
            "the cell AB3 of the sheet \"Sheet2\" names the cell format 500, which the workbook "
            "lacks (it has 21)");
  EXPECT_TRUE(read_workbook_stream(path) == before);
  // The last format there is, on an empty cell, is saved.
  second.Cell(2, 27)->SetFormat(20);
  second.Cell(3, 0)->SetFormat(20);
  ASSERT_TRUE(book.SaveAs(path.c_str())) << book.Problem();
  ExcelFile again;
  ASSERT_TRUE(again.Load(path.c_str())) << again.Problem();
  EXPECT_EQ(again.GetWorksheet(1)->At(3, 0)->Format(), 20);
}

TEST(ExcelFileTest, SavesCarryTheDocumentsOtherStreamsAndStorages) {
  const std::string path = saved_sample("carried.xls");
  const Bytes summary =
      bytes_of({0xFE, 0xFF, 0x00, 0x00, 0x06, 0x01}) + Bytes(5000, 'S');  // a big-block stream
  const Bytes inner = Bytes(100, 'i');
  {
    CompoundDocument doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    ASSERT_EQ(doc.MakeStream("\x05SummaryInformation"), kSuccess);
    ASSERT_EQ(doc.WriteStream("\x05SummaryInformation", summary, summary.size()), kSuccess);
    ASSERT_EQ(doc.MakeDirectory("Storage"), kSuccess);
    ASSERT_EQ(doc.MakeDirectory("Storage\\Empty"), kSuccess);
    ASSERT_EQ(doc.MakeStream("Storage\\Inner"), kSuccess);
    ASSERT_EQ(doc.WriteStream("Storage\\Inner", inner, inner.size()), kSuccess);
  }
  ExcelFile book(path.c_str());
  ASSERT_EQ(book.GetTotalSheets(), 2u);
  *book.GetWorksheet("Second")->Cell(9, 9) = 99;
  ASSERT_TRUE(book.Save());
  EXPECT_TRUE(book.Document().IsOpen());
  const std::string copy = scratch_path("carried-copy.xls");
  ASSERT_TRUE(book.SaveAs(copy.c_str()));

  for (const std::string& file : {path, copy}) {
    CompoundDocument doc;
    ASSERT_TRUE(doc.Open(file.c_str(), CompoundDocument::kRead));
    std::vector<std::string> names;
    ASSERT_EQ(doc.ListDirectory(names), kSuccess);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"\x05SummaryInformation", "Storage", "Workbook"}));
    ASSERT_EQ(doc.ListDirectory(names, "Storage"), kSuccess);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Empty", "Inner"}));
    Bytes got;
    ASSERT_EQ(doc.ReadStream("\x05SummaryInformation", got), kSuccess);
    EXPECT_EQ(got, summary);
    ASSERT_EQ(doc.ReadStream("Storage\\Inner", got), kSuccess);
    EXPECT_EQ(got, inner);
    ExcelFile again(file.c_str());
    EXPECT_EQ(again.GetWorksheet("Second")->At(9, 9)->GetInteger(), 99);
  }
}

// Records this layer knows nothing of, as recent writers put them in the
// globals and in a sheet (later-version records, printer settings with a
// CONTINUE part, code names, column widths of old), survive a new first
// sheet in place and byte for byte.
TEST(ExcelFileTest, RecordsOfRecentWritersAreKeptInPlace) {
  const std::string path = saved_sample("recent.xls");
  Bytes stream = read_workbook_stream(path);
  auto payload = [](size_t n, int seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(seed + 7 * i);
    return out;
  };
  const Bytes globals_extra =
      record_of(0x00AB, payload(34, 1)) + record_of(0x01C2, payload(0, 0)) +
      record_of(0x0897, payload(20, 2)) + record_of(0x089B, payload(16, 3)) +
      record_of(0x08A3, payload(16, 4)) + record_of(0x088D, payload(14, 5)) +
      record_of(0x0866, payload(30, 6)) + record_of(0x105C, payload(9, 7));
  const Bytes sheet_extra = record_of(0x004D, payload(300, 8)) + record_of(0x003C, payload(60, 9)) +
                            record_of(0x01BA, bytes_of({6, 0, 0, 'S', 'h', 'e', 'e', 't', '1'})) +
                            record_of(0x08D6, payload(40, 10)) +
                            record_of(0x08C8, payload(24, 11)) + record_of(0x015F, payload(8, 12));
  // Each before its substream's EOF; the sheet entries follow the bytes.
  std::vector<uint64_t> ends;
  for (const Rec& r : walk(stream))
    if (r.code == 0x000A) ends.push_back(r.offset);
  ASSERT_EQ(ends.size(), 3u);
  stream.insert(stream.begin() + static_cast<long>(ends[1]), sheet_extra.begin(),
                sheet_extra.end());
  stream.insert(stream.begin() + static_cast<long>(ends[0]), globals_extra.begin(),
                globals_extra.end());
  const std::vector<uint64_t> entries = sheet_entries(stream);
  ASSERT_EQ(entries.size(), 2u);
  put32_at(stream, entries[0] + 4,
           get32(stream, entries[0] + 4) + static_cast<uint32_t>(globals_extra.size()));
  put32_at(stream, entries[1] + 4,
           get32(stream, entries[1] + 4) +
               static_cast<uint32_t>(globals_extra.size() + sheet_extra.size()));
  write_document(path, &stream);

  ExcelFile book;
  ASSERT_TRUE(book.Load(path.c_str())) << book.Problem();
  EXPECT_EQ(book.GetWorksheet("First")->At(39, 0)->GetInteger(), 39);
  ASSERT_NE(book.AddWorksheet("Profile", 0), nullptr);
  *book.GetWorksheet(0)->Cell(0, 0) = 2.5;
  ASSERT_TRUE(book.Save()) << book.Problem();

  const auto before = substream_records(stream);
  const auto after = substream_records(read_workbook_stream(path));
  ASSERT_EQ(before.size(), 3u);
  ASSERT_EQ(after.size(), 4u);
  expect_records_kept(before[0], after[0], false, {}, "globals");
  expect_records_kept(before[1], after[2], false, {}, "First");
  expect_records_kept(before[2], after[3], false, {}, "Second");
  ExcelFile again(path.c_str());
  EXPECT_EQ(Names(again), (std::vector<std::string>{"Profile", "First", "Second"}));
  EXPECT_EQ(again.GetWorksheet(0)->At(0, 0)->GetDouble(), 2.5);
  EXPECT_EQ(again.GetWorksheet("First")->At(38, 3)->GetString(), std::string("text"));
}

TEST(ExcelFileTest, XlrdReadsWhatWasSaved) {
  REQUIRE_XLS_TOOL("xlrd");
  const std::string path = scratch_path("for-xlrd.xls");
  ExcelFile book;
  book.New(1);
  ExcelSheet* data = book.AddWorksheet(u"Daten \u00b5", 0);
  for (int r = 0; r < 100; ++r) {
    *data->Cell(r, 0) = r - 50;         // runs of RK integers
    *data->Cell(r, 1) = r * 0.25;       // RK hundredths
    *data->Cell(r, 2) = 1.0 / (r + 1);  // full doubles
    if (r % 7 == 0) *data->Cell(r, 4) = u"wide \u03bb";
    if (r % 7 == 1) *data->Cell(r, 4) = "narrow \xB5";
  }
  *data->Cell(100, 0) = 600000000;  // beyond the integer RK form
  ASSERT_TRUE(book.SaveAs(path.c_str()));

  xls_tool::Book read;
  ASSERT_TRUE(xls_tool::dump_book(path, read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].name, "Daten \xC2\xB5");
  EXPECT_EQ(read[1].name, "Sheet1");
  EXPECT_EQ(read[0].rows, 101);
  EXPECT_EQ(read[0].cols, 5);
  for (int r = 0; r < 100; ++r) {
    ASSERT_NE(read[0].At(r, 2), nullptr) << r;
    EXPECT_EQ(read[0].At(r, 0)->number, r - 50.0) << r;
    EXPECT_EQ(read[0].At(r, 1)->number, r * 0.25) << r;
    EXPECT_EQ(read[0].At(r, 2)->number, 1.0 / (r + 1)) << r;
    const xls_tool::Cell* text = read[0].At(r, 4);
    const std::string want = r % 7 == 0   ? "wide \xCE\xBB"
                             : r % 7 == 1 ? "narrow \xC2\xB5"
                                          : "<none>";
    EXPECT_EQ(text ? text->text : "<none>", want) << r;
  }
  EXPECT_EQ(read[0].At(100, 0)->number, 600000000.0);
  EXPECT_EQ(read[0].cells.size(), 300u + 30u + 1u);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
