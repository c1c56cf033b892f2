#pragma once
// Replaces a file so that, whatever fails on the way, the path holds either
// the old file, byte for byte, or the complete new one.
//
// The new content goes into a temporary file beside the target (same
// folder, so the final rename stays on one file system); Commit flushes it
// to disk, gives it the old file's permission bits, extended attributes
// (access control lists among them) and owner, where the user may set it,
// and renames it over the target. Extended attributes that cannot be
// carried refuse the save: a file without them might grant access the old
// one did not (a file's group bits widen when its list goes). A symbolic
// link is
// followed: its target is replaced and the link stays a link. A file the
// user may not write is refused, since the rename would otherwise get round
// its permission (which needs only the folder's). Hard links to the old
// file keep the old content.
//
// FileLock serialises the load-change-save of one file among processes
// and threads: hold it from before the file is read until after the
// replacement is committed.
//
// Problems are reported as texts naming the file and the reason.
#include <sys/types.h>

#include <chrono>
#include <string>

namespace YCompoundFiles {
namespace YExcel {

class FileReplacement {
 public:
  FileReplacement() = default;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // Removes the temporary file unless Commit succeeded.
  ~FileReplacement();

  // Finds the file to replace (following symbolic links), checks that an
  // existing one is a regular file the user may write, and creates an empty
  // temporary file beside it. False, with Problem() set, when any step fails.
  bool Begin(const std::string& path);
  // Where the new content is to be written, between Begin and Commit.
  const std::string& TemporaryPath() const { return temporary_; }
  // The file that is replaced: the path with symbolic links resolved.
  const std::string& Target() const { return target_; }
  // Flushes, sets permissions, renames. False, with Problem() set and the
  // temporary file removed, when any step fails; the target is then as it
  // was.
  bool Commit();
  // Removes the temporary file now (after a failed write, say).
  void Abandon();

  const std::string& Problem() const { return problem_; }

 private:
  bool Fail(const std::string& what, int error);
  bool CarryAttributes(int fd);

  std::string target_;
  std::string temporary_;
  std::string problem_;
  bool existed_ = false;
  mode_t mode_ = 0;
  uid_t owner_ = 0;
  gid_t group_ = 0;
};

// The path with every symbolic link of its last component followed; false
// (errno set) for a loop or an unreadable link. A missing final file is no
// error.
bool ResolveLinks(std::string path, std::string& resolved);

// An exclusive advisory lock on a file's content, taken on a lock file
// beside it (".<name>.lock", in the folder of the file the path links to)
// and removed again on release.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // Waits at most `wait` for the lock. False, with Problem() set, when the
  // lock file cannot be made or another holder keeps it that long.
  bool Acquire(const std::string& path, std::chrono::milliseconds wait);
  void Release();
  const std::string& Problem() const { return problem_; }

 private:
  int fd_ = -1;
  std::string name_;
  std::string problem_;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
