#include "workbook_update.h"

#include "office_lock_files.h"

namespace YCompoundFiles {
namespace YExcel {

bool WorkbookUpdate::Begin(const std::string& path, std::chrono::milliseconds wait) {
  lock_.Release();
  problem_.clear();
  if (!target_.Find(path)) {
    problem_ = target_.Problem();
    return false;
  }
  // Opened only under the lock: a file opened before might be replaced by
  // the holder's save, and this update would then load a stale workbook.
  if (!lock_.Acquire(target_, wait)) {
    problem_ = lock_.Problem();
    return false;
  }
  FileSafety::RemoveLeftovers(target_);
  if (!target_.OpenFile()) {
    problem_ = target_.Problem();
    lock_.Release();
    return false;
  }
  // Refused before the work, not by the rename after it.
  problem_ = target_.ReplaceRefusal();
  if (problem_.empty()) problem_ = office_lock_refusal(target_);
  if (!problem_.empty()) {
    lock_.Release();
    return false;
  }
  return true;
}

bool WorkbookUpdate::Load() {
  problem_.clear();
  if (!target_.Exists()) {
    book_.New(1);
    return true;
  }
  if (book_.Load(target_)) return true;
  problem_ = book_.Problem();
  return false;
}

bool WorkbookUpdate::Commit() {
  problem_.clear();
  // Someone removed the lock file and another export took a new one: it
  // may be saving now. (Should one start after this check, or have ended
  // before it, the replacement still refuses to save over a file this
  // update did not load.)
  if (lock_.Taken()) {
    problem_ = "its lock file \"" + lock_.Shown() +
               "\" was removed during the export and another export holds a new one";
    return false;
  }
  if (book_.SaveAs(target_, kind_)) return true;
  problem_ = book_.Problem();
  return false;
}

}  // namespace YExcel
}  // namespace YCompoundFiles
