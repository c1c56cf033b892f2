#pragma once
// An .xls workbook file: a compound document whose one stream "Workbook"
// holds the BIFF8 records of the workbook globals followed by one worksheet
// substream per sheet.
//
// Life cycle: construct, then New (a workbook in memory) or Load (a file);
// change sheets and cells; Save into the loaded file or SaveAs a new one.
// Nothing is saved on destruction. Load keeps the document open, so that
// Save writes back into the same file.
//
// Saving never loses the file that is there: the new document is written
// into a file of its own and renamed over it only when complete
// (FileReplacement), so a failed save leaves the old file byte for byte.
// Saves by path (SaveAs(path), Save) are made as an export makes its save:
// under the file's lock (FileLock; they wait for an export into the same
// file, at most kLockWait), with the path looked up once and the file found
// there replaced only while it is still at the name. A save into the file
// this workbook was loaded from or last saved into (Save, or SaveAs of a
// path that leads there) is refused when another program (an export among
// them) replaced that file since: saving would lose its changes. Save goes
// to the folder and name found then, whatever the path leads to now. No
// save replaces a workbook an office program has open (its lock file lies
// beside it; office_lock_files.h). An update that must load and save one
// file under one lock uses WorkbookUpdate. The other streams and
// storages of a loaded document (summary information and the like) are
// carried into every document saved from it unchanged, with the class ids
// and state bits of its storages, the root's included.
//
// Sheets: sheet i is BoundSheet i of the globals, worksheets[i] and
// sheets[i] (WorkbookContent); every operation keeps the three in step.
// A pointer to a sheet object returned here stays valid until that sheet
// is deleted, or New or Load replace the sheets (and the workbook goes);
// its cells stay where they are as long (ExcelSheet).
//
// Names: at most 255 characters, held narrow (char, 8-bit) or wide
// (char16_t, UTF-16) in the width they were given in. A narrow operation
// sees only names held narrow, a wide one only names held wide; names
// compare exactly (case-sensitive). Operations that store a name refuse one
// that is already taken or longer than 255 characters.
//
// Index forms take any integer type (so the literal 0 picks them over the
// name forms); a negative index is out of range.
//
// Failures are reported by false or null, and Load and the saves say why in
// Problem(); nothing throws but the allocator.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "compound_document.h"
#include "content_survey.h"
#include "file_replacement.h"
#include "workbook_content.h"

namespace YCompoundFiles {
namespace YExcel {

// The names of the file-safety module a workbook's saves are made with.
using FileSafety::FileTarget;
using FileSafety::NewFile;

class ExcelFile : public WorkbookContent {
 public:
  static constexpr uint64_t kMaxNameLength = 255;
  // How long a save by path waits for an export into the same file.
  static constexpr std::chrono::seconds kLockWait{10};

  // A closed document, default globals (no fonts, formats, styles or
  // sheets), no sheets: call New or Load before use.
  ExcelFile();
  // The same, then Load(path); whether it loaded shows in GetTotalSheets().
  explicit ExcelFile(const char* path);
  // Closes the document; saves nothing.
  ~ExcelFile();

  // A new workbook in memory with max(sheets, 1) empty sheets named
  // "Sheet1", "Sheet2", ... and the default fonts, formats and styles. The
  // document is not touched (save with SaveAs).
  void New(int32_t sheets);
  // Reads the workbook at path (opened for reading and writing where the
  // user may, else for reading, and kept open). False, at once, when it is
  // not a regular file (a named pipe is never waited on); false when it does
  // not open as a compound document, holds no non-empty "Workbook" stream, holds
  // a workbook of an older version of the format, is encrypted with a
  // password, or the stream is damaged:
  // truncated or malformed records, no globals substream first, a second
  // one inside it, sheet entries that match no substream, or cell records
  // that name a cell format or text the workbook lacks or lie beyond the
  // last column. A failed Load leaves the workbook in memory as it was and
  // the document closed. Every record the layer does not model is carried
  // in its place and written back byte for byte (carried_records.h); sheets
  // that are not worksheets (chart sheets, macro sheets) are carried whole,
  // each with an empty sheet object (IsWorksheet false). Survey() says what
  // keeps an export from extending the workbook.
  bool Load(const char* path);
  // The same on a file already found and opened (FileTarget::OpenFile):
  // read through its descriptor, never reopened by name.
  bool Load(const FileTarget& target);
  // Saves into the file of the last Load or save, in the folder found then.
  // False when no document is open, or when the file at that name is no
  // longer the one loaded or saved (another program replaced or removed
  // it); the document is then closed.
  bool Save();
  // Writes the workbook, and the other streams and storages of a loaded
  // document, into a new compound document that then replaces (or becomes)
  // the file at path, under the file's lock. False, the file there as it
  // was, when a cell names a cell format the workbook lacks, the stream
  // would exceed 4 GiB - 1, the file may not be written or is no regular
  // file, an export holds the lock longer than kLockWait, the path leads to
  // the file of the last Load or save and another program replaced that
  // since, or anything fails on the way; the document is then closed.
  bool SaveAs(const char* path);
  // The same into a file already found and opened, under a lock the caller
  // holds: the new document is written through a descriptor of its own and
  // takes the target's name (FileReplacement) only while the file opened is
  // still there.
  bool SaveAs(const FileTarget& target, NewFile kind = NewFile::kUnnamedWherePossible);
  // Why the last Load, Save or SaveAs failed; empty after a success.
  const std::string& Problem() const { return problem_; }
  // What keeps an export from extending the loaded workbook (nothing after
  // New).
  const ContentSurvey& Survey() const { return survey_; }

  // A storage or stream of a loaded document other than "Workbook", kept to
  // be written again: its name, the position of its storage among the
  // carried entries, a stream's content, a storage's class id and state
  // bits.
  using CarriedEntry = CompoundDocument::TreeEntry;

  uint64_t GetTotalSheets() const { return sheets.size(); }
  // False for a sheet carried whole (a chart sheet...), whose cells are not
  // written, and past the end.
  bool IsWorksheet(uint64_t index) const {
    return index < worksheets.size() && !worksheets[index].whole;
  }

  // The sheet at the position, or null past the end.
  template <class Index, std::enable_if_t<std::is_integral_v<Index>, int> = 0>
  ExcelSheet* GetWorksheet(Index index) {
    return SheetAt(Position(index));
  }
  // The first sheet of that name, or null.
  ExcelSheet* GetWorksheet(const char* name);
  ExcelSheet* GetWorksheet(const char16_t* name);

  // Adds an empty sheet named "Sheet<k>", k the first number from the sheet
  // count + 1 on whose name no narrow name is taken, at the position (-1
  // appends; otherwise 0 to the sheet count). Null for other positions.
  ExcelSheet* AddWorksheet(int32_t index = -1);
  // Adds an empty sheet of that name at the position (-1 appends; 0 puts it
  // before every other sheet). Its Window2 is not "selected". Null when the
  // name is taken or too long, or the position lies outside -1 and 0 to the
  // sheet count.
  ExcelSheet* AddWorksheet(const char* name, int32_t index = -1);
  ExcelSheet* AddWorksheet(const char16_t* name, int32_t index = -1);

  // The sheet a spreadsheet program opens the workbook on (Window1's
  // active sheet). It stays the same sheet when sheets are added or removed
  // before it; when it is removed itself, the one that takes its place (or
  // the last) becomes active. A save makes it the only selected sheet.
  uint64_t ActiveSheet() const { return globals.window1.active_sheet; }
  // False past the end.
  bool SetActiveSheet(uint64_t index);

  // Marks the workbook so that spreadsheet programs recalculate its
  // formulas when they open it: an UNCALCED record (0x005E) at the start
  // of every worksheet, where it is not yet, and the "calculate always"
  // option of every formula. For a save after cells that formulas depend
  // on changed.
  void RecalculateOnOpen();

  // Removes the sheet (entry, records, cells); the sheets behind it move up
  // one place, and so do the carried records' references to them. False
  // when there is none, or a defined name belongs to it.
  template <class Index, std::enable_if_t<std::is_integral_v<Index>, int> = 0>
  bool DeleteWorksheet(Index index) {
    return DeleteAt(Position(index));
  }
  bool DeleteWorksheet(const char* name);
  bool DeleteWorksheet(const char16_t* name);

  // The sheet's name, held inside the globals (valid until the sheet is
  // renamed or removed); null past the end or when held in the other width.
  const char* GetSheetName(uint64_t index) const;
  const char16_t* GetWSheetName(uint64_t index) const;
  // Copies the name with its terminator into buffer, which holds 256
  // characters; false past the end or when held in the other width.
  bool GetSheetName(uint64_t index, char* buffer) const;
  bool GetSheetName(uint64_t index, char16_t* buffer) const;

  // Renames the sheet; the name is then held in the new name's width. False
  // when there is no such sheet, or the new name is taken (the sheet's own
  // current name included) or too long.
  template <class Index, std::enable_if_t<std::is_integral_v<Index>, int> = 0>
  bool RenameWorksheet(Index index, const char* name) {
    return RenameAt(Position(index), name);
  }
  template <class Index, std::enable_if_t<std::is_integral_v<Index>, int> = 0>
  bool RenameWorksheet(Index index, const char16_t* name) {
    return RenameAt(Position(index), name);
  }
  bool RenameWorksheet(const char* from, const char* to);
  bool RenameWorksheet(const char16_t* from, const char16_t* to);

  // The compound document (open after a successful Load or SaveAs).
  const CompoundDocument& Document() const { return document_; }

 private:
  // The path form of Load: works on the path looked up for the call.
  template <class Work>
  bool OnPath(const char* path, Work work);
  // Saves into the target (found) under its lock; where it is the place of
  // the last Load or save, only while that file is still there.
  bool SaveLocked(FileTarget& target);

  static constexpr uint64_t kNoPosition = UINT64_MAX;

  template <class Index>
  static uint64_t Position(Index index) {
    if constexpr (std::is_signed_v<Index>) {
      if (index < 0) return kNoPosition;
    }
    return static_cast<uint64_t>(index);
  }

  ExcelSheet* SheetAt(uint64_t index);
  bool DeleteAt(uint64_t index);
  template <class Char>
  ExcelSheet* AddNamed(const Char* name, int32_t index);
  bool RenameAt(uint64_t index, const char* name);
  bool RenameAt(uint64_t index, const char16_t* name);

  // Fills the given containers from the stream: the globals, then the
  // worksheets in the order of the globals' sheet entries (entries whose
  // substream is not a worksheet are dropped). Returns the bytes consumed,
  // or 0 when the stream is damaged or not a workbook.
  // With parsed_cells, each worksheet's cells go straight into a sheet
  // object there (of no workbook yet; its texts those of the globals' string
  // table, when it reads into a table of texts), in the order of the
  // worksheets, and
  // the worksheets keep no cell records; unsound then receives why the
  // first cell record that a save would not write back as it is fails
  // (empty when none does).
  static uint64_t ParseWorkbookStream(const char* bytes, uint64_t size, Workbook& globals,
                                      std::vector<Worksheet>& worksheets,
                                      SheetList* parsed_cells = nullptr,
                                      std::string* unsound = nullptr);
  // One sheet object per worksheet, in order, each reading its cells.
  void BuildSheetObjects();
  // The serialised stream, every record rebuilt from the cells (the cell
  // tables written straight into it, CellTableWriter) and every stream
  // position it stores filled in; false when it would exceed what a stream
  // can hold.
  bool BuildStream(std::vector<char>& bytes);
  // A stream that starts with a BOF of another version than BIFF8 is false.
  static bool IsBiff8(const std::vector<char>& bytes);
  // A new document on the descriptor holding the stream and the carried
  // entries.
  bool WriteDocument(int fd, const std::vector<char>& bytes);
  // The first cell that names a cell format the globals lack, with its
  // sheet and the format, or empty.
  std::string MissingCellFormat() const;

  CompoundDocument document_;
  std::string path_;
  // The folder and name of the last Load or save, and the file there then.
  std::unique_ptr<FileTarget> origin_;
  struct stat origin_file_ {};
  std::string problem_;
  std::vector<CarriedEntry> carried_;
  // The root storage's class id and state bits, carried like the entries.
  CompoundDocument::StorageClass root_class_;
  ContentSurvey survey_;
};

// The name a spreadsheet program shows for a place: "A1" for row 0,
// column 0.
std::string cell_name(uint64_t row, uint64_t col);

}  // namespace YExcel
}  // namespace YCompoundFiles
