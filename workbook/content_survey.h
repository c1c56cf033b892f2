#pragma once
// What a "Workbook" stream holds that a save would not write back.
//
// A save writes the globals this layer models (fonts, number formats, cell
// formats, styles, sheet entries, shared strings and the few settings that
// change what values mean: the date system, the precision and the colour
// palette) and, per worksheet, its numbers and texts with their cell
// formats (formulas that are one constant among them, as their values).
// The survey walks every record of the stream and sorts the rest
// into what may be dropped (records that only set the view, printing or the
// writer's bookkeeping: windows, selections, page setup, empty drawing
// containers, unset protection) and what carries
// content the save would lose, which it reports.
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {

class ContentSurvey {
 public:
  enum class Kind {
    kFormulas,
    kMergedCells,
    kDefinedNames,
    kChartsOrDrawings,
    kNotes,
    kChartSheets,
    kMacroSheets,
    kOtherSheets,
    kProtection,
    kHyperlinks,
    kConditionalFormats,
    kDataValidation,
    // Named, with the codes of their records (see Codes).
    kAutofilter,
    kWriteProtection,
    kScenarios,
    kPivotTables,
    kQueryTables,
    kConsolidation,
    kCustomViews,
    kSortSettings,
    kMacros,
    kSharedFeatures,
    kOtherRecords,  // of kinds this layer does not know; see OtherCodes (last)
  };

  // Surveys the stream (every substream, whole or cut short).
  static ContentSurvey Of(const char* bytes, uint64_t size);

  // True when a save writes back everything that carries content.
  bool Keepable() const { return kinds_.empty(); }
  const std::set<Kind>& Kinds() const { return kinds_; }
  // Codes of the records counted as kOtherRecords.
  const std::set<uint16_t>& OtherCodes() const { return other_codes_; }
  // How a sheet's name is put into a description; without one, characters
  // beyond Latin-1 become '?'.
  using NameText = std::string (*)(const std::u16string& name);
  // "formulas (the first in sheet "Data", cell B7), an autofilter (0x009D)
  // and records of kinds this export does not keep (0x01B8)"; empty when
  // keepable. A formula that is one constant (as some programs write plain
  // values) is a value, which a save keeps.
  std::string Describe(NameText name_text = nullptr) const;

 private:
  void Note(Kind kind) { kinds_.insert(kind); }
  // A record of a named kind: kept with its code for the description.
  bool NoteNamed(uint16_t code);
  void SurveyGlobals(uint16_t code, const char* data, uint16_t length);
  void SurveySheet(uint16_t code, const char* data, uint16_t length);
  // A sheet entry of the globals: where its substream starts, its name.
  void NoteSheetEntry(const char* data, uint16_t length);
  // The formula record at bytes (with what follows it, up to size); returns
  // the bytes it and its companions take, 0 when it cannot be read.
  uint64_t SurveyFormula(const char* bytes, uint64_t size);

  std::set<Kind> kinds_;
  std::set<uint16_t> other_codes_;
  std::set<std::pair<Kind, uint16_t>> named_codes_;
  // The current sheet has an autofilter, whose drop-down buttons are
  // drawing objects.
  bool autofilter_ = false;

  struct SheetEntry {
    uint32_t start;
    std::u16string name;
  };
  std::vector<SheetEntry> sheet_entries_;
  // The worksheet being surveyed: where its BOF starts, and how many
  // sheets came before it.
  uint64_t sheet_start_ = 0;
  size_t sheet_number_ = 0;
  // Where the first formula stands that is not a constant.
  bool formula_placed_ = false;
  std::u16string formula_sheet_;
  uint16_t formula_row_ = 0;
  uint16_t formula_col_ = 0;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
