// The directory of CompoundDocument: loading and saving the directory
// stream, the entry order, adding and removing entries while every stored id
// stays right, the sibling trees of the storages, and path resolution.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "compound_document.h"

namespace YCompoundFiles {
namespace {

constexpr uint64_t kBigBlock = 512;
constexpr uint64_t kEntrySize = 128;
constexpr uint64_t kEntriesPerBlock = kBigBlock / kEntrySize;

// Upper case as sibling ordering needs it: ASCII and Latin-1 letters.
char16_t upper_case(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}

// Published sibling order: shorter names first, then unit by unit after
// upper-casing. Negative, zero or positive like strcmp.
int compare_names(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const char16_t x = upper_case(a[i]), y = upper_case(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// A name as the sibling order sees it: names that collide fold alike.
std::u16string folded(std::u16string_view name) {
  std::u16string f(name);
  for (char16_t& c : f) c = upper_case(c);
  return f;
}

std::vector<std::u16string> components(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

}  // namespace

bool CompoundDocument::EntryNameLess(const DirectoryEntry& a, const DirectoryEntry& b) {
  return compare_names(a.NameView(), b.NameView()) <= 0;
}

bool CompoundDocument::IsRootPath(const std::u16string& path) {
  return path == u"\\";
}

int CompoundDocument::LoadDirectory() {
  std::vector<uint32_t> chain;
  int rc = FollowChain(header_.directory_start, chain, true);
  if (rc != kSuccess) return rc;
  if (chain.empty() || chain.size() * kEntriesPerBlock >= kLowestSpecialId) return kDamaged;
  std::vector<char> data(chain.size() * kBigBlock);
  rc = ReadBlocksOfChain(chain, data.data(), data.size());
  if (rc != kSuccess) return rc;

  // Every slot is kept, free ones as placeholders, so that position = id.
  entries_.clear();
  const uint64_t count = chain.size() * kEntriesPerBlock;
  entries_.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    auto entry = std::make_unique<DirectoryEntry>();
    entry->Read(reinterpret_cast<const unsigned char*>(&data[i * kEntrySize]));
    // An empty stream owns no blocks, whatever start another writer left.
    if (entry->type == DirectoryEntry::kStream && entry->size == 0) entry->start = kEndOfChain;
    entries_.push_back(std::move(entry));
  }
  DirectoryEntry& root = *entries_[0];
  if (root.type != DirectoryEntry::kRoot || !root.NameTerminated()) return kDamaged;

  // Build the tree from the links, reaching each entry at most once.
  root_ = std::make_unique<DirectoryNode>(nullptr, &root, 0);
  std::vector<uint8_t> reached(count, 0);
  reached[0] = 1;
  std::vector<uint16_t> depth(count, 0);
  std::vector<std::pair<DirectoryNode*, uint32_t>> pending;
  std::vector<DirectoryNode*> storages{root_.get()};
  if (root.child != kNoEntry) pending.emplace_back(root_.get(), root.child);
  while (!pending.empty()) {
    auto [parent, id] = pending.back();
    pending.pop_back();
    if (id >= count || reached[id]) return kDamaged;
    reached[id] = 1;
    depth[id] = static_cast<uint16_t>(depth[parent->index] + 1);
    if (depth[id] > kMaxDepth) return kTooDeep;
    DirectoryEntry& e = *entries_[id];
    if ((e.type != DirectoryEntry::kStorage && e.type != DirectoryEntry::kStream) ||
        !e.NameTerminated() || e.Name().empty())
      return kDamaged;
    if (e.type == DirectoryEntry::kStream && e.child != kNoEntry) return kDamaged;
    parent->children.push_back(std::make_unique<DirectoryNode>(parent, &e, id));
    DirectoryNode* node = parent->children.back().get();
    if (e.left != kNoEntry) pending.emplace_back(parent, e.left);
    if (e.right != kNoEntry) pending.emplace_back(parent, e.right);
    if (e.type == DirectoryEntry::kStorage) {
      storages.push_back(node);
      if (e.child != kNoEntry) pending.emplace_back(node, e.child);
    }
  }
  for (DirectoryNode* s : storages) {
    std::sort(s->children.begin(), s->children.end(),
              [](const std::unique_ptr<DirectoryNode>& a, const std::unique_ptr<DirectoryNode>& b) {
                return a->index < b->index;
              });
    LinkSiblings(s);
  }
  current_ = root_.get();
  return kSuccess;
}

// The chain is resized before the entries are serialised: resizing can erase
// blocks and so renumber the start blocks the entries hold.
int CompoundDocument::SaveDirectory() {
  const uint64_t blocks = (entries_.size() + kEntriesPerBlock - 1) / kEntriesPerBlock;
  std::vector<uint32_t> chain;
  int rc = ResizeChain(header_.directory_start, blocks, chain);
  if (rc == kSuccess) rc = FitExtensionBlocks();
  if (rc == kSuccess) rc = FollowChain(header_.directory_start, chain, true);
  if (rc != kSuccess) return rc;
  std::vector<char> data(blocks * kBigBlock, 0);
  const DirectoryEntry free_entry = DirectoryEntry::Free();
  for (uint64_t i = 0; i < blocks * kEntriesPerBlock; ++i) {
    const DirectoryEntry* e = i < entries_.size() ? entries_[i].get() : nullptr;
    if (e == nullptr || e->type == DirectoryEntry::kFree) e = &free_entry;
    e->Write(reinterpret_cast<unsigned char*>(&data[i * kEntrySize]));
  }
  // Only blocks that changed or moved since the last save are written.
  for (uint64_t b = 0; b < blocks; ++b) {
    const char* block = &data[b * kBigBlock];
    if (b < saved_directory_chain_.size() && saved_directory_chain_[b] == chain[b] &&
        std::memcmp(block, &saved_directory_[b * kBigBlock], kBigBlock) == 0)
      continue;
    if (!file_.WriteBlock(uint64_t{chain[b]} + 1, block)) return kIoError;
  }
  saved_directory_.swap(data);
  saved_directory_chain_.swap(chain);
  return kSuccess;
}

void CompoundDocument::LinkSiblings(DirectoryNode* storage) {
  std::vector<DirectoryNode*> c;
  for (auto& child : storage->children) c.push_back(child.get());
  std::stable_sort(c.begin(), c.end(), [](const DirectoryNode* a, const DirectoryNode* b) {
    return compare_names(a->entry->NameView(), b->entry->NameView()) < 0;
  });
  const size_t n = c.size();
  if (n == 0) {
    storage->entry->child = kNoEntry;
    return;
  }
  // A search tree with the middle child at its root, the smaller ones
  // chained down the left links and the larger ones down the right links.
  auto id = [](const DirectoryNode* node) { return static_cast<uint32_t>(node->index); };
  const size_t m = n / 2;
  c[0]->entry->left = kNoEntry;
  c[0]->entry->right = kNoEntry;
  for (size_t k = 1; k <= m; ++k) {
    c[k]->entry->left = id(c[k - 1]);
    c[k]->entry->right = kNoEntry;
  }
  storage->entry->child = id(c[m]);
  if (m + 1 < n) {
    c[m]->entry->right = id(c[m + 1]);
    for (size_t k = m + 1; k + 1 < n; ++k) {
      c[k]->entry->left = kNoEntry;
      c[k]->entry->right = id(c[k + 1]);
    }
    c[n - 1]->entry->left = kNoEntry;
    c[n - 1]->entry->right = kNoEntry;
  }
}

void CompoundDocument::ShiftEntryReferences(uint64_t index, bool up) {
  auto shift = [&](uint64_t& v) {
    if (up && v >= index) ++v;
    if (!up && v > index) --v;
  };
  for (auto& e : entries_) {
    for (uint32_t* link : {&e->left, &e->right, &e->child}) {
      if (*link == kNoEntry) continue;
      uint64_t v = *link;
      shift(v);
      *link = static_cast<uint32_t>(v);
    }
  }
  std::vector<DirectoryNode*> pending{root_.get()};
  while (!pending.empty()) {
    DirectoryNode* node = pending.back();
    pending.pop_back();
    shift(node->index);
    for (auto& c : node->children) pending.push_back(c.get());
  }
}

DirectoryNode* CompoundDocument::InsertEntry(DirectoryNode* parent,
                                             std::unique_ptr<DirectoryEntry> entry,
                                             uint64_t index) {
  DirectoryEntry* record = entry.get();
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(index), std::move(entry));
  auto node = std::make_unique<DirectoryNode>(parent, record, index);
  DirectoryNode* added = node.get();
  auto place =
      std::find_if(parent->children.begin(), parent->children.end(),
                   [&](const std::unique_ptr<DirectoryNode>& c) { return c->index > index; });
  parent->children.insert(place, std::move(node));
  LinkSiblings(parent);
  return added;
}

void CompoundDocument::DeleteEntry(DirectoryNode* node) {
  const uint64_t index = node->index;
  DirectoryNode* parent = node->parent;
  ShiftEntryReferences(index, false);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  auto it = std::find_if(parent->children.begin(), parent->children.end(),
                         [&](const std::unique_ptr<DirectoryNode>& c) { return c.get() == node; });
  if (it != parent->children.end()) parent->children.erase(it);
  LinkSiblings(parent);
}

int CompoundDocument::AddChild(DirectoryNode* storage, const std::u16string& name, uint8_t type,
                               DirectoryNode** added) {
  if (name.size() > DirectoryEntry::kMaxNameLength) return kNameTooLong;
  // Readers search a storage's tree case-blind, so names equal ignoring
  // case cannot both be found.
  for (auto& c : storage->children)
    if (compare_names(c->entry->NameView(), name) == 0) return kNameExists;
  if (entries_.size() + 1 >= kLowestSpecialId) return kTooLarge;
  if (Depth(storage) + 1 > kMaxDepth) return kTooDeep;
  auto entry = std::make_unique<DirectoryEntry>();
  entry->SetName(name);
  entry->type = type;
  uint64_t p = 1;
  while (p < entries_.size() && !EntryNameLess(*entry, *entries_[p])) ++p;
  if (p < entries_.size()) ShiftEntryReferences(p, true);
  DirectoryNode* node = InsertEntry(storage, std::move(entry), p);
  if (added != nullptr) *added = node;
  return kSuccess;
}

int CompoundDocument::MakeEntry(const std::u16string& path, uint8_t type) {
  std::u16string storage_part, name;
  SplitPath(path, storage_part, name);
  if (name.empty()) return kNoFinalName;
  DirectoryNode* storage = (!path.empty() && path[0] == u'\\') ? root_.get() : current_;
  for (const std::u16string& part : components(storage_part)) {
    DirectoryNode* next = FindChild(storage, part);
    if (next != nullptr && next->entry->type != DirectoryEntry::kStorage) return kNameExists;
    if (next == nullptr) {
      const int rc = AddChild(storage, part, DirectoryEntry::kStorage, &next);
      if (rc != kSuccess) return rc;
    }
    storage = next;
  }
  return AddChild(storage, name, type, nullptr);
}

void CompoundDocument::SplitPath(const std::u16string& path, std::u16string& storage,
                                 std::u16string& name) {
  const size_t last = path.rfind(u'\\');
  if (last != std::u16string::npos && last > 0) {
    storage = path.substr(0, last);
    name = path.substr(last + 1);
  } else {
    storage.clear();
    name = (!path.empty() && path[0] == u'\\') ? path.substr(1) : path;
  }
}

DirectoryNode* CompoundDocument::FindChild(const DirectoryNode* storage,
                                           const std::u16string& name) {
  if (storage == nullptr || name.empty()) return nullptr;
  for (auto& c : storage->children)
    if (c->entry->NameView() == name) return c.get();
  return nullptr;
}

DirectoryNode* CompoundDocument::ResolveStorage(const std::u16string& path) const {
  if (path == u".") return current_;
  if (path == u"..") return current_->parent != nullptr ? current_->parent : root_.get();
  DirectoryNode* node = (!path.empty() && path[0] == u'\\') ? root_.get() : current_;
  for (const std::u16string& part : components(path)) {
    node = FindChild(node, part);
    if (node == nullptr || node->entry->type != DirectoryEntry::kStorage) return nullptr;
  }
  return node;
}

DirectoryNode* CompoundDocument::FindEntry(const std::u16string& path) const {
  std::u16string storage_part, name;
  SplitPath(path, storage_part, name);
  if (name.empty()) return nullptr;
  const DirectoryNode* storage = (!path.empty() && path[0] == u'\\') ? root_.get() : current_;
  if (!storage_part.empty()) storage = ResolveStorage(storage_part);
  return FindChild(storage, name);
}

uint64_t CompoundDocument::Depth(const DirectoryNode* node) {
  uint64_t depth = 0;
  for (; node->parent != nullptr; node = node->parent) ++depth;
  return depth;
}

DirectoryNode* CompoundDocument::FindNode(uint64_t index) const {
  std::vector<DirectoryNode*> pending{root_.get()};
  while (!pending.empty()) {
    DirectoryNode* node = pending.back();
    pending.pop_back();
    if (node->index == index) return node;
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
      pending.push_back(it->get());
  }
  return nullptr;
}

}  // namespace YCompoundFiles

namespace YCompoundFiles {

namespace {

void set_class(DirectoryEntry& entry, const CompoundDocument::StorageClass& value) {
  std::copy(value.class_id, value.class_id + 4, entry.class_id);
  entry.state_bits = value.state_bits;
}

}  // namespace

std::u16string CompoundDocument::FoldedName(std::u16string_view name) {
  return folded(name);
}

int CompoundDocument::ListTree(std::vector<TreeEntry>& list) const {
  list.clear();
  if (!IsOpen()) return kNotOpen;
  // Children go on the stack last first, so that they come off in
  // ascending id, each right after its parent's earlier siblings' subtrees.
  std::vector<std::pair<const DirectoryNode*, uint64_t>> pending;
  auto push_children = [&](const DirectoryNode* node, uint64_t position) {
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
      pending.emplace_back(it->get(), position);
  };
  push_children(root_.get(), TreeEntry::kInRoot);
  while (!pending.empty()) {
    const auto [node, parent] = pending.back();
    pending.pop_back();
    TreeEntry entry;
    entry.parent = parent;
    entry.name = node->entry->Name();
    entry.storage = node->entry->type == DirectoryEntry::kStorage;
    entry.id = static_cast<uint32_t>(node->index);
    if (entry.storage) {
      std::copy(node->entry->class_id, node->entry->class_id + 4, entry.storage_class.class_id);
      entry.storage_class.state_bits = node->entry->state_bits;
    }
    list.push_back(std::move(entry));
    push_children(node, list.size() - 1);
  }
  return kSuccess;
}

int CompoundDocument::AddTree(const std::vector<TreeEntry>& list) {
  int rc = BeginChange();
  if (rc == kSuccess) rc = CheckTree(list);
  if (rc != kSuccess || list.empty()) return rc;
  // Positions can be settled at the end only where the entries are in
  // order already, as every document made here has them.
  if (!EntriesInOrder()) return AddTreeInTurn(list);
  const uint64_t first = entries_.size();
  rc = AllocateTree(list);
  PlaceTree(list, first);
  return FinishChange(rc);
}

// Everything that could refuse an entry, before anything changes.
int CompoundDocument::CheckTree(const std::vector<TreeEntry>& list) const {
  if (entries_.size() + list.size() >= kLowestSpecialId) return kTooLarge;
  std::vector<uint64_t> depth(list.size());
  std::unordered_map<uint64_t, std::unordered_set<std::u16string>> taken;
  for (size_t i = 0; i < list.size(); ++i) {
    const TreeEntry& e = list[i];
    if (e.name.empty()) return kNoFinalName;
    if (e.name.size() > DirectoryEntry::kMaxNameLength) return kNameTooLong;
    if (!e.storage && e.bytes.size() > 0xFFFFFFFFull) return kTooLarge;
    const bool in_root = e.parent == TreeEntry::kInRoot;
    if (!in_root && (e.parent >= i || !list[e.parent].storage)) return kNoSuchStorage;
    depth[i] = in_root ? 1 : depth[e.parent] + 1;
    if (depth[i] > kMaxDepth) return kTooDeep;
    auto [names, fresh] = taken.try_emplace(e.parent);
    if (fresh && in_root)
      for (auto& c : root_->children) names->second.insert(folded(c->entry->NameView()));
    if (!names->second.insert(folded(e.name)).second) return kNameExists;
  }
  return kSuccess;
}

bool CompoundDocument::EntriesInOrder() const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const DirectoryEntry& e = *entries_[i];
    for (uint32_t link : {e.left, e.right, e.child})
      if (link != kNoEntry && link >= entries_.size()) return false;
    if (i >= 2 && compare_names(entries_[i - 1]->NameView(), e.NameView()) > 0) return false;
  }
  return true;
}

// The entries join the end of the list, in turn, and their streams are
// written; blocks are taken as the saves after each MakeStream or
// MakeDirectory and each WriteStream would take them: the directory chain
// grows to hold the entries, then the extension blocks fit the table.
int CompoundDocument::AllocateTree(const std::vector<TreeEntry>& list) {
  std::vector<uint32_t> chain;
  uint64_t erasures = block_erasures_ + 1;
  auto save_point = [&]() {
    if (erasures != block_erasures_) {  // blocks moved: find the chain's end again
      const int rc = FollowChain(header_.directory_start, chain, true);
      if (rc != kSuccess) return rc;
      erasures = block_erasures_;
    }
    const uint64_t blocks = (entries_.size() + kEntriesPerBlock - 1) / kEntriesPerBlock;
    while (chain.size() < blocks) {
      uint32_t b;
      int rc = FindFreeBlocks(true, b);
      // Written now so that the file has no hole; the save fills it.
      if (rc == kSuccess) rc = WriteFilledBlock(b, 0);
      if (rc != kSuccess) return rc;
      if (chain.empty())
        header_.directory_start = b;
      else
        big_table_[chain.back()] = b;
      chain.push_back(b);
    }
    return FitExtensionBlocks();
  };
  for (const TreeEntry& e : list) {
    auto entry = std::make_unique<DirectoryEntry>();
    entry->SetName(e.name);
    entry->type = e.storage ? DirectoryEntry::kStorage : DirectoryEntry::kStream;
    if (e.storage) set_class(*entry, e.storage_class);
    DirectoryEntry& added = *entry;
    entries_.push_back(std::move(entry));
    int rc = save_point();
    if (rc == kSuccess && !e.storage) {
      rc = WriteStreamData(added, e.bytes.data(), e.bytes.size());
      if (rc == kSuccess) rc = save_point();
    }
    if (rc != kSuccess) return rc;
  }
  return kSuccess;
}

// Moves the entries added at the end of the list from `first` on to the
// places that adding them one by one would have given: each before the
// first entry not less than it, so among equal names the later added comes
// first, and an added one before one that was there. Every id is renumbered
// once, and each storage that gained children is relinked once: links are a
// function of the final children.
void CompoundDocument::PlaceTree(const std::vector<TreeEntry>& list, uint64_t first) {
  const uint64_t added = entries_.size() - first;
  if (added == 0) return;
  auto name = [&](uint64_t position) { return entries_[position]->NameView(); };
  std::vector<uint64_t> order(added);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](uint64_t a, uint64_t b) {
    const int c = compare_names(name(first + a), name(first + b));
    return c < 0 || (c == 0 && a > b);
  });
  std::vector<uint32_t> new_id(entries_.size(), 0);
  uint32_t id = 1;
  uint64_t old = 1;
  for (uint64_t a : order) {
    while (old < first && compare_names(name(old), name(first + a)) < 0) new_id[old++] = id++;
    new_id[first + a] = id++;
  }
  while (old < first) new_id[old++] = id++;

  for (auto& e : entries_)
    for (uint32_t* link : {&e->left, &e->right, &e->child})
      if (*link != kNoEntry) *link = new_id[*link];
  std::vector<DirectoryNode*> pending{root_.get()};
  while (!pending.empty()) {
    DirectoryNode* node = pending.back();
    pending.pop_back();
    node->index = new_id[node->index];
    for (auto& c : node->children) pending.push_back(c.get());
  }
  std::vector<std::unique_ptr<DirectoryEntry>> placed(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) placed[new_id[i]] = std::move(entries_[i]);
  entries_.swap(placed);

  std::vector<DirectoryNode*> nodes(added);
  std::vector<DirectoryNode*> parents;
  for (uint64_t k = 0; k < added; ++k) {
    DirectoryNode* parent =
        list[k].parent == TreeEntry::kInRoot ? root_.get() : nodes[list[k].parent];
    const uint32_t index = new_id[first + k];
    parent->children.push_back(
        std::make_unique<DirectoryNode>(parent, entries_[index].get(), index));
    nodes[k] = parent->children.back().get();
    parents.push_back(parent);
  }
  std::sort(parents.begin(), parents.end());
  parents.erase(std::unique(parents.begin(), parents.end()), parents.end());
  for (DirectoryNode* parent : parents) {
    std::stable_sort(parent->children.begin(), parent->children.end(),
                     [](const std::unique_ptr<DirectoryNode>& a,
                        const std::unique_ptr<DirectoryNode>& b) { return a->index < b->index; });
    LinkSiblings(parent);
  }
}

// Adding where the entries are out of order (a document written elsewhere):
// one entry at a time, each change saved, exactly as by path.
int CompoundDocument::AddTreeInTurn(const std::vector<TreeEntry>& list) {
  std::vector<DirectoryNode*> nodes(list.size(), nullptr);
  for (size_t i = 0; i < list.size(); ++i) {
    const TreeEntry& e = list[i];
    DirectoryNode* parent = e.parent == TreeEntry::kInRoot ? root_.get() : nodes[e.parent];
    const uint8_t type = e.storage ? DirectoryEntry::kStorage : DirectoryEntry::kStream;
    int rc = AddChild(parent, e.name, type, &nodes[i]);
    if (rc == kSuccess && e.storage) set_class(*nodes[i]->entry, e.storage_class);
    rc = FinishChange(rc);
    if (rc == kSuccess && !e.storage)
      rc = FinishChange(WriteStreamData(*nodes[i]->entry, e.bytes.data(), e.bytes.size()));
    if (rc != kSuccess) return rc;
  }
  return kSuccess;
}

}  // namespace YCompoundFiles
