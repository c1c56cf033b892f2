// Writing one stream into a new document, as a workbook save does. The cost
// must grow linearly with the stream's size: compare the time per byte of
// the four sizes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "compound_document.h"

namespace {

void BM_CreateAndWriteStream(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  std::vector<char> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 131 + i / 509);
  const std::string path = "/tmp/compound_bench_" + std::to_string(getpid()) + ".cdf";
  for (auto _ : state) {
    YCompoundFiles::CompoundDocument doc;
    if (!doc.Create(path.c_str()) || doc.MakeStream("Workbook") != 1 ||
        doc.WriteStream("Workbook", data, data.size()) != 1) {
      state.SkipWithError("write failed");
      break;
    }
    doc.Close();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  unlink(path.c_str());
}

void BM_ReadStream(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string path = "/tmp/compound_bench_read_" + std::to_string(getpid()) + ".cdf";
  {
    YCompoundFiles::CompoundDocument doc;
    std::vector<char> data(size, 'x');
    doc.Create(path.c_str());
    doc.MakeStream("Workbook");
    doc.WriteStream("Workbook", data, data.size());
  }
  for (auto _ : state) {
    YCompoundFiles::CompoundDocument doc;
    std::vector<char> back;
    if (!doc.Open(path.c_str(), YCompoundFiles::CompoundDocument::kRead) || doc.ReadStream("Workbook", back) != 1) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  unlink(path.c_str());
}

}  // namespace

BENCHMARK(BM_CreateAndWriteStream)->Arg(100 << 10)->Arg(2 << 20)->Arg(10 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStream)->Arg(100 << 10)->Arg(2 << 20)->Arg(10 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond);
