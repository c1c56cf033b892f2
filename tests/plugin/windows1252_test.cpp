// The host's code page against the C library's own conversion tables.
#include "windows1252.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <string>

namespace {

// The character iconv gives for the byte, or 0 where its table has none.
char16_t iconv_character(unsigned char byte) {
  iconv_t cd = iconv_open("UTF-16LE", "CP1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  char in[1] = {static_cast<char>(byte)};
  char out[4] = {};
  char *inp = in, *outp = out;
  size_t inleft = 1, outleft = sizeof out;
  const size_t done = iconv(cd, &inp, &inleft, &outp, &outleft);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1) || outleft != 2) return 0;
  return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                               static_cast<unsigned char>(out[1]) << 8);
}

}  // namespace

TEST(Windows1252, EveryByteIsItsCharacterAndBack) {
  if (iconv_character('A') != u'A') GTEST_SKIP() << "the C library has no CP1252 table";
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string text = unicode_of_windows1252(all);
  ASSERT_EQ(text.size(), all.size());
  for (int b = 1; b < 256; ++b) {
    const char16_t expected = iconv_character(static_cast<unsigned char>(b));
    // The five bytes the code page leaves undefined keep their numbers.
    EXPECT_EQ(text[b - 1], expected ? expected : char16_t(b)) << b;
  }
  EXPECT_EQ(windows1252_of_unicode(text), all);
  EXPECT_EQ(windows1252_of_unicode(u"\u03bb \u20ac"), "? \x80");
  EXPECT_TRUE(
      is_latin1(unicode_of_windows1252("Gr\xF6\xDF"
                                       "e")));
  EXPECT_FALSE(is_latin1(unicode_of_windows1252("\x80")));
}

TEST(Windows1252, CaseFoldingPairsTheLettersOfEachScript) {
  const std::pair<std::u16string, std::u16string> same[] = {
      {u"DATA", u"data"},
      {u"\u00c4RGER \u00de", u"\u00e4rger \u00fe"},
      {u"\u0160\u017d\u0178\u0152", u"\u0161\u017e\u00ff\u0153"},
      {u"\u0139\u0147", u"\u013a\u0148"},
      {u"\u0394\u03a9", u"\u03b4\u03c9"},
      {u"\u0416\u0401", u"\u0436\u0451"},
  };
  for (const auto& [upper, lower] : same) EXPECT_EQ(folded_case(upper), folded_case(lower));
  // Not letters of one another.
  EXPECT_NE(folded_case(u"\u00d7"), folded_case(u"\u00f7"));
  EXPECT_NE(folded_case(u"a"), folded_case(u"\u00e0"));
}
