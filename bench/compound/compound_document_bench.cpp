// The compound document's cost per operation. Every changing operation must
// cost time linear in the bytes it writes or moves: compare the time per byte
// across sizes, and the rewrite of a large stream as a small one against
// writing the large one (they must be alike, not orders of magnitude apart).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "compound_document.h"

namespace {

using YCompoundFiles::CompoundDocument;

std::vector<char> pattern(size_t size) {
  std::vector<char> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 131 + i / 509);
  return data;
}

std::string scratch_path(const char* what) {
  return "/tmp/compound_bench_" + std::string(what) + "_" + std::to_string(getpid()) + ".cdf";
}

// A new document holding the named streams, each with the given data.
bool make_document(CompoundDocument& doc, const std::string& path,
                   const std::vector<const char*>& names, const std::vector<char>& data) {
  if (!doc.Create(path.c_str())) return false;
  for (const char* name : names)
    if (doc.MakeStream(name) != 1 || doc.WriteStream(name, data, data.size()) != 1) return false;
  return true;
}

void BM_CreateAndWriteStream(benchmark::State& state) {
  const std::vector<char> data = pattern(static_cast<size_t>(state.range(0)));
  const std::string path = scratch_path("write");
  for (auto _ : state) {
    CompoundDocument doc;
    if (!make_document(doc, path, {"Workbook"}, data)) {
      state.SkipWithError("write failed");
      break;
    }
    doc.Close();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  unlink(path.c_str());
}

void BM_ReadStream(benchmark::State& state) {
  const std::vector<char> data = pattern(static_cast<size_t>(state.range(0)));
  const std::string path = scratch_path("read");
  {
    CompoundDocument doc;
    make_document(doc, path, {"Workbook"}, data);
  }
  for (auto _ : state) {
    CompoundDocument doc;
    std::vector<char> back;
    if (!doc.Open(path.c_str(), CompoundDocument::kRead) || doc.ReadStream("Workbook", back) != 1) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  unlink(path.c_str());
}

// Times one change of a document that holds the named streams, each with
// the data; the document is rebuilt outside the timing every time.
template <class Change>
void time_change(benchmark::State& state, const char* what, const std::vector<const char*>& names,
                 const std::vector<char>& data, Change change) {
  const std::string path = scratch_path(what);
  for (auto _ : state) {
    state.PauseTiming();
    CompoundDocument doc;
    if (!make_document(doc, path, names, data)) {
      state.SkipWithError("write failed");
      break;
    }
    state.ResumeTiming();
    if (change(doc) != 1) {
      state.SkipWithError("change failed");
      break;
    }
  }
  unlink(path.c_str());
}

// Rewriting a large stream as a small one (3 KB: it moves into small
// blocks).
void BM_ShrinkStream(benchmark::State& state) {
  const std::vector<char> data = pattern(static_cast<size_t>(state.range(0)));
  const std::vector<char> small = pattern(3 << 10);
  time_change(state, "shrink", {"Workbook"}, data, [&](CompoundDocument& doc) {
    return doc.WriteStream("Workbook", small, small.size());
  });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

// Rewriting the first of two large streams with half its size: the second
// stream's blocks move down behind it.
void BM_HalveFirstOfTwoStreams(benchmark::State& state) {
  const std::vector<char> data = pattern(static_cast<size_t>(state.range(0)));
  time_change(state, "halve", {"A", "B"}, data,
              [&](CompoundDocument& doc) { return doc.WriteStream("A", data, data.size() / 2); });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

// Growing the first of two streams to twice its size.
void BM_GrowFirstOfTwoStreams(benchmark::State& state) {
  const std::vector<char> data = pattern(static_cast<size_t>(state.range(0)));
  const std::vector<char> twice = pattern(2 * data.size());
  time_change(state, "grow", {"A", "B"}, data,
              [&](CompoundDocument& doc) { return doc.WriteStream("A", twice, twice.size()); });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * twice.size()));
}

// Removing the first of two large streams.
void BM_RemoveFirstOfTwoStreams(benchmark::State& state) {
  const std::vector<char> data = pattern(static_cast<size_t>(state.range(0)));
  time_change(state, "remove", {"A", "B"}, data,
              [](CompoundDocument& doc) { return doc.RemoveStream("A"); });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

// Many small streams in one storage: each addition renumbers entries and
// rewrites the directory.
void BM_MakeSmallStreams(benchmark::State& state) {
  const std::vector<char> data = pattern(100);
  const std::string path = scratch_path("many");
  const int64_t count = state.range(0);
  for (auto _ : state) {
    CompoundDocument doc;
    if (!doc.Create(path.c_str())) {
      state.SkipWithError("create failed");
      break;
    }
    for (int64_t i = 0; i < count; ++i) {
      const std::string name = "S" + std::to_string(i);
      if (doc.MakeStream(name.c_str()) != 1 ||
          doc.WriteStream(name.c_str(), data, data.size()) != 1) {
        state.SkipWithError("write failed");
        break;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
  unlink(path.c_str());
}

// What a save of a loaded workbook does with the document's other streams:
// list the tree, read every stream and add them all to a new document. The
// time per stream must stay alike from 20,000 to 80,000 streams.
void BM_CarryWideTree(benchmark::State& state) {
  const std::string source = scratch_path("carry_from"), target = scratch_path("carry_to");
  const int64_t count = state.range(0);
  {
    std::vector<CompoundDocument::TreeEntry> tree(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
      for (char c : "S" + std::to_string(i)) tree[i].name.push_back(static_cast<char16_t>(c));
      tree[i].bytes = pattern(static_cast<size_t>(state.range(1)));
    }
    CompoundDocument doc;
    if (!doc.Create(source.c_str()) || doc.AddTree(tree) != 1) state.SkipWithError("setup failed");
  }
  for (auto _ : state) {
    CompoundDocument from, to;
    std::vector<CompoundDocument::TreeEntry> tree;
    bool ok = from.Open(source.c_str(), CompoundDocument::kRead) && from.ListTree(tree) == 1;
    for (size_t i = 0; ok && i < tree.size(); ++i)
      ok = from.ReadStream(tree[i], tree[i].bytes) == 1;
    if (!ok || !to.Create(target.c_str()) || to.AddTree(tree) != 1) {
      state.SkipWithError("carry failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
  unlink(source.c_str());
  unlink(target.c_str());
}

constexpr int64_t kKB = 1 << 10;
constexpr int64_t kMB = 1 << 20;

}  // namespace

BENCHMARK(BM_CreateAndWriteStream)
    ->Arg(100 * kKB)
    ->Arg(2 * kMB)
    ->Arg(9 * kMB)
    ->Arg(50 * kMB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStream)
    ->Arg(100 * kKB)
    ->Arg(2 * kMB)
    ->Arg(9 * kMB)
    ->Arg(50 * kMB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShrinkStream)
    ->Arg(100 * kKB)
    ->Arg(2 * kMB)
    ->Arg(9 * kMB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalveFirstOfTwoStreams)
    ->Arg(100 * kKB)
    ->Arg(2 * kMB)
    ->Arg(9 * kMB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrowFirstOfTwoStreams)
    ->Arg(100 * kKB)
    ->Arg(2 * kMB)
    ->Arg(9 * kMB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveFirstOfTwoStreams)
    ->Arg(100 * kKB)
    ->Arg(2 * kMB)
    ->Arg(9 * kMB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeSmallStreams)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CarryWideTree)
    ->Args({20000, 0})
    ->Args({40000, 0})
    ->Args({80000, 0})
    ->Args({20000, 100})
    ->Args({80000, 100})
    ->Unit(benchmark::kMillisecond);
