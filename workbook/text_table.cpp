#include "text_table.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

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

}  // namespace

const char* TextTable::Narrow(uint32_t index) const {
  return IsWide(index) ? nullptr : Chars(index);
}

const char16_t* TextTable::Wide(uint32_t index) const {
  return IsWide(index) ? reinterpret_cast<const char16_t*>(Chars(index)) : nullptr;
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
    const auto* stored = reinterpret_cast<const Char*>(Chars(index));
    size_t k = 0;
    while (k < text.size() && stored[k] == text[k]) ++k;
    if (k == text.size() && stored[k] == 0) return index;
  }
  return kNone;
}

void TextTable::IndexAll() {
  const uint64_t n = added_count_ + 1;  // room for one more, too
  if (4 * n > 3 * slots_.size()) {
    size_t size = 64;
    while (4 * n > 3 * size) size *= 2;
    slots_.assign(size, 0);
    indexed_ = 0;
  }
  const size_t mask = slots_.size() - 1;
  for (; indexed_ < entries_.size(); ++indexed_) {
    if (IsFixed(indexed_)) continue;
    size_t i = HashOf(indexed_) & mask;
    while (slots_[i]) i = (i + 1) & mask;
    slots_[i] = indexed_ + 1;
  }
}

template <class Char>
uint32_t TextTable::Insert(std::basic_string_view<Char> text, bool added) {
  // A piece of a text of this table is copied first: adding may move them.
  const char* at = reinterpret_cast<const char*>(text.data());
  for (const std::vector<char>* bytes : {&fixed_, &added_}) {
    if (!bytes->empty() && at >= bytes->data() && at < bytes->data() + bytes->size()) {
      const std::basic_string<Char> copy(text);
      return Insert(std::basic_string_view<Char>(copy), added);
    }
  }
  text = text.substr(0, std::min(text.size(), text.find(Char(0))));
  if (added) {
    const uint32_t found = Lookup(text, hash_text(text));
    if (found != kNone) return found;
  }
  std::vector<char>& bytes = added ? added_ : fixed_;
  // The word, then the characters on an offset of their width.
  const uint64_t offset =
      (bytes.size() + kWordSize + sizeof(Char) - 1) / sizeof(Char) * sizeof(Char);
  const uint64_t end = offset + (text.size() + 1) * sizeof(Char);
  if (end > kOffset || entries_.size() >= kNone - 1)
    throw std::length_error("the texts of a workbook exceed 1 GiB");
  // Both grow by a quarter at a time: a loaded table has room for its
  // texts already, and a few more must not double it.
  grow(bytes, end);
  grow(entries_, entries_.size() + 1);
  bytes.resize(end);
  const auto index = static_cast<uint32_t>(entries_.size());
  if (added) ++added_count_;
  std::memcpy(bytes.data() + offset, text.data(), text.size() * sizeof(Char));
  SetWord(bytes.data() + offset, index);
  entries_.push_back(static_cast<uint32_t>(offset) | (added ? kAdded : 0) |
                     (sizeof(Char) == 2 ? kWide : 0));
  // Lookup left room in the index for it.
  if (added) IndexAll();
  return index;
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
  // Each text takes its word and a terminator besides (and a wide one up to
  // three bytes more, which Trim gives back if the room was too small).
  fixed_.reserve(fixed_.size() + bytes + texts * (kWordSize + 1));
}

void TextTable::Trim() {
  if (fixed_.capacity() - fixed_.size() > fixed_.size() / 8) fixed_.shrink_to_fit();
}

}  // namespace YExcel
}  // namespace YCompoundFiles
