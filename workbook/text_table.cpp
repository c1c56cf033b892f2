#include "text_table.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

namespace YCompoundFiles {
namespace YExcel {
namespace {

constexpr size_t kIds = 1u << 16;

// Tables by id. Each slot is written under the lock by the table that takes
// or gives it back; a workbook handed to another thread is handed over with
// its table, so reading a slot needs no lock.
std::mutex registry_lock;
TextTable* registry[kIds];
size_t next_id = 1;

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

}  // namespace

TextTable::TextTable() : id_(0) {
  std::lock_guard<std::mutex> lock(registry_lock);
  for (size_t tries = 1; tries < kIds; ++tries) {
    const size_t id = next_id;
    next_id = next_id + 1 < kIds ? next_id + 1 : 1;
    if (!registry[id]) {
      registry[id] = this;
      id_ = static_cast<uint16_t>(id);
      return;
    }
  }
  throw std::length_error("more than 65535 workbooks at once");
}

TextTable::TextTable(Loose) : id_(0) {}

TextTable::~TextTable() {
  if (!id_) return;
  std::lock_guard<std::mutex> lock(registry_lock);
  registry[id_] = nullptr;
}

TextTable* TextTable::WithId(uint16_t id) {
  if (id) return registry[id];
  thread_local TextTable loose{Loose{}};
  return &loose;
}

const char* TextTable::Narrow(uint32_t index) const {
  return IsWide(index) ? nullptr : bytes_.data() + Offset(index);
}

const char16_t* TextTable::Wide(uint32_t index) const {
  return IsWide(index) ? reinterpret_cast<const char16_t*>(bytes_.data() + Offset(index)) : nullptr;
}

uint32_t TextTable::Length(uint32_t index) const {
  if (IsWide(index)) return static_cast<uint32_t>(std::u16string_view(Wide(index)).size());
  return static_cast<uint32_t>(std::string_view(Narrow(index)).size());
}

uint64_t TextTable::HashOf(uint32_t index) const {
  if (IsWide(index)) return hash_text(std::u16string_view(Wide(index)));
  return hash_text(std::string_view(Narrow(index)));
}

template <class Char>
uint32_t TextTable::Lookup(std::basic_string_view<Char> text, uint64_t hash) {
  IndexAll();
  const uint32_t width = sizeof(Char) == 2 ? kWide : 0;
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask; slots_[i]; i = (i + 1) & mask) {
    const uint32_t index = slots_[i] - 1;
    if ((entries_[index] & kWide) != width) continue;
    // The stored text ends at its terminator, which no character matches.
    const auto* stored = reinterpret_cast<const Char*>(bytes_.data() + Offset(index));
    size_t k = 0;
    while (k < text.size() && stored[k] == text[k]) ++k;
    if (k == text.size() && stored[k] == 0) return index;
  }
  return kNone;
}

void TextTable::IndexAll() {
  const uint64_t n = entries_.size() + 1;  // room for one more, too
  if (4 * n > 3 * slots_.size()) {
    size_t size = 64;
    while (4 * n > 3 * size) size *= 2;
    slots_.assign(size, 0);
    indexed_ = 0;
  }
  const size_t mask = slots_.size() - 1;
  for (; indexed_ < entries_.size(); ++indexed_) {
    size_t i = HashOf(indexed_) & mask;
    while (slots_[i]) i = (i + 1) & mask;
    slots_[i] = indexed_ + 1;
  }
}

template <class Char>
uint32_t TextTable::Insert(std::basic_string_view<Char> text, bool look) {
  // A piece of a text of this table is copied first: adding may move them.
  const char* at = reinterpret_cast<const char*>(text.data());
  if (!bytes_.empty() && at >= bytes_.data() && at < bytes_.data() + bytes_.size()) {
    const std::basic_string<Char> copy(text);
    return Insert(std::basic_string_view<Char>(copy), look);
  }
  text = text.substr(0, std::min(text.size(), text.find(Char(0))));
  if (look) {
    const uint32_t found = Lookup(text, hash_text(text));
    if (found != kNone) return found;
  }
  const uint64_t offset = (bytes_.size() + sizeof(Char) - 1) / sizeof(Char) * sizeof(Char);
  const uint64_t end = offset + (text.size() + 1) * sizeof(Char);
  if (end > kWide || entries_.size() >= kNone - 1)
    throw std::length_error("the texts of a workbook exceed 2 GiB");
  // Both grow by a quarter at a time: a loaded table has room for its
  // texts already, and a few more must not double it.
  grow(bytes_, end);
  grow(entries_, entries_.size() + 1);
  bytes_.resize(end);
  std::memcpy(bytes_.data() + offset, text.data(), text.size() * sizeof(Char));
  entries_.push_back(static_cast<uint32_t>(offset) | (sizeof(Char) == 2 ? kWide : 0));
  // Lookup left room in the index for it.
  if (look) IndexAll();
  return static_cast<uint32_t>(entries_.size() - 1);
}

uint32_t TextTable::Add(std::string_view text) {
  return Insert(text, true);
}

uint32_t TextTable::Add(std::u16string_view text) {
  return Insert(text, true);
}

uint32_t TextTable::Append(std::string_view text) {
  return Insert(text, false);
}

uint32_t TextTable::Append(std::u16string_view text) {
  return Insert(text, false);
}

uint32_t TextTable::Find(std::string_view text) {
  return Lookup(text, hash_text(text));
}

uint32_t TextTable::Find(std::u16string_view text) {
  return Lookup(text, hash_text(text));
}

void TextTable::ReleaseIndex() {
  std::vector<uint32_t>().swap(slots_);
  indexed_ = 0;
}

void TextTable::Reserve(uint64_t texts, uint64_t bytes) {
  entries_.reserve(entries_.size() + texts);
  bytes_.reserve(bytes_.size() + bytes);
}

}  // namespace YExcel
}  // namespace YCompoundFiles
