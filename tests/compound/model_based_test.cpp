// Random operations checked against an in-memory model. After every step
// the document is closed and reopened, the file is parsed independently and
// its layout checked, and every stream is read back.
#include "model_based_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "compound_document.h"
#include "compound_model.h"
#include "test_support.h"

using namespace YCompoundFiles;

namespace {

using compound_test::Model;

const char* const kParents[] = {"", "\\Alpha", "\\Beta", "\\Alpha\\Gamma"};
const char* const kNames[] = {"Workbook", "x", "Data1", "Stream with a long name 0123456"};
const size_t kSizes[] = {0, 1, 63, 64, 65, 200, 4095, 4096, 4097, 9000, 70000, 140000};

}  // namespace

void RunModel(unsigned seed, int steps,
              const std::function<void(const std::string&, int)>& extra_check) {
  std::mt19937 rng(seed);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const std::string path = compound_test::scratch_path("model-" + std::to_string(seed) + ".cdf");
  CompoundDocument doc;
  ASSERT_TRUE(doc.Create(path.c_str()));
  Model model;
  for (int step = 0; step < steps; ++step) {
    const std::string parent = kParents[pick(4)];
    std::string entry = parent + "\\" + kNames[pick(4)];
    // Most writes and removals aim at streams that exist.
    if (!model.streams.empty() && pick(4) != 0)
      entry = std::next(model.streams.begin(), pick(model.streams.size()))->first;
    // Paths under the current storage are given relative to it at times.
    auto spelled = [&](const std::string& p) {
      if (!model.cwd.empty() && p.rfind(model.cwd + "\\", 0) == 0 && pick(2))
        return p.substr(model.cwd.size() + 1);
      if (model.cwd.empty() && pick(2)) return p.substr(1);
      return p;
    };
    const int op = static_cast<int>(pick(10));
    std::string what;
    int expected = 0, got = 0;
    if (op <= 1) {
      what = "MakeStream " + entry;
      expected = model.Make(entry, false);
      got = doc.MakeStream(spelled(entry).c_str());
    } else if (op == 2) {
      const std::string storage = parent.empty() ? "\\Beta" : parent;
      what = "MakeDirectory " + storage;
      expected = model.Make(storage, true);
      got = doc.MakeDirectory(spelled(storage).c_str());
    } else if (op <= 6) {
      size_t size = kSizes[pick(12)];
      if (pick(4) == 0) size += pick(300);
      std::vector<char> data(size);
      for (char& c : data) c = static_cast<char>(rng());
      what = "WriteStream " + entry + " " + std::to_string(size);
      expected = model.IsStream(entry) ? kSuccess : kNoSuchStream;
      if (expected == kSuccess) model.streams[entry] = data;
      got = doc.WriteStream(spelled(entry).c_str(), data, data.size());
    } else if (op == 7) {
      what = "RemoveStream " + entry;
      expected = model.IsStream(entry) ? kSuccess : kNoSuchStream;
      if (expected == kSuccess) model.streams.erase(entry);
      got = doc.RemoveStream(spelled(entry).c_str());
    } else if (op == 8) {
      const std::string target = pick(2) && !parent.empty() ? parent : entry;
      const bool directory_only = pick(2);
      what = std::string(directory_only ? "RemoveDirectory " : "RemoveTree ") + target;
      const std::string argument = spelled(target);  // before the model's current storage moves
      expected = model.Remove(target, directory_only);
      if (directory_only) {
        got = doc.RemoveDirectory(argument.c_str());
      } else {
        got = doc.RemoveTree(argument.c_str());
      }
    } else {
      const std::string target = pick(3) ? parent : entry;
      what = "ChangeDirectory " + target;
      const std::string argument = target.empty() ? "\\" : spelled(target);
      expected = (target.empty() || model.IsStorage(target)) ? kSuccess : kNoSuchStorage;
      if (expected == kSuccess) model.cwd = target;
      got = doc.ChangeDirectory(argument.c_str());
    }
    SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step) + ": " + what);
    if (std::getenv("MODEL_TRACE"))
      std::printf("%d %s -> %d (cwd %s)\n", step, what.c_str(), got, model.cwd.c_str());
    ASSERT_EQ(got, expected);

    doc.Close();
    compound_test::Layout layout;
    ASSERT_EQ(compound_test::check_layout(path, layout), "");
    ASSERT_EQ(layout.storages, std::set<std::string>(model.storages.begin(), model.storages.end()));
    ASSERT_EQ(layout.streams.size(), model.streams.size());
    for (auto& s : model.streams)
      ASSERT_TRUE(layout.streams.count(s.first) && layout.streams[s.first] == s.second) << s.first;

    ASSERT_TRUE(doc.Open(path.c_str()));
    ASSERT_EQ(doc.ChangeDirectory(model.cwd.empty() ? "\\" : model.cwd.c_str()), kSuccess);
    for (auto& s : model.streams) {
      std::vector<char> back;
      ASSERT_EQ(doc.ReadStream(s.first.c_str(), back), kSuccess) << s.first;
      ASSERT_TRUE(back == s.second) << s.first;
    }
    if (extra_check) extra_check(path, step);
  }
}

TEST(ModelBased, RandomOperationsMatchTheModel) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) RunModel(seed, 200, nullptr);
}
