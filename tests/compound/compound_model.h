#pragma once
// What a compound document should hold after a sequence of changes: its
// streams and storages by absolute path ("\A\B"; "" is the root) and the
// current storage. The model-based test and the changes fuzz target keep
// one beside the real document and compare.
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "compound_document.h"

namespace compound_test {

struct Model {
  std::map<std::string, std::vector<char>> streams;
  std::set<std::string> storages;
  std::string cwd;  // "" is the root

  bool IsStorage(const std::string& p) const { return storages.count(p) > 0; }
  bool IsStream(const std::string& p) const { return streams.count(p) > 0; }
  static std::string Parent(const std::string& p) { return p.substr(0, p.rfind('\\')); }
  bool HasChildren(const std::string& p) const {
    for (auto& s : streams)
      if (Parent(s.first) == p) return true;
    for (auto& s : storages)
      if (Parent(s) == p) return true;
    return false;
  }
  void RemoveUnder(const std::string& p) {
    for (auto it = streams.begin(); it != streams.end();)
      it =
          (it->first == p || it->first.rfind(p + "\\", 0) == 0) ? streams.erase(it) : std::next(it);
    for (auto it = storages.begin(); it != storages.end();)
      it = (*it == p || it->rfind(p + "\\", 0) == 0) ? storages.erase(it) : std::next(it);
    if (cwd == p || cwd.rfind(p + "\\", 0) == 0) cwd = Parent(p);
  }
  // The code RemoveDirectory (directory_only) or RemoveTree should give for
  // the target; on success the model loses the target and what lies below.
  int Remove(const std::string& p, bool directory_only) {
    int expected = YCompoundFiles::kSuccess;
    if (directory_only) {
      if (!IsStorage(p))
        expected = YCompoundFiles::kNoSuchStorage;
      else if (HasChildren(p))
        expected = YCompoundFiles::kStorageNotEmpty;
    } else if (!IsStorage(p) && !IsStream(p)) {
      expected = YCompoundFiles::kNoSuchStorage;
    }
    if (expected == YCompoundFiles::kSuccess) RemoveUnder(p);
    return expected;
  }
  // Make an entry, with missing storages on the way; the expected code.
  // (Names must differ in more than case: the model compares exactly.)
  int Make(const std::string& p, bool storage) {
    size_t pos = 1;
    while ((pos = p.find('\\', pos)) != std::string::npos) {
      const std::string prefix = p.substr(0, pos);
      if (IsStream(prefix)) return YCompoundFiles::kNameExists;
      storages.insert(prefix);
      ++pos;
    }
    if (IsStream(p) || IsStorage(p)) return YCompoundFiles::kNameExists;
    if (storage)
      storages.insert(p);
    else
      streams[p] = {};
    return YCompoundFiles::kSuccess;
  }
};

}  // namespace compound_test
