#include "content_survey.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include "byte_view.h"
#include "formula_records.h"
#include "record.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using Kind = ContentSurvey::Kind;

// Substream types of a BOF record.
constexpr uint16_t kGlobals = 0x0005;
constexpr uint16_t kModule = 0x0006;
constexpr uint16_t kWorksheet = 0x0010;
constexpr uint16_t kChart = 0x0020;
constexpr uint16_t kMacroSheet = 0x0040;

constexpr uint16_t kFormula = 0x0006;
constexpr uint16_t kBoundSheet = 0x0085;

// Records the layer reads and writes itself.
constexpr uint16_t kModelledGlobals[] = {
    0x0809, 0x000A, 0x003D, 0x0031, 0x00E0, 0x0293, 0x0085, 0x00FC, 0x003C,
    0x041E,                  // FORMAT
    0x0022, 0x000E, 0x0092,  // DATEMODE, PRECISION, PALETTE
};
constexpr uint16_t kModelledSheet[] = {
    0x0809, 0x000A, 0x020B, 0x0200, 0x0208, 0x00D7, 0x023E,
    0x00BD, 0x00FD, 0x0201, 0x00BE, 0x0203, 0x027E, 0x0205,  // cells (formulas aside)
    0x0055, 0x007D, 0x0099, 0x0225, 0x0080, 0x0081,          // column and row layout, outline
};

// Bookkeeping of the writer, view and print settings: dropped by a save.
constexpr uint16_t kDroppableGlobals[] = {
    0x00E1, 0x00C1, 0x00E2,  // INTERFACEHDR, MMS, INTERFACEEND
    0x005C, 0x0042, 0x0161,  // WRITEACCESS, CODEPAGE, DSF
    0x01C0, 0x013D, 0x009C,  // writer version marker, TABID, FNGROUPCOUNT
    0x0040, 0x008D, 0x01B7,  // BACKUP, HIDEOBJ, REFRESHALL
    0x00DA, 0x0160, 0x008C,  // BOOKBOOL, USESELFS, COUNTRY
    0x01C1, 0x00FF, 0x0863,  // RECALCID, EXTSST, BOOKEXT
    0x088C, 0x089A, 0x0896,  // COMPAT12, MTRSETTINGS, THEME
    0x087C, 0x087D, 0x0892,  // XFCRC, XFEXT, STYLEEXT (refinements the XF records approximate)
    0x088E,                  // TABLESTYLES
    // Reference tables: what uses them (formulas, names) is reported itself.
    0x01AE, 0x0017, 0x0023,  // SUPBOOK, EXTERNSHEET, EXTERNNAME
};
constexpr uint16_t kDroppableSheet[] = {
    0x000D, 0x000C, 0x000F, 0x0011, 0x0010,
    0x005F, 0x005E,          // calculation settings, "recalculate on open"
    0x002A, 0x002B, 0x0082,  // print headings, grid
    0x001B, 0x001A, 0x0014, 0x0015, 0x0083,
    0x0084,  // page breaks, header, footer, centring
    0x0026, 0x0027, 0x0028, 0x0029, 0x00A1,
    0x089C,                                  // margins, page setup
    0x001D, 0x0041, 0x00A0, 0x088B, 0x0862,  // selection, panes, zoom, layout view, tab colour
    0x00EF, 0x0867,                          // phonetic settings, protection options
};

// Records of things a user makes that a save would lose, refused by name.
struct NamedRecords {
  ContentSurvey::Kind kind;
  uint16_t codes[12];  // unused places 0
};
constexpr NamedRecords kNamedRecords[] = {
    // AUTOFILTERINFO, AUTOFILTER, FILTERMODE, AUTOFILTER12, DROPDOWNOBJIDS
    {Kind::kAutofilter, {0x009D, 0x009E, 0x009B, 0x087E, 0x0874}},
    {Kind::kWriteProtection, {0x005B, 0x0086}},  // FILESHARING, WRITEPROT
    {Kind::kScenarios, {0x00AE, 0x00AF}},
    // SXVIEW and its parts, SXSTREAMID, SXVS, SXDBEX and the like
    {Kind::kPivotTables,
     {0x00B0, 0x00B1, 0x00B2, 0x00B4, 0x00B5, 0x00F1, 0x00F0, 0x0100, 0x00D5, 0x00E3, 0x0122,
      0x00C5}},
    {Kind::kQueryTables, {0x01AD, 0x0802, 0x0803, 0x0807, 0x00DC}},  // QSI, QSISXTAG, ...
    {Kind::kConsolidation, {0x0050, 0x0051, 0x0052, 0x0053}},        // DCON...
    {Kind::kCustomViews, {0x01A9, 0x01AA, 0x01AB}},  // USERBVIEW, USERSVIEWBEGIN/END
    {Kind::kSortSettings, {0x0090}},
    {Kind::kMacros, {0x00D3}},                          // OBPROJ
    {Kind::kSharedFeatures, {0x0868, 0x0871, 0x0872}},  // FEAT, FEATHDR11, FEAT11
};

// Records whose value 0 means "not set": droppable then, protection else.
constexpr uint16_t kProtectionRecords[] = {0x0012, 0x0019, 0x0013, 0x0063, 0x00DD, 0x01AF, 0x01BC};

// Built-in names that only hold print settings: print area, print titles,
// sheet title.
constexpr uint8_t kPrintNames[] = {0x06, 0x07, 0x0C};

template <size_t N, class T>
bool is_in(const T (&list)[N], T value) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

bool all_zero(const char* data, uint16_t length) {
  return std::all_of(data, data + length, [](char c) { return c == 0; });
}

// The built-in name of an autofilter's range.
constexpr uint8_t kFilterDatabase = 0x0D;
// An OBJ's type of a drop-down (combo) box, the button of an autofilter.
constexpr uint16_t kComboBox = 0x0014;

}  // namespace

ContentSurvey ContentSurvey::Of(const char* bytes, uint64_t size) {
  ContentSurvey survey;
  const ByteView view(bytes, size);
  // The substream types from the outermost in; records before any BOF
  // count as the globals'.
  std::vector<uint16_t> open;
  bool started = false;
  size_t sheets = 0;
  for (uint64_t p = 0; view.Has(p, Record::kHeaderSize);) {
    const uint64_t start = p;
    uint16_t code = 0, length = 0;
    view.Get(code, p);
    view.Get(length, p + 2);
    if (!view.Has(p + Record::kHeaderSize, length)) break;
    const char* data = bytes + p + Record::kHeaderSize;
    p += Record::kHeaderSize + length;

    // Bytes after the last substream that start no new one are not part of
    // the workbook (some writers pad the stream).
    if (started && open.empty() && code != RecordCode::kBof) break;
    if (code == RecordCode::kBof) {
      // The first substream is the globals; any later one is a sheet.
      const bool started_sheets = started;
      started = true;
      uint16_t type = 0;
      ByteView(data, length).Get(type, 2);
      if (!open.empty() && open.back() != kGlobals)
        survey.Note(Kind::kChartsOrDrawings);  // embedded
      else if (type == kChart)
        survey.Note(Kind::kChartSheets);
      else if (type == kMacroSheet || type == kModule)
        survey.Note(Kind::kMacroSheets);
      else if (started_sheets && type != kWorksheet)
        survey.Note(Kind::kOtherSheets);
      if (started_sheets && open.empty()) {
        survey.sheet_start_ = start;
        survey.sheet_number_ = sheets++;
      }
      open.push_back(type);
      survey.autofilter_ = false;
      continue;
    }
    const uint16_t type = open.empty() ? kGlobals : open.back();
    if (code == RecordCode::kEof) {
      if (!open.empty()) open.pop_back();
      continue;
    }
    if (type == kWorksheet && code == kFormula) {
      // Its companions are its own, not records of other kinds.
      if (const uint64_t used = survey.SurveyFormula(bytes + start, size - start)) p = start + used;
      continue;
    }
    if (type == kGlobals)
      survey.SurveyGlobals(code, data, length);
    else if (type == kWorksheet)
      survey.SurveySheet(code, data, length);
    // Records of charts and macro sheets are reported with their substream.
  }
  return survey;
}

bool ContentSurvey::NoteNamed(uint16_t code) {
  if (code == 0) return false;
  for (const NamedRecords& named : kNamedRecords) {
    if (std::find(std::begin(named.codes), std::end(named.codes), code) == std::end(named.codes))
      continue;
    Note(named.kind);
    named_codes_.insert({named.kind, code});
    return true;
  }
  return false;
}

void ContentSurvey::NoteSheetEntry(const char* data, uint16_t length) {
  // The stream offset of its BOF, visibility and type, then the name: its
  // length, a flags byte (bit 0: 16-bit characters) and the characters.
  const ByteView entry(data, length);
  SheetEntry sheet{0, {}};
  uint8_t count = 0, flags = 0;
  entry.Get(sheet.start, 0);
  entry.Get(count, 6);
  entry.Get(flags, 7);
  for (uint64_t i = 0; i < count; ++i) {
    uint16_t c = 0;
    uint8_t narrow = 0;
    if (flags & 1 ? !entry.Get(c, 8 + 2 * i) : !entry.Get(narrow, 8 + i)) break;
    sheet.name.push_back(static_cast<char16_t>(flags & 1 ? c : narrow));
  }
  sheet_entries_.push_back(std::move(sheet));
}

uint64_t ContentSurvey::SurveyFormula(const char* bytes, uint64_t size) {
  CellRecords::Formula formula;
  CellRecords::FormulaConstant constant;
  const uint64_t used = formula.Read(bytes, size);
  if (used && formula.Constant(constant)) return used;
  Note(Kind::kFormulas);
  if (formula_placed_) return used;
  // Row and column, after the record header.
  const ByteView record(bytes, size);
  record.Get(formula_row_, Record::kHeaderSize);
  record.Get(formula_col_, Record::kHeaderSize + 2);
  // The sheet entry that names this substream, by its offset or, when the
  // offsets are stale, by its place.
  auto entry = std::find_if(sheet_entries_.begin(), sheet_entries_.end(),
                            [&](const SheetEntry& e) { return e.start == sheet_start_; });
  if (entry == sheet_entries_.end() && sheet_number_ < sheet_entries_.size())
    entry = sheet_entries_.begin() + static_cast<std::ptrdiff_t>(sheet_number_);
  formula_sheet_ = entry == sheet_entries_.end() ? std::u16string() : entry->name;
  formula_placed_ = true;
  return used;
}

void ContentSurvey::SurveyGlobals(uint16_t code, const char* data, uint16_t length) {
  if (code == kBoundSheet) NoteSheetEntry(data, length);
  if (is_in(kModelledGlobals, code) || is_in(kDroppableGlobals, code)) return;
  if (NoteNamed(code)) return;
  // MSODRAWINGGROUP: some writers put one in every workbook; the objects
  // that use it are reported by their sheets.
  if (code == 0x00EB) return;
  if (is_in(kProtectionRecords, code)) {
    if (!all_zero(data, length)) Note(Kind::kProtection);
    return;
  }
  if (code == 0x002F) {  // FILEPASS: the rest is encrypted
    Note(Kind::kProtection);
    return;
  }
  if (code == 0x0018) {  // NAME
    const ByteView name(data, length);
    uint16_t options = 0;
    uint8_t first = 0xFF;
    name.Get(options, 0);
    name.Get(first, 15);  // the first character, after the flags byte
    const bool built_in = options & 0x0020;
    if (built_in && first == kFilterDatabase)
      Note(Kind::kAutofilter);  // its records name it
    else if (!(built_in && is_in(kPrintNames, first)))
      Note(Kind::kDefinedNames);
    return;
  }
  other_codes_.insert(code);
  Note(Kind::kOtherRecords);
}

void ContentSurvey::SurveySheet(uint16_t code, const char* data, uint16_t length) {
  if (is_in(kModelledSheet, code) || is_in(kDroppableSheet, code)) return;
  if (code == 0x009D) autofilter_ = true;
  if (NoteNamed(code)) return;
  if (is_in(kProtectionRecords, code)) {
    if (!all_zero(data, length)) Note(Kind::kProtection);
    return;
  }
  switch (code) {
    case 0x0006:
    case 0x0406:
    case 0x00BC:
    case 0x04BC:
    case 0x0221:
    case 0x0236:
    case 0x0036:
    case 0x0207:
      Note(Kind::kFormulas);  // formulas, shared and array formulas, tables, string results
      return;
    case 0x00E5:
      Note(Kind::kMergedCells);
      return;
    case 0x001C:
      Note(Kind::kNotes);
      return;
    // Drawing containers (some writers put one in every sheet), their parts
    // and the texts of notes and text boxes: reported through their objects.
    case 0x00EC:
    case 0x003C:
    case 0x01B6:
      return;
    case 0x005D: {  // OBJ: its first part gives the object's type
      uint16_t object_type = 0;
      ByteView(data, length).Get(object_type, 4);
      if (object_type == 0x0019)
        Note(Kind::kNotes);
      else if (object_type == kComboBox && autofilter_)
        Note(Kind::kAutofilter);
      else
        Note(Kind::kChartsOrDrawings);
      return;
    }
    case 0x00B6:
      Note(Kind::kChartsOrDrawings);
      return;  // pictures of older writers
    case 0x01B8:
    case 0x0800:
      Note(Kind::kHyperlinks);
      return;
    case 0x01B0:
    case 0x01B1:
    case 0x087A:
    case 0x087B:
      Note(Kind::kConditionalFormats);
      return;
    case 0x01B2:
    case 0x01BE:
      Note(Kind::kDataValidation);
      return;
    default:
      other_codes_.insert(code);
      Note(Kind::kOtherRecords);
  }
}

namespace {

std::string latin1_or_question_marks(const std::u16string& name) {
  std::string text;
  for (char16_t c : name) text.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return text;
}

// "B7" for row 6, column 1.
std::string cell_name(uint16_t row, uint16_t col) {
  std::string name;
  for (uint32_t n = col + 1u; n > 0; n = (n - 1) / 26)
    name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
  return name + std::to_string(row + 1u);
}

}  // namespace

std::string ContentSurvey::Describe(NameText name_text) const {
  // In the order of Kind.
  static const char* const kNames[] = {
      "formulas",
      "merged cells",
      "defined names",
      "charts or drawings",
      "cell notes",
      "chart sheets",
      "macro sheets",
      "sheets of other kinds",
      "protection or encryption",
      "hyperlinks",
      "conditional formats",
      "data validation",
      "an autofilter",
      "write protection",
      "scenarios",
      "pivot tables",
      "query tables (external data)",
      "data consolidation settings",
      "custom views",
      "sort settings",
      "macros",
      "protected ranges, lists or other shared features",
  };
  auto listed = [](const std::set<uint16_t>& codes) {
    std::string text;
    for (uint16_t c : codes) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%04X", c);
      text += (text.empty() ? "" : ", ") + std::string(hex);
    }
    return " (" + text + ")";
  };
  std::vector<std::string> parts;
  for (Kind kind : kinds_) {
    if (kind == Kind::kOtherRecords) {
      parts.push_back("records of kinds this export does not keep" + listed(other_codes_));
      continue;
    }
    std::set<uint16_t> codes;
    for (const auto& [named, code] : named_codes_)
      if (named == kind) codes.insert(code);
    std::string part = kNames[static_cast<int>(kind)] + (codes.empty() ? "" : listed(codes));
    if (kind == Kind::kFormulas && formula_placed_)
      part += " (the first in sheet \"" +
              (name_text ? name_text : latin1_or_question_marks)(formula_sheet_) + "\", cell " +
              cell_name(formula_row_, formula_col_) + ")";
    parts.push_back(part);
  }
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i)
    text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
  return text;
}

}  // namespace YExcel
}  // namespace YCompoundFiles
