#include "unicode_strings.h"

#include <gtest/gtest.h>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;

TEST(ShortUnicodeStringTest, WritesCountFlagsAndCharacters) {
  ShortUnicodeString s;
  EXPECT_EQ(written_bytes(s), bytes_of({0, 0}));
  s = u"Ab";
  EXPECT_EQ(written_bytes(s), bytes_of({2, 1, 'A', 0, 'b', 0}));
  s = "Sheet1";
  EXPECT_EQ(written_bytes(s), bytes_of({6, 0, 'S', 'h', 'e', 'e', 't', '1'}));
  EXPECT_EQ(s.DataSize(), 8u);
  EXPECT_STREQ(s.Narrow(), "Sheet1");
  EXPECT_EQ(s.Wide(), nullptr);
  EXPECT_TRUE(s.Equals("Sheet1"));
  EXPECT_FALSE(s.Equals(u"Sheet1"));
  EXPECT_FALSE(s.Equals("sheet1"));
}

TEST(ShortUnicodeStringTest, KeepsAtMost255CharactersSoTheCountByteHolds) {
  ShortUnicodeString s;
  s = std::string(200, 'x').c_str();
  EXPECT_EQ(written_bytes(s)[0], static_cast<char>(200));
  s = std::string(300, 'x').c_str();
  const Bytes out = written_bytes(s);
  EXPECT_EQ(out.size(), 2u + 255u);
  EXPECT_EQ(static_cast<unsigned char>(out[0]), 255);
}

TEST(ShortUnicodeStringTest, ReadsBothWidthsAndRefusesShortInput) {
  const Bytes wide = bytes_of({3, 1, 'a', 0, 0x3A, 0x04, 'c', 0, 0x77});
  ShortUnicodeString s;
  EXPECT_EQ(s.Read(wide.data(), wide.size()), 8u);
  EXPECT_EQ(s.wide, (std::u16string{u'a', u'\u043A', u'c'}));
  EXPECT_EQ(written_bytes(s), Bytes(wide.begin(), wide.begin() + 8));
  EXPECT_EQ(s.Read(wide.data(), 7), 0u);

  const Bytes narrow = bytes_of({2, 0, 'o', 'k'});
  EXPECT_EQ(s.Read(narrow.data(), narrow.size()), 4u);
  EXPECT_STREQ(s.Narrow(), "ok");
  EXPECT_EQ(s.Read(narrow.data(), 1), 0u);
}

TEST(LongUnicodeStringTest, FreshStringWritesAnEmptyWideString) {
  LongUnicodeString s;
  EXPECT_EQ(s.DataSize(), 3u);
  EXPECT_EQ(written_bytes(s), bytes_of({0, 0, 1}));
  EXPECT_EQ(s.flags, 1);
}

TEST(LongUnicodeStringTest, AssignmentHoldsTheCharactersWithoutTerminator) {
  LongUnicodeString s;
  s = "abc";
  EXPECT_EQ(written_bytes(s), bytes_of({3, 0, 0, 'a', 'b', 'c'}));
  s = u"\u00E9t\u00E9";
  EXPECT_EQ(written_bytes(s), bytes_of({3, 0, 1, 0xE9, 0, 't', 0, 0xE9, 0}));
}

TEST(LongUnicodeStringTest, SkipsRunsAndPhoneticDataAndWritesPlainText) {
  Bytes in = bytes_of({5, 0, 0x0C, 2, 0, 10, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'}) + filled(8, 1) +
             filled(10, 2);
  in.push_back(0x7F);  // the next string
  LongUnicodeString s;
  EXPECT_EQ(s.Read(in.data(), in.size()), 32u);
  EXPECT_EQ(s.narrow, "hello");
  EXPECT_EQ(s.run_count, 2);
  EXPECT_EQ(s.phonetic_size, 10u);
  EXPECT_EQ(written_bytes(s), bytes_of({5, 0, 0, 'h', 'e', 'l', 'l', 'o'}));
  // The runs or phonetic data cut short.
  EXPECT_EQ(s.Read(in.data(), 31), 0u);
  EXPECT_EQ(s.Read(in.data(), 6), 0u);
}

TEST(LongUnicodeStringTest, ContinuationPartsOfTheOtherWidthAreConverted) {
  LongUnicodeString s;
  s = "ab";
  // 16-bit characters that fit in a byte: an 8-bit string stays 8-bit.
  const Bytes part = bytes_of({1, 'c', 0, 0xE9, 0});
  EXPECT_EQ(s.ReadCharacters(part.data(), part.size(), 2), 5u);
  EXPECT_FALSE(s.IsWide());
  EXPECT_EQ(s.narrow, "abc\xE9");

  // One that does not: the whole string turns 16-bit, nothing lost.
  const Bytes greek = bytes_of({1, 0xB1, 0x03});
  EXPECT_EQ(s.ReadCharacters(greek.data(), greek.size(), 1), 3u);
  EXPECT_TRUE(s.IsWide());
  EXPECT_EQ(s.wide, (std::u16string{u'a', u'b', u'c', u'\u00E9', u'\u03B1'}));
  // An 8-bit part appended to a 16-bit string.
  const Bytes latin = bytes_of({0, 0xFC});
  EXPECT_EQ(s.ReadCharacters(latin.data(), latin.size(), 1), 2u);
  EXPECT_EQ(s.wide.back(), u'\u00FC');
  EXPECT_EQ(s.ReadCharacters(latin.data(), latin.size(), 2), 0u);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
