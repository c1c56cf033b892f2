#include "export_functions.h"

#include "excel_file.h"
#include "kelpotools.h"
#include "windows1252.h"
#include "workbook_update.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using YCompoundFiles::YExcel::cell_name;
using YCompoundFiles::YExcel::ExcelCell;
using YCompoundFiles::YExcel::ExcelFile;
using YCompoundFiles::YExcel::ExcelSheet;
using YCompoundFiles::YExcel::WorkbookUpdate;

namespace {

// Rows 0 and 1 hold the title and the header; the data start below them.
constexpr uint32_t kFirstDataRow = 2;
constexpr uint64_t kMaxRows = ExcelSheet::kMaxRows;
constexpr uint64_t kMaxCols = ExcelSheet::kMaxCols;
// Longer sheet names are cut or refused by spreadsheet programs.
constexpr size_t kMaxSheetName = 31;
// The most characters a cell's text may hold in spreadsheet programs; a
// Windows-1252 byte is one character.
constexpr size_t kMaxCellText = 32767;
// How long an export waits for another one into the same file to finish.
constexpr std::chrono::seconds kLockWait(30);

enum class Layout { kProfile, kImage };

struct Request {
  const char* function;
  Layout layout;
  std::string file, header, title, sheet;
  float scale = 1.0f;
};

std::string text_of(DM_StringToken token) {
  return DM_string_to_std(dm_string::share(token), 0);
}

// The invoker puts the script function's name in front.
[[noreturn]] void refuse(const Request&, const std::string& reason) {
  throw std::runtime_error(reason);
}

bool file_exists(const std::string& path) {
  struct stat info;
  // Anything but a plain "not there" (a folder that may not be searched,
  // say) counts as existing, so that it is never taken for absent.
  return stat(path.c_str(), &info) == 0 || errno != ENOENT;
}

// What a refusal adds when the file named is there.
std::string left_alone(const Request& r) {
  return file_exists(r.file) ? "; the file was left as it was" : "";
}

[[noreturn]] void refuse_argument(const Request& r, const std::string& reason) {
  refuse(r, reason + left_alone(r));
}

std::vector<std::string> words_of(const std::string& header) {
  std::istringstream in(header);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Sheet rows and columns the data need.
void data_extent(const Request& r, uint64_t width, uint64_t height, uint64_t& rows,
                 uint64_t& cols) {
  if (r.layout == Layout::kProfile) {
    rows = width;
    cols = height + 1;
  } else {
    rows = height;
    cols = width;
  }
}

// Checked before the file is read, so that a refused call leaves it alone
// and no cell is ever asked for beyond the sheet.
void check_limits(const Request& r, uint64_t width, uint64_t height,
                  const std::vector<std::string>& words) {
  uint64_t rows = 0, cols = 0;
  data_extent(r, width, height, rows, cols);
  if (kFirstDataRow + rows > kMaxRows || cols > kMaxCols) {
    refuse_argument(
        r, r.layout == Layout::kProfile
               ? "the profile does not fit into a sheet (at most 65534 points and 255 rows)"
               : "the image does not fit into a sheet (at most 256 columns and 65534 rows)");
  }
  if (words.size() > kMaxCols) refuse_argument(r, "the header has more than 256 words");
  if (!std::isfinite(r.scale)) refuse_argument(r, "the scale is not a finite number");
  // A longer text would be cut on writing or by the reader, and a cell's
  // text ends at a NUL.
  if (r.title.size() > kMaxCellText)
    throw std::length_error("the title is longer than 32767 characters" + left_alone(r));
  if (r.title.find('\0') != std::string::npos)
    throw std::invalid_argument("the title contains a NUL character" + left_alone(r));
  for (const std::string& w : words) {
    if (w.size() > kMaxCellText)
      throw std::length_error("a header word is longer than 32767 characters" + left_alone(r));
    if (w.find('\0') != std::string::npos)
      throw std::invalid_argument("a header word contains a NUL character" + left_alone(r));
  }
}

// Names spreadsheet programs keep as they are: others rename such a sheet
// on reading, or drop it.
void check_sheet_name(const Request& r) {
  const std::string& name = r.sheet;
  if (name.empty()) refuse_argument(r, "the sheet name is empty");
  // The name would end at the NUL.
  if (name.find('\0') != std::string::npos)
    refuse_argument(r, "the sheet name contains a NUL character");
  if (name.size() > kMaxSheetName)
    refuse_argument(r, "the sheet name \"" + name + "\" is longer than 31 characters");
  if (name.find_first_of(":\\/?*[]") != std::string::npos)
    refuse_argument(
        r, "the sheet name \"" + name + "\" contains one of the characters : \\ / ? * [ ]");
  if (name.front() == '\'' || name.back() == '\'')
    refuse_argument(r, "the sheet name \"" + name + "\" begins or ends with an apostrophe");
}

std::u16string sheet_name(const ExcelFile& book, uint64_t index) {
  if (const char* narrow = book.GetSheetName(index)) {
    // Names held one byte per character are Latin-1.
    std::u16string name;
    for (const char* p = narrow; *p; ++p) name.push_back(static_cast<unsigned char>(*p));
    return name;
  }
  const char16_t* wide = book.GetWSheetName(index);
  return wide ? std::u16string(wide) : std::u16string();
}

// The sheet of exactly that name, or a new one before every other sheet. A
// name that equals another sheet's but for case is refused: readers take
// the two for one and keep only one of them.
ExcelSheet& sheet_for(const Request& r, ExcelFile& book) {
  const std::u16string name = unicode_of_windows1252(r.sheet);
  const std::u16string folded = folded_case(name);
  for (uint64_t i = 0; i < book.GetTotalSheets(); ++i) {
    const std::u16string existing = sheet_name(book, i);
    if (existing == name && !book.IsWorksheet(i))
      refuse(r,
             "the sheet \"" + r.sheet + "\" of the workbook \"" + r.file +
                 "\" is a chart or macro sheet, which holds no cells; the file was left as it was");
    if (existing == name) return *book.GetWorksheet(i);
    if (folded_case(existing) == folded)
      refuse(r, "the workbook \"" + r.file + "\" holds a sheet \"" +
                    windows1252_of_unicode(existing) + "\", which differs from \"" + r.sheet +
                    "\" only in case; the file was left as it was");
  }
  const std::string refusal = book.Survey().Refusal(true);
  if (!refusal.empty())
    refuse(r, "cannot extend \"" + r.file + "\": " + refusal + "; the file was left as it was");
  ExcelSheet* sheet = is_latin1(name) ? book.AddWorksheet(latin1_of(name).c_str(), 0)
                                      : book.AddWorksheet(name.c_str(), 0);
  if (!sheet) refuse(r, "cannot add the sheet \"" + r.sheet + "\"" + left_alone(r));
  return *sheet;
}

// Cells an export writes, as rectangles: the title, the header's words, the
// data.
struct Block {
  uint64_t first_row, last_row, first_col, last_col;
  bool Meets(const Block& o) const {
    return first_row <= o.last_row && o.first_row <= last_row && first_col <= o.last_col &&
           o.first_col <= last_col;
  }
  bool Holds(const Block& o) const {
    return first_row <= o.first_row && o.last_row <= last_row && first_col <= o.first_col &&
           o.last_col <= last_col;
  }
};

// Writing into a sheet that exists: its author may have protected it, and
// a shared formula, array formula or data table that the cells written
// cover only in part would lose the cells that hold its definition, or
// keep cells that point at one gone. Else the cells it replaces make room.
void prepare_existing_sheet(const Request& r, ExcelFile& book, uint64_t index, size_t words,
                            uint64_t rows, uint64_t cols) {
  const YCompoundFiles::YExcel::Worksheet& worksheet = book.worksheets[index];
  if (worksheet.Protected())
    refuse(r, "the sheet \"" + r.sheet + "\" of the workbook \"" + r.file +
                  "\" is protected by its author; the file was left as it was");
  std::vector<Block> written = {{0, 0, 0, 0}};
  if (words > 0) written.push_back({1, 1, 0, words - 1});
  if (rows > 0 && cols > 0)
    written.push_back({kFirstDataRow, kFirstDataRow + rows - 1, 0, cols - 1});
  for (const auto& range : worksheet.FormulaRanges()) {
    const Block block{range.first_row, range.last_row, range.first_col, range.last_col};
    bool meets = false, held = false;
    for (const Block& w : written) {
      meets = meets || w.Meets(block);
      held = held || w.Holds(block);
    }
    if (meets && !held)
      refuse(r, "writing into the sheet \"" + r.sheet + "\" would cut the " + range.kind + " of " +
                    cell_name(block.first_row, block.first_col) + ":" +
                    cell_name(block.last_row, block.last_col) + "; the file was left as it was");
  }
}

// Texts are stored one byte per character where Latin-1 holds them, else as
// 16-bit characters.
void set_text(ExcelCell& cell, const std::string& host_text) {
  const std::u16string text = unicode_of_windows1252(host_text);
  if (is_latin1(text))
    cell.SetString(latin1_of(text).c_str());
  else
    cell.SetString(text.c_str());
}

// Only an absent file is made fresh; what is there is extended or refused.
void load_or_create(const Request& r, WorkbookUpdate& update) {
  if (!update.Load())
    refuse(r, "cannot extend \"" + r.file + "\": " + update.Problem() +
                  "; the file was left as it was");
  // What an export may never do to it, whatever sheet it writes.
  const std::string refusal = update.Book().Survey().Refusal(false);
  if (update.Existed() && !refusal.empty())
    refuse(r, "cannot extend \"" + r.file + "\": " + refusal + "; the file was left as it was");
}

ExcelCell& cell(ExcelSheet& sheet, uint64_t row, uint64_t col) {
  // Within the limits checked above, a cell always exists.
  ExcelCell* c = sheet.Cell(row, col);
  if (!c) throw std::logic_error("cell outside the sheet");
  return *c;
}

// A stored number may be neither infinite nor NaN: such a value is written
// as the error #NUM!, as spreadsheet programs show an impossible number.
void set_number(ExcelCell& cell, double value) {
  if (std::isfinite(value))
    cell.SetDouble(value);
  else
    cell.SetError(ExcelCell::kErrorNum);
}

void write_cells(const Request& r, ExcelSheet& sheet, const std::vector<std::string>& words,
                 const float* pixels, uint64_t width, uint64_t height) {
  set_text(cell(sheet, 0, 0), r.title);
  for (size_t k = 0; k < words.size(); ++k) set_text(cell(sheet, 1, k), words[k]);

  if (r.layout == Layout::kProfile) {
    for (uint64_t i = 0; i < width; ++i) {
      const float abscissa = static_cast<float>(i) * r.scale;
      set_number(cell(sheet, kFirstDataRow + i, 0), abscissa);
      for (uint64_t j = 0; j < height; ++j)
        set_number(cell(sheet, kFirstDataRow + i, 1 + j), pixels[i + j * width]);
    }
  } else {
    for (uint64_t x = 0; x < width; ++x)
      for (uint64_t y = 0; y < height; ++y)
        set_number(cell(sheet, kFirstDataRow + y, x), pixels[x + y * width]);
  }
}

void save_to_workbook(const Request& r, DM_RealImageToken token) {
  RealImagePtr image(token);
  const uint64_t width = DM::ImageGetDimensionSize(image, 0);
  const uint64_t height = DM::ImageGetDimensionSize(image, 1);
  const std::vector<std::string> words = words_of(r.header);
  // Paths end at a NUL: the file would be named after what precedes it.
  if (r.file.find('\0') != std::string::npos) refuse(r, "the file name contains a NUL character");
  check_limits(r, width, height, words);
  check_sheet_name(r);
  // The path is looked up here once; the update holds the lock until the
  // new file is in place, so that an export running at the same time into
  // the same file cannot load it before this one's save and then save over
  // it.
  WorkbookUpdate update;
  if (!update.Begin(r.file, kLockWait))
    refuse(r, "cannot write the workbook \"" + r.file + "\": " + update.Problem() + left_alone(r));
  PixelLock lock(image);

  load_or_create(r, update);
  ExcelFile& book = update.Book();
  const bool existed = update.Existed();
  const uint64_t sheets_before = book.GetTotalSheets();
  ExcelSheet& sheet = sheet_for(r, book);
  // A fresh workbook opens on the sheet written; an existing one on the
  // sheet its user had active, which the workbook follows.
  if (!existed) book.SetActiveSheet(0);
  if (book.GetTotalSheets() == sheets_before) {
    uint64_t rows = 0, cols = 0;
    data_extent(r, width, height, rows, cols);
    prepare_existing_sheet(r, book, sheet.SheetIndex(), words.size(), rows, cols);
    // Formulas elsewhere may depend on the cells replaced.
    book.RecalculateOnOpen();
  }
  write_cells(r, sheet, words, lock.data(), width, height);
  // Only a folder that could not be flushed leaves the new file in place.
  if (!update.Commit())
    refuse(r, "cannot write the workbook \"" + r.file + "\": " + update.Problem() +
                  (existed && !update.Replaced() ? "; the file was left as it was" : ""));
}

}  // namespace

void saveprofileasxlslong(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                          float scale, DM_StringToken title, DM_StringToken sheet) {
  Request r{"saveprofileasxlslong", Layout::kProfile, text_of(file), text_of(header),
            text_of(title),         text_of(sheet),   scale};
  save_to_workbook(r, image);
}

void saveprofileasxls(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                      float scale) {
  Request r{"saveprofileasxls", Layout::kProfile, text_of(file), text_of(header),
            "Profile",          "Profile",        scale};
  save_to_workbook(r, image);
}

void saveimageasxls(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                    DM_StringToken title, DM_StringToken sheet) {
  Request r{"saveimageasxls", Layout::kImage, text_of(file),
            text_of(header),  text_of(title), text_of(sheet)};
  save_to_workbook(r, image);
}
