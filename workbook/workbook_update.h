#pragma once
// One update of one workbook file, from finding it to replacing it: what
// an export does. The path is looked up once (Begin): its links followed,
// the folder they end in held open, the lock taken there, the file opened.
// From then on the update works on what it holds, so nothing another
// process does to the names meanwhile can send the load or the save to
// another file: the save replaces the file that was loaded (or fills the
// name that was empty), or is refused.
//
//   WorkbookUpdate update;
//   update.Begin(path, wait);   // find, lock, open
//   update.Load();              // the workbook there, or a new one
//   ... change update.Book() ...
//   update.Commit();            // write and replace; the lock goes with
//                               // the object
//
// Each step is false, with Problem() set, when it fails; the file is then
// as it was.
#include <chrono>
#include <string>

#include "excel_file.h"
#include "file_replacement.h"

namespace YCompoundFiles {
namespace YExcel {

class WorkbookUpdate {
 public:
  explicit WorkbookUpdate(NewFile kind = NewFile::kUnnamedWherePossible) : kind_(kind) {}
  WorkbookUpdate(const WorkbookUpdate&) = delete;
  WorkbookUpdate& operator=(const WorkbookUpdate&) = delete;

  // Finds the file, takes its lock (waiting at most `wait` for another
  // holder) and opens it where it exists; refuses at once a file the user
  // could not replace (another user's, in a sticky folder) and one an
  // office program has open (its lock file lies beside it; looked for
  // again by Commit just before the replacement).
  bool Begin(const std::string& path, std::chrono::milliseconds wait);
  // Whether there was a file at the name (anything, not only a workbook).
  bool Existed() const { return target_.Exists(); }
  // Loads the workbook that is there, or makes a new one of one sheet
  // when there is nothing at the name.
  bool Load();
  ExcelFile& Book() { return book_; }
  // Saves the workbook into the file found by Begin; refused when the
  // lock file was removed meanwhile and another export holds a new one.
  bool Commit();
  // Whether the name holds the new file, even where Commit then failed (a
  // folder that could not be written to disk).
  bool Replaced() const { return target_.Replaced(); }
  const std::string& Problem() const { return problem_; }

 private:
  NewFile kind_;
  FileTarget target_;
  FileSafety::FileLock lock_;
  ExcelFile book_;
  std::string problem_;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
