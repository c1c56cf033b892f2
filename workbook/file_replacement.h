#pragma once
// Replaces a file so that, whatever fails on the way, the path holds either
// the old file, byte for byte, or the complete new one.
//
// The new content goes into a temporary file beside the target (same
// folder, so the final rename stays on one file system); Commit flushes it
// to disk, gives it the old file's permission bits (and owner, where the
// user may set it) and renames it over the target. A symbolic link is
// followed: its target is replaced and the link stays a link. A file the
// user may not write is refused, since the rename would otherwise get round
// its permission (which needs only the folder's). Hard links to the old
// file keep the old content.
//
// Problems are reported as texts naming the file and the reason.
#include <sys/types.h>

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

  std::string target_;
  std::string temporary_;
  std::string problem_;
  bool existed_ = false;
  mode_t mode_ = 0;
  uid_t owner_ = 0;
  gid_t group_ = 0;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
