#include "excel_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "cells_to_records.h"
#include "file_replacement.h"
#include "office_lock_files.h"
#include "sheet_references.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

constexpr const char* kStreamName = "Workbook";
constexpr const char16_t* kWideStreamName = u"Workbook";
// Where older versions of the format keep their workbook.
constexpr const char* kOlderStreamName = "Book";
constexpr uint16_t kBiff8 = 0x0600;
// Stream offsets are 32-bit on file, and so is a stream's size.
constexpr uint64_t kMaxStreamSize = 0xFFFFFFFFu;

constexpr uint32_t kReadWrite = CompoundDocument::kRead | CompoundDocument::kWrite;

// What a fresh workbook carries: the counts every reader expects of the
// built-in fonts, cell formats and styles.
constexpr int kDefaultFonts = 4;
constexpr int kDefaultXFs = 21;
constexpr int kDefaultStyles = 6;

template <class Char>
uint64_t length(const Char* text) {
  uint64_t n = 0;
  while (text[n]) ++n;
  return n;
}

template <class Char>
bool storable_name(const Char* name) {
  return name && length(name) <= ExcelFile::kMaxNameLength;
}

// One substream after the globals: where its BOF lies, and the worksheet it
// became.
struct Substream {
  uint64_t start;
  int64_t worksheet;
};

// Pairs each sheet entry of the globals with a substream: by the stream
// offset the entry records, or, when those offsets do not name distinct
// substreams (a writer that left them stale), by order when the counts
// agree. False when neither works.
bool match_sheet_entries(const std::vector<Workbook::BoundSheet>& entries,
                         const std::vector<Substream>& substreams, std::vector<size_t>& match) {
  match.assign(entries.size(), 0);
  std::vector<bool> taken(substreams.size(), false);
  bool by_position = true;
  for (size_t i = 0; i < entries.size() && by_position; ++i) {
    by_position = false;
    for (size_t s = 0; s < substreams.size(); ++s) {
      if (substreams[s].start == entries[i].position && !taken[s]) {
        match[i] = s;
        taken[s] = by_position = true;
        break;
      }
    }
  }
  if (by_position) return true;
  if (entries.size() != substreams.size()) return false;
  for (size_t i = 0; i < entries.size(); ++i) match[i] = i;
  return true;
}

// Why a regular file, opened, does not open as a compound document.
std::string why_not_a_document(int fd) {
  unsigned char head[8] = {};
  const ssize_t got = pread(fd, head, sizeof head, 0);
  if (got < 0) return std::strerror(errno);
  static const unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (got == sizeof head && std::memcmp(head, kMagic, sizeof head) == 0)
    return "its compound-document structure is damaged";
  if (got >= 4 && std::memcmp(head, "PK\x03\x04", 4) == 0)
    return "it is a zip archive (a workbook of a newer format, perhaps), not a compound document";
  return "it is not a compound document, as an .xls workbook is";
}

// Every storage and stream of the document but the root's "Workbook"
// stream, parents before their children, each naming its storage by its
// position in the list: no path is kept or looked up. Returns why they
// cannot be carried, or "".
std::string collect_entries(const CompoundDocument& document,
                            std::vector<ExcelFile::CarriedEntry>& entries) {
  using Entry = CompoundDocument::TreeEntry;
  const std::string unreadable = "its other streams cannot be read (the file is damaged)";
  std::vector<Entry> tree;
  if (document.ListTree(tree) != kSuccess) return unreadable;
  std::vector<uint64_t> position(tree.size(), Entry::kInRoot);
  // Names that readers take for one cannot be written side by side again.
  std::set<std::pair<uint64_t, std::u16string>> names;
  for (size_t i = 0; i < tree.size(); ++i) {
    Entry& e = tree[i];
    const bool in_root = e.parent == Entry::kInRoot;
    if (!names.emplace(e.parent, CompoundDocument::FoldedName(e.name)).second)
      return "two of its streams or storages share a name (the file is damaged)";
    if (in_root && e.name == kWideStreamName) continue;
    if (!e.storage && document.ReadStream(e, e.bytes) != kSuccess) return unreadable;
    if (!in_root) e.parent = position[e.parent];
    position[i] = entries.size();
    entries.push_back(std::move(e));
  }
  return "";
}

// Why a cell record would not come back from a save as it is, or empty:
// every record must name a cell format (XF record) the globals hold, as
// readers index their format list with it, a shared string the table
// holds, and a column inside the sheet.
std::string unsound_cell(const Worksheet::CellTable::RowBlock::CellBlock& c,
                         const Workbook& globals) {
  namespace Cells = CellRecords::Code;
  const uint64_t formats = globals.xfs.size();
  uint64_t columns = 1;
  bool formats_exist = true;
  switch (c.code) {
    case Cells::kMulRK:
      for (const CellRecords::MulRKEntry& e : c.mul_rk.entries)
        formats_exist &= e.xf_index < formats;
      columns = c.mul_rk.entries.size();
      break;
    case Cells::kMulBlank:
      for (uint16_t xf : c.mul_blank.xf_indices) formats_exist &= xf < formats;
      columns = c.mul_blank.xf_indices.size();
      break;
    case Cells::kRK:
      formats_exist = c.rk.xf_index < formats;
      break;
    case Cells::kNumber:
      formats_exist = c.number.xf_index < formats;
      break;
    case Cells::kBlank:
      formats_exist = c.blank.xf_index < formats;
      break;
    case Cells::kBoolErr:
      formats_exist = c.bool_err.xf_index < formats;
      if (c.bool_err.error > 1 ||
          (c.bool_err.error ? !ExcelCell::IsErrorCode(c.bool_err.value) : c.bool_err.value > 1))
        return "a cell holds a boolean or error value the format does not know";
      break;
    case Cells::kLabelSST:
      formats_exist = c.label_sst.xf_index < formats;
      if (c.label_sst.string_index >= globals.shared_strings.Count())
        return "a cell names a text the workbook lacks";
      break;
    case Cells::kFormula:
      formats_exist = c.formula.xf_index < formats;
      break;
    case Cells::kLabel:
    case Cells::kRString:
      formats_exist = c.label.xf_index < formats;
      break;
    default:
      return "";
  }
  if (!formats_exist) return "a cell format is missing";
  if (c.ColIndex() + columns > ExcelSheet::kMaxCols) return "a cell lies outside the sheet";
  return "";
}

// Why the rows and columns a save writes back would not come back as they
// are, or empty: a row or column format must name a cell format the
// globals hold, as a cell's must.
std::string unsound_layout(const Worksheet& worksheet, const Workbook& globals) {
  constexpr uint16_t kColumnInfo = 0x007D;
  constexpr uint32_t kFormatted = 0x0080;
  for (const CarriedRecord& record : worksheet.pieces) {
    uint16_t xf = 0;
    if (record.Code() == kColumnInfo && (!record.Get(xf, 6) || xf >= globals.xfs.size()))
      return "a column names a cell format the workbook lacks";
  }
  for (const Worksheet::CellTable::RowBlock::Row& row : worksheet.layout_rows)
    if ((row.options & kFormatted) && ((row.options >> 16) & 0x0FFF) >= globals.xfs.size())
      return "a row names a cell format the workbook lacks";
  return "";
}

// At most the cells each column of the worksheet substream at bytes
// receives, from its records' sizes alone, so that a load makes room for
// them once.
ExcelSheet::ColumnCounts cells_in_substream(const ByteView& view) {
  namespace Cells = CellRecords::Code;
  ExcelSheet::ColumnCounts cells{};
  uint64_t position = 0;
  uint64_t depth = 0;
  uint16_t code = 0;
  while (peek_record_code(view, position, code)) {
    uint16_t length = 0;
    uint16_t col = 0;
    view.Get(length, position + 2);
    view.Get(col, position + Record::kHeaderSize + 2);
    // A multiple record: row, first column, its entries, last column.
    const uint64_t entries = length < 6 ? 0 : length - 6u;
    uint64_t n = 0;
    switch (code) {
      case Cells::kMulRK:
        n = entries / 6;
        break;
      case Cells::kMulBlank:
        n = entries / 2;
        break;
      case Cells::kRK:
      case Cells::kNumber:
      case Cells::kBoolErr:
      case Cells::kBlank:
      case Cells::kLabelSST:
      case Cells::kLabel:
      case Cells::kRString:
        n = 1;
        break;
      case RecordCode::kBof:
        ++depth;
        break;
      case RecordCode::kEof:
        if (--depth == 0) return cells;
        break;
      default:
        break;
    }
    for (uint64_t c = col; n > 0 && c < ExcelSheet::kMaxCols; --n, ++c) ++cells[c];
    position += Record::kHeaderSize + length;
  }
  return cells;
}

}  // namespace

ExcelFile::ExcelFile() = default;

ExcelFile::ExcelFile(const char* path) {
  Load(path);
}

ExcelFile::~ExcelFile() {
  if (document_.IsOpen()) document_.Close();
}

// ---------------------------------------------------------------------------
// Workbook operations

void ExcelFile::New(int32_t count) {
  carried_.clear();
  root_class_ = CompoundDocument::StorageClass();
  survey_ = ContentSurvey();
  DropSheets();
  globals = Workbook();
  globals.fonts.resize(kDefaultFonts);
  globals.xfs.resize(kDefaultXFs);
  globals.styles.resize(kDefaultStyles);
  globals.bound_sheets.resize(1);  // "Sheet1"
  worksheets.assign(1, Worksheet());
  BuildSheetObjects();
  for (int32_t i = 1; i < count; ++i) AddWorksheet(-1);
}

// The path looked up (its links followed, the file opened) for this one
// call; the path is remembered as given once the work succeeds.
template <class Work>
bool ExcelFile::OnPath(const char* path, Work work) {
  if (document_.IsOpen()) document_.Close();
  problem_.clear();
  if (!path) {
    problem_ = "no file name given";
    return false;
  }
  FileTarget target;
  if (!target.Find(path) || !target.OpenFile()) {
    problem_ = target.Problem();
    return false;
  }
  if (!work(static_cast<const FileTarget&>(target))) return false;
  path_ = path;
  return true;
}

bool ExcelFile::Load(const char* path) {
  return OnPath(path, [this](const FileTarget& target) { return Load(target); });
}

bool ExcelFile::Load(const FileTarget& target) {
  if (document_.IsOpen()) document_.Close();
  problem_.clear();
  if (!target.Exists()) {
    problem_ = std::strerror(ENOENT);
    return false;
  }
  if (!S_ISREG(target.Info().st_mode)) {
    problem_ = FileSafety::not_a_file(target.Info().st_mode);
    return false;
  }
  if (target.File() < 0) {
    problem_ = std::strerror(target.OpenError());
    return false;
  }
  // A file the user may only read still loads; saving it is refused later.
  if (!document_.OpenOn(target.File(),
                        target.WriteRefusal() ? CompoundDocument::kRead : kReadWrite)) {
    problem_ = document_.OpenFailure() == kTooDeep
                   ? "its storages are nested deeper than any workbook's (more than " +
                         std::to_string(CompoundDocument::kMaxDepth) + " levels)"
                   : why_not_a_document(target.File());
    return false;
  }

  std::vector<char> bytes;
  Workbook parsed_globals;
  // The shared strings go straight into the table of texts the cells use.
  auto parsed_texts = std::make_unique<TextTable>();
  parsed_globals.shared_strings.texts = parsed_texts.get();
  std::vector<Worksheet> parsed_sheets;
  SheetList parsed_cells;
  std::string unsound;
  std::vector<CarriedEntry> carried;
  // Everything is parsed aside first, so that a damaged file changes
  // nothing in memory; the document is closed so that a later Save cannot
  // write this workbook into a file it was not read from.
  const int read = document_.ReadStream(kStreamName, bytes);
  uint64_t older_size = 0;
  if (read == kNoSuchStream)
    problem_ = document_.StreamSize(kOlderStreamName, older_size) == kSuccess
                   ? "it holds a workbook of an older version of the format, which this export "
                     "does not write"
                   : "it is a compound document without a \"Workbook\" stream";
  else if (read != kSuccess)
    problem_ = "its \"Workbook\" stream cannot be read (the file is damaged)";
  else if (bytes.empty())
    problem_ = "its \"Workbook\" stream is empty";
  else if (!IsBiff8(bytes))
    problem_ =
        "its workbook is of an older version of the format, which this export does not write";
  else if (ContentSurvey::Of(bytes.data(), bytes.size()).Encrypted())
    problem_ = ContentSurvey::Of(bytes.data(), bytes.size()).Refusal(false);
  else if (!ParseWorkbookStream(bytes.data(), bytes.size(), parsed_globals, parsed_sheets,
                                &parsed_cells, &unsound))
    problem_ = "its \"Workbook\" stream is damaged";
  else if (parsed_globals.xfs.empty())
    problem_ = "its \"Workbook\" stream is damaged: a cell format is missing";
  else if (!unsound.empty())
    problem_ = "its \"Workbook\" stream is damaged: " + unsound;
  for (size_t i = 0; problem_.empty() && i < parsed_sheets.size(); ++i) {
    unsound = unsound_layout(parsed_sheets[i], parsed_globals);
    if (!unsound.empty()) problem_ = "its \"Workbook\" stream is damaged: " + unsound;
  }
  CompoundDocument::StorageClass root_class;
  if (problem_.empty()) problem_ = collect_entries(document_, carried);
  if (problem_.empty() && document_.GetStorageClass(u"\\", root_class) != kSuccess)
    problem_ = "its other streams cannot be read (the file is damaged)";
  if (!problem_.empty()) {
    document_.Close();
    return false;
  }
  globals = std::move(parsed_globals);
  DropSheets();
  texts = std::move(parsed_texts);
  worksheets = std::move(parsed_sheets);
  carried_ = std::move(carried);
  root_class_ = root_class;
  survey_ = ContentSurvey::Of(bytes.data(), bytes.size());
  // A VBA project lives in a storage of its own beside the stream.
  for (const CarriedEntry& entry : carried_)
    if (entry.parent == CarriedEntry::kInRoot && entry.name == u"_VBA_PROJECT_CUR")
      survey_.NoteMacros();
  path_ = target.Shown();
  origin_ = std::make_unique<FileTarget>();
  origin_->FindAgain(target);
  origin_file_ = target.Info();
  // The sheet objects were read with the records; they join this workbook.
  sheets = std::move(parsed_cells);
  for (size_t i = 0; i < sheets.size(); ++i) {
    sheets[i].SetOwner(this);
    sheets[i].SetSheetIndex(i);
  }
  return true;
}

bool ExcelFile::IsBiff8(const std::vector<char>& bytes) {
  const ByteView view(bytes.data(), bytes.size());
  uint16_t code = 0;
  uint16_t version = 0;
  // A stream that does not start with a whole BOF is left to the parser.
  if (!peek_record_code(view, 0, code) || code != RecordCode::kBof) return true;
  return !view.Get(version, Record::kHeaderSize) || version == kBiff8;
}

bool ExcelFile::Save() {
  if (!document_.IsOpen() || !origin_) {
    problem_ = "no workbook file is open";
    return false;
  }
  document_.Close();
  problem_.clear();
  FileTarget target;
  if (!target.FindAgain(*origin_)) {
    problem_ = target.Problem();
    return false;
  }
  return SaveLocked(target);
}

bool ExcelFile::SaveAs(const char* path) {
  if (document_.IsOpen()) document_.Close();
  problem_.clear();
  FileTarget target;
  if (!path || !target.Find(path)) {
    problem_ = path ? target.Problem() : "no file name given";
    return false;
  }
  if (!SaveLocked(target)) return false;
  path_ = path;
  return true;
}

// As an export saves: the lock first, then the file opened, so that an
// export's save cannot come between the two.
bool ExcelFile::SaveLocked(FileTarget& target) {
  FileSafety::FileLock lock;
  if (!lock.Acquire(target, kLockWait)) {
    problem_ = lock.Problem();
    return false;
  }
  if (!target.OpenFile()) {
    problem_ = target.Problem();
    return false;
  }
  if (origin_ && target.SamePlace(*origin_) &&
      (!target.Exists() || !FileSafety::same_file(target.Info(), origin_file_))) {
    problem_ = "\"" + target.Shown() +
               "\" was replaced by another program since this workbook was loaded from it or "
               "saved into it; saving would lose that program's changes";
    return false;
  }
  return SaveAs(target);
}

bool ExcelFile::SaveAs(const FileTarget& target, NewFile kind) {
  // Other readers would read such a format past the end of the table.
  problem_ = MissingCellFormat();
  if (!problem_.empty()) return false;
  if (document_.IsOpen()) document_.Close();
  // Built before any file is touched, so that nothing that can still fail
  // in memory comes after.
  std::vector<char> bytes;
  if (!BuildStream(bytes)) {
    problem_ = "the workbook would be larger than a stream can hold (4 GiB)";
    return false;
  }
  // Never over a workbook an office program has open: checked before the
  // work and again just before the replacement.
  problem_ = office_lock_refusal(target);
  if (!problem_.empty()) return false;
  FileSafety::FileReplacement replacement(target, kind);
  replacement.CheckLast([&target] { return office_lock_refusal(target); });
  if (!replacement.Begin() || !WriteDocument(replacement.NewDescriptor(), bytes) ||
      !replacement.Commit()) {
    if (problem_.empty()) problem_ = replacement.Problem();
    return false;
  }
  path_ = target.Shown();
  auto origin = std::make_unique<FileTarget>();
  origin->FindAgain(target);
  origin_ = std::move(origin);
  fstat(replacement.NewDescriptor(), &origin_file_);
  // Open again, as after a Load, so that Save writes back here: through
  // the new file's own descriptor, which now holds the name.
  document_.OpenOn(replacement.NewDescriptor(), kReadWrite);
  return true;
}

std::string ExcelFile::MissingCellFormat() const {
  const uint64_t formats = globals.xfs.size();
  for (uint64_t s = 0; s < sheets.size(); ++s) {
    if (!IsWorksheet(s)) continue;
    const ExcelCell* missing = nullptr;
    sheets[s].VisitStored([&](const ExcelCell& cell) {
      if (!missing && cell.Format() >= formats) missing = &cell;
    });
    if (!missing) continue;
    // A name held in 16-bit characters is shown by those of Latin-1.
    const ShortUnicodeString& name = globals.bound_sheets[s].name;
    std::string shown = name.narrow;
    if (name.IsWide())
      for (char16_t c : name.wide) shown.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return "the cell " + cell_name(missing->Row(), missing->Column()) + " of the sheet \"" + shown +
           "\" names the cell format " + std::to_string(missing->Format()) +
           ", which the workbook lacks (it has " + std::to_string(formats) + ")";
  }
  return "";
}

std::string cell_name(uint64_t row, uint64_t col) {
  std::string name;
  for (uint64_t n = col + 1; n > 0; n = (n - 1) / 26)
    name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
  return name + std::to_string(row + 1);
}

bool ExcelFile::WriteDocument(int fd, const std::vector<char>& bytes) {
  CompoundDocument out;
  errno = 0;
  bool ok = out.CreateOn(fd) && out.MakeStream(kStreamName) == kSuccess &&
            out.WriteStream(kStreamName, bytes, bytes.size()) == kSuccess &&
            out.AddTree(carried_) == kSuccess &&
            (root_class_ == CompoundDocument::StorageClass() ||
             out.SetStorageClass(u"\\", root_class_) == kSuccess);
  if (ok) return true;
  problem_ = "cannot write the new workbook beside the file";
  if (errno) problem_ += std::string(": ") + std::strerror(errno);
  return false;
}

// The cell tables go straight from the cells into the stream: no record
// object is made per cell, and the stream is allocated once, at its size.
bool ExcelFile::BuildStream(std::vector<char>& bytes) {
  bytes.clear();
  CellTableWriter writer(*this);
  const uint64_t globals_size = globals.RecordSize();
  uint64_t total = globals_size;
  for (size_t i = 0; i < worksheets.size(); ++i)
    total += worksheets[i].RecordSize() + writer.CellTableSize(i);
  if (total > kMaxStreamSize) return false;

  // Each sheet entry holds the offset of its worksheet's BOF.
  uint64_t start = globals_size;
  for (size_t i = 0; i < worksheets.size(); ++i) {
    if (i < globals.bound_sheets.size())
      globals.bound_sheets[i].position = static_cast<uint32_t>(start);
    writer.SetPositions(i, start);
    start += worksheets[i].RecordSize() + writer.CellTableSize(i);
  }
  bytes.resize(total);
  uint64_t position = globals.Write(bytes.data());
  for (size_t i = 0; i < worksheets.size(); ++i)
    position += writer.WriteSheet(i, bytes.data() + position);
  return position == total;
}

// ---------------------------------------------------------------------------
// The stream

uint64_t ExcelFile::ParseWorkbookStream(const char* bytes, uint64_t size, Workbook& parsed_globals,
                                        std::vector<Worksheet>& parsed_sheets,
                                        SheetList* parsed_cells, std::string* unsound) {
  const ByteView view(bytes, size);
  std::vector<Worksheet> found;
  SheetList found_cells;
  std::vector<Substream> substreams;
  bool have_globals = false;
  uint64_t p = 0;
  uint16_t code = 0;
  while (peek_record_code(view, p, code) && code == RecordCode::kBof) {
    const ByteView at = view.From(p);
    BOF scratch;
    if (!scratch.Read(at.data(), at.size())) return 0;
    uint64_t used = 0;
    if (!have_globals) {
      // The globals come first: the sheet entries' offsets and every
      // sheet's strings and formats live there.
      if (scratch.type != BOF::kGlobals) return 0;
      used = parsed_globals.Read(at.data(), at.size());
      have_globals = true;
    } else if (scratch.type == BOF::kWorksheet && parsed_cells) {
      // The cells go straight from the records into a sheet object of no
      // workbook yet; no record object is kept per cell.
      found.emplace_back();
      ExcelSheet& sheet = found_cells.emplace_back(nullptr, 0);
      sheet.SetTexts(parsed_globals.shared_strings.texts);
      ExcelSheet::ColumnCounts counts = cells_in_substream(at);
      for (uint64_t& count : counts) count = std::min(count, ExcelSheet::kMaxRows);
      sheet.ReserveCells(counts);
      const Workbook::SharedStringTable& strings = parsed_globals.shared_strings;
      used = found.back().Read(at.data(), at.size(),
                               [&](const Worksheet::CellTable::RowBlock::CellBlock& record) {
                                 if (unsound && unsound->empty())
                                   *unsound = unsound_cell(record, parsed_globals);
                                 sheet.ReadCell(record, strings);
                               });
      // Rows that carry layout belong to the sheet, as a save writes them.
      Worksheet::Dimensions extent = found.back().dimensions;
      if (!found.back().layout_rows.empty())
        extent.first_unused_row = std::max<uint64_t>(
            extent.first_unused_row, found.back().layout_rows.back().row_index + 1u);
      sheet.FinishReading(extent);
      substreams.push_back({p, static_cast<int64_t>(found.size() - 1)});
    } else if (scratch.type == BOF::kWorksheet) {
      found.emplace_back();
      used = found.back().Read(at.data(), at.size());
      substreams.push_back({p, static_cast<int64_t>(found.size() - 1)});
    } else {
      // A chart sheet, macro sheet or other substream goes whole, with an
      // empty sheet object beside it.
      used = skip_substream(at.data(), at.size());
      found.emplace_back().CarryWhole(at.data(), used);
      if (parsed_cells) found_cells.emplace_back(nullptr, 0);
      substreams.push_back({p, static_cast<int64_t>(found.size() - 1)});
    }
    if (!used) return 0;
    p += used;
  }
  if (!have_globals) return 0;

  std::vector<size_t> match;
  if (!match_sheet_entries(parsed_globals.bound_sheets, substreams, match)) return 0;
  std::vector<Workbook::BoundSheet> kept;
  parsed_sheets.clear();
  if (parsed_cells) parsed_cells->clear();
  for (size_t i = 0; i < match.size(); ++i) {
    const int64_t w = substreams[match[i]].worksheet;
    if (w < 0) continue;
    kept.push_back(parsed_globals.bound_sheets[i]);
    parsed_sheets.push_back(std::move(found[static_cast<size_t>(w)]));
    if (parsed_cells) parsed_cells->Append(found_cells.Take(static_cast<size_t>(w)));
  }
  parsed_globals.bound_sheets = kept;
  return p;
}

void ExcelFile::BuildSheetObjects() {
  sheets.clear();
  sheets.reserve(worksheets.size());
  for (size_t i = 0; i < worksheets.size(); ++i) sheets.emplace_back(this, i);
}

// ---------------------------------------------------------------------------
// Sheets

ExcelSheet* ExcelFile::SheetAt(uint64_t index) {
  return index < sheets.size() ? &sheets[index] : nullptr;
}

ExcelSheet* ExcelFile::GetWorksheet(const char* name) {
  const int64_t i = FindSheet(name);
  return i < 0 ? nullptr : &sheets[static_cast<size_t>(i)];
}

ExcelSheet* ExcelFile::GetWorksheet(const char16_t* name) {
  const int64_t i = FindSheet(name);
  return i < 0 ? nullptr : &sheets[static_cast<size_t>(i)];
}

ExcelSheet* ExcelFile::AddWorksheet(int32_t index) {
  // Checked here so that a refused position cannot make the search below
  // run on for ever.
  if (index < -1 || (index >= 0 && static_cast<uint64_t>(index) > sheets.size())) return nullptr;
  for (uint64_t k = sheets.size() + 1;; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "Sheet%llu", static_cast<unsigned long long>(k));
    if (ExcelSheet* sheet = AddWorksheet(name, index)) return sheet;
  }
}

ExcelSheet* ExcelFile::AddWorksheet(const char* name, int32_t index) {
  return AddNamed(name, index);
}

ExcelSheet* ExcelFile::AddWorksheet(const char16_t* name, int32_t index) {
  return AddNamed(name, index);
}

template <class Char>
ExcelSheet* ExcelFile::AddNamed(const Char* name, int32_t index) {
  if (!storable_name(name) || FindSheet(name) >= 0) return nullptr;
  if (index < -1 || (index >= 0 && static_cast<uint64_t>(index) > sheets.size())) return nullptr;
  const size_t at = index < 0 ? sheets.size() : static_cast<size_t>(index);

  Workbook::BoundSheet entry;
  entry.name = name;
  Worksheet worksheet;
  worksheet.window2.options &= static_cast<uint16_t>(~Worksheet::Window2::kSelected);
  globals.bound_sheets.insert(globals.bound_sheets.begin() + static_cast<std::ptrdiff_t>(at),
                              entry);
  worksheets.insert(worksheets.begin() + static_cast<std::ptrdiff_t>(at), worksheet);
  // The sheet object reads its (empty) worksheet, which must be in place.
  sheets.emplace(at, this, at);
  for (size_t i = at + 1; i < sheets.size(); ++i) sheets[i].SetSheetIndex(i);
  // The active sheet stays the sheet it named; the tab strip starts where it
  // did, or earlier, at the new sheet, which must be in view.
  Workbook::Window1& window = globals.window1;
  if (sheets.size() > 1 && at <= window.active_sheet) ++window.active_sheet;
  window.first_visible_tab =
      static_cast<uint16_t>(std::min<uint64_t>(window.first_visible_tab, at));
  sheet_inserted(globals.pieces, at, sheets.size());
  return &sheets[at];
}

bool ExcelFile::DeleteAt(uint64_t index) {
  // A name of the sheet could only go by renumbering the names every
  // formula counts.
  if (index >= sheets.size() || has_local_names(globals.pieces, index)) return false;
  const auto at = static_cast<std::ptrdiff_t>(index);
  globals.bound_sheets.erase(globals.bound_sheets.begin() + at);
  worksheets.erase(worksheets.begin() + at);
  sheets.erase(static_cast<size_t>(at));
  for (size_t i = static_cast<size_t>(index); i < sheets.size(); ++i) sheets[i].SetSheetIndex(i);
  Workbook::Window1& window = globals.window1;
  if (index < window.active_sheet) --window.active_sheet;
  if (index < window.first_visible_tab) --window.first_visible_tab;
  if (!sheets.empty() && window.active_sheet >= sheets.size())
    window.active_sheet = static_cast<uint16_t>(sheets.size() - 1);
  sheet_removed(globals.pieces, index, sheets.size());
  return true;
}

void ExcelFile::RecalculateOnOpen() {
  constexpr char kUncalced[] = {0x5E, 0x00, 0x02, 0x00, 0x00, 0x00};
  for (Worksheet& worksheet : worksheets) {
    if (worksheet.whole) continue;
    auto& pieces = worksheet.pieces;
    if (std::any_of(pieces.begin(), pieces.end(),
                    [](const CarriedRecord& p) { return p.Code() == 0x005E; }))
      continue;
    // Its place is before the Index, right after the BOF.
    pieces.insert(pieces.begin(), CarriedRecord())->Take(kUncalced, sizeof kUncalced);
  }
  // Programs that do not read that record (gnumeric) recalculate a formula
  // whose "calculate always" option (bit 0 of the options at data offset
  // 14) is set.
  constexpr uint64_t kOptions = Record::kHeaderSize + 14;
  for (Worksheet& worksheet : worksheets)
    for (Worksheet::KeptFormula& formula : worksheet.formulas)
      if (formula.bytes.size() > kOptions) formula.bytes[kOptions] |= 1;
}

bool ExcelFile::SetActiveSheet(uint64_t index) {
  if (index >= sheets.size()) return false;
  globals.window1.active_sheet = static_cast<uint16_t>(index);
  return true;
}

bool ExcelFile::DeleteWorksheet(const char* name) {
  const int64_t i = FindSheet(name);
  return i >= 0 && DeleteAt(static_cast<uint64_t>(i));
}

bool ExcelFile::DeleteWorksheet(const char16_t* name) {
  const int64_t i = FindSheet(name);
  return i >= 0 && DeleteAt(static_cast<uint64_t>(i));
}

const char* ExcelFile::GetSheetName(uint64_t index) const {
  return index < sheets.size() ? globals.bound_sheets[index].name.Narrow() : nullptr;
}

const char16_t* ExcelFile::GetWSheetName(uint64_t index) const {
  return index < sheets.size() ? globals.bound_sheets[index].name.Wide() : nullptr;
}

bool ExcelFile::GetSheetName(uint64_t index, char* buffer) const {
  const char* name = GetSheetName(index);
  if (!name || !buffer) return false;
  std::string(name).copy(buffer, kMaxNameLength);
  buffer[std::min<uint64_t>(length(name), kMaxNameLength)] = '\0';
  return true;
}

bool ExcelFile::GetSheetName(uint64_t index, char16_t* buffer) const {
  const char16_t* name = GetWSheetName(index);
  if (!name || !buffer) return false;
  const uint64_t n = std::min<uint64_t>(length(name), kMaxNameLength);
  for (uint64_t i = 0; i < n; ++i) buffer[i] = name[i];
  buffer[n] = u'\0';
  return true;
}

bool ExcelFile::RenameAt(uint64_t index, const char* name) {
  if (index >= sheets.size() || !storable_name(name) || FindSheet(name) >= 0) return false;
  globals.bound_sheets[index].name = name;
  return true;
}

bool ExcelFile::RenameAt(uint64_t index, const char16_t* name) {
  if (index >= sheets.size() || !storable_name(name) || FindSheet(name) >= 0) return false;
  globals.bound_sheets[index].name = name;
  return true;
}

bool ExcelFile::RenameWorksheet(const char* from, const char* to) {
  const int64_t i = FindSheet(from);
  return i >= 0 && RenameAt(static_cast<uint64_t>(i), to);
}

bool ExcelFile::RenameWorksheet(const char16_t* from, const char16_t* to) {
  const int64_t i = FindSheet(from);
  return i >= 0 && RenameAt(static_cast<uint64_t>(i), to);
}

}  // namespace YExcel
}  // namespace YCompoundFiles
