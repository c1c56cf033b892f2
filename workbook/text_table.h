#pragma once
// The texts of a workbook read from its file, and those a save lists beside
// them: a cell of a sheet that shows a text read from the file points at it
// here instead of holding a copy, so that however many cells show a text,
// it costs its characters once.
//
// Every text is a text block: a 4-byte word (here its index in the table),
// then its characters and a terminator, narrow texts as bytes, wide ones as
// UTF-16 units on an even offset; a text holds no zero character. A cell
// that owns its text holds a block of the same form on the heap (WordOf,
// SetWord). A narrow and a wide text never compare equal.
//
// Two kinds of texts, in two buffers: a file's texts, appended while its
// table of shared strings is read (Append), and texts added later, each
// once (Add, which a save uses for texts that cells hold of their own). The
// texts appended stay where they are for the table's life once no more are
// appended, so cells may point at them (IsFixed); those added may move when
// more are added. Texts stay until the table goes.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {

class TextTable {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;
  // The word in front of the characters of a text block.
  static constexpr uint64_t kWordSize = 4;

  TextTable() = default;
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;

  // The index of the text (up to its first zero, if any), added when no
  // text added before is equal to it and of the same width. Texts appended
  // are not looked at: a save, which adds the texts cells hold of their
  // own, finds those of a file's texts it lists with Find.
  uint32_t Add(std::string_view text);
  uint32_t Add(std::u16string_view text);
  // The index of an equal text of the same width among those added, or
  // kNone.
  uint32_t Find(std::string_view text);
  uint32_t Find(std::u16string_view text);
  // Appends the text without looking for an equal one: for a file's table
  // of shared strings, which lists each text once (one that repeats a text
  // keeps its own entry), while it is read and before any cell points at
  // its texts. Add and Find index such texts when first used.
  uint32_t Append(std::string_view text);
  uint32_t Append(std::u16string_view text);
  // Room for this many more texts whose characters take this many bytes in
  // all, to be appended.
  void Reserve(uint64_t texts, uint64_t bytes);
  // After appending: gives back room the texts appended did not use.
  void Trim();
  // Lets the index that Add and Find use go until they are next called:
  // for a save, which needs the room and not the index.
  void ReleaseIndex();

  uint64_t Size() const { return entries_.size(); }
  bool IsWide(uint32_t index) const { return (entries_[index] & kWide) != 0; }
  // An appended text, which stays where it is.
  bool IsFixed(uint32_t index) const { return (entries_[index] & kAdded) == 0; }
  // Characters, without the terminator.
  uint32_t Length(uint32_t index) const;
  // The text with its terminator, in its own width (the other gives null).
  // Valid for the table's life for a fixed text, else until a text is
  // added.
  const char* Narrow(uint32_t index) const;
  const char16_t* Wide(uint32_t index) const;

  // The word of the text block whose characters begin at chars: for a text
  // of a table, its index there.
  static uint32_t WordOf(const void* chars) {
    uint32_t word;
    std::memcpy(&word, static_cast<const char*>(chars) - kWordSize, sizeof word);
    return word;
  }
  static void SetWord(void* chars, uint32_t word) {
    std::memcpy(static_cast<char*>(chars) - kWordSize, &word, sizeof word);
  }

 private:
  static constexpr uint32_t kWide = 0x80000000u;
  static constexpr uint32_t kAdded = 0x40000000u;
  static constexpr uint32_t kOffset = kAdded - 1;

  template <class Char>
  uint32_t Lookup(std::basic_string_view<Char> text, uint64_t hash);
  template <class Char>
  uint32_t Insert(std::basic_string_view<Char> text, bool added);
  uint64_t HashOf(uint32_t index) const;
  // Indexes every entry not yet in slots_, growing it so that it stays at
  // most three quarters full.
  void IndexAll();

  const char* Chars(uint32_t index) const {
    const uint32_t entry = entries_[index];
    return ((entry & kAdded) ? added_ : fixed_).data() + (entry & kOffset);
  }

  // The text blocks, appended and added.
  std::vector<char> fixed_;
  std::vector<char> added_;
  // Per text the offset of its characters in its buffer, kAdded set for
  // one in added_, kWide for a wide one.
  std::vector<uint32_t> entries_;
  // Open addressing by hash over the texts added: each slot holds an
  // entry's index + 1, or 0. The entries before indexed_ are in it.
  std::vector<uint32_t> slots_;
  uint32_t indexed_ = 0;
  uint64_t added_count_ = 0;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
