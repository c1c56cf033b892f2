// Office programs' lock files: what their content says, read defensively,
// and that a workbook with one beside it is not replaced, whether the file
// is there from the start or appears during the save.
#include "office_lock_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "excel_file.h"
#include "workbook_update.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

namespace fs = std::filesystem;

// An owner file as office programs write it: the 8-bit name after its
// length, padded; at 54 the UTF-16 name after its length; padded to 162.
std::string owner_file(const std::string& narrow, const std::u16string& wide) {
  std::string bytes(1, static_cast<char>(narrow.size()));
  bytes += narrow;
  bytes.resize(54, ' ');
  bytes += static_cast<char>(wide.size());
  bytes += '\0';
  for (const char16_t c : wide) {
    bytes += static_cast<char>(c & 0xff);
    bytes += static_cast<char>(c >> 8);
  }
  bytes.resize(162, '\0');
  return bytes;
}

// What either kind of file says, shown printable and bounded in
// Windows-1252, whatever it holds.
TEST(OfficeLockFiles, WhoAndSinceFromWhateverTheFilesHold) {
  const OfficeLock lock =
      OfficeLock::FromLockFile("Jane Doe,jdoe,lab-pc,07.12.2026 14:03,file:///p;");
  EXPECT_EQ(lock.user + "|" + lock.time, "Jane Doe (jdoe on lab-pc)|07.12.2026 14:03");
  const std::pair<std::string, std::string> lock_files[] = {
      // No name of the user's own, as a fresh profile leaves it.
      {",root,vm,07.12.2026 20:14,file:///tmp/profile;", "root (on vm)"},
      {"Doe\\, Jane\\;,jd,h,t;", "Doe, Jane; (jd on h)"},
      {"Zo\xc3\xab,zoe,h,t;", "Zo\xeb (zoe on h)"},
      // Controls, malformed UTF-8, characters outside the code page, too long.
      {"\x1b[2J\xff\xc3\xe2\x82\xac\xd0\x96" + std::string(500, 'x') + ",\n\thost",
       "?[2J????" + std::string(53, 'x') + "..."},
      {"", ""},
  };
  for (const auto& [bytes, user] : lock_files)
    EXPECT_EQ(OfficeLock::FromLockFile(bytes).user, user);

  std::string wide_too_long = owner_file("Jo", u"Jane");
  wide_too_long[54] = 60;
  const std::pair<std::string, std::string> owner_files[] = {
      // The UTF-16 copy where there is one; what Windows-1252 lacks as '?'.
      {owner_file("Zo\xeb ?", u"Zo\u00eb \u0416"), "Zo\xeb ?"},
      // Only the 8-bit name: a short file, a UTF-16 length beyond the end.
      {owner_file("Jo \x80", u"").substr(0, 10), "Jo \x80"},
      {wide_too_long, "Jo"},
      {owner_file("a\x01\x7f", u""), "a??"},
      // Lengths beyond the file: nothing, never bytes beyond it.
      {"\x30"
       "abc",
       ""},
      {std::string(20, '\xff'), ""},
      {"", ""},
  };
  for (const auto& [bytes, user] : owner_files)
    EXPECT_EQ(OfficeLock::FromOwnerFile(bytes).user, user);
}

TEST(OfficeLockFiles, OwnerFilesOfShortAndLongNames) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(office_lock_names("a.xls"), (Names{".~lock.a.xls#", "~$a.xls"}));
  EXPECT_EQ(office_lock_names("profile.xls"),
            (Names{".~lock.profile.xls#", "~$profile.xls", "~$rofile.xls"}));
  EXPECT_EQ(office_lock_names("profiles.xls"),
            (Names{".~lock.profiles.xls#", "~$profiles.xls", "~$ofiles.xls"}));
  EXPECT_EQ(office_lock_names("profiles"), (Names{".~lock.profiles#", "~$profiles", "~$ofiles"}));
}

class OfficeLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelpo_office_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    path_ = folder_ + "/profiles.xls";
    ExcelFile book;
    book.New(1);
    ASSERT_TRUE(book.SaveAs(path_.c_str())) << book.Problem();
    before_ = contents(path_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  static std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  long entries() const {
    return std::distance(fs::directory_iterator(folder_), fs::directory_iterator());
  }
  void put(const std::string& name, const std::string& bytes) {
    std::ofstream(folder_ + "/" + name, std::ios::binary) << bytes;
  }
  // Adds a sheet through an update; the problem, or "" when saved.
  std::string export_problem() {
    WorkbookUpdate update;
    if (!update.Begin(path_, std::chrono::seconds(1)) || !update.Load()) return update.Problem();
    update.Book().AddWorksheet("added", 0);
    return update.Commit() ? "" : update.Problem();
  }
  std::string refusal(const std::string& by, const std::string& name) const {
    return "it is open in an office program" + by + ", says its lock file \"" + folder_ + "/" +
           name +
           "\": close the workbook there and try again, or remove the lock file if that program "
           "is no longer running";
  }

  std::string folder_, path_, before_;
};

// Either kind of file, there before the export, refuses it and names the
// user and time; nothing is left beside the workbook.
TEST_F(OfficeLockTest, ALockFileBesideTheWorkbookRefusesTheExport) {
  put(".~lock.profiles.xls#", "Jane Doe,jdoe,lab-pc,07.12.2026 14:03,file:///p;");
  EXPECT_EQ(export_problem(), refusal(" by Jane Doe (jdoe on lab-pc) since 07.12.2026 14:03",
                                      ".~lock.profiles.xls#"));
  fs::remove(folder_ + "/.~lock.profiles.xls#");

  put("~$ofiles.xls", owner_file("Jane", u"Jane"));
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (folder_ + "/~$ofiles.xls").c_str(), times, 0), 0);
  char since[32];
  struct tm local;
  const time_t one = 1;
  std::strftime(since, sizeof since, "%Y-%m-%d %H:%M", localtime_r(&one, &local));
  EXPECT_EQ(export_problem(), refusal(std::string(" by Jane since ") + since, "~$ofiles.xls"));
  EXPECT_TRUE(contents(path_) == before_);
  fs::remove(folder_ + "/~$ofiles.xls");

  // What cannot be read (a link, which is not followed; a named pipe, which
  // is not waited on) still refuses, naming no one.
  ASSERT_EQ(symlink("/proc/self/environ", (folder_ + "/~$profiles.xls").c_str()), 0);
  EXPECT_EQ(export_problem(), refusal("", "~$profiles.xls"));
  fs::remove(folder_ + "/~$profiles.xls");
  ASSERT_EQ(mkfifo((folder_ + "/.~lock.profiles.xls#").c_str(), 0600), 0);
  EXPECT_EQ(export_problem(), refusal("", ".~lock.profiles.xls#"));
  fs::remove(folder_ + "/.~lock.profiles.xls#");

  EXPECT_TRUE(contents(path_) == before_);
  EXPECT_EQ(export_problem(), "");
  EXPECT_EQ(entries(), 1);
}

// A lock file that appears during the export, in the last moment before
// the replacement (held there by the system-call table), refuses it; so
// it does the library's own saves.
TEST_F(OfficeLockTest, ALockFileAppearingDuringTheExportRefusesItsCommit) {
  static std::string made;
  made = folder_ + "/.~lock.profiles.xls#";
  const FileSafety::SystemCalls saved = FileSafety::system_calls();
  FileSafety::system_calls().fsync = [](int fd) {
    std::ofstream(made) << "Ann,ann,h,t;";
    return ::fsync(fd);
  };
  const std::string problem = export_problem();
  FileSafety::system_calls() = saved;
  const std::string expected = refusal(" by Ann (ann on h) since t", ".~lock.profiles.xls#");
  EXPECT_EQ(problem, expected);
  ExcelFile book(path_.c_str());
  EXPECT_FALSE(book.SaveAs(path_.c_str()));
  EXPECT_EQ(book.Problem(), expected);
  fs::remove(made);
  EXPECT_EQ(entries(), 1);
  EXPECT_TRUE(contents(path_) == before_);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
