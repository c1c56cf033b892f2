// Life cycle of CompoundDocument and its storage and stream operations.
#include "compound_document.h"

#include <algorithm>
#include <cstring>

#include "text_conversion.h"

namespace YCompoundFiles {
namespace {

constexpr uint64_t kMaxStreamSize = 0xFFFFFFFFull;

std::u16string wide_path(const char16_t* path) {
  return path == nullptr ? std::u16string() : std::u16string(path);
}

}  // namespace

CompoundDocument::CompoundDocument() = default;

CompoundDocument::~CompoundDocument() {
  Close();
}

bool CompoundDocument::IsOpen() const {
  return file_.IsOpen() && root_ != nullptr;
}

void CompoundDocument::Close() {
  big_table_.clear();
  small_table_.clear();
  table_blocks_.clear();
  extension_blocks_.clear();
  small_table_blocks_.clear();
  current_ = nullptr;
  root_.reset();
  entries_.clear();
  header_ = CompoundHeader();
  first_free_big_ = first_free_small_ = 0;
  saved_big_ = SavedTable();
  saved_small_ = SavedTable();
  saved_directory_.clear();
  saved_directory_chain_.clear();
  write_refusal_ = 0;
  write_failed_ = false;
  mini_chain_known_ = false;
  big_chain_ends_.clear();
  small_chain_ends_.clear();
  file_.Close();
}

bool CompoundDocument::Create(const char* path) {
  Close();
  if (!file_.Create(path) || !DoCreate()) {
    Close();
    return false;
  }
  return true;
}

bool CompoundDocument::Create(const char16_t* path) {
  Close();
  if (!file_.Create(path) || !DoCreate()) {
    Close();
    return false;
  }
  return true;
}

bool CompoundDocument::CreateOn(int descriptor) {
  Close();
  if (!file_.CreateOn(descriptor) || !DoCreate()) {
    Close();
    return false;
  }
  return true;
}

// A new document: the header, one table block (document block 0) and one
// directory block (document block 1) holding the root entry.
bool CompoundDocument::DoCreate() {
  header_ = CompoundHeader();
  big_table_.assign(128, kFreeBlock);
  big_table_[0] = kTableBlock;
  big_table_[1] = kEndOfChain;
  table_blocks_ = {0};
  first_free_big_ = 2;
  auto root = std::make_unique<DirectoryEntry>();
  root->SetName(u"Root Entry");
  root->type = DirectoryEntry::kRoot;
  entries_.push_back(std::move(root));
  root_ = std::make_unique<DirectoryNode>(nullptr, entries_[0].get(), 0);
  current_ = root_.get();
  return Save() == kSuccess && file_.Flush();
}

bool CompoundDocument::Open(const char* path, uint32_t mode) {
  Close();
  open_failure_ = kNotOpen;
  if (!file_.Open(path, mode) || !DoOpen()) {
    Close();
    return false;
  }
  return true;
}

bool CompoundDocument::Open(const char16_t* path, uint32_t mode) {
  Close();
  open_failure_ = kNotOpen;
  if (!file_.Open(path, mode) || !DoOpen()) {
    Close();
    return false;
  }
  return true;
}

bool CompoundDocument::OpenOn(int descriptor, uint32_t mode) {
  Close();
  open_failure_ = kNotOpen;
  if (!file_.OpenOn(descriptor, mode) || !DoOpen()) {
    Close();
    return false;
  }
  return true;
}

bool CompoundDocument::DoOpen() {
  if (!(file_.Mode() & kRead)) return false;
  if (!LoadHeader()) return false;
  open_failure_ = LoadBlockTables();
  if (open_failure_ == kSuccess) open_failure_ = LoadDirectory();
  if (open_failure_ == kSuccess) open_failure_ = CheckLayout();
  return open_failure_ == kSuccess;
}

int CompoundDocument::BeginChange() const {
  mini_chain_known_ = false;
  if (!IsOpen()) return kNotOpen;
  if (!(file_.Mode() & kWrite)) return kReadOnly;
  if (write_failed_) return kIoError;
  return write_refusal_ != 0 ? write_refusal_ : kSuccess;
}

// Every changing operation ends here: the directory, header and tables are
// written and the file flushed, so what is on disk is complete after each
// call. A failure in the middle of a change leaves memory and file apart;
// later changes are then refused.
int CompoundDocument::FinishChange(int result) {
  if (result == kIoError || result == kDamaged) {
    write_failed_ = true;
    return result;
  }
  int rc = Save();
  if (rc == kSuccess && !file_.Flush()) rc = kIoError;
  if (rc != kSuccess) {
    write_failed_ = true;
    return rc;
  }
  return result;
}

int CompoundDocument::Save() {
  int rc = SaveDirectory();
  if (rc == kSuccess) rc = SaveHeader();
  if (rc == kSuccess) rc = SaveBlockTables();
  return rc;
}

int CompoundDocument::ReadStreamData(const DirectoryEntry& entry, bool is_root,
                                     std::vector<char>& out) const {
  out.clear();
  if (entry.size == 0) return kSuccess;
  const bool big = is_root || entry.size >= kSmallStreamCutoff;
  std::vector<uint32_t> chain;
  const uint64_t unit = big ? 512 : 64;
  int rc = write_refusal_ == 0
               ? FollowChain(entry.start, chain, big)
               : FollowEndingChain(entry.start, (entry.size + unit - 1) / unit, chain, big);
  if (rc != kSuccess) return rc;
  // The recorded size is checked against the chain before anything is
  // allocated for it.
  if (uint64_t{entry.size} > chain.size() * (big ? 512u : 64u)) return kDamaged;
  if (big) {
    out.resize(entry.size);
    return ReadBlocksOfChain(chain, out.data(), out.size());
  }
  // Only the mini stream's blocks that hold this stream are read, so that
  // reading every small stream costs what they hold, not their number
  // times the mini stream.
  if (!mini_chain_known_) {
    rc = FollowChain(entries_[0]->start, mini_chain_, true);
    if (rc != kSuccess) return rc;
    if (entries_[0]->size > mini_chain_.size() * 512) return kDamaged;
    mini_chain_known_ = true;
  }
  out.resize(entry.size);
  char block[512];
  uint64_t in_block = UINT64_MAX;
  for (size_t i = 0; i < chain.size() && i * 64 < out.size(); ++i) {
    const uint64_t offset = uint64_t{chain[i]} * 64;
    const uint64_t n = std::min<uint64_t>(64, out.size() - i * 64);
    if (offset + n > entries_[0]->size) return kDamaged;
    if (offset / 512 != in_block) {
      in_block = offset / 512;
      const uint64_t file_block = uint64_t{mini_chain_[in_block]} + 1;
      if (file_block >= file_.BlockCount()) return kDamaged;
      if (!const_cast<BlockFile&>(file_).ReadBlock(file_block, block)) return kIoError;
    }
    std::memcpy(&out[i * 64], block + offset % 512, n);
  }
  return kSuccess;
}

// A stream that moves between small and big blocks gives up its old chain
// first and forgets its start, so the renumbering of the new chain's
// allocation never takes the old start for one of its own kind.
int CompoundDocument::WriteStreamData(DirectoryEntry& entry, const char* data, uint64_t size) {
  const bool old_small = entry.size < kSmallStreamCutoff;
  const bool new_small = size < kSmallStreamCutoff;
  int rc;
  if (old_small == new_small) {
    rc = WriteChain(data, size, entry.start, !new_small);
  } else {
    rc = WriteChain(nullptr, 0, entry.start, !old_small);
    entry.start = kEndOfChain;
    entry.size = 0;
    if (rc == kSuccess) rc = WriteChain(data, size, entry.start, !new_small);
  }
  if (rc != kSuccess) return rc;
  entry.size = static_cast<uint32_t>(size);
  return kSuccess;
}

// Removes a node with everything below it, children first. A current
// storage inside the removed part gives way to the nearest survivor.
int CompoundDocument::RemoveNode(DirectoryNode* node) {
  if (current_->IsWithin(node)) current_ = node->parent;
  std::vector<DirectoryNode*> order;
  std::vector<DirectoryNode*> pending{node};
  while (!pending.empty()) {
    DirectoryNode* n = pending.back();
    pending.pop_back();
    order.push_back(n);
    for (auto& c : n->children) pending.push_back(c.get());
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    DirectoryNode* n = *it;
    if (n->entry->type == DirectoryEntry::kStream) {
      const int rc = WriteStreamData(*n->entry, nullptr, 0);
      if (rc != kSuccess) return rc;
    }
    DeleteEntry(n);
  }
  return kSuccess;
}

// ---- Operations on UTF-16 paths ----

int CompoundDocument::DoChangeDirectory(const std::u16string& path) {
  if (!IsOpen()) return kNotOpen;
  DirectoryNode* node = ResolveStorage(path);
  if (node == nullptr) return kNoSuchStorage;
  current_ = node;
  return kSuccess;
}

int CompoundDocument::DoRemoveDirectory(const std::u16string& path) {
  DirectoryNode* node = FindEntry(path);
  if (node == nullptr || node->entry->type != DirectoryEntry::kStorage) return kNoSuchStorage;
  if (!node->children.empty()) return kStorageNotEmpty;
  return RemoveNode(node);
}

int CompoundDocument::DoRemoveTree(const std::u16string& path) {
  DirectoryNode* node = FindEntry(path);
  if (node == nullptr) return kNoSuchStorage;
  return RemoveNode(node);
}

int CompoundDocument::DoRemoveStream(const std::u16string& path) {
  DirectoryNode* node = FindEntry(path);
  if (node == nullptr || node->entry->type != DirectoryEntry::kStream) return kNoSuchStream;
  return RemoveNode(node);
}

int CompoundDocument::DoStreamSize(const std::u16string& path, uint64_t& size) const {
  if (!IsOpen()) return kNotOpen;
  if (IsRootPath(path)) {
    size = entries_[0]->size;
    return kSuccess;
  }
  const DirectoryNode* node = FindEntry(path);
  if (node == nullptr) return kNoSuchStream;
  size = node->entry->size;
  return kSuccess;
}

int CompoundDocument::DoReadStream(const std::u16string& path, std::vector<char>& data) const {
  data.clear();
  if (!IsOpen()) return kNotOpen;
  if (IsRootPath(path)) return ReadStreamData(*entries_[0], true, data);
  const DirectoryNode* node = FindEntry(path);
  if (node == nullptr || node->entry->type != DirectoryEntry::kStream) return kNoSuchStream;
  const int rc = ReadStreamData(*node->entry, false, data);
  if (rc != kSuccess) data.clear();
  return rc;
}

int CompoundDocument::ReadStream(const TreeEntry& item, std::vector<char>& data) const {
  data.clear();
  if (!IsOpen()) return kNotOpen;
  if (item.id == 0 || item.id >= entries_.size() ||
      entries_[item.id]->type != DirectoryEntry::kStream)
    return kNoSuchStream;
  const int rc = ReadStreamData(*entries_[item.id], false, data);
  if (rc != kSuccess) data.clear();
  return rc;
}

int CompoundDocument::DoWriteStream(const std::u16string& path, const char* data, uint64_t size) {
  if (size > kMaxStreamSize) return kTooLarge;
  if (size > 0 && data == nullptr) return kTooLarge;
  DirectoryNode* node = IsRootPath(path) ? nullptr : FindEntry(path);
  if (node == nullptr || node->entry->type != DirectoryEntry::kStream) return kNoSuchStream;
  return WriteStreamData(*node->entry, data, size);
}

int CompoundDocument::DoListDirectory(std::vector<std::u16string>& names,
                                      const char16_t* path) const {
  if (!IsOpen()) return kNotOpen;
  const DirectoryNode* storage = path == nullptr ? current_ : ResolveStorage(wide_path(path));
  if (storage == nullptr) return kNoSuchStorage;
  names.clear();
  for (auto& c : storage->children) names.push_back(c->entry->Name());
  return kSuccess;
}

// ---- Public forms ----

int CompoundDocument::ChangeDirectory(const char16_t* path) {
  return DoChangeDirectory(wide_path(path));
}

int CompoundDocument::MakeDirectory(const char16_t* path) {
  const int rc = BeginChange();
  if (rc != kSuccess) return rc;
  return FinishChange(MakeEntry(wide_path(path), DirectoryEntry::kStorage));
}

int CompoundDocument::MakeStream(const char16_t* path) {
  const int rc = BeginChange();
  if (rc != kSuccess) return rc;
  return FinishChange(MakeEntry(wide_path(path), DirectoryEntry::kStream));
}

int CompoundDocument::CurrentDirectory(std::u16string& path) const {
  if (!IsOpen()) return kNotOpen;
  path.clear();
  std::vector<const DirectoryNode*> nodes;
  for (const DirectoryNode* n = current_; n != nullptr && n->parent != nullptr; n = n->parent)
    nodes.push_back(n);
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) path += u"\\" + (*it)->entry->Name();
  if (path.empty()) path = u"\\";
  return kSuccess;
}

int CompoundDocument::CurrentDirectory(std::string& path) const {
  std::u16string wide;
  const int rc = CurrentDirectory(wide);
  if (rc != kSuccess) return rc;
  return utf16_to_narrow(wide, path) ? kSuccess : kBadText;
}

int CompoundDocument::RemoveDirectory(const char16_t* path) {
  const int rc = BeginChange();
  if (rc != kSuccess) return rc;
  return FinishChange(DoRemoveDirectory(wide_path(path)));
}

int CompoundDocument::RemoveTree(const char16_t* path) {
  const int rc = BeginChange();
  if (rc != kSuccess) return rc;
  return FinishChange(DoRemoveTree(wide_path(path)));
}

int CompoundDocument::RemoveStream(const char16_t* path) {
  const int rc = BeginChange();
  if (rc != kSuccess) return rc;
  return FinishChange(DoRemoveStream(wide_path(path)));
}

int CompoundDocument::ListDirectory(std::vector<std::u16string>& names,
                                    const char16_t* path) const {
  return DoListDirectory(names, path);
}

int CompoundDocument::StreamSize(const char16_t* path, uint64_t& size) const {
  return DoStreamSize(wide_path(path), size);
}

int CompoundDocument::ReadStream(const char16_t* path, std::vector<char>& data) const {
  return DoReadStream(wide_path(path), data);
}

int CompoundDocument::ReadStream(const char16_t* path, char* buffer, uint64_t capacity) const {
  uint64_t size = 0;
  int rc = DoStreamSize(wide_path(path), size);
  if (rc != kSuccess) return rc;
  if (size > capacity) return kTooLarge;
  std::vector<char> data;
  rc = DoReadStream(wide_path(path), data);
  if (rc == kSuccess && !data.empty()) std::memcpy(buffer, data.data(), data.size());
  return rc;
}

int CompoundDocument::WriteStream(const char16_t* path, const std::vector<char>& data,
                                  uint64_t size) {
  if (size > data.size()) return kTooLarge;
  return WriteStream(path, data.data(), size);
}

int CompoundDocument::WriteStream(const char16_t* path, const char* data, uint64_t size) {
  const int rc = BeginChange();
  if (rc != kSuccess) return rc;
  return FinishChange(DoWriteStream(wide_path(path), data, size));
}

// Narrow forms: the path is converted whole; text that cannot be converted
// is refused rather than cut.
#define KELPO_NARROW_PATH(path, wide) \
  std::u16string wide;                \
  if (!narrow_to_utf16(path == nullptr ? "" : path, wide)) return kBadText

int CompoundDocument::ChangeDirectory(const char* path) {
  KELPO_NARROW_PATH(path, wide);
  return ChangeDirectory(wide.c_str());
}
int CompoundDocument::MakeDirectory(const char* path) {
  KELPO_NARROW_PATH(path, wide);
  return MakeDirectory(wide.c_str());
}
int CompoundDocument::MakeStream(const char* path) {
  KELPO_NARROW_PATH(path, wide);
  return MakeStream(wide.c_str());
}
int CompoundDocument::RemoveDirectory(const char* path) {
  KELPO_NARROW_PATH(path, wide);
  return RemoveDirectory(wide.c_str());
}
int CompoundDocument::RemoveTree(const char* path) {
  KELPO_NARROW_PATH(path, wide);
  return RemoveTree(wide.c_str());
}
int CompoundDocument::RemoveStream(const char* path) {
  KELPO_NARROW_PATH(path, wide);
  return RemoveStream(wide.c_str());
}
int CompoundDocument::StreamSize(const char* path, uint64_t& size) const {
  KELPO_NARROW_PATH(path, wide);
  return StreamSize(wide.c_str(), size);
}
int CompoundDocument::ReadStream(const char* path, std::vector<char>& data) const {
  data.clear();
  KELPO_NARROW_PATH(path, wide);
  return ReadStream(wide.c_str(), data);
}
int CompoundDocument::ReadStream(const char* path, char* buffer, uint64_t capacity) const {
  KELPO_NARROW_PATH(path, wide);
  return ReadStream(wide.c_str(), buffer, capacity);
}
int CompoundDocument::WriteStream(const char* path, const std::vector<char>& data, uint64_t size) {
  KELPO_NARROW_PATH(path, wide);
  return WriteStream(wide.c_str(), data, size);
}
int CompoundDocument::WriteStream(const char* path, const char* data, uint64_t size) {
  KELPO_NARROW_PATH(path, wide);
  return WriteStream(wide.c_str(), data, size);
}
int CompoundDocument::ListDirectory(std::vector<std::string>& names, const char* path) const {
  std::u16string wide;
  if (path != nullptr && !narrow_to_utf16(path, wide)) return kBadText;
  std::vector<std::u16string> wide_names;
  const int rc = ListDirectory(wide_names, path == nullptr ? nullptr : wide.c_str());
  if (rc != kSuccess) return rc;
  std::vector<std::string> converted(wide_names.size());
  for (size_t i = 0; i < wide_names.size(); ++i)
    if (!utf16_to_narrow(wide_names[i], converted[i])) return kBadText;
  names.swap(converted);
  return kSuccess;
}

#undef KELPO_NARROW_PATH

// ---- Storage classes ----

bool CompoundDocument::StorageClass::operator==(const StorageClass& other) const {
  return std::equal(class_id, class_id + 4, other.class_id) && state_bits == other.state_bits;
}

int CompoundDocument::GetStorageClass(const char16_t* path, StorageClass& value) const {
  if (!IsOpen()) return kNotOpen;
  const std::u16string wide = wide_path(path);
  const DirectoryNode* node = IsRootPath(wide) ? nullptr : FindEntry(wide);
  const DirectoryEntry* entry = IsRootPath(wide) ? entries_[0].get() : node ? node->entry : nullptr;
  if (entry == nullptr || entry->type == DirectoryEntry::kStream) return kNoSuchStorage;
  std::copy(entry->class_id, entry->class_id + 4, value.class_id);
  value.state_bits = entry->state_bits;
  return kSuccess;
}

int CompoundDocument::SetStorageClass(const char16_t* path, const StorageClass& value) {
  int rc = BeginChange();
  if (rc != kSuccess) return rc;
  const std::u16string wide = wide_path(path);
  DirectoryNode* node = IsRootPath(wide) ? nullptr : FindEntry(wide);
  DirectoryEntry* entry = IsRootPath(wide) ? entries_[0].get() : node ? node->entry : nullptr;
  if (entry == nullptr || entry->type == DirectoryEntry::kStream) return kNoSuchStorage;
  std::copy(value.class_id, value.class_id + 4, entry->class_id);
  entry->state_bits = value.state_bits;
  return FinishChange(kSuccess);
}

int CompoundDocument::GetStorageClass(const char* path, StorageClass& value) const {
  std::u16string wide;
  if (!narrow_to_utf16(path == nullptr ? "" : path, wide)) return kBadText;
  return GetStorageClass(wide.c_str(), value);
}

int CompoundDocument::SetStorageClass(const char* path, const StorageClass& value) {
  std::u16string wide;
  if (!narrow_to_utf16(path == nullptr ? "" : path, wide)) return kBadText;
  return SetStorageClass(wide.c_str(), value);
}

}  // namespace YCompoundFiles
