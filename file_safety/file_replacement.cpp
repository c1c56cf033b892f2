#include "file_replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace FileSafety {

SystemCalls& system_calls() {
  static SystemCalls calls = {
      ::fsync,
      ::fchmod,
      ::fchown,
      ::fstatat,
      ::linkat,
      [](int from_folder, const char* from, int to_folder, const char* to, unsigned flags) {
        return ::renameat2(from_folder, from, to_folder, to, flags);
      },
      ::flistxattr,
      ::fsetxattr,
  };
  return calls;
}

namespace {

// Links followed before a path counts as a loop (the system's own limit).
constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 16;
constexpr size_t kMaxName = 255;
// The new file's name inside the replacement's private folder.
constexpr const char* kNewName = "new";
// Where another program's file stays that could not be put back.
constexpr const char* kKeptName = "kept";
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

// FNV-1a, 64 bits: the same in every process and build.
uint64_t name_hash(const std::string& name) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  return hash;
}

// A hidden name beside the file: "." + its name + suffix. A name too long
// for that is cut and ends in a hash of the whole, so that long names with
// the same beginning keep names of their own.
std::string hidden(const std::string& name, const std::string& suffix) {
  const size_t room = kMaxName - 1 - suffix.size();
  if (name.size() <= room) return "." + name + suffix;
  char hash[20];
  std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(name_hash(name)));
  return "." + name.substr(0, room - 17) + hash + suffix;
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

// The umask, read without changing it (changing it is process-wide).
mode_t process_umask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
  return 022;
}

// The folder opened for reading, from a descriptor that may only name it.
int readable_folder(int folder) {
  return openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// 0, or why the folder could not be flushed.
int flush_folder(int folder) {
  Descriptor readable(readable_folder(folder));
  if (!readable.IsOpen()) return errno;
  return system_calls().fsync(readable.Get()) == 0 ? 0 : errno;
}

// The errors of a file system (or kernel) without renameat2's flags.
bool unsupported(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Whether a link lying in the folder may be followed, as the kernel
// decides with fs.protected_symlinks=1: in a sticky folder everyone may
// write, only a link of the follower's own or of the folder's owner.
bool may_follow(int folder, const struct stat& link) {
  struct stat info;
  if (fstat(folder, &info) != 0) return false;
  const bool open_sticky = (info.st_mode & S_ISVTX) && (info.st_mode & S_IWOTH);
  return !open_sticky || link.st_uid == geteuid() || link.st_uid == info.st_uid;
}

// Links a file made unnamed (O_TMPFILE) in at the name; errno as linkat's.
int link_unnamed(int fd, int folder, const char* name) {
  const std::string own = "/proc/self/fd/" + std::to_string(fd);
  const int linked = system_calls().linkat(AT_FDCWD, own.c_str(), folder, name, AT_SYMLINK_FOLLOW);
  // Without /proc: the privileged form.
  if (linked != 0 && errno == ENOENT)
    return system_calls().linkat(fd, "", folder, name, AT_EMPTY_PATH);
  return linked;
}

// The permission bits of a file made with mode 0666 under a default
// access list: those of its owner, mask (or group) and other entries.
// False when the list cannot be read as one.
bool mode_under(const std::vector<char>& list, mode_t& mode) {
  // A version (2), then entries of a tag, permissions and an id.
  constexpr size_t kHeader = 4, kEntry = 8;
  if (list.size() < kHeader || (list.size() - kHeader) % kEntry != 0) return false;
  int owner = -1, group = -1, mask = -1, other = -1;
  for (size_t at = kHeader; at < list.size(); at += kEntry) {
    const int tag = static_cast<unsigned char>(list[at]) | static_cast<unsigned char>(list[at + 1])
                                                               << 8;
    const int rights = static_cast<unsigned char>(list[at + 2]) & 7;
    if (tag == 0x01) owner = rights;
    if (tag == 0x04) group = rights;
    if (tag == 0x10) mask = rights;
    if (tag == 0x20) other = rights;
  }
  if (owner < 0 || group < 0 || other < 0) return false;
  mode =
      static_cast<mode_t>((owner & 6) << 6 | ((mask >= 0 ? mask : group) & 6) << 3 | (other & 6));
  return true;
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

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

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
  exists_ = replaced_ = false;
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
  linked_ = false;
  for (int hops = 0;; ++hops) {
    struct stat info;
    if (system_calls().fstatat(folder_.Get(), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return fail("cannot examine \"" + shown_ + "\"");
      // Nothing is made through a link: where it leads is not the user's
      // choice alone.
      if (linked_) {
        problem_ = "the link \"" + path + "\" leads to \"" + shown_ +
                   "\", which does not exist; no file is made through a link";
        folder_.Reset();
        return false;
      }
      break;
    }
    if (!S_ISLNK(info.st_mode)) break;
    errno = ELOOP;
    if (hops == kMaxLinks) return fail("cannot follow the link \"" + path + "\"");
    if (!may_follow(folder_.Get(), info)) {
      problem_ = "the link \"" + shown_ +
                 "\" belongs to another user, in a sticky folder everyone may write: it is not "
                 "followed";
      folder_.Reset();
      return false;
    }
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
    linked_ = true;
    shown_ =
        (to[0] == '/' || shown_.find('/') == std::string::npos) ? to : folder_of(shown_) + "/" + to;
    if (name_.empty() || name_ == "." || name_ == "..") break;
  }
  if (name_.empty() || name_ == "." || name_ == "..") {
    problem_ = "\"" + shown_ + "\" names a folder, not a file";
    folder_.Reset();
    return false;
  }
  return true;
}

bool FileTarget::FindAgain(const FileTarget& found) {
  if (&found == this) return folder_.IsOpen();
  file_.Reset();
  exists_ = replaced_ = false;
  write_refusal_ = open_error_ = 0;
  problem_.clear();
  folder_.Reset(found.Folder() < 0 ? -1 : fcntl(found.Folder(), F_DUPFD_CLOEXEC, 0));
  name_ = found.name_;
  shown_ = found.shown_;
  linked_ = found.linked_;
  if (!folder_.IsOpen()) problem_ = "cannot reach the folder of \"" + shown_ + "\"";
  return folder_.IsOpen();
}

bool FileTarget::SamePlace(const FileTarget& other) const {
  struct stat mine, theirs;
  return name_ == other.name_ && fstat(folder_.Get(), &mine) == 0 &&
         fstat(other.folder_.Get(), &theirs) == 0 && same_file(mine, theirs);
}

std::string FileTarget::ReplaceRefusal() const {
  struct stat folder;
  if (!exists_ || geteuid() == 0 || info_.st_uid == geteuid() ||
      fstat(folder_.Get(), &folder) != 0 || !(folder.st_mode & S_ISVTX) ||
      folder.st_uid == geteuid())
    return "";
  return "\"" + shown_ +
         "\" belongs to another user, in a folder with the sticky bit where only a file's owner "
         "may replace it";
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
  if (system_calls().fstatat(folder_.Get(), name, &info_, AT_SYMLINK_NOFOLLOW) != 0) {
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
// put a file over a folder). It is held locked while in use, so that no
// sweep of leftovers (RemoveLeftovers) takes it.
bool FileReplacement::MakePrivate() {
  const std::string cannot =
      "cannot create a file in the folder \"" + folder_of(target_.Shown()) + "\"";
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = hidden(target_.Name(), random_suffix());
    if (mkdirat(target_.Folder(), name.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return Fail(cannot, errno);
    }
    Descriptor made(
        openat(target_.Folder(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info, named;
    // Another folder put at the name meanwhile is not the user's; an umask
    // that takes the user's own rights is undone.
    if (!made.IsOpen() || fstat(made.Get(), &info) != 0 || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0 ||
        ((info.st_mode & 0700) != 0700 && fchmod(made.Get(), 0700) != 0))
      return Fail(cannot, EEXIST);
    // A sweep that took it first has removed it, or is about to.
    if (flock(made.Get(), LOCK_EX | LOCK_NB) != 0 ||
        system_calls().fstatat(target_.Folder(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !same_file(info, named))
      continue;
    private_.Reset(made.Take());
    private_name_ = name;
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
    problem_ = target_.ReplaceRefusal();
    if (!problem_.empty()) return false;
  } else if (target_.linked_) {
    problem_ =
        "\"" + shown + "\", where a link leads, does not exist; no file is made through a link";
    return false;
  }
  if (kind_ == NewFile::kUnnamedWherePossible) {
    // Mode 0666, as any new file, the umask or the folder's default access
    // list applied: it has no name until its mode is final, and a killed
    // process leaves nothing.
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

// A new file made named gets what an unnamed one gets from its folder: the
// default access list as its own, masked by mode 0666, else the umask.
bool FileReplacement::TakeDefaultAccessList() {
  const int fd = new_file_.Get();
  std::vector<char> list;
  Descriptor folder(readable_folder(target_.Folder()));
  const bool listed = folder.IsOpen() &&
                      query_bytes(
                          [&](char* b, size_t n) {
                            return fgetxattr(folder.Get(), "system.posix_acl_default", b, n);
                          },
                          list) &&
                      !list.empty();
  mode_t mode = 0666 & ~process_umask();
  if (listed) {
    if (!mode_under(list, mode))
      return Fail("cannot read the default access list of the folder", EINVAL);
    if (system_calls().fsetxattr(fd, "system.posix_acl_access", list.data(), list.size(), 0) != 0)
      return Fail("cannot give the new file the folder's default access list", errno);
  }
  if (system_calls().fchmod(fd, mode) != 0)
    return Fail("cannot set the permissions of the new file", errno);
  return true;
}

bool FileReplacement::Commit() {
  if (!new_file_.IsOpen()) {
    if (problem_.empty()) problem_ = "nothing to commit";
    return false;
  }
  SystemCalls& sys = system_calls();
  const int fd = new_file_.Get();
  const std::string& shown = target_.Shown();
  const bool named = private_.IsOpen();
  if (target_.Exists()) {
    struct stat old;
    if (fstat(target_.File(), &old) != 0) return Fail("cannot examine \"" + shown + "\"", errno);
    // The owner is kept where the user may give it (as the superuser, or
    // the same owner); an owner or group that cannot be kept is no reason
    // to keep the old content.
    const bool both = sys.fchown(fd, old.st_uid, old.st_gid) == 0;
    const bool owner_kept = both || old.st_uid == geteuid();
    const bool group_kept = both || sys.fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
    // The mode comes last: with an access list carried, it sets the list's
    // mask to the group bits, as the old file had it (or to nothing).
    if (!CarryAttributes()) return false;
    // Nobody gains a right: the group's bits go only to the same group,
    // the set-ID bits only to the same owner (and group).
    mode_t mode = old.st_mode & 0777;
    if (!group_kept) mode &= ~static_cast<mode_t>(070);
    if (owner_kept) mode |= old.st_mode & S_ISUID;
    if (owner_kept && group_kept) mode |= old.st_mode & S_ISGID;
    if (sys.fchmod(fd, mode) != 0) return Fail("cannot set the permissions of the new file", errno);
  } else if (named && !TakeDefaultAccessList()) {
    return false;
  }
  if (sys.fsync(fd) != 0) return Fail("cannot write the new file to disk", errno);

  // An unnamed file gets its name in the private folder first: rename can
  // replace a name, link cannot.
  if (!named) {
    if (!MakePrivate()) return false;
    if (link_unnamed(fd, private_.Get(), kNewName) != 0)
      return Fail("cannot name the new file in the folder \"" + folder_of(shown) + "\"", errno);
  }
  struct stat mine, inside;
  if (fstat(fd, &mine) != 0 ||
      sys.fstatat(private_.Get(), kNewName, &inside, AT_SYMLINK_NOFOLLOW) != 0 ||
      !same_file(mine, inside)) {
    problem_ = "the new file was replaced by another program";
    RemovePrivate();
    return false;
  }
  if (last_check_) {
    const std::string refusal = last_check_();
    if (!refusal.empty()) {
      problem_ = refusal;
      RemovePrivate();
      return false;
    }
  }
  if (!Place()) return false;
  target_.replaced_ = true;
  RemovePrivate();
  // The replacement itself reaches the disk with the folder.
  if (const int error = flush_folder(target_.Folder())) {
    problem_ = "the new file is at \"" + shown +
               "\", but its folder could not be written to disk (" + std::strerror(error) +
               "): the change may be lost if the system stops now";
    return false;
  }
  return true;
}

// The new file takes the target's name: exchanged with what is there and
// checked, or filled in where the name is empty, in one step each; where
// the file system has no such step, checked and then renamed.
bool FileReplacement::Place() {
  SystemCalls& sys = system_calls();
  const int folder = target_.Folder(), own = private_.Get();
  const char* name = target_.Name().c_str();
  const std::string& shown = target_.Shown();
  const std::string replaced = "\"" + shown + "\" was replaced by another program during the save";
  auto refuse = [&](const std::string& why) {
    problem_ = why;
    RemovePrivate();
    return false;
  };
  if (!target_.Exists()) {
    if (sys.renameat2(own, kNewName, folder, name, RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return refuse(replaced);
    if (!unsupported(errno)) return Fail("cannot replace \"" + shown + "\"", errno);
  } else if (sys.renameat2(own, kNewName, folder, name, RENAME_EXCHANGE) == 0) {
    struct stat out;
    const int error = sys.fstatat(own, kNewName, &out, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    if (error == 0 && same_file(out, target_.Info())) {
      // The old file, now in the private folder, goes.
      unlinkat(own, kNewName, 0);
      return true;
    }
    const std::string why = error ? "cannot examine the file the save replaced at \"" + shown +
                                        "\": " + std::strerror(error)
                                  : replaced;
    if (sys.renameat2(own, kNewName, folder, name, RENAME_EXCHANGE) != 0) {
      // What came out stays, under a name no sweep of leftovers takes,
      // for the user to put back.
      target_.replaced_ = true;
      const int error = errno;
      const char* keep = renameat(own, kNewName, own, kKeptName) == 0 ? kKeptName : kNewName;
      const std::string kept = shown_beside(shown, private_name_) + "/" + keep;
      private_.Reset();
      errno = error;
      problem_ = why + "; it could not be put back (" + std::strerror(errno) + ") and is at \"" +
                 kept + "\"";
      return false;
    }
    return refuse(why);
  } else if (errno == ENOENT) {
    return refuse(replaced);  // removed meanwhile
  } else if (!unsupported(errno)) {
    return Fail("cannot replace \"" + shown + "\"", errno);
  }
  // Without the one-step forms: a check, then the rename.
  struct stat now;
  bool held = true;
  if (sys.fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return Fail("cannot examine \"" + shown + "\"", errno);
    held = false;
  }
  if (held != target_.Exists() || (held && !same_file(now, target_.Info())))
    return refuse(replaced);
  if (sys.renameat2(own, kNewName, folder, name, 0) != 0)
    return Fail("cannot replace \"" + shown + "\"", errno);
  return true;
}

void RemoveLeftovers(const FileTarget& target) {
  if (target.Folder() < 0) return;
  Descriptor listed(readable_folder(target.Folder()));
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
    // Only a folder of the user's own, as a replacement makes it, that no
    // replacement holds.
    Descriptor left(
        openat(target.Folder(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    if (!left.IsOpen() || fstat(left.Get(), &info) != 0 || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0 || flock(left.Get(), LOCK_EX | LOCK_NB) != 0)
      continue;
    // Holding nothing but what a replacement leaves: its file, or nothing.
    Descriptor inner(readable_folder(left.Get()));
    DIR* content = inner.IsOpen() ? fdopendir(inner.Get()) : nullptr;
    if (content == nullptr) continue;
    inner.Take();
    bool only_ours = true;
    while (const dirent* e = readdir(content)) {
      const std::string in = e->d_name;
      struct stat what;
      if (in == "." || in == "..") continue;
      if (in != kNewName || fstatat(left.Get(), kNewName, &what, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISREG(what.st_mode))
        only_ours = false;
    }
    closedir(content);
    if (!only_ours) continue;
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
  if (!query_bytes([&](char* b, size_t n) { return system_calls().flistxattr(old, b, n); }, list)) {
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
    if (system_calls().fsetxattr(fd, n, value.data(), value.size(), 0) != 0)
      return Fail(
          "cannot give the new file the extended attribute \"" + name + "\" of \"" + shown + "\"",
          errno);
  }
  if (!query_bytes([&](char* b, size_t n) { return system_calls().flistxattr(fd, b, n); }, list))
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
  if (StillHeld()) unlinkat(folder_, name_.c_str(), 0);
  lock_.Reset();
}

bool FileLock::StillHeld() const {
  struct stat held, named;
  return lock_.IsOpen() && fstat(lock_.Get(), &held) == 0 &&
         system_calls().fstatat(folder_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         same_file(held, named);
}

bool FileLock::Taken() const {
  if (!lock_.IsOpen() || StillHeld()) return false;
  struct stat named;
  if (system_calls().fstatat(folder_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(named.st_mode))
    return false;  // nothing a lock is held on
  Descriptor other(
      openat(folder_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!other.IsOpen()) return errno != ENOENT && errno != ELOOP;  // cannot tell: taken
  if (flock(other.Get(), LOCK_EX | LOCK_NB) != 0) return true;
  flock(other.Get(), LOCK_UN);
  return false;
}

std::string FileLock::Shown() const {
  return shown_beside(shown_, name_);
}

// A new lock file, complete before it has its name: the file's access
// list and the mode given to an unnamed file, which is then linked in. True
// with no descriptor when another lock file took the name first.
bool FileLock::Make(mode_t mode, const std::vector<char>& list, const std::string& shown,
                    Descriptor& lock) {
  SystemCalls& sys = system_calls();
  auto fail = [&](const std::string& what) {
    problem_ = what + ": " + std::strerror(errno);
    lock.Reset();
    return false;
  };
  lock.Reset(openat(folder_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode ? 0600 : 0666));
  const bool unnamed = lock.IsOpen();
  if (!unnamed) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return fail("cannot create a file in the folder \"" + folder_of(shown_) + "\"");
    // Without unnamed files: made at the name, and for a moment the
    // maker's alone (others wait for it; see Acquire).
    lock.Reset(openat(folder_, name_.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      mode ? 0600 : 0666));
    if (!lock.IsOpen())
      return errno == EEXIST ||
             fail("cannot create a file in the folder \"" + folder_of(shown_) + "\"");
  }
  if (!list.empty() &&
      sys.fsetxattr(lock.Get(), "system.posix_acl_access", list.data(), list.size(), 0) != 0)
    return fail("cannot give " + shown + " the file's access list");
  if (mode != 0 && sys.fchmod(lock.Get(), mode) != 0)
    return fail("cannot set the permissions of " + shown);
  if (unnamed && link_unnamed(lock.Get(), folder_, name_.c_str()) != 0) {
    if (errno == EEXIST) {
      lock.Reset();
      return true;
    }
    return fail("cannot create a file in the folder \"" + folder_of(shown_) + "\"");
  }
  return true;
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
  shown_ = target.Shown();
  const std::string shown = "the lock file \"" + shown_beside(target.Shown(), name_) + "\"";
  // Whoever may write the file may use its lock: each class that may write
  // it gets read and write on the lock file, whatever the maker's umask,
  // and the file's access list names those it names.
  mode_t mode = 0;
  std::vector<char> list;
  struct stat file;
  if (fstatat(folder_, target.Name().c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(file.st_mode)) {
    mode = 0600 | (file.st_mode & 0020 ? 0060 : 0) | (file.st_mode & 0002 ? 0006 : 0);
    const std::string path = "/proc/self/fd/" + std::to_string(folder_) + "/" + target.Name();
    if (!query_bytes(
            [&](char* b, size_t n) {
              return lgetxattr(path.c_str(), "system.posix_acl_access", b, n);
            },
            list))
      list.clear();
  }

  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const auto start = std::chrono::steady_clock::now();
  // A lock file this one may not open, and since when: one made without
  // unnamed files may be its maker's alone for a moment.
  struct stat denied {};
  auto denied_since = start;
  for (;;) {
    Descriptor lock(openat(folder_, name_.c_str(), O_RDWR | kFlags));
    if (!lock.IsOpen() && errno == EACCES)
      lock.Reset(openat(folder_, name_.c_str(), O_RDONLY | kFlags));
    if (!lock.IsOpen() && errno == ENOENT) {
      if (!Make(mode, list, shown, lock)) return false;
      if (!lock.IsOpen()) continue;  // another made it first
    }
    if (!lock.IsOpen()) {
      const int error = errno;
      struct stat what;
      const bool there = fstatat(folder_, name_.c_str(), &what, AT_SYMLINK_NOFOLLOW) == 0;
      if (!there && errno == ENOENT) continue;  // removed meanwhile: the name is free again
      if (error == EACCES && there && S_ISREG(what.st_mode)) {
        const auto now = std::chrono::steady_clock::now();
        if (!same_file(what, denied)) {
          denied = what;
          denied_since = now;
        }
        if (now - denied_since < kLockAccessWait) {
          std::this_thread::sleep_for(kLockPoll);
          continue;
        }
      }
      problem_ =
          "cannot use " + shown + ": " +
          (there && !S_ISREG(what.st_mode) ? not_a_file(what.st_mode) : std::strerror(error));
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
      problem_ = "another export or save has been changing it for longer than " +
                 (ms % 1000 ? std::to_string(ms) + " ms" : std::to_string(ms / 1000) + " s");
      return false;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
}

}  // namespace FileSafety
