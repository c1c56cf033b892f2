// The workbook on any input: load, save, load again, and the second load
// must show the same sheets (names, sizes) and the same cells (values of
// every kind, formats, formatted empty cells); every record the workbook
// does not model must be written again, in its substream, in order. An
// input that starts like a compound document is the file itself; any other
// is taken as the "Workbook" stream of a new file, so that the fuzzer can
// work on the records directly.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "compound_document.h"
#include "excel_file.h"
#include "fuzz_support.h"
#include "substream_records.h"

using namespace YCompoundFiles;
using YCompoundFiles::YExcel::ExcelCell;
using YCompoundFiles::YExcel::ExcelFile;
using YCompoundFiles::YExcel::ExcelSheet;

namespace {

const unsigned char kMagic[] = {0xD0, 0xCF, 0x11, 0xE0};

// Everything the round trip must keep, as text: each sheet's name in its
// width, its size and every cell with a value or a format: its format and
// its exact value.
std::string describe(ExcelFile& book) {
  std::ostringstream out;
  for (uint64_t s = 0; s < book.GetTotalSheets(); ++s) {
    ExcelSheet* sheet = book.GetWorksheet(s);
    if (const char* name = book.GetSheetName(s)) out << "sheet n'" << name << "'";
    if (const char16_t* name = book.GetWSheetName(s))
      for (out << "sheet w"; *name; ++name) out << ' ' << static_cast<unsigned>(*name);
    out << " " << sheet->GetTotalRows() << "x" << sheet->GetTotalCols() << "\n";
    for (uint64_t r = 0; r < sheet->GetTotalRows(); ++r) {
      for (uint64_t c = 0; c < sheet->GetTotalCols(); ++c) {
        const ExcelCell* cell = sheet->At(r, c);
        if (cell == nullptr || (cell->Type() == ExcelCell::kUndefined && cell->Format() == 0))
          continue;
        out << r << "," << c << " format " << cell->Format() << " ";
        bool flag = false;
        uint8_t code = 0;
        if (cell->Type() == ExcelCell::kInteger || cell->Type() == ExcelCell::kDouble) {
          // A number may change between integer and double (an integer
          // beyond the RK range is stored as a double): the value counts.
          const double value = cell->GetDouble();
          uint64_t bits;
          std::memcpy(&bits, &value, sizeof bits);
          out << "number " << std::hex << bits << std::dec;
        } else if (cell->GetString()) {
          out << "narrow " << cell->GetString();
        } else if (const char16_t* text = cell->GetWString()) {
          for (out << "wide"; *text; ++text) out << ' ' << static_cast<unsigned>(*text);
        } else if (cell->GetBoolean(flag)) {
          out << "boolean " << flag;
        } else if (cell->GetError(code)) {
          out << "error " << static_cast<unsigned>(code);
        } else {
          out << "empty";
        }
        out << "\n";
      }
    }
  }
  return out.str();
}

// Changes the loaded workbook a little, at places the last input bytes
// choose: numbers, texts, a boolean, an error and formats into the first
// sheet when it is a worksheet (a text beyond the sheet's size), and a new
// sheet.
void edit_book(ExcelFile& book, const uint8_t* choice) {
  if (ExcelSheet* sheet = book.IsWorksheet(0) ? book.GetWorksheet(0) : nullptr) {
    // Inside the limits a sheet has, where the cells are written below
    // and right of it.
    const uint64_t row = choice[0] % std::min(sheet->GetTotalRows() + 2, ExcelSheet::kMaxRows - 2),
                   col = choice[1] % std::min(sheet->GetTotalCols() + 2, ExcelSheet::kMaxCols - 1);
    *sheet->Cell(row, col) = 0.1 * choice[2];
    *sheet->Cell(row + 1, col) = static_cast<int32_t>(choice[2]) << 24;
    *sheet->Cell(row, col + 1) = "added";
    *sheet->Cell(choice[2] * 97u, choice[3]) = u"wide \u00b5";
    sheet->Cell(row + 1, col + 1)->SetBoolean(choice[2] & 1);
    sheet->Cell(row + 2, col)->SetError(ExcelCell::kErrorCodes[choice[2] % 7]);
    // Formats the workbook holds (a save does not check them); the first
    // cell stays empty, formatted.
    if (const uint64_t formats = book.globals.xfs.size()) {
      sheet->Cell(row + 2, col + 1)->SetFormat(static_cast<uint16_t>(choice[3] % formats));
      sheet->Cell(row, col + 1)->SetFormat(static_cast<uint16_t>(choice[2] % formats));
    }
    if (choice[3] & 1) sheet->EraseCell(row, col);
  }
  book.AddWorksheet("Added by the fuzzer", choice[3] & 2 ? 0 : -1);
}

using workbook_test::Bytes;
using workbook_test::get16;

// The records of each substream (workbook_test::substream_records) that
// a save carries as they are. Those that store sheet indices (patched on a
// save) and those that begin and end a substream count by their code.
// Formulas and their text results are left out (one of a constant is saved
// as the value it stands for), and so are the records that go with
// formulas when cells were written (a written cell replaces a formula).
std::vector<std::vector<Bytes>> carried_records(const Bytes& stream, bool cells_written) {
  static const uint16_t kRebuilt[] = {
      0x003D, 0x0031, 0x041E, 0x00E0, 0x0293, 0x0085, 0x00FC, 0x00FF,  // globals
      0x020B, 0x0200, 0x0208, 0x00D7, 0x027E, 0x0203, 0x00FD,          // sheets
      0x00BD, 0x0201, 0x00BE, 0x0205, 0x023E, 0x0204, 0x00D6};
  // Also the substreams' beginnings and ends, which a save writes anew.
  static const uint16_t kPatched[] = {0x0017, 0x0018, 0x01AE, 0x013D, 0x0809, 0x000A};
  static const uint16_t kFormula[] = {0x0006, 0x0207};
  static const uint16_t kWithFormulas[] = {0x04BC, 0x0221, 0x0236};
  auto among = [](uint16_t code, const auto& codes) {
    return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
  };
  std::vector<std::vector<Bytes>> substreams;
  for (const auto& records : workbook_test::substream_records(stream)) {
    substreams.emplace_back();
    for (const Bytes& r : records) {
      const uint16_t code = get16(r, 0);
      if (among(code, kRebuilt) || among(code, kFormula) ||
          (cells_written && among(code, kWithFormulas)))
        continue;
      substreams.back().push_back(among(code, kPatched) ? Bytes(r.begin(), r.begin() + 2) : r);
    }
  }
  return substreams;
}

Bytes workbook_stream(const std::string& path) {
  CompoundDocument doc;
  Bytes stream;
  if (!doc.Open(path.c_str(), CompoundDocument::kRead) ||
      doc.ReadStream("Workbook", stream) != kSuccess)
    stream.clear();
  return stream;
}

// The records' codes, and all bytes of those not in other.
std::string codes(const std::vector<Bytes>& records, const std::vector<Bytes>& other = {}) {
  std::ostringstream out;
  for (const Bytes& r : records) {
    out << ' ' << std::hex << get16(r, 0);
    if (!other.empty() && std::find(other.begin(), other.end(), r) == other.end())
      for (size_t k = 0; k < r.size(); ++k)
        out << (k ? "," : "[") << (r[k] & 0xff) << (k + 1 < r.size() ? "" : "]");
  }
  return out.str();
}

// The globals' carried records are the saved globals', and each sheet's
// are some saved sheet's (sheets may be saved in another order than the
// stream held them, the order of their entries). A substream that no sheet
// entry names belongs to no sheet (no reader shows it) and is not saved:
// where the loaded sheets do not account for every substream, only the
// globals are compared.
void check_carried(const Bytes& before_stream, const std::string& saved, bool cells_written,
                   uint64_t sheets_loaded) {
  auto before = carried_records(before_stream, cells_written);
  if (before.empty()) return;
  if (before.size() - 1 != sheets_loaded) before.resize(1);
  auto after = carried_records(workbook_stream(saved), cells_written);
  FUZZ_CHECK(!after.empty(), "the saved workbook has no substreams");
  FUZZ_CHECK(after[0] == before[0], "the globals' records are not kept:\n" +
                                        codes(before[0], after[0]) + "\nsaved as\n" +
                                        codes(after[0], before[0]));
  after.erase(after.begin());
  for (size_t k = 1; k < before.size(); ++k) {
    const auto found = std::find(after.begin(), after.end(), before[k]);
    std::string others;
    if (found == after.end())
      for (const auto& records : after) others += "\n" + codes(records);
    FUZZ_CHECK(found != after.end(), "the records of sheet substream " + std::to_string(k) +
                                         " are not kept:\n" + codes(before[k]) + "\nnot among" +
                                         others);
    after.erase(found);
  }
}

void check_reload(const std::string& path, const std::string& expected, const char* how) {
  ExcelFile again;
  FUZZ_CHECK(again.Load(path.c_str()),
             std::string("a workbook written by ") + how + " does not load");
  const std::string got = describe(again);
  FUZZ_CHECK(got == expected,
             std::string("after ") + how + ":\n" + got + "instead of:\n" + expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = fuzz::scratch_folder_path() + "/input.xls";
  if (size >= 4 && std::memcmp(data, kMagic, 4) == 0) {
    fuzz::write_file(input, data, size);
  } else {
    CompoundDocument doc;
    FUZZ_CHECK(doc.Create(input.c_str()), "cannot create " + input);
    FUZZ_CHECK(doc.MakeStream("Workbook") == kSuccess, "cannot make the stream");
    FUZZ_CHECK(doc.WriteStream("Workbook", reinterpret_cast<const char*>(data), size) == kSuccess,
               "cannot write the stream");
  }

  const bool edit = size >= 4 && (data[size - 1] & 1);
  const Bytes stream = workbook_stream(input);
  std::string loaded;
  bool cells_written = false;
  uint64_t sheets_loaded = 0;
  {
    ExcelFile book;
    if (!book.Load(input.c_str())) return 0;
    sheets_loaded = book.GetTotalSheets();
    cells_written = edit && book.IsWorksheet(0);
    if (edit) edit_book(book, data + size - 4);
    loaded = describe(book);
    const std::string copy = fuzz::scratch_folder_path() + "/copy.xls";
    FUZZ_CHECK(book.SaveAs(copy.c_str()), "SaveAs failed");
    check_reload(copy, loaded, "SaveAs");
    check_carried(stream, copy, cells_written, sheets_loaded);
  }

  // Saving again into the loaded file replaces its stream in place.
  ExcelFile in_place;
  FUZZ_CHECK(in_place.Load(input.c_str()), "the input no longer loads");
  if (edit) edit_book(in_place, data + size - 4);
  FUZZ_CHECK(describe(in_place) == loaded, "a second load differs from the first");
  if (in_place.Save()) {
    check_reload(input, loaded, "Save");
    check_carried(stream, input, cells_written, sheets_loaded);
  }
  return 0;
}
