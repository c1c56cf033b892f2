#include "text_table.h"

#include <gtest/gtest.h>

#include <string>

#include "excel_file.h"
#include "xls_tool.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

TEST(TextTableTest, EachTextOncePerWidth) {
  {
    TextTable texts;
    const uint32_t a = texts.Add(std::string_view("alpha"));
    EXPECT_EQ(texts.Add(std::string("alpha")), a);
    const uint32_t wide = texts.Add(std::u16string_view(u"alpha"));
    EXPECT_NE(wide, a);
    EXPECT_TRUE(texts.IsWide(wide));
    EXPECT_EQ(std::u16string(texts.Wide(wide)), u"alpha");
    EXPECT_EQ(texts.Narrow(wide), nullptr);
    EXPECT_EQ(texts.Length(a), 5u);
    // A file's table may list a text twice: each keeps its entry, and Add
    // finds the first.
    const uint32_t again = texts.Append(std::string_view("alpha"));
    EXPECT_NE(again, a);
    EXPECT_EQ(texts.Add(std::string_view("alpha")), a);
    EXPECT_EQ(texts.Find(std::string_view("alp")), TextTable::kNone);
    EXPECT_EQ(texts.Add(std::string_view("ab\0cd", 5)), texts.Add(std::string_view("ab")));
    // A piece of one of its own texts, while the table grows.
    const char* own = texts.Narrow(a);
    const uint32_t piece = texts.Add(std::string_view(own + 2, 3));
    for (int i = 0; i < 2000; ++i) texts.Add(std::to_string(i));
    EXPECT_STREQ(texts.Narrow(piece), "pha");
    EXPECT_STREQ(texts.Narrow(texts.Find(std::string_view("1999"))), "1999");
    // Each text block's word is its index; appended texts stay in place.
    EXPECT_EQ(TextTable::WordOf(texts.Narrow(piece)), piece);
    EXPECT_EQ(TextTable::WordOf(texts.Wide(wide)), wide);
    EXPECT_FALSE(texts.IsFixed(a));
    EXPECT_TRUE(texts.IsFixed(again));
  }
}

// Cells that show one text, and a new text for one of them, which leaves
// the others as they were, before and after a save and a load.
TEST(TextTableTest, CellsShareTextsAndChangeAlone) {
  ExcelFile book;
  book.New(1);
  ExcelSheet& sheet = *book.GetWorksheet(0);
  for (uint16_t r = 0; r < 300; ++r) {
    if (r % 2)
      sheet.Cell(r, r % 3)->SetString("odd");
    else
      sheet.Cell(r, r % 3)->SetString(u"even");
  }
  EXPECT_STREQ(sheet.At(1, 1)->GetString(), sheet.At(3, 0)->GetString());
  sheet.Cell(1, 1)->SetString("changed");
  EXPECT_STREQ(sheet.At(3, 0)->GetString(), "odd");
  const ExcelCell copy = *sheet.At(5, 2);
  sheet.Cell(5, 2)->SetInteger(5);
  EXPECT_STREQ(copy.GetString(), "odd");

  const std::string path = xls_tool::scratch_path("shared_texts.xls");
  ASSERT_TRUE(book.SaveAs(path.c_str()));
  ExcelFile loaded;
  ASSERT_TRUE(loaded.Load(path.c_str()));
  ExcelSheet& back = *loaded.GetWorksheet(0);
  EXPECT_STREQ(back.At(1, 1)->GetString(), "changed");
  EXPECT_EQ(back.At(5, 2)->GetInteger(), 5);
  for (uint16_t r = 2; r < 300; r += 2)
    EXPECT_EQ(std::u16string(back.At(r, r % 3)->GetWString()), u"even") << r;
  // Loaded cells that show one text share it.
  EXPECT_EQ(back.At(3, 0)->GetString(), back.At(7, 1)->GetString());
  back.Cell(3, 0)->SetString("three");
  EXPECT_STREQ(back.At(7, 1)->GetString(), "odd");
  EXPECT_STREQ(back.At(3, 0)->GetString(), "three");
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
