// The library's own saves by path go through the export's update: they
// wait for an export's lock, and a save into the file a workbook came from
// never loses what another program (an export) saved there since.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "excel_file.h"
#include "workbook_update.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

namespace fs = std::filesystem;

class ExcelFileSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelpo_save_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  // A new workbook of one sheet at the path.
  static void make(const std::string& path) {
    ExcelFile book;
    book.New(1);
    ASSERT_TRUE(book.SaveAs(path.c_str())) << book.Problem();
  }
  // The export's part: a sheet of that name added under the update.
  static void add_sheet(const std::string& path, const char* name) {
    WorkbookUpdate update;
    ASSERT_TRUE(update.Begin(path, std::chrono::seconds(1)) && update.Load()) << update.Problem();
    update.Book().AddWorksheet(name, 0);
    ASSERT_TRUE(update.Commit()) << update.Problem();
  }
  static bool has_sheet(const std::string& path, const char* name) {
    ExcelFile book(path.c_str());
    return book.GetWorksheet(name) != nullptr;
  }
  std::string replaced(const std::string& path) const {
    return "\"" + path +
           "\" was replaced by another program since this workbook was loaded from it or saved "
           "into it; saving would lose that program's changes";
  }

  std::string folder_;
};

// A save while an export holds the lock waits for it, and then refuses to
// save over the export's sheet; so does one made after the export.
TEST_F(ExcelFileSaveTest, ThreadedSaveDuringOrAfterAnExportKeepsTheExportsSheet) {
  const std::string path = folder_ + "/shared.xls";
  make(path);
  for (const bool during : {true, false}) {
    ExcelFile book(path.c_str());
    ASSERT_EQ(book.GetTotalSheets(), during ? 1u : 2u);
    *book.GetWorksheet(0)->Cell(0, 0) = "the program's change";
    const char* sheet = during ? "during" : "after";
    if (during) {
      auto update = std::make_unique<WorkbookUpdate>();
      ASSERT_TRUE(update->Begin(path, std::chrono::seconds(1)) && update->Load());
      update->Book().AddWorksheet(sheet, 0);
      bool saved = true;
      std::thread save([&] { saved = book.SaveAs(path.c_str()); });
      EXPECT_TRUE(update->Commit()) << update->Problem();
      update.reset();  // the lock released
      save.join();
      EXPECT_FALSE(saved);
    } else {
      add_sheet(path, sheet);
      EXPECT_FALSE(book.Save());
    }
    EXPECT_EQ(book.Problem(), replaced(path));
    EXPECT_TRUE(has_sheet(path, sheet));
  }
}

// Save writes into the folder and name found at the load, whatever the
// path leads to later, and again after its own saves; a save elsewhere
// (SaveAs to another file) replaces what is there.
TEST_F(ExcelFileSaveTest, SaveKeepsToTheFileItLoadedAndItsOwnSaves) {
  const std::string a = folder_ + "/a.xls", b = folder_ + "/b.xls", link = folder_ + "/link.xls";
  make(a);
  make(b);
  ASSERT_EQ(symlink("a.xls", link.c_str()), 0);
  ExcelFile book(link.c_str());
  fs::remove(link);
  ASSERT_EQ(symlink("b.xls", link.c_str()), 0);
  for (const char* name : {"first", "second"}) {
    book.AddWorksheet(name);
    ASSERT_TRUE(book.Save()) << book.Problem();
    EXPECT_TRUE(has_sheet(a, name));
    EXPECT_FALSE(has_sheet(b, name));
  }
  add_sheet(b, "exported");
  ASSERT_TRUE(book.SaveAs(b.c_str())) << book.Problem();
  EXPECT_FALSE(has_sheet(b, "exported"));
  // Now the workbook's file is b: a save after an export into it refuses.
  add_sheet(b, "exported");
  EXPECT_FALSE(book.Save());
  EXPECT_EQ(book.Problem(), replaced(b));
  EXPECT_TRUE(has_sheet(b, "exported"));
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
