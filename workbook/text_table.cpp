#include "text_table.h"

#include <algorithm>
#include <stdexcept>

namespace YCompoundFiles {
namespace YExcel {
namespace {

template <class Char>
uint64_t hash_text(std::basic_string_view<Char> text) {
  uint64_t h = sizeof(Char) == 2 ? 0x9E3779B97F4A7C15ull : 14695981039346656037ull;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size() * sizeof(Char); ++i) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  // The low bits pick the slot: every bit of the text must reach them.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return h;
}

template <class T>
void grow(std::vector<T>& v, size_t size) {
  if (size > v.capacity()) v.reserve(std::max(size, v.capacity() + v.capacity() / 4 + 64));
}

template <class Char>
std::basic_string_view<Char> up_to_zero(std::basic_string_view<Char> text) {
  return text.substr(0, std::min(text.size(), text.find(Char(0))));
}

}  // namespace

TextTable::~TextTable() {
  for (uint32_t number = 0; number < shared_.size(); ++number) {
    if (!shared_[number]) continue;
    const uint32_t id = kShared | number;
    const uint64_t size = BlockSize(Length(id), IsWide(id));
    if (size > kLargeBlock) delete[] shared_[number];
  }
}

uint64_t TextTable::BlockSize(uint64_t length, bool wide) {
  const uint64_t bytes = kSharedHead + (length + 1) * (wide ? 2 : 1);
  return (bytes + kGrain - 1) / kGrain * kGrain;
}

char* TextTable::NewBlock(uint64_t size) {
  if (size > kLargeBlock) return new char[size];
  const uint64_t grains = size / kGrain;
  if (grains < free_blocks_.size() && free_blocks_[grains]) {
    char* block = free_blocks_[grains];
    std::memcpy(&free_blocks_[grains], block, sizeof(char*));
    return block;
  }
  if (room_left_ < size) {
    chunks_.emplace_back(new char[kChunk]);
    room_ = chunks_.back().get();
    room_left_ = kChunk;
  }
  char* block = room_;
  room_ += size;
  room_left_ -= size;
  return block;
}

void TextTable::FreeBlock(char* block, uint64_t size) {
  if (size > kLargeBlock) {
    delete[] block;
    return;
  }
  const uint64_t grains = size / kGrain;
  if (grains >= free_blocks_.size()) free_blocks_.resize(grains + 1, nullptr);
  std::memcpy(block, &free_blocks_[grains], sizeof(char*));
  free_blocks_[grains] = block;
}

const char* TextTable::Chars(uint32_t id) const {
  if (id & kShared) return shared_[id & ~kShared] + kSharedHead;
  return fixed_.data() + (entries_[id] & kOffset);
}

bool TextTable::IsWide(uint32_t id) const {
  uint32_t head;
  if (id & kShared)
    std::memcpy(&head, shared_[id & ~kShared], sizeof head);
  else
    head = entries_[id];
  return (head & kWide) != 0;
}

const char* TextTable::Narrow(uint32_t id) const {
  return IsWide(id) ? nullptr : Chars(id);
}

const char16_t* TextTable::Wide(uint32_t id) const {
  return IsWide(id) ? reinterpret_cast<const char16_t*>(Chars(id)) : nullptr;
}

TextTable::Span TextTable::SpanOf(uint32_t id) const {
  if (id & kShared) {
    const char* block = shared_[id & ~kShared];
    uint32_t head;
    uint32_t length;
    std::memcpy(&head, block, sizeof head);
    std::memcpy(&length, block + 4, sizeof length);
    return {block + kSharedHead, length, (head & kWide) != 0};
  }
  return {Chars(id), Length(id), IsWide(id)};
}

uint32_t TextTable::Length(uint32_t id) const {
  if (id & kShared) {
    uint32_t length;
    std::memcpy(&length, shared_[id & ~kShared] + 4, sizeof length);
    return length;
  }
  if (IsWide(id)) return static_cast<uint32_t>(std::u16string_view(Wide(id)).size());
  return static_cast<uint32_t>(std::string_view(Narrow(id)).size());
}

uint64_t TextTable::HashOf(uint32_t id) const {
  if (IsWide(id)) return hash_text(std::u16string_view(Wide(id)));
  return hash_text(std::string_view(Narrow(id)));
}

template <class Char>
uint32_t TextTable::Lookup(std::basic_string_view<Char> text, uint64_t hash) const {
  if (slots_.empty()) return kNone;
  const bool wide = sizeof(Char) == 2;
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask; slots_[i] != kEmpty; i = (i + 1) & mask) {
    const uint32_t id = slots_[i];
    if (IsWide(id) != wide) continue;
    // The stored text ends at its terminator, which no character matches.
    const auto* stored = reinterpret_cast<const Char*>(Chars(id));
    size_t k = 0;
    while (k < text.size() && stored[k] == text[k]) ++k;
    if (k == text.size() && stored[k] == 0) return id;
  }
  return kNone;
}

void TextTable::Place(uint32_t id) {
  const size_t mask = slots_.size() - 1;
  size_t i = HashOf(id) & mask;
  while (slots_[i] != kEmpty) i = (i + 1) & mask;
  slots_[i] = id;
  ++placed_;
}

// Removes the id and moves back the ids after it that their hash allows,
// so that every id stays reachable from its slot without marks left behind.
void TextTable::Unplace(uint32_t id) {
  const size_t mask = slots_.size() - 1;
  size_t i = HashOf(id) & mask;
  while (slots_[i] != id) i = (i + 1) & mask;
  for (size_t j = (i + 1) & mask; slots_[j] != kEmpty; j = (j + 1) & mask) {
    const size_t home = HashOf(slots_[j]) & mask;
    const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    slots_[i] = slots_[j];
    i = j;
  }
  slots_[i] = kEmpty;
  --placed_;
}

void TextTable::Prepare() {
  // Room for every file text not yet indexed, and one more.
  const uint64_t n = placed_ + (entries_.size() - indexed_) + 1;
  if (4 * n > 3 * slots_.size()) {
    size_t size = 64;
    while (4 * n > 3 * size) size *= 2;
    std::vector<uint32_t> old(size, kEmpty);
    old.swap(slots_);
    placed_ = 0;
    for (uint32_t id : old)
      if (id != kEmpty) Place(id);
  }
  for (; indexed_ < entries_.size(); ++indexed_) {
    const auto id = static_cast<uint32_t>(indexed_);
    const bool found = IsWide(id) ? Lookup(std::u16string_view(Wide(id)), HashOf(id)) != kNone
                                  : Lookup(std::string_view(Narrow(id)), HashOf(id)) != kNone;
    if (!found) Place(id);
  }
}

template <class Char>
uint32_t TextTable::ShareText(std::basic_string_view<Char> text) {
  text = up_to_zero(text);
  Prepare();
  const uint32_t found = Lookup(text, hash_text(text));
  if (found != kNone) {
    if (!IsFixed(found)) ++CountOf(found);
    return found;
  }
  // A new block leaves every other where it is, so text may be a piece of
  // one of them.
  if (SharedCount() >= kShared - 1) throw std::length_error("too many texts in a workbook");
  uint32_t number;
  if (!free_.empty()) {
    number = free_.back();
    free_.pop_back();
  } else {
    number = static_cast<uint32_t>(shared_.size());
    shared_.push_back(nullptr);
  }
  char* block = NewBlock(BlockSize(text.size(), sizeof(Char) == 2));
  const uint32_t count = 1 | (sizeof(Char) == 2 ? kWide : 0);
  std::memcpy(block, &count, sizeof count);
  const auto length = static_cast<uint32_t>(text.size());
  std::memcpy(block + 4, &length, sizeof length);
  auto* chars = reinterpret_cast<Char*>(block + kSharedHead);
  std::memcpy(chars, text.data(), text.size() * sizeof(Char));
  chars[text.size()] = 0;
  shared_[number] = block;
  Place(kShared | number);
  return kShared | number;
}

uint32_t TextTable::Share(std::string_view text) {
  return ShareText(text);
}

uint32_t TextTable::Share(std::u16string_view text) {
  return ShareText(text);
}

void TextTable::Hold(uint32_t id) {
  if (!IsFixed(id)) ++CountOf(id);
}

void TextTable::Release(uint32_t id) {
  if (abandoned_ || IsFixed(id)) return;
  if ((--CountOf(id) & ~kWide) != 0) return;
  Unplace(id);
  const uint32_t number = id & ~kShared;
  FreeBlock(shared_[number], BlockSize(Length(id), IsWide(id)));
  shared_[number] = nullptr;
  free_.push_back(number);
}

uint32_t TextTable::Find(std::string_view text) {
  text = up_to_zero(text);
  Prepare();
  return Lookup(text, hash_text(text));
}

uint32_t TextTable::Find(std::u16string_view text) {
  text = up_to_zero(text);
  Prepare();
  return Lookup(text, hash_text(text));
}

template <class Char>
uint32_t TextTable::AppendText(std::basic_string_view<Char> text) {
  text = up_to_zero(text);
  // The word, then the characters on an offset of their width.
  const uint64_t offset =
      (fixed_.size() + kWordSize + sizeof(Char) - 1) / sizeof(Char) * sizeof(Char);
  const uint64_t end = offset + (text.size() + 1) * sizeof(Char);
  if (end > kOffset || entries_.size() >= kShared - 1)
    throw std::length_error("the texts of a workbook exceed 2 GiB");
  // Both grow by a quarter at a time: a loaded table has room for its
  // texts already, and a few more must not double it.
  grow(fixed_, end);
  grow(entries_, entries_.size() + 1);
  fixed_.resize(end);
  const auto id = static_cast<uint32_t>(entries_.size());
  std::memcpy(fixed_.data() + offset, text.data(), text.size() * sizeof(Char));
  SetWord(fixed_.data() + offset, id);
  entries_.push_back(static_cast<uint32_t>(offset) | (sizeof(Char) == 2 ? kWide : 0));
  return id;
}

uint32_t TextTable::Append(std::string_view text) {
  return AppendText(text);
}

uint32_t TextTable::Append(std::u16string_view text) {
  return AppendText(text);
}

void TextTable::Reserve(uint64_t texts, uint64_t bytes) {
  entries_.reserve(entries_.size() + texts);
  // Each text takes its word and a terminator besides (and a wide one up to
  // three bytes more, which Trim gives back if the room was too small).
  fixed_.reserve(fixed_.size() + bytes + texts * (kWordSize + 1));
}

void TextTable::Trim() {
  if (fixed_.capacity() - fixed_.size() > fixed_.size() / 8) fixed_.shrink_to_fit();
}

}  // namespace YExcel
}  // namespace YCompoundFiles
