#pragma once
// The texts of a workbook's cells, each stored once: a text cell holds the
// index of its text here, so that however many cells show a text, it costs
// its characters once.
//
// Texts lie one after another in a single buffer, each with a terminator
// (narrow texts as bytes, wide ones as UTF-16 units on an even offset), and
// an entry per text gives its offset and width; a text holds no zero
// character. A narrow and a wide text never compare equal. Texts stay until the table goes; an
// entry could carry more bytes of its text later (a file's extra data) without changing what cells
// hold.
//
// Every table has an id, which the cells of its workbook carry in place of
// a pointer (a cell has no room for one): WithId finds the table again. Id
// 0 names the calling thread's table of loose texts, for cells that belong
// to no sheet; at most 65535 other tables exist at once.
//
// Pointers to texts (Narrow, Wide) are valid until a text is added.
#include <cstdint>
#include <string_view>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {

class TextTable {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // A table with an id of its own. Throws std::length_error when 65535
  // tables exist already.
  TextTable();
  ~TextTable();
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;

  uint16_t Id() const { return id_; }
  // The table of that id, or null when it is gone; 0 gives the calling
  // thread's table of loose texts.
  static TextTable* WithId(uint16_t id);

  // The index of the text (up to its first zero, if any), added when the
  // table holds no equal text of the same width.
  uint32_t Add(std::string_view text);
  uint32_t Add(std::u16string_view text);
  // The index of an equal text of the same width, or kNone.
  uint32_t Find(std::string_view text);
  uint32_t Find(std::u16string_view text);
  // Adds the text without looking for an equal one: for a file's table of
  // shared strings, which lists each text once (one that repeats a text
  // keeps its own entry). Add and Find index such texts when first used.
  uint32_t Append(std::string_view text);
  uint32_t Append(std::u16string_view text);
  // Room for this many more texts of about this many bytes in all.
  void Reserve(uint64_t texts, uint64_t bytes);
  // Lets the index that Add and Find use go until they are next called:
  // for a save, which needs the room and not the index.
  void ReleaseIndex();

  uint64_t Size() const { return entries_.size(); }
  bool IsWide(uint32_t index) const { return (entries_[index] & kWide) != 0; }
  // Characters, without the terminator.
  uint32_t Length(uint32_t index) const;
  // The text with its terminator, in its own width (the other gives null).
  const char* Narrow(uint32_t index) const;
  const char16_t* Wide(uint32_t index) const;

 private:
  static constexpr uint32_t kWide = 0x80000000u;
  struct Loose {};
  explicit TextTable(Loose);

  template <class Char>
  uint32_t Lookup(std::basic_string_view<Char> text, uint64_t hash);
  template <class Char>
  uint32_t Insert(std::basic_string_view<Char> text, bool look);
  uint64_t HashOf(uint32_t index) const;
  // Indexes every entry not yet in slots_, growing it so that it stays at
  // most three quarters full.
  void IndexAll();

  uint32_t Offset(uint32_t index) const { return entries_[index] & ~kWide; }

  std::vector<char> bytes_;
  // Per text its offset in bytes_, kWide set for a wide one.
  std::vector<uint32_t> entries_;
  // Open addressing by hash: each slot holds an entry's index + 1, or 0.
  // The entries before indexed_ are in it.
  std::vector<uint32_t> slots_;
  uint32_t indexed_ = 0;
  uint16_t id_;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
