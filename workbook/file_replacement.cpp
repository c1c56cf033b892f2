#include "file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {
namespace {

// Links followed before a path counts as a loop (the system's own limit).
constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 100;

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path with every symbolic link of its last component followed. False
// (errno set) for a loop or an unreadable link; a missing final file is
// not an error (lstat's ENOENT is left to the caller).
bool follow_links(std::string path, std::string& resolved) {
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

bool flush_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace

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
  if (!follow_links(path, target_)) return Fail("cannot follow the link \"" + path + "\"", errno);

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

  const std::string folder = folder_of(target_);
  const std::string stem = (folder == "/" ? "" : folder) + "/." + base_of(target_) + ".";
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

}  // namespace YExcel
}  // namespace YCompoundFiles
