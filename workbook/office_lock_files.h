#pragma once
// The lock files office programs leave beside a workbook they have open:
// ".~lock.NAME#" (a line of comma-separated fields: the user's name, login,
// host, date and time, profile) and the owner file "~$NAME" (a length
// byte and the user's name in an 8-bit code page, then at offset 54 a
// 16-bit length and the name again in UTF-16). Saving over a workbook
// another program has open loses that program's next save, or this one's:
// while such a file lies beside it, the workbook is not replaced.
//
// The files lie in a folder others may write, so what they say is
// untrusted: they are opened without following a link or waiting, only a
// regular file is read, and only its first kMaxBytes; the texts taken from
// them are Windows-1252 bytes, printable, at most kMaxText characters.
#include <string>
#include <vector>

#include "file_replacement.h"

namespace YCompoundFiles {
namespace YExcel {

struct OfficeLock {
  static constexpr size_t kMaxBytes = 4096;
  static constexpr size_t kMaxText = 64;

  // Who has the workbook open ("Jane Doe (jdoe on lab-pc)"), and since
  // when; either empty where the file does not say.
  std::string user;
  std::string time;

  // What the content of each kind of file says.
  static OfficeLock FromLockFile(const std::string& bytes);
  static OfficeLock FromOwnerFile(const std::string& bytes);
};

// The names of the lock files an office program may leave for a file of
// that name: ".~lock.NAME#", "~$NAME" and, for names whose part before the
// extension is long, the owner file's shortened forms ("~$" in place of the
// first two characters from 8 characters on, of the first one at 7).
std::vector<std::string> office_lock_names(const std::string& name);

// Why the target's file may not be replaced now: that an office program
// has it open, by whom and since when, and how to go on. Empty when no
// lock file lies beside it.
std::string office_lock_refusal(const FileSafety::FileTarget& target);

}  // namespace YExcel
}  // namespace YCompoundFiles
