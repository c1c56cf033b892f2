// The workbook layer's cost per cell: filling, saving and loading sheets as
// the export does, and sheets whose records claim far more than they hold.
// Time per cell must stay flat across sizes; compare.py puts the figures
// beside xlwt's and xlrd's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "workloads.h"

namespace {

using YCompoundFiles::YExcel::ExcelFile;
using YCompoundFiles::YExcel::ExcelSheet;

std::string scratch_path(const char* what) {
  return "/tmp/workbook_bench_" + std::string(what) + "_" + std::to_string(getpid()) + ".xls";
}

void BM_FillImage(benchmark::State& state) {
  const uint64_t w = static_cast<uint64_t>(state.range(0)),
                 h = static_cast<uint64_t>(state.range(1));
  for (auto _ : state) {
    ExcelFile book;
    book.New(1);
    workbook_bench::fill_image(*book.GetWorksheet(0), w, h);
    benchmark::DoNotOptimize(book.GetWorksheet(0));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * w * h));
}

void BM_SaveImage(benchmark::State& state) {
  const uint64_t w = static_cast<uint64_t>(state.range(0)),
                 h = static_cast<uint64_t>(state.range(1));
  const std::string path = scratch_path("save");
  ExcelFile book;
  book.New(1);
  workbook_bench::fill_image(*book.GetWorksheet(0), w, h);
  for (auto _ : state) {
    if (!book.SaveAs(path.c_str())) {
      state.SkipWithError("save failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * w * h));
  unlink(path.c_str());
}

void BM_SaveProfile(benchmark::State& state) {
  const uint64_t points = static_cast<uint64_t>(state.range(0));
  const std::string path = scratch_path("profile");
  for (auto _ : state) {
    ExcelFile book;
    book.New(1);
    workbook_bench::fill_profile(*book.GetWorksheet(0), points, 4);
    if (!book.SaveAs(path.c_str())) {
      state.SkipWithError("save failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * points * 5));
  unlink(path.c_str());
}

void BM_LoadImage(benchmark::State& state) {
  const uint64_t w = static_cast<uint64_t>(state.range(0)),
                 h = static_cast<uint64_t>(state.range(1));
  const std::string path = scratch_path("load");
  {
    ExcelFile book;
    book.New(1);
    workbook_bench::fill_image(*book.GetWorksheet(0), w, h);
    book.SaveAs(path.c_str());
  }
  for (auto _ : state) {
    ExcelFile book;
    if (!book.Load(path.c_str())) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(book.GetWorksheet(0));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * w * h));
  unlink(path.c_str());
}

// Three cells, one at the sheet's far corner: the cost must follow the
// three cells, not the 65536 x 256 the sheet then claims.
void BM_SaveAndLoadFarCorner(benchmark::State& state) {
  const std::string path = scratch_path("corner");
  for (auto _ : state) {
    ExcelFile book;
    book.New(1);
    ExcelSheet& sheet = *book.GetWorksheet(0);
    sheet.Cell(0, 0)->SetDouble(1.5);
    sheet.Cell(1, 1)->SetString("two");
    sheet.Cell(65535, 255)->SetInteger(3);
    ExcelFile loaded;
    if (!book.SaveAs(path.c_str()) || !loaded.Load(path.c_str())) {
      state.SkipWithError("save or load failed");
      break;
    }
  }
  unlink(path.c_str());
}

// Texts set through the cell API, range(1) of them distinct: the save.
void BM_SaveTexts(benchmark::State& state) {
  const uint64_t n = static_cast<uint64_t>(state.range(0)),
                 distinct = static_cast<uint64_t>(state.range(1));
  const std::string path = scratch_path("texts");
  ExcelFile book;
  book.New(1);
  workbook_bench::fill_texts(*book.GetWorksheet(0), n, 250, distinct);
  for (auto _ : state) {
    if (!book.SaveAs(path.c_str())) {
      state.SkipWithError("save failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
  unlink(path.c_str());
}

// One workbook saved 2,000 times, 1,000 text cells changed before each
// save: the last saves must take what the first do (the counters give
// milliseconds per save of the first and last hundred).
void BM_SaveCount(benchmark::State& state) {
  constexpr uint64_t kSaves = 2000;
  constexpr uint64_t kCells = 1000;
  const std::string path = scratch_path("count");
  for (auto _ : state) {
    ExcelFile book;
    book.New(1);
    double first = 0, last = 0;
    for (uint64_t k = 0; k < kSaves; ++k) {
      const auto start = std::chrono::steady_clock::now();
      if (k == 0 ? !book.SaveAs(path.c_str()) : !workbook_bench::change_and_save(book, kCells, k)) {
        state.SkipWithError("save failed");
        break;
      }
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      if (k < 100) first += ms;
      if (k + 100 >= kSaves) last += ms;
    }
    state.counters["first_ms"] = first / 100;
    state.counters["last_ms"] = last / 100;
  }
  unlink(path.c_str());
}

}  // namespace

BENCHMARK(BM_FillImage)
    ->Args({256, 256})
    ->Args({256, 2048})
    ->Args({1, 65534})  // one column: one cell per row
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveImage)
    ->Args({256, 256})
    ->Args({256, 2048})
    ->Args({1, 65534})  // one column: one cell per row
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveProfile)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadImage)
    ->Args({256, 256})
    ->Args({256, 2048})
    ->Args({1, 65534})  // one column: one cell per row
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveAndLoadFarCorner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveTexts)
    ->Args({1000000, 100})      // repeated texts
    ->Args({1000000, 1000000})  // unique texts
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveCount)->Iterations(1)->Unit(benchmark::kMillisecond);
