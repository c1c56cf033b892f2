#pragma once
// The shared string table (record 0x00FC) of the workbook globals: every
// text a cell shows, each once; a LabelSST cell record refers to a string by
// its position in the table.
//
// Data: u32 total number of string references in the workbook, u32 number
// of strings, then the strings one after another (LongUnicodeString). The
// record is split into CONTINUE records of at most 8224 data bytes; a
// string whose characters cross a split point continues in the next part
// after a flags byte of its own (its width in that part).
//
// Layout, shared by DataSize and Write: a string that fits in the current
// record is placed whole; when fewer than 12 bytes remain, the next string
// that does not fit starts a new record; otherwise the string is split
// (a 16-bit string so that every piece holds whole characters).
//
// The strings are held in one of two ways: as strings of their own
// (strings), or, when texts is set, as texts of that table of texts, which
// is how a workbook loads and saves them: the first read_count of them in
// order (as Read appends them to a table that was empty), then those
// text_index lists. Read with texts set appends each string's text (up to
// its first zero) to the table (an empty text included); Write then writes
// the texts listed. The table writes min(unique_count, the strings held)
// strings and that number as its count; whoever changes the strings keeps
// unique_count equal to their number.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "record.h"
#include "text_table.h"
#include "unicode_strings.h"

namespace YCompoundFiles {
namespace YExcel {
namespace GlobalsRecords {

struct SharedStringTable : Record {
  SharedStringTable();

  // Fails (0) when a string runs past the data, the count promises more
  // strings than the data can hold, or a string's header crosses a part
  // boundary.
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  // Lays the table out: stores the split points in continue_indices and the
  // data size.
  uint64_t DataSize() override;
  // DataSize plus 4 for each record of the layout.
  uint64_t RecordSize() override;

  // The strings held, in either form.
  uint64_t Count() const { return texts ? read_count + text_index.size() : strings.size(); }
  // With texts set: the index in texts of string i (below Count()).
  uint32_t TextAt(uint64_t i) const {
    return i < read_count ? static_cast<uint32_t>(i) : text_index[i - read_count];
  }

  uint32_t total_count;
  uint32_t unique_count;
  std::vector<LongUnicodeString> strings;
  TextTable* texts = nullptr;
  uint64_t read_count = 0;
  std::vector<uint32_t> text_index;
  // Phonetic readings (their bytes as read, after the characters) of texts
  // of the table of texts, by text index; written with the text.
  std::unordered_map<uint32_t, std::string> phonetic;
  // Rich-text runs (4 bytes each, as read: a character position and a font
  // index) of texts of the table of texts, likewise.
  std::unordered_map<uint32_t, std::string> runs;

 private:
  uint64_t StringsToWrite() const;
  // With out null only sizes the layout; else also writes the strings into
  // out (the data, already sized). Returns the data size.
  uint64_t Layout(char* out);
  bool ReadSplitStrings(uint64_t count);
  // The string just read into s goes to the table of texts.
  // phonetic_at: where in data the string's phonetic reading lies.
  void KeepText(const LongUnicodeString& s, uint64_t phonetic_at);
};

}  // namespace GlobalsRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
