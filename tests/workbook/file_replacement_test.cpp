// Saves that fail part-way, files and folders the user may not write, and
// symbolic links: the old file stays byte for byte and nothing is left
// beside it; a save that succeeds keeps the file's permissions and links.
#include "file_replacement.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>

#include "excel_file.h"
#include "workbook_update.h"
#include "xls_tool.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

namespace fs = std::filesystem;

// An account without rights of its own, for the checks the superuser
// passes whatever the permissions say.
constexpr uid_t kNobody = 65534;

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Entries of the folder other than the given file names.
std::vector<std::string> other_files(const std::string& folder,
                                     const std::vector<std::string>& known) {
  std::vector<std::string> others;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

// A workbook of a few hundred kilobytes.
void write_sample(const std::string& path, int value) {
  ExcelFile book;
  book.New(1);
  ExcelSheet* sheet = book.GetWorksheet(0);
  for (int r = 0; r < 4000; ++r)
    for (int c = 0; c < 8; ++c) *sheet->Cell(r, c) = 1.0 / (r + c + value);
  ASSERT_TRUE(book.SaveAs(path.c_str())) << book.Problem();
}

// The child's answers.
enum : int { kSaved = 0, kRefused = 1, kLoadFailed = 2, kNoUnprivilegedUser = 99 };

// Runs body in a child process (as an unprivileged user when unprivileged
// is set and this process is the superuser) and returns its exit code; the
// body's result goes out as the code.
int in_child(bool unprivileged, const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (unprivileged && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
      _exit(kNoUnprivilegedUser);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

int load_change_and_save(const std::string& path, const std::string& expected_problem) {
  ExcelFile book;
  if (!book.Load(path.c_str())) return kLoadFailed;
  *book.GetWorksheet(0)->Cell(0, 0) = "changed";
  if (book.SaveAs(path.c_str())) return kSaved;
  if (book.Problem().find(expected_problem) == std::string::npos) return 3;
  return kRefused;
}

class FileReplacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelpo_replace_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    // Open to the unprivileged account of the children.
    ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  }
  void TearDown() override {
    std::error_code ignored;
    for (const auto& e : fs::recursive_directory_iterator(folder_, ignored))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder_, ignored);
  }
  std::string folder_;
};

TEST_F(FileReplacementTest, AFullDiskLeavesTheOldFileAndNoTemporaryFile) {
  const std::string path = folder_ + "/full.xls";
  write_sample(path, 1);
  const std::string before = contents(path);
  ASSERT_GT(before.size(), 200000u);
  for (const rlim_t limit :
       {rlim_t{0}, rlim_t{4096}, rlim_t{before.size() / 2}, rlim_t{before.size() - 1}}) {
    const int result = in_child(false, [&] {
      // Writing past the limit fails with EFBIG instead of ending the process.
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit size{limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &size) != 0) return 4;
      return load_change_and_save(path,
                                  "cannot write the new workbook beside the file: File too large");
    });
    EXPECT_EQ(result, kRefused) << limit;
    EXPECT_TRUE(contents(path) == before) << limit;
    EXPECT_EQ(other_files(folder_, {"full.xls"}), std::vector<std::string>()) << limit;
  }
}

TEST_F(FileReplacementTest, AFileOrFolderTheUserMayNotWriteIsNotReplaced) {
  const std::string locked = folder_ + "/locked.xls";
  write_sample(locked, 2);
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  const std::string shut = folder_ + "/shut";
  ASSERT_EQ(mkdir(shut.c_str(), 0755), 0);
  const std::string inside = shut + "/open.xls";
  write_sample(inside, 3);
  ASSERT_EQ(chmod(inside.c_str(), 0666), 0);
  ASSERT_EQ(chmod(shut.c_str(), 0555), 0);
  const std::string locked_before = contents(locked), inside_before = contents(inside);

  // The folder of the locked file is writable: only the program's own check
  // keeps the rename from replacing the file.
  const int locked_result =
      in_child(true, [&] { return load_change_and_save(locked, "may not be written"); });
  if (locked_result == kNoUnprivilegedUser)
    GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(locked_result, kRefused);
  EXPECT_EQ(
      in_child(true,
               [&] { return load_change_and_save(inside, "cannot create a file in the folder"); }),
      kRefused);
  EXPECT_TRUE(contents(locked) == locked_before);
  EXPECT_TRUE(contents(inside) == inside_before);
  EXPECT_EQ(other_files(folder_, {"locked.xls", "shut"}), std::vector<std::string>());
  EXPECT_EQ(other_files(shut, {"open.xls"}), std::vector<std::string>());

  // Not a regular file.
  ExcelFile book;
  book.New(1);
  EXPECT_FALSE(book.SaveAs(shut.c_str()));
  EXPECT_EQ(book.Problem(), "\"" + shut + "\" is not a regular file");
}

TEST_F(FileReplacementTest, PermissionsOwnerAndLinksSurviveASave) {
  const std::string real = folder_ + "/real.xls";
  write_sample(real, 4);
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  const std::string link = folder_ + "/link.xls";
  ASSERT_EQ(symlink("real.xls", link.c_str()), 0);  // relative, as users make them
  const std::string chain = folder_ + "/chain.xls";
  ASSERT_EQ(symlink(link.c_str(), chain.c_str()), 0);

  for (const std::string& through : {link, chain}) {
    ExcelFile book(through.c_str());
    ASSERT_EQ(book.GetTotalSheets(), 1u);
    *book.GetWorksheet(0)->Cell(0, 0) = through.c_str();
    ASSERT_TRUE(book.SaveAs(through.c_str())) << book.Problem();
    struct stat info;
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(lstat(chain.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(lstat(real.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ExcelFile again(real.c_str());
    EXPECT_STREQ(again.GetWorksheet(0)->At(0, 0)->GetString(), through.c_str());
  }
  EXPECT_EQ(other_files(folder_, {"real.xls", "link.xls", "chain.xls"}),
            std::vector<std::string>());

  // A new file gets the permissions any new file gets.
  const mode_t mask = umask(022);
  const std::string fresh = folder_ + "/fresh.xls";
  write_sample(fresh, 5);
  umask(mask);
  struct stat info;
  ASSERT_EQ(stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);

  // A link in a loop is refused.
  const std::string loop = folder_ + "/loop.xls";
  ASSERT_EQ(symlink("loop.xls", loop.c_str()), 0);
  ExcelFile book;
  book.New(1);
  EXPECT_FALSE(book.SaveAs(loop.c_str()));
  EXPECT_NE(book.Problem().find("cannot follow the link"), std::string::npos) << book.Problem();
}

// Every extended attribute of the file, by name.
std::map<std::string, std::string> attributes(const std::string& path) {
  std::map<std::string, std::string> found;
  char list[4096], value[4096];
  const ssize_t n = listxattr(path.c_str(), list, sizeof list);
  for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(list + at)) + 1)
    found[list + at] = std::string(
        value, std::max<ssize_t>(0, getxattr(path.c_str(), list + at, value, sizeof value)));
  return found;
}

TEST_F(FileReplacementTest, AccessListsAndExtendedAttributesSurviveASaveOrRefuseIt) {
  const std::string path = folder_ + "/listed.xls", capable = folder_ + "/capable.xls";
  write_sample(path, 6);
  // user::rw- user:nobody:rw- group::r-- mask::rw- other::---, as stored: a
  // version, then (tag, permissions, id) by tag.
  const uint16_t acl[] = {2,      0,      1,    6, 0xFFFF, 0xFFFF, 2,    6, kNobody, 0,     4, 4,
                          0xFFFF, 0xFFFF, 0x10, 6, 0xFFFF, 0xFFFF, 0x20, 0, 0xFFFF,  0xFFFF};
  if (setxattr(path.c_str(), "user.origin", "camera 2", 8, 0) != 0 ||
      setxattr(path.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) != 0)
    GTEST_SKIP() << "no access lists or extended attributes here: " << std::strerror(errno);
  const auto before = attributes(path);
  ASSERT_EQ(before.size(), 2u);
  ExcelFile book(path.c_str());
  ASSERT_TRUE(book.Save()) << book.Problem();
  EXPECT_EQ(attributes(path), before);

  // One the user may not give the new file refuses the save.
  write_sample(capable, 7);
  ASSERT_EQ(chmod(capable.c_str(), 0666), 0);
  const uint32_t capability[5] = {0x02000000, 1, 0, 0, 0};  // version 2, one permitted bit
  if (setxattr(capable.c_str(), "security.capability", capability, sizeof capability, 0) != 0)
    GTEST_SKIP() << "cannot give a file capabilities here: " << std::strerror(errno);
  const std::string old = contents(capable);
  const int result =
      in_child(true, [&] { return load_change_and_save(capable, "\"security.capability\""); });
  if (result == kNoUnprivilegedUser) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(result, kRefused);
  EXPECT_TRUE(contents(capable) == old);
  EXPECT_EQ(other_files(folder_, {"listed.xls", "capable.xls"}), std::vector<std::string>());
}

// Load, change and save under the lock from two threads at once, one of
// them through a link: no sheet is lost.
TEST_F(FileReplacementTest, TheLockSerialisesThreadsAndWaitsBoundedly) {
  const std::string path = folder_ + "/shared.xls", link = folder_ + "/link.xls";
  ASSERT_EQ(symlink("shared.xls", link.c_str()), 0);
  auto worker = [&](const std::string& via, char tag) {
    for (int i = 0; i < 15; ++i) {
      WorkbookUpdate update;
      ASSERT_TRUE(update.Begin(via, std::chrono::seconds(30))) << update.Problem();
      ASSERT_TRUE(update.Load()) << update.Problem();
      update.Book().AddWorksheet((tag + std::to_string(i)).c_str(), 0);
      ASSERT_TRUE(update.Commit()) << update.Problem();
    }
  };
  std::thread a(worker, path, 'a'), b(worker, link, 'b');
  a.join();
  b.join();
  EXPECT_EQ(ExcelFile(path.c_str()).GetTotalSheets(), 31u);
  EXPECT_EQ(other_files(folder_, {"shared.xls", "link.xls"}), std::vector<std::string>());

  WorkbookUpdate held, waiting;
  ASSERT_TRUE(held.Begin(link, std::chrono::seconds(1)));
  EXPECT_FALSE(waiting.Begin(path, std::chrono::milliseconds(50)));
  EXPECT_EQ(waiting.Problem(), "another export has been changing it for longer than 50 ms");
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
