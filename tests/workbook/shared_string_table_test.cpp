#include "shared_string_table.h"

#include <gtest/gtest.h>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;
using GlobalsRecords::SharedStringTable;

LongUnicodeString narrow_string(size_t n, char c = 'n') {
  LongUnicodeString s;
  s = std::string(n, c).c_str();
  return s;
}

LongUnicodeString wide_string(size_t n, char16_t c = u'\u0416') {
  LongUnicodeString s;
  s = std::u16string(n, c).c_str();
  return s;
}

SharedStringTable table_of(std::vector<LongUnicodeString> strings) {
  SharedStringTable t;
  t.strings = std::move(strings);
  t.unique_count = static_cast<uint32_t>(t.strings.size());
  t.total_count = t.unique_count + 5;
  return t;
}

// Reads back what the table writes and checks that every string survives.
void expect_round_trip(SharedStringTable& t) {
  const Bytes out = written_bytes(t);
  SharedStringTable back;
  ASSERT_EQ(back.Read(out.data(), out.size()), out.size());
  EXPECT_EQ(back.total_count, t.total_count);
  ASSERT_EQ(back.strings.size(), t.strings.size());
  for (size_t i = 0; i < t.strings.size(); ++i) {
    EXPECT_EQ(back.strings[i].IsWide(), t.strings[i].IsWide()) << i;
    EXPECT_EQ(back.strings[i].narrow, t.strings[i].narrow) << i;
    EXPECT_EQ(back.strings[i].wide, t.strings[i].wide) << i;
  }
  EXPECT_EQ(written_bytes(back), out);
}

TEST(SharedStringTableTest, EmptyTableIsOneRecordOfTwoCounts) {
  SharedStringTable t;
  EXPECT_EQ(written_bytes(t), bytes_of({0xFC, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(SharedStringTableTest, StringsThatFitStayInOneRecord) {
  SharedStringTable t = table_of({narrow_string(4000), wide_string(2000)});
  EXPECT_EQ(t.DataSize(), 8u + 4003u + 4003u);
  EXPECT_TRUE(t.continue_indices.empty());
  EXPECT_EQ(t.RecordSize(), 8u + 4003u + 4003u + 4u);
  expect_round_trip(t);
}

TEST(SharedStringTableTest, SplitsAnEightBitStringAtTheRecordEnd) {
  SharedStringTable t =
      table_of({narrow_string(8189), narrow_string(100, 'q')});  // the second starts at 8200
  EXPECT_EQ(t.DataSize(), 8304u);
  EXPECT_EQ(t.RecordSize(), 8312u);
  EXPECT_EQ(t.continue_indices, std::vector<uint64_t>{8224});
  const Bytes out = written_bytes(t);
  EXPECT_EQ(get16(out, 2), 8224);
  EXPECT_EQ(get16(out, 4 + 8200), 100);  // the split string's header: count 100, flags 0
  EXPECT_EQ(out[4 + 8202], 0);
  EXPECT_EQ(out[4 + 8223], 'q');  // 21st character
  EXPECT_EQ(get16(out, 8228), 0x003C);
  EXPECT_EQ(get16(out, 8230), 80);
  EXPECT_EQ(out[8232], 0);  // the part's flags byte
  EXPECT_EQ(out[8233], 'q');
  expect_round_trip(t);
}

TEST(SharedStringTableTest, SplitsASixteenBitStringBetweenCharacters) {
  SharedStringTable t = table_of({narrow_string(8189), wide_string(100)});
  EXPECT_EQ(t.DataSize(), 8404u);
  EXPECT_EQ(t.RecordSize(), 8412u);
  EXPECT_EQ(t.continue_indices, std::vector<uint64_t>{8223});
  const Bytes out = written_bytes(t);
  EXPECT_EQ(get16(out, 2), 8223);  // 10 characters in the first record
  EXPECT_EQ(get16(out, 8227), 0x003C);
  EXPECT_EQ(get16(out, 8229), 181);
  EXPECT_EQ(out[8231], 1);
  EXPECT_EQ(get16(out, 8232), 0x0416);
  expect_round_trip(t);
}

TEST(SharedStringTableTest, StartsANewRecordWhenFewerThanTwelveBytesRemain) {
  SharedStringTable t =
      table_of({narrow_string(8203), narrow_string(10, 'r')});  // 10 bytes left after the first
  EXPECT_EQ(t.DataSize(), 8214u + 13u);
  EXPECT_EQ(t.continue_indices, std::vector<uint64_t>{8214});
  const Bytes out = written_bytes(t);
  EXPECT_EQ(get16(out, 2), 8214);
  EXPECT_EQ(get16(out, 8218), 0x003C);
  EXPECT_EQ(get16(out, 8222), 10);  // the string's own header, no extra flags byte
  EXPECT_EQ(out[8224], 0);
  EXPECT_EQ(out[8225], 'r');
  expect_round_trip(t);
}

TEST(SharedStringTableTest, LongStringsSpanSeveralContinueRecords) {
  SharedStringTable narrow = table_of({narrow_string(20000)});
  EXPECT_EQ(narrow.DataSize(), 8224u + 8224u + 3565u);
  EXPECT_EQ(narrow.continue_indices, (std::vector<uint64_t>{8224, 16448}));
  EXPECT_EQ(narrow.RecordSize(), 20013u + 12u);
  expect_round_trip(narrow);

  SharedStringTable wide = table_of({wide_string(10000)});
  EXPECT_EQ(wide.DataSize(), 8223u + 8223u + 3567u);
  EXPECT_EQ(wide.continue_indices, (std::vector<uint64_t>{8223, 16446}));
  expect_round_trip(wide);

  // A mix in which strings meet boundaries at many different places.
  std::vector<LongUnicodeString> mix;
  for (size_t i = 0; i < 300; ++i)
    mix.push_back(i % 3 ? narrow_string(7 + i * 13 % 500, 'a' + i % 26)
                        : wide_string(5 + i * 7 % 300));
  mix.push_back(wide_string(9000));
  mix.push_back(narrow_string(0));
  SharedStringTable mixed = table_of(mix);
  expect_round_trip(mixed);
}

TEST(SharedStringTableTest, ReadsPartsWrittenElsewhere) {
  // An 8-bit string whose continuation is 16-bit, then a rich-text string
  // whose runs follow its last characters in the next part.
  Bytes first;
  put32(first, 2);
  put32(first, 2);
  first += bytes_of({6, 0, 0, 'a', 'b', 'c'});
  Bytes second = bytes_of({1, 'd', 0, 'e', 0, 0x2D, 0x4E});
  second += bytes_of({4, 0, 0x08, 1, 0, 'w', 'x'});
  Bytes third = bytes_of({0, 'y', 'z', 1, 2, 3, 4});
  const Bytes stream =
      record_of(0x00FC, first) + record_of(0x003C, second) + record_of(0x003C, third);
  SharedStringTable t;
  ASSERT_EQ(t.Read(stream.data(), stream.size()), stream.size());
  ASSERT_EQ(t.strings.size(), 2u);
  EXPECT_EQ(t.strings[0].wide, u"abcde\u4E2D");
  EXPECT_EQ(t.strings[1].narrow, "wxyz");
}

TEST(SharedStringTableTest, RefusesDamagedTables) {
  Bytes data;
  put32(data, 1);
  put32(data, 1000);  // promises more strings than the data holds
  data += bytes_of({1, 0, 0, 'a'});
  Bytes stream = record_of(0x00FC, data);
  SharedStringTable t;
  EXPECT_EQ(t.Read(stream.data(), stream.size()), 0u);

  data.clear();
  put32(data, 1);
  put32(data, 1);
  data += bytes_of({9, 0, 0, 'a'});  // runs past the data
  stream = record_of(0x00FC, data);
  EXPECT_EQ(t.Read(stream.data(), stream.size()), 0u);

  // A string header cut by a CONTINUE boundary.
  data.clear();
  put32(data, 1);
  put32(data, 1);
  data += bytes_of({3, 0});
  stream = record_of(0x00FC, data) + record_of(0x003C, bytes_of({0, 'a', 'b', 'c'}));
  EXPECT_EQ(t.Read(stream.data(), stream.size()), 0u);

  // A split string whose parts end before its characters do.
  data.clear();
  put32(data, 1);
  put32(data, 1);
  data += bytes_of({5, 0, 0, 'a'});
  stream = record_of(0x00FC, data) + record_of(0x003C, bytes_of({0, 'b'}));
  EXPECT_EQ(t.Read(stream.data(), stream.size()), 0u);
}

TEST(SharedStringTableTest, WritesNoMoreStringsThanItHolds) {
  SharedStringTable t = table_of({narrow_string(2)});
  t.unique_count = 5;
  const Bytes out = written_bytes(t);
  EXPECT_EQ(out.size(), 4u + 8u + 5u);
  EXPECT_EQ(out[8], 1);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles

namespace YCompoundFiles {
namespace YExcel {
namespace {

// Phonetic readings and rich-text runs follow their texts through a save
// and a load, also where they or their text meet the end of a record.
TEST(SharedStringTableTest, PhoneticReadingsAndRichTextRunsTravelWithTheirTexts) {
  TextTable texts;
  SharedStringTable t;
  t.texts = &texts;
  for (size_t i = 0; i < 160; ++i) {
    const uint32_t index = i % 2 ? texts.Append(std::u16string(300 + i * 7, u'\u6771'))
                                 : texts.Append(std::string(200 + i * 11, 'k'));
    t.text_index.push_back(index);
    if (i % 3 != 2) t.phonetic[index] = std::string(30 + i * 5, static_cast<char>('a' + i));
    if (i % 4 != 1) t.runs[index] = std::string(4 * (1 + i % 5), static_cast<char>('A' + i % 20));
  }
  t.unique_count = t.total_count = static_cast<uint32_t>(t.text_index.size());
  const Bytes out = written_bytes(t);
  ASSERT_GT(t.continue_indices.size(), 1u);

  TextTable read_texts;
  SharedStringTable back;
  back.texts = &read_texts;
  ASSERT_EQ(back.Read(out.data(), out.size()), out.size());
  ASSERT_EQ(back.Count(), t.Count());
  EXPECT_EQ(back.phonetic.size(), t.phonetic.size());
  for (size_t i = 0; i < t.Count(); ++i) {
    const auto was = t.phonetic.find(t.TextAt(i));
    const auto now = back.phonetic.find(back.TextAt(i));
    ASSERT_EQ(now != back.phonetic.end(), was != t.phonetic.end()) << i;
    if (now != back.phonetic.end()) {
      EXPECT_EQ(now->second, was->second) << i;
    }
    const auto runs_were = t.runs.find(t.TextAt(i));
    const auto runs_now = back.runs.find(back.TextAt(i));
    ASSERT_EQ(runs_now != back.runs.end(), runs_were != t.runs.end()) << i;
    if (runs_now != back.runs.end()) {
      EXPECT_EQ(runs_now->second, runs_were->second) << i;
    }
  }
  EXPECT_EQ(written_bytes(back), out);

  // The layout of one: count, flags, run count, reading size, characters,
  // runs, reading.
  TextTable one_text;
  SharedStringTable one;
  one.texts = &one_text;
  const uint32_t ab = one_text.Append(std::string("ab"));
  one.text_index.push_back(ab);
  one.runs[ab] = std::string("\x01\x00\x02\x00", 4);
  one.phonetic[ab] = "P";
  one.unique_count = one.total_count = 1;
  EXPECT_EQ(written_bytes(one),
            record_of(0x00FC, bytes_of({1, 0, 0, 0, 1, 0,   0,   0, 2, 0, 0x0C, 1,
                                        0, 1, 0, 0, 0, 'a', 'b', 1, 0, 2, 0,    'P'})));
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
