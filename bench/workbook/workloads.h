#pragma once
// The work the workbook benchmarks time, shared by the Google benchmark and
// the probe that the side-by-side comparison runs: sheets filled as the
// export fills them (a title, header words, then the data from row 2).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "excel_file.h"
#include "workbook_update.h"

namespace workbook_bench {

constexpr uint64_t kFirstDataRow = 2;

// Floats in [0, 1) from a fixed seed: values with all their digits, as an
// image holds them.
class RandomFloats {
 public:
  explicit RandomFloats(uint64_t seed) : state_(seed * 2654435761u + 1) {}
  float Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<float>(state_ >> 40) / static_cast<float>(1ull << 24);
  }

 private:
  uint64_t state_;
};

inline void fill_header(YCompoundFiles::YExcel::ExcelSheet& sheet, uint64_t words) {
  sheet.Cell(0, 0)->SetString("benchmark");
  for (uint64_t k = 0; k < words; ++k)
    sheet.Cell(1, k)->SetString(("w" + std::to_string(k)).c_str());
}

// An image of width columns and height rows under a header of words words,
// filled column by column as the export does.
inline void fill_image(YCompoundFiles::YExcel::ExcelSheet& sheet, uint64_t width, uint64_t height,
                       uint64_t words = 1) {
  RandomFloats random(1);
  fill_header(sheet, words);
  for (uint64_t x = 0; x < width; ++x)
    for (uint64_t y = 0; y < height; ++y)
      sheet.Cell(kFirstDataRow + y, x)->SetDouble(random.Next());
}

// A profile of points rows: the abscissa, then one column per curve.
inline void fill_profile(YCompoundFiles::YExcel::ExcelSheet& sheet, uint64_t points,
                         uint64_t curves) {
  RandomFloats random(2);
  fill_header(sheet, curves + 1);
  for (uint64_t i = 0; i < points; ++i) {
    sheet.Cell(kFirstDataRow + i, 0)->SetDouble(static_cast<float>(i) * 0.01f);
    for (uint64_t j = 0; j < curves; ++j)
      sheet.Cell(kFirstDataRow + i, 1 + j)->SetDouble(random.Next());
  }
}

// What one export call does: find and lock the workbook at path, extend it
// (or start a new one), put the sheet first, fill it and save.
template <class Fill>
bool export_workbook(const std::string& path, Fill fill) {
  YCompoundFiles::YExcel::WorkbookUpdate update;
  if (!update.Begin(path, std::chrono::seconds(30)) || !update.Load()) return false;
  YCompoundFiles::YExcel::ExcelFile& book = update.Book();
  YCompoundFiles::YExcel::ExcelSheet* sheet = book.GetWorksheet("Data");
  if (!sheet) sheet = book.AddWorksheet("Data", 0);
  if (!sheet) return false;
  fill(*sheet);
  return update.Commit();
}

// Texts set through the cell API: cells column by column, width columns,
// cell k showing text k % distinct ("t" and the number).
inline void fill_texts(YCompoundFiles::YExcel::ExcelSheet& sheet, uint64_t cells, uint64_t width,
                       uint64_t distinct) {
  const uint64_t height = (cells + width - 1) / width;
  char text[32];
  for (uint64_t k = 0; k < cells; ++k) {
    std::snprintf(text, sizeof text, "t%llu", static_cast<unsigned long long>(k % distinct));
    sheet.Cell(k % height, k / height)->SetString(text);
  }
}

// One save of a workbook kept open across many: cells texts in column 0
// take new values (round names them), and the workbook is saved into the
// file it was loaded from. False when the save fails.
inline bool change_and_save(YCompoundFiles::YExcel::ExcelFile& book, uint64_t cells,
                            uint64_t round) {
  YCompoundFiles::YExcel::ExcelSheet& sheet = *book.GetWorksheet(0);
  char text[48];
  for (uint64_t r = 0; r < cells; ++r) {
    std::snprintf(text, sizeof text, "r%llu-%llu", static_cast<unsigned long long>(round),
                  static_cast<unsigned long long>(r));
    sheet.Cell(r, 0)->SetString(text);
  }
  return book.Save();
}

}  // namespace workbook_bench
