#include "cell_records.h"

#include <gtest/gtest.h>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace CellRecords {
namespace {

using namespace workbook_test;

TEST(CellRecordsTest, FixedRecordsWriteTheirFields) {
  RK rk;
  rk.row = 0x0102;
  rk.col = 3;
  rk.xf_index = 15;
  rk.value = 0x4062C001;
  EXPECT_EQ(written_bytes(rk), bytes_of({0x7E, 0x02, 0x0A, 0x00, 0x02, 0x01, 0x03, 0x00, 0x0F, 0x00,
                                         0x01, 0xC0, 0x62, 0x40}));

  Number number;
  number.row = 1;
  number.col = 2;
  number.value = 1.5;
  EXPECT_EQ(written_bytes(number), bytes_of({0x03, 0x02, 0x0E, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00,
                                             0x00, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));

  LabelSST label;
  label.row = 7;
  label.string_index = 0x00030201;
  EXPECT_EQ(written_bytes(label),
            bytes_of({0xFD, 0x00, 0x0A, 0x00, 0x07, 0x00, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x00}));

  BoolErr boolean;
  boolean.value = 1;
  EXPECT_EQ(written_bytes(boolean), bytes_of({0x05, 0x02, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 1, 0}));
  Blank blank;
  EXPECT_EQ(written_bytes(blank).size(), 10u);
}

TEST(CellRecordsTest, FixedRecordsReadBackAndKeepExtraBytes) {
  const Bytes in =
      record_of(0x0203, bytes_of({5, 0, 6, 0, 15, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0xBF, 0xAA, 0xBB}));
  Number number;
  ASSERT_EQ(number.Read(in.data(), in.size()), in.size());
  EXPECT_EQ(number.row, 5);
  EXPECT_EQ(number.col, 6);
  EXPECT_EQ(number.xf_index, 15);
  EXPECT_EQ(number.value, -1.5);
  EXPECT_EQ(written_bytes(number), in);
}

TEST(CellRecordsTest, MulRKPlacesLastColumnAfterItsEntries) {
  MulRK m;
  m.row = 4;
  m.first_col = 1;
  m.last_col = 3;
  m.entries.resize(3);
  m.entries[2].xf_index = 0x0F;
  m.entries[2].value = 0x16;
  EXPECT_EQ(m.DataSize(), 24u);
  EXPECT_EQ(m.RecordSize(), 28u);
  const Bytes out = written_bytes(m);
  EXPECT_EQ(get16(out, 4 + 22), 3);
  EXPECT_EQ(get16(out, 4 + 16), 0x0F);
  EXPECT_EQ(get16(out, 4 + 18), 0x16);

  MulRK back;
  ASSERT_EQ(back.Read(out.data(), out.size()), 28u);
  EXPECT_EQ(back.entries.size(), 3u);
  EXPECT_EQ(back.entries[2].value, 0x16u);
  EXPECT_EQ(written_bytes(back), out);
}

TEST(CellRecordsTest, MulBlankTakesOneIndexPerColumn) {
  const Bytes in = record_of(0x00BE, bytes_of({9, 0, 2, 0, 10, 0, 11, 0, 12, 0, 13, 0, 5, 0}));
  MulBlank m;
  ASSERT_EQ(m.Read(in.data(), in.size()), 18u);
  EXPECT_EQ(m.first_col, 2);
  EXPECT_EQ(m.last_col, 5);
  EXPECT_EQ(m.xf_indices, (std::vector<uint16_t>{10, 11, 12, 13}));
  EXPECT_EQ(written_bytes(m), in);
}

TEST(CellRecordsTest, RefusesRecordsShorterThanTheirFields) {
  const Bytes blank = record_of(0x0201, bytes_of({1, 0, 2, 0, 3}));
  Blank b;
  EXPECT_EQ(b.Read(blank.data(), blank.size()), 0u);
  const Bytes label = record_of(0x00FD, bytes_of({1, 0, 2, 0, 3, 0, 4, 0, 0}));
  LabelSST l;
  EXPECT_EQ(l.Read(label.data(), label.size()), 0u);

  // Columns that promise more entries than the data holds, or run backwards.
  MulRK m;
  const Bytes promising = record_of(0x00BD, bytes_of({0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 200, 0}));
  EXPECT_EQ(m.Read(promising.data(), promising.size()), 0u);
  const Bytes backwards = record_of(0x00BD, bytes_of({0, 0, 5, 0, 1, 2, 3, 4, 5, 6, 4, 0}));
  EXPECT_EQ(m.Read(backwards.data(), backwards.size()), 0u);
  MulBlank mb;
  const Bytes tiny = record_of(0x00BE, bytes_of({0, 0, 0, 0}));
  EXPECT_EQ(mb.Read(tiny.data(), tiny.size()), 0u);
}

}  // namespace
}  // namespace CellRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
