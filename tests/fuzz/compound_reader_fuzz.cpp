// The compound-document reader on any file: open it, walk every storage,
// read every stream both ways. When the last byte is odd, also add a stream
// to a copy: a change that succeeds must keep every stream that was there,
// and a change that is refused must leave the file as it was.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "compound_document.h"
#include "fuzz_support.h"

using namespace YCompoundFiles;

namespace {

using Streams = std::map<std::u16string, std::vector<char>>;

size_t max_depth = 0;

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// Reads everything below the storage at path. Storages cannot nest deeper
// than the file has directory entries (128 bytes each): a loop in the tree
// that the reader let through fails here instead of recursing for ever.
void walk_tree(const CompoundDocument& doc, const std::u16string& path, size_t depth,
               Streams& streams) {
  FUZZ_CHECK(depth <= max_depth, "storages nested deeper than the directory can hold");
  std::vector<std::u16string> names;
  if (doc.ListDirectory(names, path.c_str()) != kSuccess) return;
  for (const std::u16string& name : names) {
    // A name a path cannot spell is out of reach (a foreign file may hold
    // any name).
    if (name.empty() || name == u"." || name == u".." || name.find(u'\\') != std::u16string::npos)
      continue;
    const std::u16string child = (path == u"\\" ? path : path + u"\\") + name;
    std::vector<std::u16string> below;
    if (doc.ListDirectory(below, child.c_str()) == kSuccess) {
      walk_tree(doc, child, depth + 1, streams);
      continue;
    }
    uint64_t size = 0;
    if (doc.StreamSize(child.c_str(), size) == kSuccess) {
      std::vector<char> data;
      const int read = doc.ReadStream(child.c_str(), data);
      FUZZ_CHECK(read == kSuccess || read == kDamaged || read == kIoError, narrow(child));
      if (read != kSuccess) continue;
      FUZZ_CHECK(data.size() == size, "size read differs from size recorded: " + narrow(child));
      std::vector<char> buffer(data.size() + 1, '\x5a');
      FUZZ_CHECK(doc.ReadStream(child.c_str(), buffer.data(), size) == kSuccess, narrow(child));
      FUZZ_CHECK(std::equal(data.begin(), data.end(), buffer.begin()),
                 "two reads differ: " + narrow(child));
      FUZZ_CHECK(buffer[size] == '\x5a', "read past the capacity given: " + narrow(child));
      if (size > 0)
        FUZZ_CHECK(doc.ReadStream(child.c_str(), buffer.data(), size - 1) == kTooLarge,
                   narrow(child));
      streams[child] = std::move(data);
    }
  }
}

void check_change(const std::string& original, const Streams& before, bool big) {
  const std::string path = fuzz::scratch_folder_path() + "/changed.cdf";
  const std::vector<char> bytes = fuzz::read_file(original);
  fuzz::write_file(path, bytes.data(), bytes.size());
  CompoundDocument doc;
  if (!doc.Open(path.c_str(), CompoundDocument::kRead | CompoundDocument::kWrite)) return;
  const std::u16string added = u"\\Added by the fuzzer";
  std::vector<char> data(big ? 5000 : 100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  int result = doc.MakeStream(added.c_str());
  if (result == kSuccess) result = doc.WriteStream(added.c_str(), data, data.size());
  doc.Close();
  if (result == kLayoutNotChangeable || result == kReadOnly) {
    FUZZ_CHECK(fuzz::read_file(path) == bytes, "a refused change altered the file");
    return;
  }
  if (result != kSuccess) return;
  FUZZ_CHECK(doc.Open(path.c_str(), CompoundDocument::kRead), "a changed file does not open again");
  Streams after;
  walk_tree(doc, u"\\", 0, after);
  for (const auto& [name, content] : before) {
    const auto it = after.find(name);
    FUZZ_CHECK(it != after.end() && it->second == content,
               "a change lost a stream: " + narrow(name));
  }
  FUZZ_CHECK(after.count(added) && after[added] == data, "the added stream reads back wrong");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::scratch_folder_path() + "/input.cdf";
  fuzz::write_file(path, data, size);
  max_depth = size / 128;
  Streams streams;
  {
    CompoundDocument doc;
    if (!doc.Open(path.c_str(), CompoundDocument::kRead)) return 0;
    FUZZ_CHECK(doc.IsOpen(), "open without being open");
    walk_tree(doc, u"\\", 0, streams);
    uint64_t container = 0;
    FUZZ_CHECK(doc.StreamSize(u"\\", container) == kSuccess,
               "no size of the small-block container");
    std::u16string current;
    FUZZ_CHECK(doc.CurrentDirectory(current) == kSuccess && current == u"\\", "not at the root");
  }
  if (size > 0 && (data[size - 1] & 1)) check_change(path, streams, (data[size - 1] & 2) != 0);
  return 0;
}
