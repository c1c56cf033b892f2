#pragma once
// The texts the cells of a workbook's sheets show: however many cells show
// a text, it is held once, and a cell points at its characters.
//
// A text is its characters and a terminator, narrow texts as bytes, wide
// ones as UTF-16 units on an even offset; a text holds no zero character.
// A file's text is a text block: a 4-byte word (its id), then the text; a
// cell of no sheet holds a block of the same form on the heap (WordOf,
// SetWord). A narrow and a wide text never compare equal.
//
// Two kinds of texts:
// - a file's texts, appended while its table of shared strings is read
//   (Append), in one buffer, each listed as the file lists it. They stay,
//   where they are once no more are appended, until the table goes (they
//   cost what the file's table did), so cells show them uncounted
//   (IsFixed).
// - shared texts (Share), each in a block of its own that never moves,
//   found by content so that a text is held once, and counted: a shared
//   text is freed when the last cell that shows it lets it go (Release).
//   Sharing a text equal to one of the file's gives the file's text.
// Ids: a file's texts count from 0 in order; a shared text's id has
// kShared set, and a freed one's id is given to a later text.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {

class TextTable {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr uint32_t kShared = 0x80000000u;
  // The word in front of the characters of a text block.
  static constexpr uint64_t kWordSize = 4;

  TextTable() = default;
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;
  ~TextTable();

  // Appends the text (up to its first zero, if any) without looking for an
  // equal one: for a file's table of shared strings, which lists each text
  // once (one that repeats a text keeps its own entry).
  uint32_t Append(std::string_view text);
  uint32_t Append(std::u16string_view text);
  // Room for this many more texts whose characters take this many bytes in
  // all, to be appended.
  void Reserve(uint64_t texts, uint64_t bytes);
  // After appending: gives back room the texts appended did not use.
  void Trim();

  // The id of a text equal to this one (up to its first zero) of the same
  // width: one of the file's, or a shared one, counted once more, made when
  // there is none. The text may be a piece of one of the table's.
  uint32_t Share(std::string_view text);
  uint32_t Share(std::u16string_view text);
  // One more, or one fewer, for a shared text (nothing for a file's text);
  // the last Release frees it.
  void Hold(uint32_t id);
  void Release(uint32_t id);
  // For a workbook about to drop every cell and then this table: the
  // releases to come change nothing.
  void Abandon() { abandoned_ = true; }
  bool Abandoned() const { return abandoned_; }
  // The id of an equal text of the same width, or kNone.
  uint32_t Find(std::string_view text);
  uint32_t Find(std::u16string_view text);

  // Ids below FixedCount() are a file's texts; shared ids have kShared set
  // over a number below SharedSlots().
  uint64_t FixedCount() const { return entries_.size(); }
  uint64_t SharedSlots() const { return shared_.size(); }
  // The shared texts held now.
  uint64_t SharedCount() const { return shared_.size() - free_.size(); }
  static bool IsFixed(uint32_t id) { return (id & kShared) == 0; }

  // For an id of a text held: its width, characters without the
  // terminator, and the text with its terminator in its own width (the
  // other gives null). A file's text stays valid for the table's life, a
  // shared one until it is freed.
  bool IsWide(uint32_t id) const;
  uint32_t Length(uint32_t id) const;
  const char* Narrow(uint32_t id) const;
  const char16_t* Wide(uint32_t id) const;

  // The characters, length and width of a text at once; and a hint to
  // fetch it early, for a walk over many texts in an order of its own.
  struct Span {
    const char* chars;
    uint32_t length;
    bool wide;
  };
  Span SpanOf(uint32_t id) const;
  void Prefetch(uint32_t id) const {
    if (id & kShared)
      __builtin_prefetch(shared_[id & ~kShared]);
    else
      __builtin_prefetch(fixed_.data() + (entries_[id] & kOffset));
  }

  // The word of the text block whose characters begin at chars: for a text
  // of a table, its id there.
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
  static constexpr uint32_t kOffset = kWide - 1;
  static constexpr uint32_t kEmpty = UINT32_MAX;
  // A shared block: the count (kWide set for a wide text), the length,
  // then the characters, in a multiple of kGrain bytes (a free one holds
  // the next free block instead).
  static constexpr uint64_t kSharedHead = 8;
  static constexpr uint64_t kGrain = 8;
  // Blocks up to this size are cut from chunks of kChunk bytes; larger
  // ones are allocated each on its own.
  static constexpr uint64_t kLargeBlock = 4096;
  static constexpr uint64_t kChunk = 256 * 1024;

  template <class Char>
  uint32_t Lookup(std::basic_string_view<Char> text, uint64_t hash) const;
  template <class Char>
  uint32_t ShareText(std::basic_string_view<Char> text);
  template <class Char>
  uint32_t AppendText(std::basic_string_view<Char> text);
  uint64_t HashOf(uint32_t id) const;
  const char* Chars(uint32_t id) const;
  uint32_t& CountOf(uint32_t id) { return *reinterpret_cast<uint32_t*>(shared_[id & ~kShared]); }
  // Indexes the file's texts not yet in slots_ and makes room for one more,
  // so that slots_ stays at most three quarters full.
  void Prepare();
  void Place(uint32_t id);
  void Unplace(uint32_t id);
  static uint64_t BlockSize(uint64_t length, bool wide);
  char* NewBlock(uint64_t size);
  void FreeBlock(char* block, uint64_t size);

  // The file's texts, their blocks one after another, and per text the
  // offset of its characters (kWide set for a wide one).
  std::vector<char> fixed_;
  std::vector<uint32_t> entries_;
  // The shared texts' blocks by number, null for a free number, and the
  // free numbers.
  std::vector<char*> shared_;
  std::vector<uint32_t> free_;
  // The chunks blocks are cut from, the room left in the last one, and
  // per size (in grains) the first free block, whose characters hold the
  // next: a block freed is reused by the next text of its size, so that
  // the chunks hold no more than the texts held at most.
  std::vector<std::unique_ptr<char[]>> chunks_;
  char* room_ = nullptr;
  uint64_t room_left_ = 0;
  std::vector<char*> free_blocks_;
  bool abandoned_ = false;
  // Open addressing by hash over the file's texts (the first of equal
  // ones) and the shared texts: each slot an id or kEmpty. The file's texts
  // before indexed_ are in it; none are until a text is first shared.
  std::vector<uint32_t> slots_;
  uint64_t indexed_ = 0;
  uint64_t placed_ = 0;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
