// Compound-document changes checked against a model: the input decodes into
// a sequence of operations (make a storage or stream, write a stream of a
// size near the block boundaries, remove, change the current storage,
// reopen). After each one the result code must be the model's, the file's
// layout must pass the independent check, and every stream must read back
// as the model holds it, both from the file and through the document.
#include <cstdint>
#include <string>
#include <vector>

#include "compound_document.h"
#include "compound_model.h"
#include "fuzz_support.h"
#include "test_support.h"

using namespace YCompoundFiles;
using compound_test::Model;

namespace {

const char* const kParents[] = {"", "\\Alpha", "\\Beta", "\\Alpha\\Gamma"};
const char* const kNames[] = {"Workbook", "x", "Data1", "Stream with a long name 0123456"};
// Around the small-block size, the big-block size, the small-stream cutoff
// and the point where a second table block is needed.
const uint32_t kSizes[] = {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 8193, 65536, 70000};

void check_against_model(CompoundDocument& doc, const std::string& path, const Model& model,
                         const std::string& what) {
  compound_test::Layout layout;
  const std::string problem = compound_test::check_layout(path, layout);
  FUZZ_CHECK(problem.empty(), what + ": " + problem);
  FUZZ_CHECK(layout.storages == model.storages, what + ": storages differ");
  FUZZ_CHECK(layout.streams == model.streams, what + ": streams in the file differ");
  for (const auto& [name, content] : model.streams) {
    std::vector<char> back;
    FUZZ_CHECK(doc.ReadStream(name.c_str(), back) == kSuccess && back == content,
               what + ": reading " + name);
  }
  std::string current;
  FUZZ_CHECK(doc.CurrentDirectory(current) == kSuccess &&
                 current == (model.cwd.empty() ? "\\" : model.cwd),
             what + ": current storage " + current);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const std::string path = fuzz::scratch_folder_path() + "/changes.cdf";
  CompoundDocument doc;
  FUZZ_CHECK(doc.Create(path.c_str()), "cannot create " + path);
  Model model;
  std::string log;
  for (int step = 0; step < 48 && !in.Empty(); ++step) {
    const std::string parent = kParents[in.Below(4)];
    std::string entry = parent + "\\" + kNames[in.Below(4)];
    if (!model.streams.empty() && in.Bit())
      entry =
          std::next(model.streams.begin(), in.Below(static_cast<uint32_t>(model.streams.size())))
              ->first;
    // Paths under the current storage are given relative to it at times.
    const bool relative = in.Bit();
    auto spelled = [&](const std::string& p) {
      if (relative && !model.cwd.empty() && p.rfind(model.cwd + "\\", 0) == 0)
        return p.substr(model.cwd.size() + 1);
      if (relative && model.cwd.empty()) return p.substr(1);
      return p;
    };
    std::string what;
    int expected = 0, got = 0;
    switch (in.Below(9)) {
      case 0:
        what = "MakeStream " + entry;
        expected = model.Make(entry, false);
        got = doc.MakeStream(spelled(entry).c_str());
        break;
      case 1: {
        const std::string storage = parent.empty() ? "\\Beta" : parent;
        what = "MakeDirectory " + storage;
        expected = model.Make(storage, true);
        got = doc.MakeDirectory(spelled(storage).c_str());
        break;
      }
      case 2:
      case 3: {
        const uint32_t length = kSizes[in.Below(sizeof kSizes / sizeof kSizes[0])] + in.Below(3);
        const uint8_t seed = in.Byte();
        std::vector<char> content(length);
        for (uint32_t i = 0; i < length; ++i)
          content[i] = static_cast<char>(seed + i * 131 + (i >> 9));
        what = "WriteStream " + entry + " " + std::to_string(length);
        expected = model.IsStream(entry) ? kSuccess : kNoSuchStream;
        if (expected == kSuccess) model.streams[entry] = content;
        got = doc.WriteStream(spelled(entry).c_str(), content, content.size());
        break;
      }
      case 4:
        what = "RemoveStream " + entry;
        expected = model.IsStream(entry) ? kSuccess : kNoSuchStream;
        if (expected == kSuccess) model.streams.erase(entry);
        got = doc.RemoveStream(spelled(entry).c_str());
        break;
      case 5: {
        const std::string target = in.Bit() && !parent.empty() ? parent : entry;
        const std::string argument = spelled(target);  // before the model's current storage moves
        if (in.Bit()) {
          what = "RemoveDirectory " + target;
          expected = model.Remove(target, true);
          got = doc.RemoveDirectory(argument.c_str());
        } else {
          what = "RemoveTree " + target;
          expected = model.Remove(target, false);
          got = doc.RemoveTree(argument.c_str());
        }
        break;
      }
      case 6: {
        const std::string target = in.Bit() ? parent : entry;
        what = "ChangeDirectory " + target;
        const std::string argument = target.empty() ? "\\" : spelled(target);
        expected = (target.empty() || model.IsStorage(target)) ? kSuccess : kNoSuchStorage;
        if (expected == kSuccess) model.cwd = target;
        got = doc.ChangeDirectory(argument.c_str());
        break;
      }
      default:
        what = "reopen";
        doc.Close();
        expected = kSuccess;
        got = doc.Open(path.c_str()) ? kSuccess : 0;
        if (got == kSuccess)
          got = doc.ChangeDirectory(model.cwd.empty() ? "\\" : model.cwd.c_str());
        break;
    }
    log += std::to_string(step) + " " + what + " -> " + std::to_string(got) + "\n";
    FUZZ_CHECK(got == expected, log + "expected " + std::to_string(expected));
    check_against_model(doc, path, model, log);
  }
  return 0;
}
