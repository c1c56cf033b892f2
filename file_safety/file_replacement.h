#pragma once
// Finding, locking and replacing one file in a folder that other users may
// write, without ever reopening a name.
//
// FileTarget follows the links of a path's last component once and holds
// the folder they end in open; everything after that works relative to
// that folder (the *at calls) on the one name found there, so renaming or
// relinking names meanwhile cannot move the work to another file. A link
// is followed only where the kernel follows it for a careful system
// (fs.protected_symlinks=1, whatever this one says): in a sticky folder
// everyone may write, only a link of the follower's own or of the folder's
// owner. A link that leads to no file is never followed to make one. The
// file itself is opened once, without following a link or waiting, and
// read, examined and replaced through that descriptor.
//
// FileReplacement writes the new content into a file made for it alone:
// unnamed (O_TMPFILE) where the file system allows, else created
// exclusively at mode 0600 inside the private folder below. Owner,
// extended attributes (access lists among them) and permission bits are
// given through the new file's descriptor, which is flushed to disk. Only
// the permission bits (0777) are carried: set-user-ID only where the owner
// is kept, set-group-ID only where owner and group are; the group's bits
// only where the group is kept (else nobody of the user's group gains what
// the old group had). The new file has its name inside a new folder of
// mode 0700 beside the target, named with 96 random bits, where nobody
// else can put a link in its place, and held locked (flock) while in use.
// From there it takes the target's name in one step that also tells what
// it replaced: the two names are exchanged (renameat2 RENAME_EXCHANGE) and
// what came out must be the file that was opened, else they are exchanged
// back and the save is refused; an empty name is filled only while still
// empty (RENAME_NOREPLACE). Where the file system has neither, the name is
// examined and then renamed over: a save another program makes in the
// moment between the two is lost (the only guarantee there is the one of
// the check just before). Whatever fails, the name keeps the old file,
// byte for byte. Attributes that cannot be carried refuse the save (a
// file without them might grant access the old one did not). Hard links
// to the old file keep the old content; the new file belongs to the user
// who saves, where the owner cannot be given.
//
// FileLock serialises the load-change-save of one file among processes
// and threads: hold it from before the file is opened until after the
// replacement is committed.
//
// The system calls that change or examine files go through a table
// (SystemCalls) that tests may change to fail any one of them.
//
// Problems are reported as texts naming the file and the reason.
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace FileSafety {

// The system calls this module makes where a failure takes a branch of its
// own; the table starts with the system's functions.
struct SystemCalls {
  int (*fsync)(int fd);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*fstatat)(int folder, const char* name, struct stat* info, int flags);
  int (*linkat)(int from_folder, const char* from, int to_folder, const char* to, int flags);
  int (*renameat2)(int from_folder, const char* from, int to_folder, const char* to,
                   unsigned flags);
  ssize_t (*flistxattr)(int fd, char* list, size_t size);
  int (*fsetxattr)(int fd, const char* name, const void* value, size_t size, int flags);
};
SystemCalls& system_calls();

// A descriptor owned: closed on destruction.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(); }
  void Reset(int fd = -1);
  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Take() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

class FileTarget {
 public:
  // Follows every link of the path's last component (a missing final file
  // is no error, unless a link names it) and opens the folder the last one
  // names. False, with Problem() set, for a loop, an unreadable link, a
  // link the kernel would not follow in a careful set-up, a link to no
  // file or a folder that cannot be reached.
  bool Find(const std::string& path);
  // Opens the file at the name, where there is one: for reading and
  // writing where the user may, else for reading, never through a link and
  // never waiting (a named pipe). Anything but a regular file is noted, not
  // opened. False, with Problem() set, when the name cannot be examined.
  bool OpenFile();
  // The name found by another target, in the folder it holds (a duplicate
  // of its descriptor), looked up no further: for a later save into the
  // same place whatever happens to the path meanwhile. False, with
  // Problem() set, when the folder cannot be held.
  bool FindAgain(const FileTarget& found);
  // Whether the two name the same name in the same folder.
  bool SamePlace(const FileTarget& other) const;

  int Folder() const { return folder_.Get(); }
  const std::string& Name() const { return name_; }
  // The folder and name, for messages.
  const std::string& Shown() const { return shown_; }
  bool Exists() const { return exists_; }
  // What is at the name, when it exists (as OpenFile found it).
  const struct stat& Info() const { return info_; }
  // The regular file opened, or -1.
  int File() const { return file_.Get(); }
  // 0 when the file is open for writing, else why it is not.
  int WriteRefusal() const { return write_refusal_; }
  // Why a regular file at the name could not be opened at all (0: it was).
  int OpenError() const { return open_error_; }
  // Whether the name holds the new file of a replacement (committed, even
  // where the commit then failed to reach the disk).
  bool Replaced() const { return replaced_; }
  // Why the user may not replace the file at the name, or "": in a sticky
  // folder only the file's or the folder's owner may.
  std::string ReplaceRefusal() const;
  const std::string& Problem() const { return problem_; }

 private:
  friend class FileReplacement;
  Descriptor folder_;
  Descriptor file_;
  std::string name_;
  std::string shown_;
  std::string problem_;
  struct stat info_ {};
  bool exists_ = false;
  int write_refusal_ = 0;
  int open_error_ = 0;
  // The name was reached through a link.
  bool linked_ = false;
  mutable bool replaced_ = false;
};

// Whether the two describe the same file.
bool same_file(const struct stat& a, const struct stat& b);

// What kind of thing other than a regular file the mode describes:
// "it is a folder, not a file", "it is a named pipe, not a regular file", ...
std::string not_a_file(mode_t mode);

// Where the new content is made.
enum class NewFile {
  kUnnamedWherePossible,  // O_TMPFILE, else a named file
  kNamed,                 // a named file beside the target always
};

class FileReplacement {
 public:
  // The target must stay alive and opened (OpenFile) until Commit.
  explicit FileReplacement(const FileTarget& target, NewFile kind = NewFile::kUnnamedWherePossible);
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // Removes a named new file unless Commit succeeded.
  ~FileReplacement();

  // Checks that an existing target is a regular file the user may write,
  // and makes the new file. False, with Problem() set, when either fails.
  bool Begin();
  // The new file, open for reading and writing, between Begin and the
  // destruction (after Commit it holds the file at the target's name).
  int NewDescriptor() const { return new_file_.Get(); }
  // Carries owner, attributes and mode, flushes and replaces. False, with
  // Problem() set and the new file gone, when any step fails or a name was
  // changed by someone else; the target's name then holds what it held.
  // Only a folder that cannot be flushed after the replacement leaves the
  // new file in place with Commit false (FileTarget::Replaced).
  bool Commit();
  // A check Commit makes last, just before the new file takes the name: a
  // text it returns refuses the replacement, as Problem().
  void CheckLast(std::function<std::string()> check) { last_check_ = std::move(check); }

  const std::string& Problem() const { return problem_; }

 private:
  bool Fail(const std::string& what, int error);
  bool CarryAttributes();
  bool TakeDefaultAccessList();
  bool MakePrivate();
  void RemovePrivate();
  bool Place();

  const FileTarget& target_;
  NewFile kind_;
  Descriptor new_file_;
  // A folder only the user may change, beside the target, where the new
  // file has its name (the named kind from the start, the unnamed one just
  // before the rename); removed again.
  Descriptor private_;
  std::string private_name_;
  std::string problem_;
  std::function<std::string()> last_check_;
};

// Removes what replacements of the target's file that were killed before
// they finished left beside it: folders of the user's own named as a
// replacement names them (long names with a hash of the whole name), that
// no replacement holds locked and that hold nothing but the file one
// leaves, or nothing.
void RemoveLeftovers(const FileTarget& target);

// An exclusive advisory lock on a file's content, taken on a lock file
// beside it (".<name>.lock", in the folder of the file the path links to)
// and removed again on release. The lock file is opened without following
// a link or waiting, must be a regular file, and is usable by everyone who
// may write the file: it gets the file's access list and, for each class
// that may write the file, read and write, before it gets its name (made
// unnamed and linked in), so nobody meets it half made. Who may not open
// it for writing opens it for reading (flock needs no more).
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // Waits at most `wait` for the lock on the target's file (FileTarget::Find
  // done). False, with Problem() set, at once when the lock file cannot be
  // made or used, or when another holder keeps it that long.
  bool Acquire(const FileTarget& target, std::chrono::milliseconds wait);
  void Release();
  // Whether the lock file held is still the one at the lock's name.
  bool StillHeld() const;
  // Whether another may hold the lock now: someone removed the lock file
  // held, and another lock file at the name is locked (or cannot be
  // examined). Nothing at the name, or nothing a lock could be taken on,
  // is no holder.
  bool Taken() const;
  // The lock file, for messages.
  std::string Shown() const;
  const std::string& Problem() const { return problem_; }

 private:
  bool Make(mode_t mode, const std::vector<char>& list, const std::string& shown, Descriptor& lock);
  Descriptor lock_;
  int folder_ = -1;
  std::string name_;
  std::string shown_;
  std::string problem_;
};

}  // namespace FileSafety
