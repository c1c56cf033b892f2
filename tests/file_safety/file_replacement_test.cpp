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
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "excel_file.h"
#include "workbook_update.h"

namespace FileSafety {
namespace {

namespace fs = std::filesystem;
// The replacement's one client: its cases load, change and save workbooks.
using YCompoundFiles::YExcel::ExcelFile;
using YCompoundFiles::YExcel::ExcelSheet;
using YCompoundFiles::YExcel::WorkbookUpdate;

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
  // One sheet to begin with: no file is made through a link.
  write_sample(path, 1);
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
  EXPECT_EQ(waiting.Problem(), "another export or save has been changing it for longer than 50 ms");
}

}  // namespace
}  // namespace FileSafety

namespace FileSafety {
namespace {

// A workbook of about two megabytes, whose save takes a while.
void write_large(const std::string& path) {
  ExcelFile book;
  book.New(1);
  ExcelSheet* sheet = book.GetWorksheet(0);
  for (int r = 0; r < 1200; ++r)
    for (int c = 0; c < 200; ++c) *sheet->Cell(r, c) = r * 0.5 + c;
  ASSERT_TRUE(book.SaveAs(path.c_str())) << book.Problem();
}

// Watches a folder from a thread of its own while an export runs: notes
// what access every file or folder in it gives others, and replaces every
// name that appears with a symbolic link to `victim`, as another user of a
// shared folder would.
class FolderWatch {
 public:
  FolderWatch(const std::string& folder, const std::string& victim)
      : folder_(folder), victim_(victim) {
    for (const auto& e : fs::directory_iterator(folder)) known_.insert(e.path().filename());
    thread_ = std::thread([this] { Run(); });
  }
  ~FolderWatch() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // The widest access anything in the folder but a link gave others.
  mode_t Widest() const { return widest_; }

 private:
  void Run() {
    for (int n = 0; !stop_; ++n) {
      std::error_code ignored;
      for (const auto& e : fs::directory_iterator(folder_, ignored)) {
        const std::string name = e.path().filename(), path = e.path();
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode))
          widest_ = widest_ | (info.st_mode & 077);
        if (!known_.insert(name).second) continue;
        const std::string planted = ".planted" + std::to_string(n);
        known_.insert(planted);
        if (symlink(victim_.c_str(), (folder_ + "/" + planted).c_str()) == 0)
          rename((folder_ + "/" + planted).c_str(), path.c_str());
      }
    }
  }

  std::string folder_, victim_;
  std::set<std::string> known_;
  std::atomic<bool> stop_{false};
  std::atomic<mode_t> widest_{0};
  std::thread thread_;
};

int add_sheet(const std::string& path, const std::string& name, NewFile kind) {
  WorkbookUpdate update(kind);
  if (!update.Begin(path, std::chrono::seconds(5)) || !update.Load()) return kLoadFailed;
  update.Book().AddWorksheet(name.c_str(), 0);
  return update.Commit() ? kSaved : kRefused;
}

// Another user replaces every new name in the folder with a link to a
// private file of the user's while large exports of a private workbook
// run under the usual umask: the export may refuse, but never writes,
// chmods or renames through such a link, and nothing in the folder is
// ever open to others, the new file neither before nor after the rename.
TEST_F(FileReplacementTest, LinksPlantedAtEveryNewNameNeverRedirectOrExposeTheSave) {
  const std::string home = folder_ + "/home", shared = folder_ + "/shared";
  ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(shared.c_str(), 02775), 0);
  const std::string keys = home + "/authorized_keys", book = shared + "/book.xls";
  std::ofstream(keys) << "ssh-ed25519 AAAA the user's key\n";
  ASSERT_EQ(chmod(keys.c_str(), 0600), 0);
  write_large(book);
  ASSERT_EQ(chmod(book.c_str(), 0600), 0);
  const mode_t mask = umask(022);
  const std::string keys_before = contents(keys);
  int saved = 0;
  for (int round = 0; round < 10; ++round) {
    const NewFile kind = round % 2 ? NewFile::kNamed : NewFile::kUnnamedWherePossible;
    // What earlier rounds planted goes, so that every round starts alike.
    for (const std::string& other : other_files(shared, {"book.xls"}))
      unlink((shared + "/" + other).c_str());
    FolderWatch attacker(shared, keys);
    const int result = add_sheet(book, "s" + std::to_string(round), kind);
    attacker.Stop();
    EXPECT_EQ(attacker.Widest(), 0u) << round;
    struct stat info;
    ASSERT_EQ(lstat(keys.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << round;
    EXPECT_EQ(contents(keys), keys_before) << round;
    ASSERT_EQ(lstat(book.c_str(), &info), 0);
    ASSERT_TRUE(S_ISREG(info.st_mode)) << round;
    EXPECT_EQ(info.st_mode & 07777, 0600u) << round;
    if (result == kSaved) ++saved;
    EXPECT_EQ(
        ExcelFile(book.c_str()).GetWorksheet(("s" + std::to_string(round)).c_str()) != nullptr,
        result == kSaved)
        << round;
  }
  umask(mask);
  // Refused only when a link took the lock file's name first.
  EXPECT_GT(saved, 5);
}

// The path is looked up once: a link switched to another workbook after
// the export began leaves that workbook alone, and a workbook replaced
// behind the export's back is not saved over.
TEST_F(FileReplacementTest, ALinkSwitchedMidExportLeavesTheOtherWorkbookItsSheets) {
  const std::string a = folder_ + "/A.xls", b = folder_ + "/B.xls", cur = folder_ + "/cur.xls";
  write_sample(a, 1);
  write_sample(b, 2);
  ASSERT_EQ(symlink("A.xls", cur.c_str()), 0);
  const std::string b_before = contents(b);
  {
    WorkbookUpdate update;
    ASSERT_TRUE(update.Begin(cur, std::chrono::seconds(1)));
    ASSERT_TRUE(update.Load());
    ASSERT_EQ(unlink(cur.c_str()), 0);
    ASSERT_EQ(symlink("B.xls", cur.c_str()), 0);
    update.Book().AddWorksheet("new", 0);
    ASSERT_TRUE(update.Commit()) << update.Problem();
  }
  EXPECT_TRUE(contents(b) == b_before);
  EXPECT_NE(ExcelFile(a.c_str()).GetWorksheet("new"), nullptr);

  WorkbookUpdate update;
  ASSERT_TRUE(update.Begin(a, std::chrono::seconds(1)));
  ASSERT_TRUE(update.Load());
  ASSERT_EQ(rename(b.c_str(), a.c_str()), 0);  // by a program that takes no lock
  update.Book().AddWorksheet("lost", 0);
  EXPECT_FALSE(update.Commit());
  EXPECT_EQ(update.Problem(), "\"" + a + "\" was replaced by another program during the save");
  EXPECT_TRUE(contents(a) == b_before);
  EXPECT_EQ(other_files(folder_, {"A.xls", "cur.xls", ".A.xls.lock"}), std::vector<std::string>());
}

// Exports killed mid-save leave no file but the lock file where the file
// system has unnamed files (at most an empty folder of the user's, killed
// while renaming); elsewhere they leave their folder with the new file.
// The next export removes all of it.
TEST_F(FileReplacementTest, ExportsKilledMidSaveLeaveNoFilesBehind) {
  const std::string book = folder_ + "/killed.xls";
  write_large(book);
  const int unnamed = open(folder_.c_str(), O_TMPFILE | O_RDWR, 0600);
  if (unnamed < 0)
    GTEST_SKIP() << "no unnamed files in " << folder_ << ": " << std::strerror(errno);
  close(unnamed);
  for (int kill_at = 0; kill_at < 10; ++kill_at) {
    const NewFile kind = kill_at < 7 ? NewFile::kUnnamedWherePossible : NewFile::kNamed;
    const pid_t pid = fork();
    if (pid == 0)
      for (int i = 0;; ++i) add_sheet(book, "k" + std::to_string(i), kind);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 17 * kill_at));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    for (const std::string& left : other_files(folder_, {"killed.xls", ".killed.xls.lock"}))
      EXPECT_TRUE(kind == NewFile::kNamed ||
                  (fs::is_directory(folder_ + "/" + left) && fs::is_empty(folder_ + "/" + left)))
          << left;
    EXPECT_TRUE(ExcelFile(book.c_str()).GetTotalSheets() > 0) << kill_at;
  }
  EXPECT_EQ(add_sheet(book, "after", NewFile::kUnnamedWherePossible), kSaved);
  EXPECT_EQ(other_files(folder_, {"killed.xls"}), std::vector<std::string>());
}

}  // namespace
}  // namespace FileSafety

namespace FileSafety {
namespace {

// Another user's ids, neither the superuser's nor the unprivileged child's.
constexpr uid_t kOther = 47011;

// The system-call table as it was, put back at the end of the scope.
class CallsRestored {
 public:
  ~CallsRestored() { system_calls() = saved_; }

 private:
  SystemCalls saved_ = system_calls();
};

// Calls of the kind made to fail succeed this many times, then fail.
int g_budget = 0;
int g_error = EIO;
bool spent() {
  if (g_budget-- > 0) return false;
  errno = g_error;
  return true;
}

// The system's function, failing once the budget is spent.
template <auto kReal>
struct Failing {
  template <class... Args>
  static auto Call(Args... args) -> decltype(kReal(args...)) {
    return spent() ? -1 : kReal(args...);
  }
};

// Adds a sheet to the workbook at path; the problem, or "" when saved.
std::string update_problem(const std::string& path, NewFile kind = NewFile::kUnnamedWherePossible) {
  WorkbookUpdate update(kind);
  if (!update.Begin(path, std::chrono::seconds(1)) || !update.Load()) return update.Problem();
  update.Book().AddWorksheet("added", 0);
  return update.Commit() ? "" : update.Problem();
}

// Every call the replacement makes, failed in turn: the workbook stays as
// it was, the message says which step failed, nothing is left beside it.
TEST_F(FileReplacementTest, EachFailingSystemCallRefusesAndKeepsTheOldFile) {
  const std::string path = folder_ + "/faults.xls";
  write_sample(path, 8);
  ASSERT_EQ(chmod(path.c_str(), 0664), 0);
  if (setxattr(path.c_str(), "user.origin", "camera 1", 8, 0) != 0)
    GTEST_SKIP() << "no extended attributes here: " << std::strerror(errno);
  const std::string before = contents(path);
  struct Case {
    void (*fail)(SystemCalls&);
    int budget;
    NewFile kind;
    std::string message;
  };
  constexpr NewFile kUnnamed = NewFile::kUnnamedWherePossible, kNamed = NewFile::kNamed;
  const Case cases[] = {
      {[](SystemCalls& c) { c.fchmod = Failing<::fchmod>::Call; }, 0, kUnnamed,
       "cannot set the permissions of the lock file"},
      {[](SystemCalls& c) { c.fchmod = Failing<::fchmod>::Call; }, 1, kNamed,
       "cannot set the permissions of the new file: Input/output error"},
      {[](SystemCalls& c) { c.fsetxattr = Failing<::fsetxattr>::Call; }, 0, kUnnamed,
       "cannot give the new file the extended attribute"},
      {[](SystemCalls& c) { c.flistxattr = Failing<::flistxattr>::Call; }, 0, kNamed,
       "cannot read the extended attributes of \"" + path + "\""},
      {[](SystemCalls& c) { c.fsync = Failing<::fsync>::Call; }, 0, kUnnamed,
       "cannot write the new file to disk: Input/output error"},
      {[](SystemCalls& c) { c.linkat = Failing<::linkat>::Call; }, 1, kUnnamed,
       "cannot name the new file in the folder"},
      {[](SystemCalls& c) { c.linkat = Failing<::linkat>::Call; }, 0, kNamed,
       "cannot create a file in the folder"},
      {[](SystemCalls& c) { c.renameat2 = Failing<::renameat2>::Call; }, 0, kNamed,
       "cannot replace \"" + path + "\": Input/output error"},
  };
  for (const Case& c : cases) {
    CallsRestored restored;
    c.fail(system_calls());
    g_budget = c.budget;
    const std::string problem = update_problem(path, c.kind);
    EXPECT_NE(problem.find(c.message), std::string::npos) << problem;
    EXPECT_TRUE(contents(path) == before) << c.message;
    EXPECT_EQ(other_files(folder_, {"faults.xls"}), std::vector<std::string>()) << c.message;
  }
}

// The replacement and its check are one step: another program's save (or
// removal) made just before it, held there by the table, is kept and the
// export refused, also where the name was empty; a save that cannot be put
// back is kept beside it; an I/O error of the check is that error. Without
// the one-step forms the check comes just before the rename.
TEST_F(FileReplacementTest, ASaveMadeJustBeforeTheReplacementIsKept) {
  static std::string path, other;
  static int step;  // 0: saves over, 1: removes, 2: saves and the exchange back fails
  path = folder_ + "/raced.xls";
  other = folder_ + "/other.xls";
  write_sample(other, 10);
  const std::string saved = contents(other);
  CallsRestored restored;
  const SystemCalls original = system_calls();
  SystemCalls& calls = system_calls();
  calls.renameat2 = [](int a, const char* b, int d, const char* e, unsigned f) {
    const int call = g_budget--;
    if (call == 0 && step != 1) ::link(other.c_str(), (other + ".copy").c_str());
    if (call == 0 &&
        (step == 1 ? unlink(path.c_str()) : rename((other + ".copy").c_str(), path.c_str())) != 0)
      return -1;
    if (call == -1 && step == 2) return errno = EIO, -1;
    return ::renameat2(a, b, d, e, f);
  };
  const std::string replaced = "\"" + path + "\" was replaced by another program during the save";
  for (step = 0; step < 3; ++step) {
    for (const bool existed : {true, false}) {
      if (step == 1 && !existed) continue;  // nothing to remove
      g_budget = 1000;
      if (existed) write_sample(path, 9);
      ASSERT_TRUE(existed || unlink(path.c_str()) == 0);
      g_budget = 0;
      const std::string problem = update_problem(path);
      if (step == 2 && existed) {
        EXPECT_EQ(problem.rfind(replaced + "; it could not be put back (Input/output error)", 0),
                  0u)
            << problem;
        const std::vector<std::string> left = other_files(folder_, {"raced.xls", "other.xls"});
        ASSERT_EQ(left.size(), 1u);
        EXPECT_TRUE(contents(folder_ + "/" + left[0] + "/kept") == saved);
        fs::remove_all(folder_ + "/" + left[0]);
        continue;
      }
      EXPECT_EQ(problem, replaced) << step;
      EXPECT_EQ(fs::exists(path), step != 1) << step;
      EXPECT_TRUE(step == 1 || contents(path) == saved) << step;
      EXPECT_EQ(other_files(folder_, {"raced.xls", "other.xls"}), std::vector<std::string>());
    }
  }
  write_sample(path, 9);
  const std::string before = contents(path);
  calls = original;
  calls.fstatat = [](int a, const char* b, struct stat* c, int d) {
    return std::strcmp(b, "new") == 0 && spent() ? -1 : ::fstatat(a, b, c, d);
  };
  g_budget = 1;  // the check after the exchange
  EXPECT_EQ(update_problem(path),
            "cannot examine the file the save replaced at \"" + path + "\": Input/output error");
  EXPECT_TRUE(contents(path) == before);

  calls = original;
  calls.renameat2 = [](int a, const char* b, int d, const char* e, unsigned f) {
    return f == 0 ? ::renameat2(a, b, d, e, f) : (errno = EINVAL, -1);
  };
  EXPECT_EQ(update_problem(path), "");
  EXPECT_NE(ExcelFile(path.c_str()).GetWorksheet("added"), nullptr);
  EXPECT_EQ(update_problem(folder_ + "/fresh.xls"), "");
  EXPECT_EQ(other_files(folder_, {"raced.xls", "other.xls", "fresh.xls"}),
            std::vector<std::string>());
}

// A folder that cannot be flushed after the replacement: the new file is
// in place, and the update says so rather than that nothing changed.
TEST_F(FileReplacementTest, AFolderThatCannotBeFlushedIsReportedWithTheNewFileInPlace) {
  const std::string path = folder_ + "/flushed.xls";
  write_sample(path, 11);
  CallsRestored restored;
  system_calls().fsync = Failing<::fsync>::Call;
  g_budget = 1;  // the new file's passes, the folder's fails
  WorkbookUpdate update;
  ASSERT_TRUE(update.Begin(path, std::chrono::seconds(1)) && update.Load());
  update.Book().AddWorksheet("added", 0);
  EXPECT_FALSE(update.Commit());
  EXPECT_TRUE(update.Replaced());
  EXPECT_EQ(update.Problem(), "the new file is at \"" + path +
                                  "\", but its folder could not be written to disk (Input/output "
                                  "error): the change may be lost if the system stops now");
  EXPECT_NE(ExcelFile(path.c_str()).GetWorksheet("added"), nullptr);
}

// A lock file removed by someone else while an export holds it: of two
// exports that then overlap, one saves and the other is refused, whichever
// commits first.
TEST_F(FileReplacementTest, ARemovedLockFileCostsARefusalNeverASheet) {
  const std::string path = folder_ + "/unlocked.xls", lock = folder_ + "/.unlocked.xls.lock";
  for (const bool first_commits_first : {true, false}) {
    write_sample(path, 12);
    auto first = std::make_unique<WorkbookUpdate>(), second = std::make_unique<WorkbookUpdate>();
    ASSERT_TRUE(first->Begin(path, std::chrono::seconds(1)) && first->Load());
    ASSERT_EQ(unlink(lock.c_str()), 0);
    ASSERT_TRUE(second->Begin(path, std::chrono::seconds(1)) && second->Load());
    first->Book().AddWorksheet("first", 0);
    second->Book().AddWorksheet("second", 0);
    if (first_commits_first) {
      EXPECT_FALSE(first->Commit());
      EXPECT_EQ(first->Problem(), "its lock file \"" + lock +
                                      "\" was removed during the export and another export "
                                      "holds a new one");
      EXPECT_TRUE(second->Commit()) << second->Problem();
    } else {
      EXPECT_TRUE(second->Commit()) << second->Problem();
      second.reset();  // its lock released and removed
      EXPECT_FALSE(first->Commit());
      EXPECT_EQ(first->Problem(),
                "\"" + path + "\" was replaced by another program during the save");
    }
    first.reset();
    second.reset();
    ExcelFile book(path.c_str());
    EXPECT_EQ(book.GetWorksheet("first"), nullptr);
    EXPECT_NE(book.GetWorksheet("second"), nullptr);
  }
}

// The sweep of leftovers takes only folders of this target's that no
// replacement holds and that hold nothing but a replacement's file; long
// names that begin alike have leftovers of their own.
TEST_F(FileReplacementTest, TheSweepTakesOnlyUnheldLeftoversOfItsOwnFile) {
  const std::string stem(240, 'x'), a = folder_ + "/" + stem + "a.xls",
                                    b = folder_ + "/" + stem + "b.xls";
  write_sample(a, 13);
  write_sample(b, 14);
  auto new_entries = [&](const std::function<void()>& act) {
    const std::vector<std::string> known = other_files(folder_, {});
    act();
    return other_files(folder_, known);
  };
  // Killed between making its folder and renaming: a leftover each.
  auto leave = [&](const std::string& path) {
    ASSERT_EQ(in_child(false,
                       [&] {
                         FileTarget target;
                         FileReplacement r(target, NewFile::kNamed);
                         _exit(target.Find(path) && target.OpenFile() && r.Begin() ? 0 : 1);
                         return 1;
                       }),
              0);
  };
  const auto left_a = new_entries([&] { leave(a); }), left_b = new_entries([&] { leave(b); });
  ASSERT_EQ(left_a.size(), 1u);
  ASSERT_EQ(left_b.size(), 1u);
  EXPECT_NE(left_a, left_b);
  // The user's own folder, renamed by someone to a leftover's name.
  const std::string kept =
      left_a[0].substr(0, left_a[0].size() - 28) + std::string(24, '0') + ".tmp";
  ASSERT_EQ(mkdir((folder_ + "/" + kept).c_str(), 0700), 0);
  std::ofstream(folder_ + "/" + kept + "/notes.txt") << "mine";
  FileTarget target;
  ASSERT_TRUE(target.Find(a) && target.OpenFile());
  FileReplacement running(target, NewFile::kNamed);
  const auto in_flight = new_entries([&] { ASSERT_TRUE(running.Begin()); });
  ASSERT_EQ(in_flight.size(), 1u);

  RemoveLeftovers(target);
  std::vector<std::string> expected = {kept, left_b[0], in_flight[0]};
  std::vector<std::string> after = other_files(folder_, {stem + "a.xls", stem + "b.xls"});
  std::sort(expected.begin(), expected.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(after, expected);
  EXPECT_TRUE(running.Commit()) << running.Problem();
}

// Sets an access list of the owner, the unprivileged account, the group,
// the mask and others, with these rights, as stored (a version, then tag,
// rights and id per entry); false where there are none.
bool set_acl(const std::string& path, const char* name, const std::array<uint16_t, 5>& rights) {
  constexpr uint16_t kTags[5] = {0x01, 0x02, 0x04, 0x10, 0x20};
  // A fixed array: gcc's -O3 overflow check misreads a growing vector here.
  std::array<uint16_t, 2 + 5 * 4> list{2, 0};
  for (int i = 0; i < 5; ++i) {
    uint16_t* entry = &list[2 + 4 * i];
    entry[0] = kTags[i];
    entry[1] = rights[i];
    entry[2] = static_cast<uint16_t>(i == 1 ? kNobody : 0xFFFF);
    entry[3] = static_cast<uint16_t>(i == 1 ? 0 : 0xFFFF);
  }
  return setxattr(path.c_str(), name, list.data(), list.size() * 2, 0) == 0;
}

// Another user's workbook extended by the unprivileged user becomes that
// user's without its set-ID bits and, where its group cannot be kept,
// without its group bits (an access list's mask with them); the superuser
// keeps owner, group and all bits.
TEST_F(FileReplacementTest, NobodyGainsARightTheOldFileDidNotGive) {
  const std::string setid = folder_ + "/setid.xls", listed = folder_ + "/listed.xls";
  write_sample(setid, 15);
  write_sample(listed, 16);
  ASSERT_EQ(chown(setid.c_str(), kOther, kOther), 0);
  ASSERT_EQ(chmod(setid.c_str(), 06777), 0);
  ASSERT_EQ(chown(listed.c_str(), kOther, kOther), 0);
  if (!set_acl(listed, "system.posix_acl_access", {6, 6, 6, 6, 0}))
    GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
  ASSERT_EQ(update_problem(setid), "");
  struct stat info;
  ASSERT_EQ(stat(setid.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 06777u);
  EXPECT_EQ(info.st_uid, kOther);

  const int result = in_child(true, [&] {
    return update_problem(setid).empty() && update_problem(listed).empty() ? kSaved : kRefused;
  });
  if (result == kNoUnprivilegedUser) GTEST_SKIP() << "cannot run as an unprivileged user here";
  ASSERT_EQ(result, kSaved);
  ASSERT_EQ(stat(setid.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0707u);
  EXPECT_EQ(info.st_uid, kNobody);
  ASSERT_EQ(stat(listed.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0070, 0u);
  EXPECT_EQ(info.st_gid, kNobody);

  // Where even the superuser cannot give the owner and group (fchown
  // failing), the file is the superuser's with neither set-ID nor group bits.
  ASSERT_EQ(chown(setid.c_str(), kOther, kOther), 0);
  ASSERT_EQ(chmod(setid.c_str(), 06777), 0);
  {
    CallsRestored restored;
    system_calls().fchown = Failing<::fchown>::Call;
    g_budget = 0;
    ASSERT_EQ(update_problem(setid), "");
  }
  ASSERT_EQ(stat(setid.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0707u);
  EXPECT_EQ(info.st_uid, geteuid());
}

// In a sticky folder everyone may write: another user's link is not
// followed (not by the superuser either), nor is any link to no file, and
// another user's workbook is refused before any work.
TEST_F(FileReplacementTest, StickyFoldersLinksAndOthersFilesAreRefusedUpFront) {
  ASSERT_EQ(chmod(folder_.c_str(), 01777), 0);
  const std::string mine = folder_ + "/mine.xls", planted = folder_ + "/planted.xls",
                    owned = folder_ + "/owned.xls", dangling = folder_ + "/dangling.xls",
                    theirs = folder_ + "/theirs.xls";
  write_sample(mine, 17);
  write_sample(theirs, 18);
  ASSERT_EQ(chown(theirs.c_str(), kOther, kOther), 0);
  ASSERT_EQ(chmod(theirs.c_str(), 0666), 0);
  ASSERT_EQ(symlink("mine.xls", planted.c_str()), 0);
  ASSERT_EQ(lchown(planted.c_str(), kOther, kOther), 0);
  ASSERT_EQ(symlink("mine.xls", owned.c_str()), 0);  // the folder's owner's
  ASSERT_EQ(symlink("elsewhere.xls", dangling.c_str()), 0);
  const std::string before = contents(mine);
  EXPECT_EQ(update_problem(planted),
            "the link \"" + planted +
                "\" belongs to another user, in a sticky folder everyone may write: it is not "
                "followed");
  EXPECT_TRUE(contents(mine) == before);
  EXPECT_EQ(update_problem(dangling), "the link \"" + dangling + "\" leads to \"" + folder_ +
                                          "/elsewhere.xls\", which does not exist; no file is "
                                          "made through a link");
  EXPECT_FALSE(fs::exists(folder_ + "/elsewhere.xls"));
  EXPECT_EQ(update_problem(owned), "");

  const int result = in_child(true, [&] {
    WorkbookUpdate update;
    return !update.Begin(theirs, std::chrono::seconds(1)) &&
                   update.Problem() == "\"" + theirs +
                                           "\" belongs to another user, in a folder with the "
                                           "sticky bit where only a file's owner may replace it"
               ? kRefused
               : kSaved;
  });
  if (result == kNoUnprivilegedUser) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(result, kRefused);
}

// A member allowed only by the workbook's access list may use the lock
// file another made (it waits for it rather than being refused), and a
// new workbook made named gets the folder's default access list as an
// unnamed one does.
TEST_F(FileReplacementTest, AccessListsReachTheLockFileAndNewFiles) {
  const std::string path = folder_ + "/members.xls";
  write_sample(path, 19);
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  if (!set_acl(path, "system.posix_acl_access", {6, 6, 0, 6, 0}))
    GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
  FileTarget target;
  ASSERT_TRUE(target.Find(path));
  FileLock held;
  ASSERT_TRUE(held.Acquire(target, std::chrono::seconds(1))) << held.Problem();
  const int result = in_child(true, [&] {
    FileTarget mine;
    FileLock lock;
    return mine.Find(path) && !lock.Acquire(mine, std::chrono::milliseconds(50)) &&
                   lock.Problem() ==
                       "another export or save has been changing it for longer than 50 ms"
               ? kRefused
               : kSaved;
  });
  if (result == kNoUnprivilegedUser) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(result, kRefused);
  held.Release();

  const std::string sub = folder_ + "/defaults";
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  ASSERT_TRUE(set_acl(sub, "system.posix_acl_default", {7, 6, 5, 7, 4}));
  const mode_t mask = umask(077);
  EXPECT_EQ(update_problem(sub + "/unnamed.xls", NewFile::kUnnamedWherePossible), "");
  EXPECT_EQ(update_problem(sub + "/named.xls", NewFile::kNamed), "");
  umask(mask);
  struct stat unnamed, named;
  ASSERT_EQ(stat((sub + "/unnamed.xls").c_str(), &unnamed), 0);
  ASSERT_EQ(stat((sub + "/named.xls").c_str(), &named), 0);
  EXPECT_EQ(unnamed.st_mode & 07777, 0664u);
  EXPECT_EQ(named.st_mode & 07777, unnamed.st_mode & 07777);
  EXPECT_EQ(attributes(sub + "/named.xls"), attributes(sub + "/unnamed.xls"));
}

}  // namespace
}  // namespace FileSafety
