#include "file_replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {
namespace {

// Links followed before a path counts as a loop (the system's own limit).
constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 16;
constexpr size_t kMaxName = 255;
// The new file's name inside the replacement's private folder.
constexpr const char* kNewName = "new";
// How often a held lock is tried again.
constexpr auto kLockPoll = std::chrono::milliseconds(10);
// How long a lock file that may not be opened is taken for one its maker
// has not yet opened to the group.
constexpr auto kLockAccessWait = std::chrono::milliseconds(100);

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A hidden name beside the file: "." + its name, cut to fit, + suffix.
std::string hidden(const std::string& name, const std::string& suffix) {
  return "." + name.substr(0, kMaxName - 1 - suffix.size()) + suffix;
}

// The same beside a shown path, for messages.
std::string shown_beside(const std::string& shown, const std::string& name) {
  const std::string folder = folder_of(shown);
  return shown.find('/') == std::string::npos ? name : (folder == "/" ? "" : folder) + "/" + name;
}

// 96 random bits: a name another user cannot guess or fill.
std::string random_suffix() {
  std::random_device source;
  char text[32];
  std::snprintf(text, sizeof text, ".%08x%08x%08x.tmp", source(), source(), source());
  return text;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The umask, read without changing it (changing it is process-wide).
mode_t process_umask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
  return 022;
}

void flush_folder(int folder) {
  Descriptor readable(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (readable.IsOpen()) fsync(readable.Get());
}

// The bytes a query of unknown size gives (query(nullptr, 0) tells the
// size); tried again when they grew between the two calls.
template <class Query>
bool query_bytes(const Query& query, std::vector<char>& bytes) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t size = query(nullptr, 0);
    if (size < 0) return false;
    bytes.resize(static_cast<size_t>(size));
    if (size == 0) return true;
    const ssize_t got = query(bytes.data(), bytes.size());
    if (got >= 0) {
      bytes.resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
  return false;
}

// The names of a NUL-separated list.
std::vector<std::string> names_in(const std::vector<char>& list) {
  std::vector<std::string> names;
  for (size_t at = 0; at < list.size();) {
    const size_t end =
        std::find(list.begin() + static_cast<std::ptrdiff_t>(at), list.end(), '\0') - list.begin();
    if (end > at) names.emplace_back(list.data() + at, end - at);
    at = end + 1;
  }
  return names;
}

}  // namespace

std::string not_a_file(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder, not a file";
  if (S_ISFIFO(mode)) return "it is a named pipe, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  if (S_ISLNK(mode)) return "it is a symbolic link, not a regular file";
  return "it is not a regular file";
}

void Descriptor::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

bool FileTarget::Find(const std::string& path) {
  folder_.Reset();
  file_.Reset();
  exists_ = false;
  write_refusal_ = open_error_ = 0;
  problem_.clear();
  if (path.empty()) {
    problem_ = "no file name given";
    return false;
  }
  auto fail = [&](const std::string& what) {
    problem_ = what + ": " + std::strerror(errno);
    folder_.Reset();
    return false;
  };
  shown_ = path;
  folder_.Reset(open(folder_of(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder_.IsOpen()) return fail("cannot reach the folder \"" + folder_of(path) + "\"");
  name_ = base_of(path);
  for (int hops = 0;; ++hops) {
    struct stat info;
    if (fstatat(folder_.Get(), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(info.st_mode))
      break;
    errno = ELOOP;
    if (hops == kMaxLinks) return fail("cannot follow the link \"" + path + "\"");
    std::vector<char> link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4095) + 1);
    const ssize_t n = readlinkat(folder_.Get(), name_.c_str(), link.data(), link.size());
    if (n <= 0) {
      if (n == 0) errno = ENOENT;
      return fail("cannot follow the link \"" + path + "\"");
    }
    const std::string to(link.data(), static_cast<size_t>(n));
    // Relative to the folder the link lies in, which is held, not named.
    const int next = openat(to[0] == '/' ? AT_FDCWD : folder_.Get(), folder_of(to).c_str(),
                            O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (next < 0) return fail("cannot follow the link \"" + path + "\"");
    folder_.Reset(next);
    name_ = base_of(to);
    shown_ =
        (to[0] == '/' || shown_.find('/') == std::string::npos) ? to : folder_of(shown_) + "/" + to;
  }
  if (name_.empty() || name_ == "." || name_ == "..") {
    problem_ = "\"" + shown_ + "\" names a folder, not a file";
    folder_.Reset();
    return false;
  }
  return true;
}

bool FileTarget::OpenFile() {
  file_.Reset();
  exists_ = false;
  write_refusal_ = open_error_ = 0;
  if (!folder_.IsOpen()) {
    if (problem_.empty()) problem_ = "no file found";
    return false;
  }
  const char* name = name_.c_str();
  if (fstatat(folder_.Get(), name, &info_, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    problem_ = "cannot examine \"" + shown_ + "\": " + std::strerror(errno);
    return false;
  }
  exists_ = true;
  if (!S_ISREG(info_.st_mode)) return true;
  // Never through a link put there since, and never waiting for a pipe's
  // other end.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = openat(folder_.Get(), name, O_RDWR | kFlags);
  if (fd < 0 && errno != ENOENT && errno != ELOOP) {
    write_refusal_ = errno;
    fd = openat(folder_.Get(), name, O_RDONLY | kFlags);
  }
  if (fd < 0) {
    const int error = errno;
    // Replaced since: examine what is there now, never open it.
    if (fstatat(folder_.Get(), name, &info_, AT_SYMLINK_NOFOLLOW) != 0) exists_ = false;
    if (exists_ && S_ISREG(info_.st_mode)) open_error_ = error;
    return true;
  }
  file_.Reset(fd);
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info_) != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    problem_ = "cannot examine \"" + shown_ + "\": " + std::strerror(errno);
    file_.Reset();
    return false;
  }
  if (!S_ISREG(info_.st_mode)) file_.Reset();
  return true;
}

FileReplacement::FileReplacement(const FileTarget& target, NewFile kind)
    : target_(target), kind_(kind) {}

FileReplacement::~FileReplacement() {
  RemovePrivate();
}

bool FileReplacement::Fail(const std::string& what, int error) {
  problem_ = what + ": " + std::strerror(error);
  RemovePrivate();
  return false;
}

// A folder of the user's own (mode 0700) beside the target, on its file
// system: nobody else can add, replace or rename a name inside it, so the
// new file's name there cannot be turned into a link before the rename. A
// file put at the folder's name cannot take its place (rename refuses to
// put a file over a folder).
bool FileReplacement::MakePrivate() {
  const std::string cannot =
      "cannot create a file in the folder \"" + folder_of(target_.Shown()) + "\"";
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = hidden(target_.Name(), random_suffix());
    if (mkdirat(target_.Folder(), name.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return Fail(cannot, errno);
    }
    private_name_ = name;
    private_.Reset(
        openat(target_.Folder(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    // Another folder put at the name meanwhile is not the user's; an umask
    // that takes the user's own rights is undone.
    if (!private_.IsOpen() || fstat(private_.Get(), &info) != 0 || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0 ||
        ((info.st_mode & 0700) != 0700 && fchmod(private_.Get(), 0700) != 0)) {
      private_.Reset();
      private_name_.clear();
      return Fail(cannot, EEXIST);
    }
    return true;
  }
  return Fail(cannot, EEXIST);
}

// Only names that still hold what this replacement made are removed.
void FileReplacement::RemovePrivate() {
  if (!private_.IsOpen()) return;
  struct stat mine, named;
  if (new_file_.IsOpen() && fstat(new_file_.Get(), &mine) == 0 &&
      fstatat(private_.Get(), kNewName, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(mine, named))
    unlinkat(private_.Get(), kNewName, 0);
  if (fstat(private_.Get(), &mine) == 0 &&
      fstatat(target_.Folder(), private_name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      same_file(mine, named))
    unlinkat(target_.Folder(), private_name_.c_str(), AT_REMOVEDIR);
  private_.Reset();
  private_name_.clear();
}

bool FileReplacement::Begin() {
  RemovePrivate();
  new_file_.Reset();
  problem_.clear();
  const std::string& shown = target_.Shown();
  if (target_.Folder() < 0) {
    problem_ = target_.Problem().empty() ? "no file found" : target_.Problem();
    return false;
  }
  if (target_.Exists()) {
    if (!S_ISREG(target_.Info().st_mode)) {
      problem_ = "\"" + shown + "\" is not a regular file";
      return false;
    }
    if (target_.File() < 0) return Fail("cannot open \"" + shown + "\"", target_.OpenError());
    // Checked by the program itself: the rename below needs only the
    // folder's permission.
    if (target_.WriteRefusal() != 0)
      return Fail("\"" + shown + "\" may not be written", target_.WriteRefusal());
  }
  if (kind_ == NewFile::kUnnamedWherePossible) {
    // Mode 0666, as any new file, the umask or the folder's default access
    // list applied: it has no name until its mode is final, and a killed
    // export leaves nothing.
    new_file_.Reset(openat(target_.Folder(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (new_file_.IsOpen()) return true;
    // File systems (and kernels) without unnamed files.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return Fail("cannot create a file in the folder \"" + folder_of(shown) + "\"", errno);
  }
  if (!MakePrivate()) return false;
  // Readable by the user alone until it is complete.
  new_file_.Reset(
      openat(private_.Get(), kNewName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!new_file_.IsOpen())
    return Fail("cannot create a file in the folder \"" + folder_of(shown) + "\"", errno);
  return true;
}

bool FileReplacement::Commit() {
  if (!new_file_.IsOpen()) {
    if (problem_.empty()) problem_ = "nothing to commit";
    return false;
  }
  const int fd = new_file_.Get();
  const int folder = target_.Folder();
  const std::string& shown = target_.Shown();
  const bool named = private_.IsOpen();
  if (target_.Exists()) {
    struct stat old;
    if (fstat(target_.File(), &old) != 0) return Fail("cannot examine \"" + shown + "\"", errno);
    // The owner is kept where the user may give it (as the superuser, or
    // the same owner); an owner or group that cannot be kept is no reason
    // to keep the old content.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
      const int kept_group = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
      static_cast<void>(kept_group);
    }
    // The mode comes last: with an access list carried, it sets the list's
    // mask to the old group bits, as the old file had it.
    if (!CarryAttributes()) return false;
    if (fchmod(fd, old.st_mode & 07777) != 0)
      return Fail("cannot set the permissions of the new file", errno);
  } else if (named && fchmod(fd, 0666 & ~process_umask()) != 0) {
    return Fail("cannot set the permissions of the new file", errno);
  }
  if (fsync(fd) != 0) return Fail("cannot write the new file to disk", errno);

  // The name still holds the file that was read (or still nothing).
  struct stat now;
  const bool held = fstatat(folder, target_.Name().c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
  if (held != target_.Exists() || (held && !same_file(now, target_.Info()))) {
    problem_ = "\"" + shown + "\" was replaced by another program during the save";
    RemovePrivate();
    return false;
  }
  // An unnamed file gets its name in the private folder first: rename can
  // replace a name, link cannot.
  if (!named) {
    if (!MakePrivate()) return false;
    const std::string own = "/proc/self/fd/" + std::to_string(fd);
    int linked = linkat(AT_FDCWD, own.c_str(), private_.Get(), kNewName, AT_SYMLINK_FOLLOW);
    // Without /proc: the privileged form.
    if (linked != 0 && errno == ENOENT)
      linked = linkat(fd, "", private_.Get(), kNewName, AT_EMPTY_PATH);
    if (linked != 0)
      return Fail("cannot name the new file in the folder \"" + folder_of(shown) + "\"", errno);
  }
  struct stat mine, inside;
  if (fstat(fd, &mine) != 0 ||
      fstatat(private_.Get(), kNewName, &inside, AT_SYMLINK_NOFOLLOW) != 0 ||
      !same_file(mine, inside)) {
    problem_ = "the new file was replaced by another program";
    RemovePrivate();
    return false;
  }
  if (renameat(private_.Get(), kNewName, folder, target_.Name().c_str()) != 0)
    return Fail("cannot replace \"" + shown + "\"", errno);
  RemovePrivate();
  // The rename itself reaches the disk with the folder.
  flush_folder(folder);
  return true;
}

void RemoveLeftovers(const FileTarget& target) {
  if (target.Folder() < 0) return;
  Descriptor listed(openat(target.Folder(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* folder = listed.IsOpen() ? fdopendir(listed.Get()) : nullptr;
  if (folder == nullptr) return;
  listed.Take();
  // The names MakePrivate gives: the hidden prefix, 24 hexadecimal digits, ".tmp".
  const std::string sample = hidden(target.Name(), random_suffix());
  const std::string prefix = sample.substr(0, sample.size() - 28);
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.size() != sample.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0 ||
        name.find_first_not_of("0123456789abcdef", prefix.size()) != name.size() - 4)
      continue;
    // Only a folder of the user's own, as a replacement makes it.
    Descriptor left(
        openat(target.Folder(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    if (!left.IsOpen() || fstat(left.Get(), &info) != 0 || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0)
      continue;
    unlinkat(left.Get(), kNewName, 0);
    unlinkat(target.Folder(), name.c_str(), AT_REMOVEDIR);
  }
  closedir(folder);
}

// Every extended attribute of the old file (its access list is one) goes
// onto the new one, and those the new file got from its folder but the old
// lacked (a default access list's entries) go: either may widen access.
// Attributes the user cannot list (trusted.*) are not seen, so not carried.
bool FileReplacement::CarryAttributes() {
  const int old = target_.File(), fd = new_file_.Get();
  const std::string& shown = target_.Shown();
  std::vector<char> list;
  if (!query_bytes([&](char* b, size_t n) { return flistxattr(old, b, n); }, list)) {
    // A file system without them holds none on either file.
    if (errno == ENOTSUP) return true;
    return Fail("cannot read the extended attributes of \"" + shown + "\"", errno);
  }
  const std::vector<std::string> names = names_in(list);
  std::vector<char> value, present;
  for (const std::string& name : names) {
    const char* n = name.c_str();
    if (!query_bytes([&](char* b, size_t size) { return fgetxattr(old, n, b, size); }, value))
      return Fail("cannot read the extended attribute \"" + name + "\" of \"" + shown + "\"",
                  errno);
    // One the new file already holds alike (a security label, say) needs no
    // rights to set.
    if (query_bytes([&](char* b, size_t size) { return fgetxattr(fd, n, b, size); }, present) &&
        present == value)
      continue;
    if (fsetxattr(fd, n, value.data(), value.size(), 0) != 0)
      return Fail(
          "cannot give the new file the extended attribute \"" + name + "\" of \"" + shown + "\"",
          errno);
  }
  if (!query_bytes([&](char* b, size_t n) { return flistxattr(fd, b, n); }, list))
    return Fail("cannot read the extended attributes of the new file", errno);
  for (const std::string& name : names_in(list)) {
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    if (fremovexattr(fd, name.c_str()) != 0)
      return Fail("cannot remove the extended attribute \"" + name + "\" the new file got", errno);
  }
  return true;
}

// The lock lives on a file of its own beside the target: a lock on the
// target's inode would go with the old inode at the rename, and a waiter
// that then got it would hold a lock on a file no longer there. flock (not
// fcntl record locks) on a description opened for each lock serialises
// threads of one process as well as processes, and needs only a
// description opened for reading. The lock file is removed while still
// held, so a waiter that then gets the lock finds its name gone (or another
// inode behind it) and starts again on the name.
FileLock::~FileLock() {
  Release();
}

void FileLock::Release() {
  if (!lock_.IsOpen()) return;
  struct stat held, named;
  if (fstat(lock_.Get(), &held) == 0 &&
      fstatat(folder_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(held, named))
    unlinkat(folder_, name_.c_str(), 0);
  lock_.Reset();
}

bool FileLock::Acquire(const FileTarget& target, std::chrono::milliseconds wait) {
  Release();
  problem_.clear();
  if (target.Folder() < 0) {
    problem_ = target.Problem().empty() ? "no file found" : target.Problem();
    return false;
  }
  folder_ = target.Folder();
  name_ = hidden(target.Name(), ".lock");
  const std::string shown = "the lock file \"" + shown_beside(target.Shown(), name_) + "\"";
  // Whoever may write the file may use its lock: each class that may write
  // it gets read and write on the lock file, whatever the maker's umask.
  mode_t mode = 0;
  struct stat file;
  if (fstatat(folder_, target.Name().c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(file.st_mode))
    mode = 0600 | (file.st_mode & 0020 ? 0060 : 0) | (file.st_mode & 0002 ? 0006 : 0);

  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    // Opened to others only as the file's mode says (below).
    Descriptor lock(
        openat(folder_, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, mode ? 0600 : 0666));
    const bool made = lock.IsOpen();
    if (!made && errno != EEXIST) {
      problem_ = "cannot create a file in the folder \"" + folder_of(target.Shown()) +
                 "\": " + std::strerror(errno);
      return false;
    }
    if (!made) {
      lock.Reset(openat(folder_, name_.c_str(), O_RDWR | kFlags));
      if (!lock.IsOpen() && errno == EACCES)
        lock.Reset(openat(folder_, name_.c_str(), O_RDONLY | kFlags));
    }
    if (!lock.IsOpen()) {
      const int error = errno;
      if (error == ENOENT) continue;  // removed meanwhile: the name is free again
      if (error == EACCES && std::chrono::steady_clock::now() - start < kLockAccessWait) {
        std::this_thread::sleep_for(kLockPoll);
        continue;
      }
      struct stat what;
      problem_ = "cannot use " + shown + ": " +
                 (fstatat(folder_, name_.c_str(), &what, AT_SYMLINK_NOFOLLOW) == 0 &&
                          !S_ISREG(what.st_mode)
                      ? not_a_file(what.st_mode)
                      : std::strerror(error));
      return false;
    }
    struct stat held;
    if (fstat(lock.Get(), &held) != 0) {
      problem_ = "cannot use " + shown + ": " + std::strerror(errno);
      return false;
    }
    if (!S_ISREG(held.st_mode)) {
      problem_ = "cannot use " + shown + ": " + not_a_file(held.st_mode);
      return false;
    }
    if (made && mode != 0) fchmod(lock.Get(), mode);
    if (flock(lock.Get(), LOCK_EX | LOCK_NB) == 0) {
      struct stat named;
      if (fstatat(folder_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
          same_file(held, named)) {
        lock_.Reset(lock.Take());
        return true;
      }
      continue;  // released and removed under us
    }
    if (errno != EWOULDBLOCK) {
      problem_ = "cannot lock " + shown + ": " + std::strerror(errno);
      return false;
    }
    if (std::chrono::steady_clock::now() - start >= wait) {
      const long long ms = wait.count();
      problem_ = "another export has been changing it for longer than " +
                 (ms % 1000 ? std::to_string(ms) + " ms" : std::to_string(ms / 1000) + " s");
      return false;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
}

}  // namespace YExcel
}  // namespace YCompoundFiles
