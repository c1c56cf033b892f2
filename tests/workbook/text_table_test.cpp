#include "text_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>

#include "excel_file.h"
#include "xls_tool.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

TEST(TextTableTest, EachTextOncePerWidth) {
  TextTable texts;
  const uint32_t a = texts.Share(std::string_view("alpha"));
  EXPECT_EQ(texts.Share(std::string("alpha")), a);
  const uint32_t wide = texts.Share(std::u16string_view(u"alpha"));
  EXPECT_NE(wide, a);
  EXPECT_TRUE(texts.IsWide(wide));
  EXPECT_EQ(std::u16string(texts.Wide(wide)), u"alpha");
  EXPECT_EQ(texts.Narrow(wide), nullptr);
  EXPECT_EQ(texts.Length(a), 5u);
  EXPECT_EQ(texts.Find(std::string_view("alp")), TextTable::kNone);
  EXPECT_EQ(texts.Share(std::string_view("ab\0cd", 5)), texts.Share(std::string_view("ab")));
  // A piece of one of its own texts, while the table grows.
  const uint32_t piece = texts.Share(std::string_view(texts.Narrow(a) + 2, 3));
  for (int i = 0; i < 2000; ++i) texts.Share(std::to_string(i));
  EXPECT_STREQ(texts.Narrow(piece), "pha");
  EXPECT_STREQ(texts.Narrow(texts.Find(std::string_view("1999"))), "1999");
  EXPECT_FALSE(TextTable::IsFixed(a));
  // A file's table may list a text twice: each keeps its entry, and
  // sharing an equal text gives the first, uncounted.
  TextTable file;
  const uint32_t first = file.Append(std::string_view("x"));
  const uint32_t again = file.Append(std::string_view("x"));
  EXPECT_NE(first, again);
  EXPECT_TRUE(TextTable::IsFixed(again));
  EXPECT_EQ(TextTable::WordOf(file.Narrow(again)), again);
  EXPECT_EQ(file.Share(std::string_view("x")), first);
  EXPECT_EQ(file.SharedCount(), 0u);
}

// Shares and releases in a random order against a count per text: a text
// lives while it is held, is found while it lives, and its number and room
// go to later texts; the table holds no more than the texts held.
TEST(TextTableTest, TextsLiveWhileHeld) {
  TextTable texts;
  std::map<std::string, std::pair<uint32_t, int>> held;
  std::mt19937 random(7);
  for (int step = 0; step < 20000; ++step) {
    const std::string text = "t" + std::string(random() % 40, 'x') + std::to_string(random() % 300);
    auto& [id, count] = held[text];
    if (count > 0 && random() % 2) {
      texts.Release(id);
      --count;
    } else {
      const uint32_t got = texts.Share(std::string_view(text));
      if (count > 0) {
        EXPECT_EQ(got, id);
      }
      id = got;
      ++count;
    }
  }
  uint64_t live = 0;
  for (const auto& [text, entry] : held) {
    const uint32_t found = texts.Find(std::string_view(text));
    if (entry.second == 0) {
      EXPECT_EQ(found, TextTable::kNone) << text;
      continue;
    }
    ++live;
    ASSERT_EQ(found, entry.first) << text;
    EXPECT_STREQ(texts.Narrow(found), text.c_str());
  }
  EXPECT_EQ(texts.SharedCount(), live);
  EXPECT_LE(texts.SharedSlots(), held.size());
  for (auto& [text, entry] : held)
    for (; entry.second > 0; --entry.second) texts.Release(entry.first);
  EXPECT_EQ(texts.SharedCount(), 0u);
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
