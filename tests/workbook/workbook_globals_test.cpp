#include "workbook_globals.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;

TEST(WorkbookGlobalsTest, DefaultWorkbookWritesBofWindowEmptyStringTableAndEof) {
  Workbook w;
  EXPECT_EQ(w.RecordSize(), 58u);
  const Bytes out = written_bytes(w);
  const Bytes window = bytes_of({0x3D, 0x00, 0x12, 0x00, 0x78, 0x00, 0x78, 0x00, 0x1F, 0x3B, 0x54,
                                 0x24, 0x38, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x58, 0x02});
  EXPECT_EQ(Bytes(out.begin() + 20, out.begin() + 42), window);
  EXPECT_EQ(Bytes(out.begin() + 42, out.end()),
            bytes_of({0xFC, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0, 0, 0}));
  EXPECT_EQ(out[6], 0x05);  // globals substream
}

TEST(WorkbookGlobalsTest, RecordsWithNamesHaveTheirSizesAndBytes) {
  Workbook::Font font;
  EXPECT_EQ(written_bytes(font),
            bytes_of({0x31, 0x00, 0x1A, 0x00, 0xC8, 0x00, 0x00, 0x00, 0xFF, 0x7F,
                      0x90, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01,
                      'A',  0,    'r',  0,    'i',  0,    'a',  0,    'l',  0}));

  Workbook::BoundSheet sheet;
  EXPECT_EQ(sheet.DataSize(), 14u);
  EXPECT_EQ(sheet.RecordSize(), 18u);
  sheet.position = 0x01020304;
  EXPECT_EQ(written_bytes(sheet), bytes_of({0x85, 0x00, 0x0E, 0x00, 0x04, 0x03, 0x02, 0x01, 0x00,
                                            0x00, 0x06, 0x00, 'S', 'h', 'e', 'e', 't', '1'}));

  Workbook::Style style;
  EXPECT_EQ(style.DataSize(), 4u);
  EXPECT_EQ(written_bytes(style), bytes_of({0x93, 0x02, 0x04, 0x00, 0x00, 0x80, 0x00, 0xFF}));
  style.xf_index = 0x0010;
  style.name = "Custom";
  EXPECT_EQ(style.DataSize(), 11u);
  EXPECT_EQ(written_bytes(style), bytes_of({0x93, 0x02, 0x0B, 0x00, 0x10, 0x00, 0x06, 0x00, 0x00,
                                            'C', 'u', 's', 't', 'o', 'm'}));

  Workbook::XF xf;
  EXPECT_EQ(written_bytes(xf),
            bytes_of({0xE0, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x20}));
}

Workbook populated() {
  Workbook w;
  for (int i = 0; i < 4; ++i) w.fonts.emplace_back();
  w.fonts[2].name = "Courier";
  w.fonts[2].weight = 700;
  for (int i = 0; i < 21; ++i) w.xfs.emplace_back();
  w.xfs[20].format_index = 14;
  for (int i = 0; i < 6; ++i) w.styles.emplace_back();
  w.styles[5].xf_index = 3;
  w.styles[5].name = u"Mine";
  w.bound_sheets.resize(2);
  w.bound_sheets[1].name = u"Zweites";
  w.bound_sheets[1].position = 4000;
  w.shared_strings.strings.resize(2);
  w.shared_strings.strings[0] = "one";
  w.shared_strings.strings[1] = u"two";
  w.shared_strings.unique_count = 2;
  w.shared_strings.total_count = 7;
  return w;
}

TEST(WorkbookGlobalsTest, ReadsWhatItWritesCarriesOtherRecordsAndDropsTheExtSST) {
  Workbook w = populated();
  Bytes out = written_bytes(w);
  // A record the container does not model (a code page), carried, and an
  // ExtSST, dropped: its positions would be stale; inserted after the
  // Window1.
  const Bytes other = record_of(0x0042, bytes_of({0xE4, 0x04})) +
                      record_of(0x00FF, bytes_of({8, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
  Bytes stream(out.begin(), out.begin() + 42);
  stream += other;
  stream += Bytes(out.begin() + 42, out.end());
  stream += record_of(0x0809, filled(16));  // the next substream

  Workbook back;
  ASSERT_EQ(back.Read(stream.data(), stream.size()), out.size() + other.size());
  EXPECT_EQ(back.fonts.size(), 4u);
  EXPECT_STREQ(back.fonts[2].name.Narrow(), "Courier");
  EXPECT_EQ(back.fonts[2].weight, 700);
  EXPECT_EQ(back.xfs.size(), 21u);
  EXPECT_EQ(back.xfs[20].format_index, 14);
  ASSERT_EQ(back.styles.size(), 6u);
  EXPECT_EQ(back.styles[5].name.wide, u"Mine");
  ASSERT_EQ(back.bound_sheets.size(), 2u);
  EXPECT_TRUE(back.bound_sheets[1].name.Equals(u"Zweites"));
  EXPECT_EQ(back.bound_sheets[1].position, 4000u);
  EXPECT_EQ(back.shared_strings.total_count, 7u);
  Bytes expected(out.begin(), out.begin() + 42);
  expected += record_of(0x0042, bytes_of({0xE4, 0x04}));
  expected += Bytes(out.begin() + 42, out.end());
  EXPECT_EQ(written_bytes(back), expected);
}

TEST(WorkbookGlobalsTest, NumberFormatsAndSettingsOfValuesAreKeptVerbatim) {
  const Bytes format =
      record_of(0x041E, bytes_of({0xA4, 0x00, 0x04, 0x00, 0x00, '0', '.', '0', '%'}));
  const Bytes date_mode = record_of(0x0022, bytes_of({1, 0}));
  const Bytes palette = record_of(0x0092, bytes_of({1, 0, 0x12, 0x34, 0x56, 0}));
  Workbook::Font font;
  Workbook::XF xf;
  const Bytes stream = record_of(0x0809, bytes_of({0, 6, 5, 0}) + filled(12)) +
                       record_of(0x0042, bytes_of({0xB0, 0x04})) + date_mode + written_bytes(font) +
                       format + written_bytes(xf) + palette + record_of(0x000A, {});
  Workbook back;
  ASSERT_EQ(back.Read(stream.data(), stream.size()), stream.size());
  ASSERT_EQ(back.formats.size(), 1u);
  const Bytes out = written_bytes(back);
  // Every record in its place, the sections a file lacks (Window1, the
  // string table) after the section before them.
  std::vector<uint16_t> codes;
  for (size_t p = 0; p + 4 <= out.size(); p += 4 + get16(out, p + 2))
    codes.push_back(get16(out, p));
  EXPECT_EQ(codes, (std::vector<uint16_t>{0x0809, 0x003D, 0x0042, 0x0022, 0x0031, 0x041E, 0x00E0,
                                          0x00FC, 0x0092, 0x000A}));
  for (const Bytes& kept : {format, date_mode, palette})
    EXPECT_NE(std::search(out.begin(), out.end(), kept.begin(), kept.end()), out.end());
}

TEST(WorkbookGlobalsTest, RefusesDamagedOrUnfinishedSubstreams) {
  Workbook w = populated();
  const Bytes out = written_bytes(w);
  // Every cut short of the whole substream fails; none reads past the cut.
  for (size_t cut = 0; cut < out.size(); cut += 7) {
    const Bytes part(out.begin(), out.begin() + cut);
    Workbook back;
    EXPECT_EQ(back.Read(part.data(), part.size()), 0u) << cut;
  }
  // A font whose name runs past its record.
  const Bytes stream = record_of(0x0809, filled(16)) +
                       record_of(0x0031, filled(14) + bytes_of({9, 0, 'A'})) +
                       record_of(0x000A, {});
  Workbook back;
  EXPECT_EQ(back.Read(stream.data(), stream.size()), 0u);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
