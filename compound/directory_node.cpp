#include "directory_node.h"

namespace YCompoundFiles {

void DirectoryNode::DeleteChildren() {
  // Iterative, so that a deep tree read from a file cannot exhaust the stack.
  std::vector<std::unique_ptr<DirectoryNode>> pending;
  for (auto& c : children) pending.push_back(std::move(c));
  children.clear();
  while (!pending.empty()) {
    std::unique_ptr<DirectoryNode> node = std::move(pending.back());
    pending.pop_back();
    for (auto& c : node->children) pending.push_back(std::move(c));
    node->children.clear();
  }
}

bool DirectoryNode::IsWithin(const DirectoryNode* other) const {
  for (const DirectoryNode* n = this; n != nullptr; n = n->parent)
    if (n == other) return true;
  return false;
}

}  // namespace YCompoundFiles
