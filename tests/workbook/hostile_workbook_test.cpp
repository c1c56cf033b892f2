// Crafted and mutated workbooks: whatever a load accepts, and the survey
// finds nothing a save would lose in, must save to a file that loads again,
// here and in xlrd, with the same sheets and values.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "compound_document.h"
#include "crafted_document.h"
#include "excel_file.h"
#include "record_bytes.h"
#include "xls_tool.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;
using xls_tool::scratch_path;

Bytes globals_bof() {
  return record_of(0x0809, bytes_of({0x00, 0x06, 0x05, 0x00}) + filled(12));
}
const Bytes kEof = record_of(0x000A, {});

void write_document(const std::string& path, const Bytes& stream) {
  CompoundDocument doc;
  ASSERT_TRUE(doc.Create(path.c_str()));
  ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
  ASSERT_EQ(doc.WriteStream("Workbook", stream, stream.size()), kSuccess);
}

// Sheet names and every cell (type, value, text) as this layer holds them.
std::string contents(ExcelFile& book) {
  std::string out;
  for (uint64_t i = 0; i < book.GetTotalSheets(); ++i) {
    out += "sheet " + std::string(book.GetSheetName(i) ? book.GetSheetName(i) : "<wide>") + "\n";
    const ExcelSheet* sheet = book.GetWorksheet(i);
    for (uint64_t r = 0; r < sheet->GetTotalRows(); ++r)
      for (uint64_t c = 0; c < sheet->GetTotalCols(); ++c) {
        const ExcelCell* cell = sheet->At(r, c);
        if (!cell || cell->Type() == ExcelCell::kUndefined) continue;
        out +=
            std::to_string(r) + "," + std::to_string(c) + " " + std::to_string(cell->Type()) + " ";
        if (cell->GetString())
          out += cell->GetString();
        else if (cell->GetWString())
          out += "<wide " + std::to_string(cell->GetStringLength()) + ">";
        else
          out += std::to_string(cell->GetDouble());
        out += "\n";
      }
  }
  return out;
}

TEST(HostileWorkbookTest, AnOversizedFixedRecordIsSavedWhole) {
  // A globals XF of 8225 bytes: one more than a record part holds.
  const std::string path = scratch_path("long-xf.xls");
  write_document(path, globals_bof() + record_of(0x00E0, filled(8225)) + kEof);
  ExcelFile book;
  ASSERT_TRUE(book.Load(path.c_str())) << book.Problem();
  ASSERT_EQ(book.globals.xfs.size(), 1u);
  *book.AddWorksheet("S")->Cell(1, 1) = 2.5;
  ASSERT_TRUE(book.SaveAs(path.c_str())) << book.Problem();

  ExcelFile again;
  ASSERT_TRUE(again.Load(path.c_str())) << again.Problem();
  ASSERT_EQ(again.globals.xfs.size(), 1u);
  EXPECT_EQ(again.globals.xfs[0].data, filled(8225));
  EXPECT_EQ(again.GetWorksheet("S")->At(1, 1)->GetDouble(), 2.5);
  if (xls_tool::module_present("xlrd")) {
    xls_tool::Book read;
    ASSERT_TRUE(xls_tool::dump_book(path, read));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].At(1, 1)->number, 2.5);
  }
}

TEST(HostileWorkbookTest, StreamsThatCannotBeWrittenBackAreRefused) {
  const std::string path = scratch_path("refused.xls");
  ExcelFile book;
  // A second BOF in the globals.
  write_document(path, globals_bof() + record_of(0x00E0, filled(20)) + globals_bof() + kEof);
  EXPECT_FALSE(book.Load(path.c_str()));
  EXPECT_EQ(book.Problem(), "its \"Workbook\" stream is damaged");
  // No cell format for new cells to take, or a cell naming one beyond the list.
  write_document(path, globals_bof() + kEof);
  EXPECT_FALSE(book.Load(path.c_str()));
  EXPECT_EQ(book.Problem(), "its \"Workbook\" stream is damaged: a cell format is missing");
  {
    ExcelFile saved;
    saved.New(1);
    saved.GetWorksheet(0)->Cell(0, 0)->SetFormat(21);  // the new workbook has 21
    EXPECT_FALSE(saved.SaveAs(path.c_str()));          // so its save refuses it
    saved.GetWorksheet(0)->Cell(0, 0)->SetFormat(20);
    ASSERT_TRUE(saved.SaveAs(path.c_str()));
  }
  Bytes beyond = read_workbook_stream(path);
  size_t blank = 0;
  while (get16(beyond, blank) != 0x0201) blank += 4 + get16(beyond, blank + 2);
  beyond[blank + 8] = 21;
  write_document(path, beyond);
  EXPECT_FALSE(book.Load(path.c_str()));
  EXPECT_EQ(book.Problem(), "its \"Workbook\" stream is damaged: a cell format is missing");
  // A text the string table lacks; a number beyond the last column.
  {
    ExcelFile saved;
    saved.New(1);
    *saved.GetWorksheet(0)->Cell(0, 0) = "text";
    *saved.GetWorksheet(0)->Cell(1, 5) = 7;
    ASSERT_TRUE(saved.SaveAs(path.c_str()));
  }
  const Bytes stream = read_workbook_stream(path);
  for (const auto& [code, offset, value, reason] :
       {std::tuple<uint16_t, int, uint16_t, std::string>{0x00FD, 10, 1,
                                                         "a cell names a text the workbook lacks"},
        {0x027E, 7, 1, "a cell lies outside the sheet"}}) {  // column 5 becomes 261
    Bytes changed = stream;
    size_t at = 0;
    while (get16(changed, at) != code) at += 4 + get16(changed, at + 2);
    changed[at + offset] = static_cast<char>(value & 0xFF);
    write_document(path, changed);
    EXPECT_FALSE(book.Load(path.c_str())) << reason;
    EXPECT_EQ(book.Problem(), "its \"Workbook\" stream is damaged: " + reason);
  }
  // An older version of the format in a "Workbook" stream.
  write_document(path, record_of(0x0809, bytes_of({0x00, 0x05, 0x05, 0x00}) + filled(4)) + kEof);
  EXPECT_FALSE(book.Load(path.c_str()));
  EXPECT_EQ(book.Problem(),
            "its workbook is of an older version of the format, which this export does not write");
}

TEST(HostileWorkbookTest, WhatLoadsAndIsKeepableSavesToAFileThatLoadsAlike) {
  // A sample with strings across records, formats and every number form.
  const std::string sample = scratch_path("hostile-sample.xls");
  {
    ExcelFile book;
    book.New(2);
    ExcelSheet* s = book.GetWorksheet(0);
    for (int r = 0; r < 70; ++r) {
      *s->Cell(r, 0) = r;
      *s->Cell(r, 1) = r * 0.37;
      *s->Cell(r, 2) = (r % 2 ? "odd" : "even");
      s->Cell(r, 3)->SetFormat(static_cast<uint16_t>(r % 21));
    }
    *book.GetWorksheet(1)->Cell(3, 3) = std::string(9000, 'w').c_str();
    ASSERT_TRUE(book.SaveAs(sample.c_str()));
  }
  const Bytes original = read_workbook_stream(sample);

  std::mt19937 random(20261207);
  const std::string path = scratch_path("hostile.xls");
  const std::string saved = scratch_path("hostile-saved.xls");
  int accepted = 0, checked_by_xlrd = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes stream = original;
    const int changes = 1 + static_cast<int>(random() % 6);
    for (int k = 0; k < changes; ++k)
      stream[random() % stream.size()] = static_cast<char>(random() % 3 == 0 ? 0xFF : random());
    if (round % 7 == 0) stream.resize(random() % stream.size());
    write_document(path, stream);
    ExcelFile book;
    if (!book.Load(path.c_str()) || !book.Survey().Keepable()) continue;
    // A damaged size claim may make a sheet huge but nearly empty; that
    // saves fine, only slowly.
    bool huge = false;
    for (const ExcelSheet& s : book.sheets)
      huge = huge || s.GetTotalRows() * s.GetTotalCols() > 200000;
    if (huge) continue;
    ++accepted;
    const std::string before = contents(book);
    ASSERT_TRUE(book.SaveAs(saved.c_str())) << round << ": " << book.Problem();
    ExcelFile again;
    ASSERT_TRUE(again.Load(saved.c_str())) << round << ": " << again.Problem();
    EXPECT_EQ(contents(again), before) << round;
    if (checked_by_xlrd < 15 && xls_tool::module_present("xlrd")) {
      ++checked_by_xlrd;
      xls_tool::Book read;
      EXPECT_TRUE(xls_tool::dump_book(saved, read)) << round;
      EXPECT_EQ(read.size(), again.GetTotalSheets()) << round;
    }
  }
  EXPECT_GT(accepted, 20);
}

// Storages nested past the bound are refused at once with the reason (a
// recursive walk overflowed the stack), as are names readers take for one;
// a root of 80,000 streams loads and saves with every stream carried.
TEST(HostileWorkbookTest, DeepDocumentsAreRefusedAndWideOnesCarriedWhole) {
  const std::string path = scratch_path("tree.xls"), saved = scratch_path("tree-saved.xls");
  ExcelFile book;
  book.New(1);
  for (int r = 0; r < 400; ++r) *book.GetWorksheet(0)->Cell(r, 0) = r / 3.0;
  ASSERT_TRUE(book.SaveAs(path.c_str()));
  std::vector<char> stream;
  {
    CompoundDocument doc;
    ASSERT_TRUE(doc.Open(path.c_str(), CompoundDocument::kRead));
    ASSERT_EQ(doc.ReadStream("Workbook", stream), kSuccess);
    ASSERT_GE(stream.size(), CompoundDocument::kSmallStreamCutoff);
  }
  using compound_test::kNone;
  const uint32_t blocks = static_cast<uint32_t>(stream.size() + 511) / 512;
  std::vector<compound_test::CraftedEntry> entries{
      {u"Root Entry", 5, kNone, kNone, 1},
      {u"Workbook", 2, kNone, 2, kNone, 0, static_cast<uint32_t>(stream.size())}};
  auto write_entries = [&] {
    const uint32_t first = compound_test::crafted_first_data_block(entries.size(), blocks);
    entries[1].start = first;
    const std::vector<unsigned char> bytes = compound_test::crafted_document(
        entries, blocks, stream,
        [&](uint32_t b) { return b + 1 < first + blocks ? b + 1 : compound_test::kEnd; });
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  for (uint32_t depth : {256, 257, 30000}) {
    entries.resize(2);
    for (uint32_t i = 2; i < depth + 2; ++i)
      entries.push_back(
          {u"A storage name of thirty-one ch", 1, kNone, kNone, i + 1 < depth + 2 ? i + 1 : kNone});
    write_entries();
    EXPECT_EQ(book.Load(path.c_str()), depth <= CompoundDocument::kMaxDepth) << depth;
    if (depth > CompoundDocument::kMaxDepth) {
      EXPECT_NE(book.Problem().find("nested deeper"), std::string::npos) << book.Problem();
    }
  }
  // Names that readers take for one would not save side by side again.
  entries.resize(4);
  entries[2] = {u"Same", 2, kNone, 3};
  entries[3] = {u"SAME", 2};
  write_entries();
  EXPECT_FALSE(book.Load(path.c_str()));
  EXPECT_NE(book.Problem().find("share a name"), std::string::npos) << book.Problem();

  {
    CompoundDocument doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeStream("Workbook"), kSuccess);
    ASSERT_EQ(doc.WriteStream("Workbook", stream, stream.size()), kSuccess);
    std::vector<CompoundDocument::TreeEntry> wide(80000);
    for (size_t i = 0; i < wide.size(); ++i) {
      for (char c : "S" + std::to_string(i)) wide[i].name.push_back(static_cast<char16_t>(c));
      wide[i].bytes.assign(i % 4 ? 0 : 100, static_cast<char>(i));
    }
    ASSERT_EQ(doc.AddTree(wide), kSuccess);
  }
  ASSERT_TRUE(book.Load(path.c_str())) << book.Problem();
  ASSERT_TRUE(book.SaveAs(saved.c_str())) << book.Problem();
  CompoundDocument doc;
  ASSERT_TRUE(doc.Open(saved.c_str(), CompoundDocument::kRead));
  std::vector<std::string> names;
  ASSERT_EQ(doc.ListDirectory(names), kSuccess);
  EXPECT_EQ(names.size(), 80001u);
  std::vector<char> inner;
  ASSERT_EQ(doc.ReadStream("S79996", inner), kSuccess);
  EXPECT_EQ(inner, std::vector<char>(100, static_cast<char>(79996)));
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
