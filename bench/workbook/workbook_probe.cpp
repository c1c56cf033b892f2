// One measurement of the side-by-side comparison (compare.py), run in its
// own process so that its peak memory is its own. Prints key=value pairs:
// seconds of the work, cells, and the heap the cells hold per cell.
//
//   workbook_probe save-image W H FILE    fill a W x H image, save it
//   workbook_probe save-profile N C FILE  fill a profile of N points, C curves
//   workbook_probe fill-image W H [ORDER] fill a W x H image column by column
//                                         (ORDER: rows, bottom-up columns, or
//                                         shuffled places instead)
//   workbook_probe export-image W H FILE [WORDS]
//                                         the export's road: load or new, fill
//                                         under a header of WORDS words, save
//   workbook_probe export-profile N C FILE  the same with a profile
//   workbook_probe save-sparse R C FILE   three cells, the last at (R, C)
//   workbook_probe load FILE              load a workbook
//   workbook_probe save-texts N D FILE    N text cells set through the API,
//                                         D distinct texts, 250 columns; heap
//                                         per cell before and after the save,
//                                         and the save's seconds
//   workbook_probe save-count K N FILE    a workbook saved K times over, N
//                                         text cells changed before each save;
//                                         median milliseconds of the first
//                                         and last hundred
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "workloads.h"

namespace {

using YCompoundFiles::YExcel::ExcelFile;
using YCompoundFiles::YExcel::ExcelSheet;

double now_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint64_t heap_in_use() {
  // Large blocks are mapped on their own and counted apart.
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

uint64_t count_cells(ExcelFile& book) {
  uint64_t cells = 0;
  for (uint64_t s = 0; s < book.GetTotalSheets(); ++s) {
    const ExcelSheet& sheet = *book.GetWorksheet(s);
    for (uint64_t r = 0, rows = sheet.StoredRows(); r < rows; ++r)
      for (const YCompoundFiles::YExcel::ExcelCell& cell : sheet.StoredRow(r))
        if (cell.Type() != 0) ++cells;
  }
  return cells;
}

void report(double seconds, uint64_t cells, uint64_t heap_bytes) {
  std::printf("seconds=%.6f cells=%llu heap_per_cell=%.1f heap=%llu\n", seconds,
              static_cast<unsigned long long>(cells),
              cells ? static_cast<double>(heap_bytes) / static_cast<double>(cells) : 0.0,
              static_cast<unsigned long long>(heap_bytes));
}

// Fills a new workbook, notes the heap its cells hold, then saves.
template <class Fill>
int save_workbook(const char* path, Fill fill) {
  const uint64_t heap_before = heap_in_use();
  const double start = now_seconds();
  ExcelFile book;
  book.New(1);
  fill(*book.GetWorksheet(0));
  const uint64_t heap = heap_in_use() - heap_before;
  if (!book.SaveAs(path)) return 1;
  const double seconds = now_seconds() - start;
  report(seconds, count_cells(book), heap);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace workbook_bench;
  const std::string command = argc > 1 ? argv[1] : "";
  auto number = [&](int i) { return static_cast<uint64_t>(std::strtoull(argv[i], nullptr, 10)); };
  if (command == "save-image" && argc == 5) {
    const uint64_t w = number(2), h = number(3);
    return save_workbook(argv[4], [&](ExcelSheet& s) { fill_image(s, w, h); });
  }
  if (command == "save-profile" && argc == 5) {
    const uint64_t n = number(2), c = number(3);
    return save_workbook(argv[4], [&](ExcelSheet& s) { fill_profile(s, n, c); });
  }
  if (command == "save-sparse" && argc == 5) {
    const uint64_t row = number(2), col = number(3);
    return save_workbook(argv[4], [&](ExcelSheet& s) {
      s.Cell(0, 0)->SetDouble(1.5);
      s.Cell(1, 1)->SetString("two");
      s.Cell(row, col)->SetInteger(3);
    });
  }
  if (command == "fill-image" && (argc == 4 || argc == 5)) {
    const uint64_t w = number(2), h = number(3);
    const std::string order = argc == 5 ? argv[4] : "columns";
    // The places of the other orders are laid out before the clock starts.
    std::vector<std::pair<uint16_t, uint16_t>> places;
    for (uint64_t x = 0; order != "columns" && x < w; ++x)
      for (uint64_t y = 0; y < h; ++y) places.emplace_back(y, x);
    if (order == "rows") std::stable_sort(places.begin(), places.end());
    if (order == "bottom-up") std::reverse(places.begin(), places.end());
    if (order == "shuffled") std::shuffle(places.begin(), places.end(), std::mt19937(1));
    const uint64_t heap_before = heap_in_use();
    const double start = now_seconds();
    ExcelFile book;
    book.New(1);
    if (order == "columns") {
      fill_image(*book.GetWorksheet(0), w, h);
    } else {
      ExcelSheet& sheet = *book.GetWorksheet(0);
      for (const auto& [row, col] : places) sheet.Cell(row, col)->SetDouble(row + col * 0.5);
    }
    report(now_seconds() - start, w * h, heap_in_use() - heap_before);
    return 0;
  }
  if (command == "export-image" && (argc == 5 || argc == 6)) {
    const uint64_t w = number(2), h = number(3), words = argc == 6 ? number(5) : 1;
    const double start = now_seconds();
    if (!export_workbook(argv[4], [&](ExcelSheet& s) { fill_image(s, w, h, words); })) return 1;
    report(now_seconds() - start, w * h, 0);
    return 0;
  }
  if (command == "export-profile" && argc == 5) {
    const uint64_t n = number(2), c = number(3);
    const double start = now_seconds();
    if (!export_workbook(argv[4], [&](ExcelSheet& s) { fill_profile(s, n, c); })) return 1;
    report(now_seconds() - start, n * (c + 1), 0);
    return 0;
  }
  if (command == "save-texts" && argc == 5) {
    const uint64_t n = number(2), distinct = number(3);
    const uint64_t heap_before = heap_in_use();
    ExcelFile book;
    book.New(1);
    const double start = now_seconds();
    fill_texts(*book.GetWorksheet(0), n, 250, distinct);
    const double filled = now_seconds();
    const uint64_t heap = heap_in_use() - heap_before;
    if (!book.SaveAs(argv[4])) return 1;
    const double saved = now_seconds();
    const uint64_t heap_after = heap_in_use() - heap_before;
    std::printf(
        "fill_seconds=%.6f save_seconds=%.6f cells=%llu heap_per_cell=%.1f "
        "heap_per_cell_after_save=%.1f\n",
        filled - start, saved - filled, static_cast<unsigned long long>(n),
        static_cast<double>(heap) / static_cast<double>(n),
        static_cast<double>(heap_after) / static_cast<double>(n));
    return 0;
  }
  if (command == "save-count" && argc == 5) {
    const uint64_t saves = number(2), n = number(3);
    ExcelFile book;
    book.New(1);
    if (!book.SaveAs(argv[4])) return 1;
    std::vector<double> ms;
    for (uint64_t k = 0; k < saves; ++k) {
      const double start = now_seconds();
      if (!change_and_save(book, n, k)) return 1;
      ms.push_back((now_seconds() - start) * 1000);
    }
    // Medians, which a stray slow write does not move.
    const uint64_t group = std::min<uint64_t>(100, (saves + 1) / 2);
    auto median = [&](std::vector<double> part) {
      std::nth_element(part.begin(), part.begin() + part.size() / 2, part.end());
      return part[part.size() / 2];
    };
    std::printf("first_ms=%.3f last_ms=%.3f saves=%llu\n",
                median(std::vector<double>(ms.begin(), ms.begin() + group)),
                median(std::vector<double>(ms.end() - group, ms.end())),
                static_cast<unsigned long long>(saves));
    return 0;
  }
  if (command == "load" && argc == 3) {
    const uint64_t heap_before = heap_in_use();
    const double start = now_seconds();
    ExcelFile book;
    if (!book.Load(argv[2])) return 1;
    const double seconds = now_seconds() - start;
    const uint64_t heap = heap_in_use() - heap_before;
    report(seconds, count_cells(book), heap);
    return 0;
  }
  std::fprintf(stderr, "usage: see the head of workbook_probe.cpp\n");
  return 2;
}
