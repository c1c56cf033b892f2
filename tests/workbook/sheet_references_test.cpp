// The carried globals records that store sheet positions follow a sheet
// inserted before them or removed, through a save and a load.
#include "sheet_references.h"

#include <gtest/gtest.h>

#include "excel_file.h"
#include "record_bytes.h"
#include "xls_tool.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;

CarriedRecord carried(const Bytes& bytes) {
  CarriedRecord record;
  EXPECT_EQ(record.Read(bytes.data(), bytes.size()), bytes.size());
  return record;
}

Bytes u16s(std::initializer_list<uint32_t> values) {
  Bytes out;
  for (uint32_t v : values) put16(out, v);
  return out;
}

// A NAME of one character, of the sheet (1-based; 0: global).
Bytes name_of(uint16_t sheet) {
  Bytes data = u16s({0, 0x0100, 0, 0, sheet, 0, 0});
  data.push_back(0);  // 8-bit characters
  data.push_back('N');
  return record_of(0x0018, data);
}

std::vector<uint16_t> words(const CarriedRecord& record, uint64_t from = 0) {
  std::vector<uint16_t> out;
  uint16_t w = 0;
  for (uint64_t at = from; record.Get(w, at); at += 2) out.push_back(w);
  return out;
}

const CarriedRecord* find(const std::vector<CarriedRecord>& pieces, uint16_t code, int nth = 0) {
  for (const CarriedRecord& p : pieces)
    if (p.Code() == code && nth-- == 0) return &p;
  return nullptr;
}

TEST(CarriedRecordTest, FieldsAreReadAndPatchedAcrossContinueParts) {
  // EXTERNSHEET of two entries, cut inside the second one's first sheet.
  const Bytes split = record_of(0x0017, u16s({2, 0, 4, 4, 0}) + bytes_of({5})) +
                      record_of(0x003C, bytes_of({0}) + u16s({5}));
  const Bytes stream = split + record_of(0x0042, u16s({1252}));
  CarriedRecord record;
  ASSERT_EQ(record.Read(stream.data(), stream.size()), split.size());
  EXPECT_EQ(record.bytes, split);
  EXPECT_EQ(record.DataSize(), 14u);
  EXPECT_EQ(words(record), (std::vector<uint16_t>{2, 0, 4, 4, 0, 5, 5}));
  ASSERT_TRUE(record.Put(0x0302, 10));  // the straddling field
  EXPECT_EQ(record.bytes[4 + 10], 0x02);
  EXPECT_EQ(record.bytes[4 + 11 + 4], 0x03);
  EXPECT_FALSE(record.Put(1, 13));
  // Rebuilt data is split into parts of at most 8224 bytes.
  record.SetData(Bytes(9000, 'x'));
  EXPECT_EQ(record.bytes.size(), 9000u + 8);
  EXPECT_EQ(get16(record.bytes, 2), 8224);
  EXPECT_EQ(get16(record.bytes, 8228), 0x003C);
  // A record cut short is not taken.
  EXPECT_EQ(CarriedRecord().Read(split.data(), split.size() - 1), 0u);
}

TEST(SheetReferencesTest, IndicesFollowAnInsertedAndARemovedSheet) {
  const std::string path = xls_tool::scratch_path("references.xls");
  {
    ExcelFile book;
    book.New(3);
    auto& pieces = book.globals.pieces;
    const Bytes records[] = {
        record_of(0x013D, u16s({1, 2, 3})),    // TABID
        record_of(0x01AE, u16s({3, 0x0401})),  // this workbook, 3 sheets
        record_of(0x01AE, u16s({1, 1}) + bytes_of({0, 'x', 1, 0, 0, 'S'})),  // another one
        record_of(0x0017, u16s({5, 0, 0, 0, 0, 1, 2, 0, 0xFFFE, 0xFFFE, 1, 0, 0, 0, 2, 2})),
        name_of(0), name_of(3),
        // A second window: active sheet 2, tabs from 1.
        record_of(0x003D, u16s({0, 0, 100, 100, 0x38, 2, 1, 1, 600}))};
    for (const Bytes& r : records) pieces.push_back(carried(r));
    book.SetActiveSheet(2);
    book.globals.window1.first_visible_tab = 1;
    // 300 sheets put first keep the strip where the new sheet shows.
    ASSERT_NE(book.AddWorksheet("New", 0), nullptr);
    EXPECT_EQ(book.globals.window1.first_visible_tab, 0);
    EXPECT_EQ(book.ActiveSheet(), 3u);
    ASSERT_TRUE(book.SaveAs(path.c_str()));
  }
  ExcelFile book(path.c_str());
  ASSERT_EQ(book.GetTotalSheets(), 4u);
  const auto& pieces = book.globals.pieces;
  EXPECT_EQ(words(*find(pieces, 0x013D)), (std::vector<uint16_t>{4, 1, 2, 3}));
  EXPECT_EQ(words(*find(pieces, 0x01AE)), (std::vector<uint16_t>{4, 0x0401}));
  EXPECT_EQ(find(pieces, 0x01AE, 1)->bytes,
            record_of(0x01AE, u16s({1, 1}) + bytes_of({0, 'x', 1, 0, 0, 'S'})));
  // References into this workbook move; to the workbook itself and into
  // the other one they stay.
  EXPECT_EQ(words(*find(pieces, 0x0017)),
            (std::vector<uint16_t>{5, 0, 1, 1, 0, 2, 3, 0, 0xFFFE, 0xFFFE, 1, 0, 0, 0, 3, 3}));
  EXPECT_EQ(words(*find(pieces, 0x0018), 8)[0], 0);
  EXPECT_EQ(words(*find(pieces, 0x0018, 1), 8)[0], 4);
  EXPECT_EQ(words(*find(pieces, 0x003D), 10)[0], 3);
  EXPECT_EQ(words(*find(pieces, 0x003D), 10)[1], 0);
  EXPECT_EQ(book.globals.window1.first_visible_tab, 0);

  // The sheet a name belongs to stays; removing another moves them back.
  EXPECT_FALSE(book.DeleteWorksheet(3));
  ASSERT_TRUE(book.DeleteWorksheet(1));
  EXPECT_EQ(words(*find(pieces, 0x013D)), (std::vector<uint16_t>{4, 2, 3}));
  EXPECT_EQ(words(*find(pieces, 0x01AE)), (std::vector<uint16_t>{3, 0x0401}));
  // A reference to the sheet alone now names none; a range loses it.
  EXPECT_EQ(
      words(*find(pieces, 0x0017)),
      (std::vector<uint16_t>{5, 0, 0xFFFF, 0xFFFF, 0, 1, 2, 0, 0xFFFE, 0xFFFE, 1, 0, 0, 0, 2, 2}));
  EXPECT_EQ(words(*find(pieces, 0x0018, 1), 8)[0], 3);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
