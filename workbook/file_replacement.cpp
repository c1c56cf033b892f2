#include "file_replacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {
namespace {

// Links followed before a path counts as a loop (the system's own limit).
constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 100;
// File names beside the target keep at most this much of its name, so that
// "." + name + ".123456.tmp" stays within the 255 bytes a name may have.
constexpr size_t kMaxKeptName = 243;
// How often a held lock is tried again.
constexpr auto kLockPoll = std::chrono::milliseconds(10);

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A hidden name beside the target: "<folder>/." + its name, cut to fit,
// + suffix.
std::string beside(const std::string& target, const std::string& suffix) {
  const std::string folder = folder_of(target);
  return (folder == "/" ? "" : folder) + "/." + base_of(target).substr(0, kMaxKeptName) + suffix;
}

bool flush_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
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

bool ResolveLinks(std::string path, std::string& resolved) {
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      resolved = path;
      return true;
    }
    std::vector<char> link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
    const ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n < 0) return false;
    const std::string to(link.data(), static_cast<size_t>(n));
    path = (to[0] == '/' || path.find('/') == std::string::npos) ? to : folder_of(path) + "/" + to;
  }
  errno = ELOOP;
  return false;
}

FileReplacement::~FileReplacement() {
  Abandon();
}

bool FileReplacement::Fail(const std::string& what, int error) {
  problem_ = what + ": " + std::strerror(error);
  Abandon();
  return false;
}

void FileReplacement::Abandon() {
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

bool FileReplacement::Begin(const std::string& path) {
  Abandon();
  problem_.clear();
  if (path.empty()) {
    problem_ = "no file name given";
    return false;
  }
  if (!ResolveLinks(path, target_)) return Fail("cannot follow the link \"" + path + "\"", errno);

  struct stat info;
  existed_ = stat(target_.c_str(), &info) == 0;
  if (!existed_ && errno != ENOENT) return Fail("cannot examine \"" + target_ + "\"", errno);
  if (existed_) {
    if (!S_ISREG(info.st_mode)) {
      problem_ = "\"" + target_ + "\" is not a regular file";
      return false;
    }
    // Checked by the program itself: the rename below needs only the
    // folder's permission.
    if (faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
      return Fail("\"" + target_ + "\" may not be written", errno);
    mode_ = info.st_mode & 07777;
    owner_ = info.st_uid;
    group_ = info.st_gid;
  }

  const std::string stem = beside(target_, ".");
  const auto seed =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                                      (static_cast<long long>(getpid()) << 20));
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name =
        stem +
        std::to_string((seed + static_cast<unsigned long long>(attempt) * 7919u) % 1000000u) +
        ".tmp";
    // 0666 as an ordinary new file gets it, the umask applied.
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      temporary_ = name;
      return true;
    }
    if (errno != EEXIST)
      return Fail("cannot create a file in the folder \"" + folder_of(target_) + "\"", errno);
  }
  return Fail("cannot create a file in the folder \"" + folder_of(target_) + "\"", EEXIST);
}

bool FileReplacement::Commit() {
  if (temporary_.empty()) {
    if (problem_.empty()) problem_ = "nothing to commit";
    return false;
  }
  const int fd = open(temporary_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return Fail("cannot reopen \"" + temporary_ + "\"", errno);
  if (existed_) {
    // The owner is kept where the user may give it (as the superuser, or
    // the same owner); an owner or group that cannot be kept is no reason
    // to keep the old content.
    const bool owner_kept =
        fchown(fd, owner_, group_) == 0 || fchown(fd, static_cast<uid_t>(-1), group_) == 0;
    static_cast<void>(owner_kept);
    // The mode comes last: with an access list carried, it sets the list's
    // mask to the old group bits, as the old file had it.
    if (!CarryAttributes(fd)) {
      close(fd);
      return false;
    }
    if (fchmod(fd, mode_) != 0) {
      const int error = errno;
      close(fd);
      return Fail("cannot set the permissions of \"" + temporary_ + "\"", error);
    }
  }
  if (fsync(fd) != 0) {
    const int error = errno;
    close(fd);
    return Fail("cannot write \"" + temporary_ + "\" to disk", error);
  }
  if (close(fd) != 0) return Fail("cannot write \"" + temporary_ + "\" to disk", errno);
  if (rename(temporary_.c_str(), target_.c_str()) != 0)
    return Fail("cannot replace \"" + target_ + "\"", errno);
  temporary_.clear();
  // The rename itself reaches the disk with the folder.
  flush_folder(folder_of(target_));
  return true;
}

// Every extended attribute of the old file (its access list is one) goes
// onto the new one, and those the new file got from its folder but the old
// lacked (a default access list's entries) go: either may widen access.
bool FileReplacement::CarryAttributes(int fd) {
  const std::string& old = target_;
  std::vector<char> list;
  if (!query_bytes([&](char* b, size_t n) { return listxattr(old.c_str(), b, n); }, list)) {
    // A file system without them holds none on either file.
    if (errno == ENOTSUP) return true;
    return Fail("cannot read the extended attributes of \"" + old + "\"", errno);
  }
  const std::vector<std::string> names = names_in(list);
  std::vector<char> value, present;
  for (const std::string& name : names) {
    const char* n = name.c_str();
    if (!query_bytes([&](char* b, size_t size) { return getxattr(old.c_str(), n, b, size); },
                     value))
      return Fail("cannot read the extended attribute \"" + name + "\" of \"" + old + "\"", errno);
    // One the new file already holds alike (a security label, say) needs no
    // rights to set.
    if (query_bytes([&](char* b, size_t size) { return fgetxattr(fd, n, b, size); }, present) &&
        present == value)
      continue;
    if (fsetxattr(fd, n, value.data(), value.size(), 0) != 0)
      return Fail(
          "cannot give the new file the extended attribute \"" + name + "\" of \"" + old + "\"",
          errno);
  }
  if (!query_bytes([&](char* b, size_t n) { return flistxattr(fd, b, n); }, list))
    return Fail("cannot read the extended attributes of \"" + temporary_ + "\"", errno);
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
// threads of one process as well as processes. The lock file is removed
// while still held, so a waiter that then gets the lock finds its name gone
// (or another inode behind it) and starts again on the name.
FileLock::~FileLock() {
  Release();
}

void FileLock::Release() {
  if (fd_ < 0) return;
  unlink(name_.c_str());
  close(fd_);
  fd_ = -1;
}

bool FileLock::Acquire(const std::string& path, std::chrono::milliseconds wait) {
  Release();
  problem_.clear();
  if (path.empty()) {
    problem_ = "no file name given";
    return false;
  }
  std::string target;
  if (!ResolveLinks(path, target)) {
    problem_ = "cannot follow the link \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  const std::string name = beside(target, ".lock");
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const int fd = open(name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      problem_ = "cannot create a file in the folder \"" + folder_of(target) +
                 "\": " + std::strerror(errno);
      return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      struct stat held, named;
      if (fstat(fd, &held) == 0 && stat(name.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        fd_ = fd;
        name_ = name;
        return true;
      }
      close(fd);  // released and removed under us: the name is free again
      continue;
    }
    const int error = errno;
    close(fd);
    if (error != EWOULDBLOCK) {
      problem_ = "cannot lock \"" + name + "\": " + std::strerror(error);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
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
