#pragma once
// What a "Workbook" stream holds that keeps an export from extending it.
// A save carries every record it does not write itself (carried_records.h),
// so only these are left:
//
// - encryption (FILEPASS in the globals): the records after it cannot be
//   read, so the workbook does not load;
// - protection of the workbook's structure (PROTECT set in the globals):
//   its author forbade adding sheets;
// - macros (a VBA project, OBPROJ, or macro sheets and modules): a new
//   sheet would lack the code name and module the project expects, which
//   cannot be checked here, so they are refused rather than risked.
//
// The survey reads record headers and the few fields it needs only, so it
// also works on a stream whose records are encrypted.
#include <cstdint>
#include <string>

namespace YCompoundFiles {
namespace YExcel {

class ContentSurvey {
 public:
  // Surveys the stream (every substream, whole or cut short).
  static ContentSurvey Of(const char* bytes, uint64_t size);

  bool Encrypted() const { return encrypted_; }
  bool StructureProtected() const { return structure_protected_; }
  bool HasMacros() const { return macros_; }
  // For what the stream does not show: a VBA storage beside it.
  void NoteMacros() { macros_ = true; }

  // Why an export may not extend the workbook (adds_sheet: by a new sheet),
  // "" when it may: "it holds macros, ..." and the like.
  std::string Refusal(bool adds_sheet) const;
  // True when an export may add a sheet.
  bool Keepable() const { return Refusal(true).empty(); }

 private:
  bool encrypted_ = false;
  bool structure_protected_ = false;
  bool macros_ = false;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
