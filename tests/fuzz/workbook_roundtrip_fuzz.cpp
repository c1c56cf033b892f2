// The workbook on any input: load, save, load again, and the second load
// must show the same sheets (names, sizes) and the same cells (values of
// every kind, formats, formatted empty cells). An
// input that starts like a compound document is the file itself; any other
// is taken as the "Workbook" stream of a new file, so that the fuzzer can
// work on the records directly.
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "compound_document.h"
#include "excel_file.h"
#include "fuzz_support.h"

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
    const uint64_t row = choice[0] % (sheet->GetTotalRows() + 2),
                   col = choice[1] % (sheet->GetTotalCols() + 2);
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
  std::string loaded;
  {
    ExcelFile book;
    if (!book.Load(input.c_str())) return 0;
    if (edit) edit_book(book, data + size - 4);
    loaded = describe(book);
    const std::string copy = fuzz::scratch_folder_path() + "/copy.xls";
    FUZZ_CHECK(book.SaveAs(copy.c_str()), "SaveAs failed");
    check_reload(copy, loaded, "SaveAs");
  }

  // Saving again into the loaded file replaces its stream in place.
  ExcelFile in_place;
  FUZZ_CHECK(in_place.Load(input.c_str()), "the input no longer loads");
  if (edit) edit_book(in_place, data + size - 4);
  FUZZ_CHECK(describe(in_place) == loaded, "a second load differs from the first");
  if (in_place.Save()) check_reload(input, loaded, "Save");
  return 0;
}
