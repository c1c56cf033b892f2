// Header, allocation tables and block chains of CompoundDocument.
//
// Block numbers here are document block numbers: document block n is file
// block n + 1, file block 0 is the header.
#include <algorithm>
#include <cstring>

#include "byte_codec.h"
#include "compound_document.h"

namespace YCompoundFiles {
namespace {

constexpr uint64_t kBigBlock = 512;
constexpr uint64_t kSmallBlock = 64;
constexpr uint64_t kEntriesPerTableBlock = kBigBlock / 4;

uint64_t blocks_for(uint64_t bytes, uint64_t block) {
  return bytes / block + (bytes % block ? 1 : 0);
}

// Small blocks that lie in a mini stream of the root's recorded size. Some
// writers record the size up to the end of the last stream's data, short of
// the end of its last small block, and other readers take such files; that
// partial block counts. The bytes of every stream must still lie within the
// recorded size (checked where they are read).
uint64_t mini_stream_blocks(uint64_t root_size) {
  return blocks_for(root_size, kSmallBlock);
}

void decode_table_block(const unsigned char* block, std::vector<uint32_t>& table, uint64_t base) {
  for (uint64_t j = 0; j < kEntriesPerTableBlock; ++j)
    ByteCodec::Get(block, table[base + j], 4 * j);
}

void encode_table_block(const std::vector<uint32_t>& table, uint64_t base, unsigned char* block) {
  for (uint64_t j = 0; j < kEntriesPerTableBlock; ++j)
    ByteCodec::Put(block, table[base + j], 4 * j);
}

// Whether the chain from each block below `limit` reaches its end without a
// loop or a number outside the table: every block is walked once, and a walk
// stops at a block whose answer is known.
std::vector<uint8_t> chain_ends(const std::vector<uint32_t>& table, uint64_t limit) {
  enum : uint8_t { kUnknown, kOnWalk, kEnds, kBroken };
  std::vector<uint8_t> state(limit, kUnknown);
  std::vector<uint32_t> walk;
  for (uint64_t start = 0; start < limit; ++start) {
    walk.clear();
    uint64_t b = start;
    uint8_t result = kBroken;
    while (b == kEndOfChain || (b < limit && state[b] != kOnWalk)) {
      if (b == kEndOfChain || state[b] != kUnknown) {
        result = b == kEndOfChain ? uint8_t{kEnds} : state[b];
        break;
      }
      state[b] = kOnWalk;
      walk.push_back(static_cast<uint32_t>(b));
      b = table[b];
    }
    for (uint32_t w : walk) state[w] = result;
  }
  for (uint8_t& s : state) s = s == kEnds;
  return state;
}

}  // namespace

bool CompoundDocument::LoadHeader() {
  if (file_.FileSize() < kBigBlock) return false;
  unsigned char block[kBigBlock];
  if (!file_.ReadBlock(0, reinterpret_cast<char*>(block))) return false;
  header_.Read(block);
  // Only version 3 with 512-byte blocks and 64-byte small blocks is read;
  // the small-block shift is the format's u16 field.
  if (!header_.HasMagic() || header_.major_version != 3 || header_.byte_order != 0xFFFE ||
      header_.big_block_shift != 9 || (header_.small_block_shift & 0xFFFF) != 6)
    return false;
  file_.SetBlockSize(kBigBlock);
  return true;
}

int CompoundDocument::SaveHeader() {
  header_.table_block_count = static_cast<uint32_t>(table_blocks_.size());
  for (uint32_t k = 0; k < kHeaderSlots; ++k)
    header_.slots[k] = k < table_blocks_.size() ? table_blocks_[k] : kFreeBlock;
  header_.extension_start = extension_blocks_.empty() ? kEndOfChain : extension_blocks_[0];
  header_.extension_count = static_cast<uint32_t>(extension_blocks_.size());
  header_.small_table_start = small_table_blocks_.empty() ? kEndOfChain : small_table_blocks_[0];
  header_.small_table_count = static_cast<uint32_t>(small_table_blocks_.size());
  unsigned char block[kBigBlock] = {};
  header_.Write(block);
  return file_.WriteBlock(0, reinterpret_cast<const char*>(block)) ? kSuccess : kIoError;
}

int CompoundDocument::LoadBlockTables() {
  const uint64_t file_blocks = file_.BlockCount() - 1;
  const uint64_t count = header_.table_block_count;
  // Every count is bounded by the file before anything is allocated for it.
  if (count == 0 || count > file_blocks || header_.extension_count > file_blocks) return kDamaged;
  unsigned char block[kBigBlock];
  char* raw = reinterpret_cast<char*>(block);
  table_blocks_.clear();
  extension_blocks_.clear();
  for (uint64_t k = 0; k < std::min<uint64_t>(count, kHeaderSlots); ++k) {
    if (header_.slots[k] >= file_blocks) return kDamaged;
    table_blocks_.push_back(header_.slots[k]);
  }
  // A file counting 109 table blocks with a non-empty run behind them, and
  // more blocks than 109 table blocks can describe, continues its table in
  // a run of consecutive blocks instead of extension blocks (an older layout).
  const bool legacy_run = count == kHeaderSlots && header_.extension_count > 0 &&
                          file_blocks > uint64_t{kHeaderSlots} * kEntriesPerTableBlock;
  if (legacy_run) {
    for (uint64_t k = 0; k < header_.extension_count; ++k) {
      const uint64_t id = uint64_t{header_.extension_start} + k;
      if (id >= file_blocks) return kDamaged;
      table_blocks_.push_back(static_cast<uint32_t>(id));
    }
  } else if (header_.extension_count > 0 || count > kHeaderSlots) {
    uint32_t id = header_.extension_start;
    for (uint64_t k = 0; k < header_.extension_count && id != kEndOfChain; ++k) {
      if (id >= file_blocks) return kDamaged;
      if (std::find(extension_blocks_.begin(), extension_blocks_.end(), id) !=
          extension_blocks_.end())
        return kDamaged;
      if (!file_.ReadBlock(uint64_t{id} + 1, raw)) return kIoError;
      extension_blocks_.push_back(id);
      for (uint64_t j = 0; j < kIdsPerExtensionBlock && table_blocks_.size() < count; ++j) {
        uint32_t table_id;
        ByteCodec::Get(block, table_id, 4 * j);
        if (table_id >= file_blocks) return kDamaged;
        table_blocks_.push_back(table_id);
      }
      ByteCodec::Get(block, id, 4 * kIdsPerExtensionBlock);
    }
  }
  if (table_blocks_.size() != count + (legacy_run ? header_.extension_count : 0)) return kDamaged;
  std::vector<uint32_t> sorted = table_blocks_;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return kDamaged;

  big_table_.assign(table_blocks_.size() * kEntriesPerTableBlock, kFreeBlock);
  for (uint64_t k = 0; k < table_blocks_.size(); ++k) {
    if (!file_.ReadBlock(uint64_t{table_blocks_[k]} + 1, raw)) return kIoError;
    decode_table_block(block, big_table_, k * kEntriesPerTableBlock);
  }

  // The small-block table is read by following its chain, as every reader
  // does; the count in the header is not trusted.
  small_table_.clear();
  small_table_blocks_.clear();
  if (header_.small_table_start != kEndOfChain && header_.small_table_start != kFreeBlock) {
    const int rc = FollowChain(header_.small_table_start, small_table_blocks_, true);
    if (rc != kSuccess) return rc;
    small_table_.assign(small_table_blocks_.size() * kEntriesPerTableBlock, kFreeBlock);
    for (size_t k = 0; k < small_table_blocks_.size(); ++k) {
      if (small_table_blocks_[k] >= file_blocks) return kDamaged;
      if (!file_.ReadBlock(uint64_t{small_table_blocks_[k]} + 1, raw)) return kIoError;
      decode_table_block(block, small_table_, k * kEntriesPerTableBlock);
    }
  }
  first_free_big_ = 0;
  first_free_small_ = 0;
  return kSuccess;
}

// Only table blocks that changed since the last save, or moved, are written:
// a small change to a large document must not rewrite all its tables. A
// block whose position and entries are those last saved is on disk as it
// is, since blocks only move down by erasure, which changes their position.
int CompoundDocument::SaveBlockTables() {
  unsigned char block[kBigBlock];
  const char* raw = reinterpret_cast<const char*>(block);
  auto save_table = [&](const std::vector<uint32_t>& table, const std::vector<uint32_t>& blocks,
                        const SavedTable& saved) {
    for (size_t k = 0; k < blocks.size(); ++k) {
      const uint32_t* entries = table.data() + k * kEntriesPerTableBlock;
      if (k < saved.blocks.size() && saved.blocks[k] == blocks[k] &&
          std::equal(entries, entries + kEntriesPerTableBlock,
                     saved.table.begin() + k * kEntriesPerTableBlock))
        continue;
      encode_table_block(table, k * kEntriesPerTableBlock, block);
      if (!file_.WriteBlock(uint64_t{blocks[k]} + 1, raw)) return kIoError;
    }
    return kSuccess;
  };
  int rc = save_table(big_table_, table_blocks_, saved_big_);
  if (rc != kSuccess) return rc;
  for (size_t e = 0; e < extension_blocks_.size(); ++e) {
    for (uint64_t j = 0; j < kIdsPerExtensionBlock; ++j) {
      const uint64_t k = kHeaderSlots + e * kIdsPerExtensionBlock + j;
      ByteCodec::Put(block, k < table_blocks_.size() ? table_blocks_[k] : kFreeBlock, 4 * j);
    }
    const uint32_t next = e + 1 < extension_blocks_.size() ? extension_blocks_[e + 1] : kEndOfChain;
    ByteCodec::Put(block, next, 4 * kIdsPerExtensionBlock);
    if (!file_.WriteBlock(uint64_t{extension_blocks_[e]} + 1, raw)) return kIoError;
  }
  rc = save_table(small_table_, small_table_blocks_, saved_small_);
  if (rc != kSuccess) return rc;
  saved_big_ = {big_table_, table_blocks_};
  saved_small_ = {small_table_, small_table_blocks_};
  return kSuccess;
}

// Stops with kDamaged on anything but a block number inside the table (and,
// for small blocks, inside the mini stream), and on a chain longer than the
// table, which can only be a loop.
int CompoundDocument::FollowChain(uint32_t start, std::vector<uint32_t>& chain, bool big) const {
  chain.clear();
  const std::vector<uint32_t>& table = big ? big_table_ : small_table_;
  uint64_t limit = table.size();
  if (!big)
    limit = std::min<uint64_t>(limit, entries_.empty() ? 0 : mini_stream_blocks(entries_[0]->size));
  uint32_t current = start;
  while (current != kEndOfChain) {
    if (current >= limit || chain.size() >= limit) return kDamaged;
    chain.push_back(current);
    current = table[current];
  }
  return kSuccess;
}

// The first `blocks` blocks of a chain whose end is known to be sound: the
// rest need not be walked again for every stream that starts on it.
int CompoundDocument::FollowEndingChain(uint32_t start, uint64_t blocks,
                                        std::vector<uint32_t>& chain, bool big) const {
  const std::vector<uint8_t>& ends = big ? big_chain_ends_ : small_chain_ends_;
  const std::vector<uint32_t>& table = big ? big_table_ : small_table_;
  chain.clear();
  if (start != kEndOfChain && (start >= ends.size() || !ends[start])) return kDamaged;
  for (uint32_t b = start; b != kEndOfChain && chain.size() < blocks; b = table[b])
    chain.push_back(b);
  return kSuccess;
}

uint64_t CompoundDocument::ChainDataSize(uint32_t start, bool big) const {
  std::vector<uint32_t> chain;
  if (FollowChain(start, chain, big) != kSuccess) return 0;
  return chain.size() * (big ? kBigBlock : kSmallBlock);
}

// Reads the first `size` bytes held by a big-block chain, a run of
// consecutive blocks at a time.
int CompoundDocument::ReadBlocksOfChain(const std::vector<uint32_t>& chain, char* out,
                                        uint64_t size) const {
  if (size > chain.size() * kBigBlock) return kDamaged;
  BlockFile& file = const_cast<BlockFile&>(file_);  // reads move the file position only
  const uint64_t whole = size / kBigBlock;
  uint64_t i = 0;
  while (i < whole) {
    uint64_t run = 1;
    while (i + run < whole && chain[i + run] == chain[i + run - 1] + 1) ++run;
    if (uint64_t{chain[i]} + run >= file.BlockCount()) return kDamaged;
    if (!file.ReadBlocks(uint64_t{chain[i]} + 1, run, out + i * kBigBlock)) return kIoError;
    i += run;
  }
  if (size % kBigBlock) {
    char block[kBigBlock];
    if (uint64_t{chain[i]} + 1 >= file.BlockCount()) return kDamaged;
    if (!file.ReadBlock(uint64_t{chain[i]} + 1, block)) return kIoError;
    std::memcpy(out + i * kBigBlock, block, size % kBigBlock);
  }
  return kSuccess;
}

int CompoundDocument::WriteBlocksOfChain(const std::vector<uint32_t>& chain, const char* data,
                                         uint64_t size) {
  const uint64_t whole = size / kBigBlock;
  uint64_t i = 0;
  while (i < whole) {
    uint64_t run = 1;
    while (i + run < whole && chain[i + run] == chain[i + run - 1] + 1) ++run;
    if (!file_.WriteBlocks(uint64_t{chain[i]} + 1, run, data + i * kBigBlock)) return kIoError;
    i += run;
  }
  if (size % kBigBlock) {
    // The tail of a partial last block is zero on file.
    char block[kBigBlock] = {};
    std::memcpy(block, data + i * kBigBlock, size % kBigBlock);
    if (!file_.WriteBlock(uint64_t{chain[i]} + 1, block)) return kIoError;
  }
  return kSuccess;
}

int CompoundDocument::ReadMiniStream(std::vector<char>& data) const {
  data.clear();
  const DirectoryEntry& root = *entries_[0];
  if (root.size == 0 || root.start == kEndOfChain) return kSuccess;
  std::vector<uint32_t> chain;
  const int rc = FollowChain(root.start, chain, true);
  if (rc != kSuccess) return rc;
  if (root.size > chain.size() * kBigBlock) return kDamaged;
  data.assign(root.size, 0);
  return ReadBlocksOfChain(chain, data.data(), data.size());
}

int CompoundDocument::WriteChain(const char* data, uint64_t size, uint32_t& start, bool big) {
  return big ? WriteBigChain(data, size, start) : WriteSmallChain(data, size, start);
}

// `start` is the stored field itself (an entry's start, the directory start),
// so that the renumbering of an erasure reaches it. A caller that holds the
// chain already passes it as known.
int CompoundDocument::ResizeChain(uint32_t& start, uint64_t blocks, std::vector<uint32_t>& chain,
                                  bool known) {
  int rc = known ? kSuccess : FollowChain(start, chain, true);
  if (rc != kSuccess) return rc;
  if (chain.size() > blocks) {
    if (blocks == 0)
      start = kEndOfChain;
    else
      big_table_[chain[blocks - 1]] = kEndOfChain;
    std::vector<uint32_t> surplus(chain.begin() + static_cast<std::ptrdiff_t>(blocks), chain.end());
    rc = EraseBlock(surplus, true);
    if (rc != kSuccess) return rc;
    return FollowChain(start, chain, true);
  }
  while (chain.size() < blocks) {
    uint32_t b;
    rc = FindFreeBlocks(true, b);
    if (rc != kSuccess) return rc;
    if (chain.empty())
      start = b;
    else
      big_table_[chain.back()] = b;
    chain.push_back(b);
  }
  return kSuccess;
}

int CompoundDocument::WriteBigChain(const char* data, uint64_t size, uint32_t& start) {
  if (size == 0 && start == kEndOfChain) return kSuccess;
  std::vector<uint32_t> chain;
  const int rc = ResizeChain(start, blocks_for(size, kBigBlock), chain);
  if (rc != kSuccess) return rc;
  return WriteBlocksOfChain(chain, data, size);
}

int CompoundDocument::WriteSmallChain(const char* data, uint64_t size, uint32_t& start) {
  if (size == 0 && start == kEndOfChain) return kSuccess;
  const uint64_t need = blocks_for(size, kSmallBlock);
  std::vector<uint32_t> chain;
  int rc = FollowChain(start, chain, false);
  if (rc != kSuccess) return rc;
  if (chain.size() > need) {
    if (need == 0)
      start = kEndOfChain;
    else
      small_table_[chain[need - 1]] = kEndOfChain;
    std::vector<uint32_t> surplus(chain.begin() + static_cast<std::ptrdiff_t>(need), chain.end());
    rc = EraseBlock(surplus, false);
    if (rc != kSuccess || need == 0) return rc;
    rc = FollowChain(start, chain, false);
    if (rc != kSuccess) return rc;
  } else if (chain.size() < need) {
    DirectoryEntry& root = *entries_[0];
    if (root.start == kEndOfChain) {
      // The mini stream's first block comes before the small table's, so a
      // new document's first small stream has the mini stream at block 2.
      uint32_t b;
      rc = FindFreeBlocks(true, b);
      if (rc == kSuccess) rc = WriteFilledBlock(b, 0);
      if (rc != kSuccess) return rc;
      root.start = b;
      root.size = 0;
      mini_chain_known_ = false;
    }
    while (chain.size() < need) {
      uint32_t s;
      rc = FindFreeBlocks(false, s);
      if (rc != kSuccess) return rc;
      if (chain.empty())
        start = s;
      else
        small_table_[chain.back()] = s;
      chain.push_back(s);
    }
  }
  // The mini stream always ends with the last small block in use, so its
  // size is 64 bytes for every small block before the first free one. Only
  // the big blocks that hold this stream's pieces are written; the rest of
  // the mini stream stays where it is. Its chain is kept from one write to
  // the next, so that many small streams do not each walk all of it.
  DirectoryEntry& root = *entries_[0];
  const uint64_t old_size = root.size;
  const uint64_t new_size = UsedBlocks(false) * kSmallBlock;
  std::vector<uint32_t>& big = mini_chain_;
  const bool known = mini_chain_known_;
  mini_chain_known_ = false;
  if (!known) {
    rc = FollowChain(root.start, big, true);
    if (rc != kSuccess) return rc;
  }
  if (old_size > big.size() * kBigBlock) return kDamaged;
  rc = ResizeChain(root.start, blocks_for(new_size, kBigBlock), big, true);
  if (rc != kSuccess) return rc;
  mini_chain_known_ = true;
  root.size = static_cast<uint32_t>(new_size);

  std::vector<uint64_t> touched;
  touched.reserve(need);
  for (uint64_t i = 0; i < need; ++i)
    touched.push_back(uint64_t{chain[i]} * kSmallBlock / kBigBlock);
  std::sort(touched.begin(), touched.end());
  touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
  std::vector<char> blocks(touched.size() * kBigBlock, 0);
  for (size_t t = 0; t < touched.size(); ++t) {
    // What lay before the old end is kept; beyond it the block is zero.
    const uint64_t begin = touched[t] * kBigBlock;
    if (begin < old_size) {
      char* block = &blocks[t * kBigBlock];
      if (!file_.ReadBlock(uint64_t{big[touched[t]]} + 1, block)) return kIoError;
      if (old_size - begin < kBigBlock)
        std::memset(block + (old_size - begin), 0, kBigBlock - (old_size - begin));
    }
  }
  for (uint64_t i = 0; i < need; ++i) {
    const uint64_t offset = uint64_t{chain[i]} * kSmallBlock;
    const size_t t = static_cast<size_t>(
        std::lower_bound(touched.begin(), touched.end(), offset / kBigBlock) - touched.begin());
    char* piece = &blocks[t * kBigBlock + offset % kBigBlock];
    const uint64_t n = std::min<uint64_t>(kSmallBlock, size - i * kSmallBlock);
    std::memcpy(piece, data + i * kSmallBlock, n);
    std::memset(piece + n, 0, kSmallBlock - n);
  }
  for (size_t t = 0; t < touched.size(); ++t)
    if (!file_.WriteBlock(uint64_t{big[touched[t]]} + 1, &blocks[t * kBigBlock])) return kIoError;
  return kSuccess;
}

uint64_t CompoundDocument::UsedBlocks(bool big) const {
  const std::vector<uint32_t>& table = big ? big_table_ : small_table_;
  uint64_t i = big ? first_free_big_ : first_free_small_;
  while (i < table.size() && table[i] != kFreeBlock) ++i;
  return i;
}

int CompoundDocument::FindFreeBlocks(bool big, uint32_t& block) {
  std::vector<uint32_t>& table = big ? big_table_ : small_table_;
  uint64_t& hint = big ? first_free_big_ : first_free_small_;
  for (;;) {
    while (hint < table.size() && table[hint] != kFreeBlock) ++hint;
    if (hint < table.size()) break;
    const int rc = GrowBlockTable(big);
    if (rc != kSuccess) return rc;
  }
  table[hint] = kEndOfChain;
  block = static_cast<uint32_t>(hint);
  ++hint;
  return kSuccess;
}

void CompoundDocument::SetTableEntry(uint64_t index, uint32_t value, bool big) {
  std::vector<uint32_t>& table = big ? big_table_ : small_table_;
  if (index < table.size()) table[index] = value;
}

// Decides whether this file can be changed safely: every table entry in use
// before the first free one, every used block owned by exactly one chain,
// the mini stream covering every small block in use. Reading does not need
// any of this.
int CompoundDocument::CheckLayout() {
  const uint64_t file_blocks = file_.BlockCount() - 1;
  bool damaged = false;
  bool foreign = false;

  const uint64_t used = UsedBlocks(true);
  for (uint64_t i = used; i < big_table_.size(); ++i)
    if (big_table_[i] != kFreeBlock) foreign = true;
  if (used > file_blocks) foreign = true;
  // A block is taken once at most: a walk stops at the first block taken
  // before, so all chains together cost one step per table entry, however
  // a crafted file loops or shares them.
  std::vector<uint8_t> owned(big_table_.size(), 0);
  auto own = [&](uint32_t b) {
    if (b >= used) {
      foreign = true;
    } else if (owned[b]) {
      damaged = true;
    } else {
      owned[b] = 1;
    }
  };
  auto own_chain = [&](uint32_t start, uint64_t bytes_needed) {
    uint64_t length = 0;
    for (uint32_t b = start; b != kEndOfChain; b = big_table_[b], ++length) {
      if (b >= big_table_.size() || owned[b]) {
        damaged = true;
        return;
      }
      if (b >= used) foreign = true;
      owned[b] = 1;
    }
    if (length * kBigBlock < bytes_needed) damaged = true;
  };
  for (uint32_t b : table_blocks_) {
    if (big_table_[b] != kTableBlock) foreign = true;
    own(b);
  }
  for (uint32_t b : extension_blocks_) {
    if (big_table_[b] != kExtensionBlock) foreign = true;
    own(b);
  }
  for (uint32_t b : small_table_blocks_) own(b);
  own_chain(header_.directory_start, 0);
  const DirectoryEntry& root = *entries_[0];
  if (root.start != kEndOfChain) own_chain(root.start, root.size);
  for (size_t i = 1; i < entries_.size() && !damaged; ++i) {
    const DirectoryEntry& e = *entries_[i];
    if (e.type == DirectoryEntry::kStream && e.size >= kSmallStreamCutoff)
      own_chain(e.start, e.size);
  }
  for (uint64_t b = 0; b < used && !damaged; ++b)
    if (!owned[b]) foreign = true;

  const uint64_t small_used = UsedBlocks(false);
  for (uint64_t i = small_used; i < small_table_.size(); ++i)
    if (small_table_[i] != kFreeBlock) foreign = true;
  if (uint64_t{root.size} < small_used * kSmallBlock) foreign = true;
  const uint64_t small_limit =
      std::min<uint64_t>(small_table_.size(), mini_stream_blocks(root.size));
  std::vector<uint8_t> small_owned(small_limit, 0);
  for (size_t i = 1; i < entries_.size() && !foreign && !damaged; ++i) {
    const DirectoryEntry& e = *entries_[i];
    if (e.type != DirectoryEntry::kStream || e.size >= kSmallStreamCutoff || e.size == 0) continue;
    uint64_t length = 0;
    for (uint32_t s = e.start; s != kEndOfChain && !damaged; s = small_table_[s], ++length) {
      if (s >= small_limit || small_owned[s]) {
        damaged = true;
        break;
      }
      if (s >= small_used) foreign = true;
      small_owned[s] = 1;
    }
    if (length * kSmallBlock < e.size) damaged = true;
  }
  for (uint64_t s = 0; s < small_used && !foreign && !damaged; ++s)
    if (!small_owned[s]) foreign = true;

  write_refusal_ = damaged ? kDamaged : (foreign ? kLayoutNotChangeable : 0);
  // Streams of such a file may share or loop their chains; whether each
  // chain ends is found once here instead of at every read.
  if (write_refusal_ != 0) {
    big_chain_ends_ = chain_ends(big_table_, big_table_.size());
    small_chain_ends_ = chain_ends(small_table_, small_limit);
  }
  return kSuccess;
}

}  // namespace YCompoundFiles
