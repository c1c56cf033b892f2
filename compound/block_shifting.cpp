// Growing and shrinking the allocation tables, erasing blocks and the
// renumbering of every stored block reference that erasure entails.
//
// The document never keeps a free block between used ones: freed blocks
// leave the file and everything above them moves down. New blocks (table
// blocks included) are taken from the end of the used part, which is the
// end of the file, so growing never renumbers anything.
#include <algorithm>
#include <cstring>

#include "compound_document.h"

namespace YCompoundFiles {
namespace {

constexpr uint64_t kEntriesPerTableBlock = 128;
constexpr uint64_t kSmallBlock = 64;

bool contains(const std::vector<uint32_t>& sorted, uint32_t value) {
  return std::binary_search(sorted.begin(), sorted.end(), value);
}

// Lowering of one reference past the erased blocks; a reference to an erased
// block is left alone (its owner drops or replaces it).
void lower_reference(uint32_t& r, const std::vector<uint32_t>& sorted_erased) {
  if (r >= kLowestSpecialId || contains(sorted_erased, r)) return;
  r -= static_cast<uint32_t>(std::lower_bound(sorted_erased.begin(), sorted_erased.end(), r) -
                             sorted_erased.begin());
}

void raise_reference(uint32_t& r, const std::vector<uint32_t>& sorted_inserted) {
  if (r >= kLowestSpecialId) return;
  r += static_cast<uint32_t>(std::upper_bound(sorted_inserted.begin(), sorted_inserted.end(), r) -
                             sorted_inserted.begin());
}

// Bridges links into erased entries (a link into a run of erased blocks
// leads on to the first block after it), then removes the erased entries,
// appending as many free ones so that the table keeps its length.
// Only surviving entries are bridged: an erased entry leaves the table, and
// walking the run behind every erased entry of a long chain would cost the
// square of its length.
int bridge_and_remove(std::vector<uint32_t>& table, const std::vector<uint32_t>& sorted_erased) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (contains(sorted_erased, static_cast<uint32_t>(i))) continue;
    uint32_t& value = table[i];
    size_t steps = 0;
    while (value < kLowestSpecialId && contains(sorted_erased, value)) {
      if (value >= table.size() || ++steps > sorted_erased.size()) return kDamaged;
      value = table[value];
    }
  }
  std::vector<uint32_t> kept;
  kept.reserve(table.size());
  for (size_t i = 0; i < table.size(); ++i)
    if (!contains(sorted_erased, static_cast<uint32_t>(i))) kept.push_back(table[i]);
  kept.resize(table.size(), kFreeBlock);
  table.swap(kept);
  return kSuccess;
}

uint64_t trailing_free(const std::vector<uint32_t>& table) {
  uint64_t n = 0;
  while (n < table.size() && table[table.size() - 1 - n] == kFreeBlock) ++n;
  return n;
}

}  // namespace

int CompoundDocument::WriteFilledBlock(uint32_t block, unsigned char fill) {
  char buffer[512];
  std::memset(buffer, fill, sizeof buffer);
  return file_.WriteBlock(uint64_t{block} + 1, buffer) ? kSuccess : kIoError;
}

void CompoundDocument::ShiftBlockReferences(const std::vector<uint32_t>& sorted_blocks,
                                            bool raise) {
  auto shift = [&](uint32_t& r) {
    if (raise)
      raise_reference(r, sorted_blocks);
    else
      lower_reference(r, sorted_blocks);
  };
  for (uint32_t& v : big_table_) shift(v);
  for (uint32_t& b : table_blocks_) shift(b);
  for (uint32_t& b : extension_blocks_) shift(b);
  for (uint32_t& b : small_table_blocks_) shift(b);
  shift(header_.directory_start);
  shift(entries_[0]->start);
  for (size_t i = 1; i < entries_.size(); ++i) {
    DirectoryEntry& e = *entries_[i];
    if (e.type == DirectoryEntry::kStream && e.size >= kSmallStreamCutoff) shift(e.start);
  }
}

void CompoundDocument::ShiftSmallBlockReferences(const std::vector<uint32_t>& sorted_erased) {
  for (uint32_t& v : small_table_) lower_reference(v, sorted_erased);
  for (size_t i = 1; i < entries_.size(); ++i) {
    DirectoryEntry& e = *entries_[i];
    if (e.type == DirectoryEntry::kStream && e.size < kSmallStreamCutoff)
      lower_reference(e.start, sorted_erased);
  }
}

int CompoundDocument::GrowBlockTable(bool big) {
  if (big) {
    const uint64_t n = big_table_.size();
    if (n + kEntriesPerTableBlock >= kLowestSpecialId) return kTooLarge;
    // The table is full, so every block below n is in use and block n is
    // the first one past them: the new table block describes itself.
    big_table_.resize(n + kEntriesPerTableBlock, kFreeBlock);
    big_table_[n] = kTableBlock;
    table_blocks_.push_back(static_cast<uint32_t>(n));
    return WriteFilledBlock(static_cast<uint32_t>(n), 0xFF);
  }
  uint32_t b;
  int rc = FindFreeBlocks(true, b);
  if (rc != kSuccess) return rc;
  if (!small_table_blocks_.empty()) big_table_[small_table_blocks_.back()] = b;
  small_table_blocks_.push_back(b);
  small_table_.resize(small_table_.size() + kEntriesPerTableBlock, kFreeBlock);
  return WriteFilledBlock(b, 0xFF);
}

int CompoundDocument::EraseBlock(std::vector<uint32_t> blocks, bool big) {
  std::sort(blocks.begin(), blocks.end());
  blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
  if (blocks.empty()) return kSuccess;
  mini_chain_known_ = false;  // block numbers change
  std::vector<uint32_t>& table = big ? big_table_ : small_table_;
  for (uint32_t b : blocks)
    if (b >= table.size() || table[b] == kFreeBlock) return kDamaged;

  if (big) {
    ++block_erasures_;
    // The table blocks that the erasure leaves holding nothing are released
    // in the same pass, so the file's survivors move once whatever the
    // number of blocks: a whole free table block at the end goes, the first
    // table block describes itself and always stays. Each released block
    // also frees its own entry, so k blocks go when the free entries left by
    // the erasure number at least 127 k + 1.
    const uint64_t used_after = UsedBlocks(true) - blocks.size();
    const uint64_t free_after = big_table_.size() - used_after;
    uint64_t release = free_after == 0 ? 0 : (free_after - 1) / (kEntriesPerTableBlock - 1);
    release = std::min<uint64_t>(release, table_blocks_.size() - 1);
    std::vector<uint32_t> erased = blocks;
    for (uint64_t k = 0; k < release; ++k)
      erased.push_back(table_blocks_[table_blocks_.size() - 1 - k]);
    std::sort(erased.begin(), erased.end());
    if (std::adjacent_find(erased.begin(), erased.end()) != erased.end()) return kDamaged;
    table_blocks_.resize(table_blocks_.size() - release);

    int rc = bridge_and_remove(big_table_, erased);
    if (rc != kSuccess) return rc;
    big_table_.resize(big_table_.size() - release * kEntriesPerTableBlock);
    ShiftBlockReferences(erased, false);
    std::vector<uint64_t> file_blocks;
    file_blocks.reserve(erased.size());
    for (uint32_t b : erased) file_blocks.push_back(uint64_t{b} + 1);
    if (!file_.EraseBlocks(file_blocks)) return kIoError;
    first_free_big_ = 0;
    return kSuccess;
  }

  // Small blocks: cut their pieces out of the mini stream.
  std::vector<char> mini;
  int rc = ReadMiniStream(mini);
  if (rc != kSuccess) return rc;
  const uint64_t used = UsedBlocks(false);
  if (mini.size() < used * kSmallBlock) return kDamaged;
  std::vector<char> kept;
  kept.reserve(used * kSmallBlock);
  for (uint64_t s = 0; s < used; ++s)
    if (!contains(blocks, static_cast<uint32_t>(s)))
      kept.insert(kept.end(), mini.begin() + static_cast<std::ptrdiff_t>(s * kSmallBlock),
                  mini.begin() + static_cast<std::ptrdiff_t>((s + 1) * kSmallBlock));
  rc = bridge_and_remove(small_table_, blocks);
  if (rc != kSuccess) return rc;
  ShiftSmallBlockReferences(blocks);
  first_free_small_ = 0;
  DirectoryEntry& root = *entries_[0];
  root.size = static_cast<uint32_t>(kept.size());
  rc = WriteBigChain(kept.data(), kept.size(), root.start);
  if (rc != kSuccess) return rc;
  while (!small_table_blocks_.empty() && trailing_free(small_table_) >= kEntriesPerTableBlock) {
    const uint32_t released = small_table_blocks_.back();
    small_table_blocks_.pop_back();
    small_table_.resize(small_table_.size() - kEntriesPerTableBlock);
    if (!small_table_blocks_.empty()) big_table_[small_table_blocks_.back()] = kEndOfChain;
    rc = EraseBlock({released}, true);
    if (rc != kSuccess) return rc;
  }
  return kSuccess;
}

// Table blocks beyond the header's 109 are listed in extension blocks of 127
// ids each; this keeps exactly as many extension blocks as the table needs.
int CompoundDocument::FitExtensionBlocks() {
  for (;;) {
    const uint64_t beyond =
        table_blocks_.size() > kHeaderSlots ? table_blocks_.size() - kHeaderSlots : 0;
    const uint64_t needed =
        beyond / kIdsPerExtensionBlock + (beyond % kIdsPerExtensionBlock ? 1 : 0);
    if (extension_blocks_.size() < needed) {
      uint32_t b;
      int rc = FindFreeBlocks(true, b);
      if (rc == kSuccess) rc = WriteFilledBlock(b, 0xFF);
      if (rc != kSuccess) return rc;
      big_table_[b] = kExtensionBlock;
      extension_blocks_.push_back(b);
    } else if (extension_blocks_.size() > needed) {
      const uint32_t released = extension_blocks_.back();
      extension_blocks_.pop_back();
      const int rc = EraseBlock({released}, true);
      if (rc != kSuccess) return rc;
    } else {
      return kSuccess;
    }
  }
}

}  // namespace YCompoundFiles
