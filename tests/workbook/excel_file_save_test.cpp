// The library's own saves by path go through the export's update: they
// wait for an export's lock, and a save into the file a workbook came from
// never loses what an export saved there since.
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

bool has_sheet(const std::string& path, const char* name) {
  return ExcelFile(path.c_str()).GetWorksheet(name) != nullptr;
}

// A save while an export holds the lock waits for it and then refuses to
// save over the export's sheet, as does a Save after an export. Save goes
// to the folder and name of the load, wherever the link leads later, and
// follows its own saves.
TEST(ExcelFileSave, ThreadedSavesDuringOrAfterAnExportKeepItsSheet) {
  char pattern[] = "/tmp/kelpo_save_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern, a = folder + "/a.xls", b = folder + "/b.xls",
                    link = folder + "/link.xls";
  ExcelFile book;
  book.New(1);
  ASSERT_TRUE(book.SaveAs(a.c_str()) && book.SaveAs(b.c_str())) << book.Problem();
  ASSERT_EQ(symlink("a.xls", link.c_str()), 0);
  const std::string replaced =
      "\" was replaced by another program since this workbook was loaded from it or saved into "
      "it; saving would lose that program's changes";

  ExcelFile loaded(link.c_str());
  fs::remove(link);
  ASSERT_EQ(symlink("b.xls", link.c_str()), 0);
  loaded.AddWorksheet("mine");
  ASSERT_TRUE(loaded.Save() && loaded.Save()) << loaded.Problem();
  EXPECT_TRUE(has_sheet(a, "mine"));
  EXPECT_FALSE(has_sheet(b, "mine"));

  auto update = std::make_unique<WorkbookUpdate>();
  ASSERT_TRUE(update->Begin(a, std::chrono::seconds(1)) && update->Load());
  update->Book().AddWorksheet("during", 0);
  bool saved = true;
  std::thread save([&] { saved = loaded.SaveAs(a.c_str()); });
  EXPECT_TRUE(update->Commit()) << update->Problem();
  update.reset();  // the lock released
  save.join();
  EXPECT_FALSE(saved);
  EXPECT_EQ(loaded.Problem(), "\"" + a + replaced);
  EXPECT_TRUE(has_sheet(a, "during"));

  ExcelFile again(a.c_str());
  update = std::make_unique<WorkbookUpdate>();
  ASSERT_TRUE(update->Begin(a, std::chrono::seconds(1)) && update->Load());
  update->Book().AddWorksheet("after", 0);
  ASSERT_TRUE(update->Commit()) << update->Problem();
  update.reset();
  EXPECT_FALSE(again.Save());
  EXPECT_EQ(again.Problem(), "\"" + a + replaced);
  EXPECT_TRUE(has_sheet(a, "after"));
  fs::remove_all(folder);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
