#pragma once
// One node of the in-memory directory tree. The entry belongs to the
// document's entry list; the node owns its children, kept in ascending
// entry index.
#include <cstdint>
#include <memory>
#include <vector>

namespace YCompoundFiles {

class DirectoryEntry;

class DirectoryNode {
 public:
  DirectoryNode() = default;
  DirectoryNode(DirectoryNode* parent_node, DirectoryEntry* entry_record, uint64_t entry_index)
      : parent(parent_node), entry(entry_record), index(entry_index) {}
  ~DirectoryNode() { DeleteChildren(); }
  DirectoryNode(const DirectoryNode&) = delete;
  DirectoryNode& operator=(const DirectoryNode&) = delete;

  // Frees every node below this one; the node itself stays.
  void DeleteChildren();
  // True when this node is `other` or lies below it.
  bool IsWithin(const DirectoryNode* other) const;

  DirectoryNode* parent = nullptr;
  DirectoryEntry* entry = nullptr;
  uint64_t index = 0;
  std::vector<std::unique_ptr<DirectoryNode>> children;
};

}  // namespace YCompoundFiles
