#pragma once
// What a workbook holds in memory: the globals substream, one worksheet
// substream per sheet and one sheet object per sheet, kept in step (sheet i
// is BoundSheet i of the globals, worksheets[i] and sheets[i], and
// sheets[i].SheetIndex() is i).
//
// The workbook file object derives from it (so that its sheet objects can
// name it as their owner); the sheet objects read their names and cells
// from it, and RecordsFromCells rebuilds the worksheets from them before a
// save. Not copyable: the sheet objects point at their owner, and their
// cells at its table of texts, which goes after them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "excel_sheet.h"
#include "text_table.h"
#include "workbook_globals.h"
#include "worksheet.h"

namespace YCompoundFiles {
namespace YExcel {

// The sheet objects of a workbook in order, each made in place and kept
// there until it is erased (ExcelSheet is neither copied nor moved): a
// pointer to a sheet stays valid while others are added or removed.
class SheetList {
 public:
  size_t size() const { return sheets_.size(); }
  bool empty() const { return sheets_.empty(); }
  ExcelSheet& operator[](size_t i) { return *sheets_[i]; }
  const ExcelSheet& operator[](size_t i) const { return *sheets_[i]; }
  template <class... Args>
  ExcelSheet& emplace(size_t at, Args&&... args) {
    auto sheet = std::make_unique<ExcelSheet>(std::forward<Args>(args)...);
    return **sheets_.insert(sheets_.begin() + static_cast<std::ptrdiff_t>(at), std::move(sheet));
  }
  template <class... Args>
  ExcelSheet& emplace_back(Args&&... args) {
    return emplace(sheets_.size(), std::forward<Args>(args)...);
  }
  void erase(size_t at) { sheets_.erase(sheets_.begin() + static_cast<std::ptrdiff_t>(at)); }
  void clear() { sheets_.clear(); }
  void reserve(size_t n) { sheets_.reserve(n); }

  template <class Sheet, class Base>
  class Iterator {
   public:
    explicit Iterator(Base at) : at_(at) {}
    Sheet& operator*() const { return **at_; }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return at_ != other.at_; }

   private:
    Base at_;
  };
  using Sheets = std::vector<std::unique_ptr<ExcelSheet>>;
  Iterator<ExcelSheet, Sheets::iterator> begin() {
    return Iterator<ExcelSheet, Sheets::iterator>(sheets_.begin());
  }
  Iterator<ExcelSheet, Sheets::iterator> end() {
    return Iterator<ExcelSheet, Sheets::iterator>(sheets_.end());
  }
  Iterator<const ExcelSheet, Sheets::const_iterator> begin() const {
    return Iterator<const ExcelSheet, Sheets::const_iterator>(sheets_.begin());
  }
  Iterator<const ExcelSheet, Sheets::const_iterator> end() const {
    return Iterator<const ExcelSheet, Sheets::const_iterator>(sheets_.end());
  }
  // Hands sheet i over whole (its place left empty, for a list that is
  // then dropped), or appends one.
  std::unique_ptr<ExcelSheet> Take(size_t i) { return std::move(sheets_[i]); }
  void Append(std::unique_ptr<ExcelSheet> sheet) { sheets_.push_back(std::move(sheet)); }

 private:
  Sheets sheets_;
};

struct WorkbookContent {
  WorkbookContent() = default;
  WorkbookContent(const WorkbookContent&) = delete;
  WorkbookContent& operator=(const WorkbookContent&) = delete;
  // The cells go with their texts, one by one no more.
  ~WorkbookContent() {
    if (texts) texts->Abandon();
  }
  // Drops every sheet, and the texts their cells show, for others.
  void DropSheets() {
    if (texts) texts->Abandon();
    sheets.clear();
    texts = std::make_unique<TextTable>();
  }

  // Position of the first sheet whose name is held in the width of the
  // given one and equals it (exact, case-sensitive), or -1.
  int64_t FindSheet(const char* name) const;
  int64_t FindSheet(const char16_t* name) const;

  // Throws every worksheet's records but its layout away and rebuilds them,
  // and the shared string table, from the sheet objects:
  // - Dimensions and Index from each sheet's row and column counts and its
  //   first used row and column; the stream positions in Index and DBCell
  //   are left 0 for the workbook to fill in.
  // - Row blocks of 32 rows counted from the first used row (from row 0 in
  //   a sheet without cells); Index holds one DBCell position per block
  //   (at least one). A Row record per row that holds cells or carries
  //   layout (the worksheet's layout rows, whose height and options it
  //   keeps); the worksheets' layout records are kept too.
  // - Integers of the 30-bit RK range as RK, runs of them as MulRK; other
  //   integers as Number. Doubles that an RK value keeps exactly and that
  //   have at most two decimals as RK, runs of them as MulRK; other doubles
  //   as Number. Strings as LabelSST, each distinct text stored once per
  //   width, in order of first use.
  //   Booleans and error values as BoolErr. Empty cells that carry a format
  //   as Blank records.
  // - Every record carries its cell's format (XF index).
  // - The active sheet of Window1 (the first when it names none) the only
  //   one selected and shown: Window2 of every other sheet without those
  //   bits, and Window1 counting one selected sheet.
  // The sheet objects are not changed.
  void RecordsFromCells();

  Workbook globals;
  std::vector<Worksheet> worksheets;
  // The texts read from the file, which cells of its sheets point at, and
  // those a save lists beside them (on the heap, so that it stays where the
  // cells find it).
  std::unique_ptr<TextTable> texts = std::make_unique<TextTable>();
  SheetList sheets;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
