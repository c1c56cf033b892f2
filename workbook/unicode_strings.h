#pragma once
// The two string forms of BIFF8 records.
//
// Characters are held either as 8-bit bytes ("narrow"; on file each byte is
// a character code 0-255, the low byte of a UTF-16 unit whose high byte is
// zero) or as UTF-16 code units ("wide"). A narrow and a wide text never
// compare equal, whatever their characters.
//
// Read(bytes, size) returns the bytes consumed, or 0 when the string does
// not fit in size bytes. Write(out) writes DataSize() bytes and returns that
// number.
#include <cstdint>
#include <string>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {

// 8-bit character count, then a flags byte (nonzero: 16-bit characters),
// then the characters. Used for font and sheet names.
class ShortUnicodeString {
 public:
  static constexpr uint64_t kMaxCharacters = 255;

  ShortUnicodeString();

  // Both forms keep at most the first 255 characters: the count byte can
  // say no more.
  ShortUnicodeString& operator=(const char* text);      // flags 0
  ShortUnicodeString& operator=(const char16_t* text);  // flags 1
  // Both texts absent; the flags stay.
  void Reset();

  uint64_t Read(const char* bytes, uint64_t size);
  uint64_t Write(char* out) const;
  uint64_t DataSize() const;
  uint64_t RecordSize() const { return DataSize(); }

  bool IsWide() const { return flags != 0; }
  // The text in its own width (zero-terminated), or null when it is held in
  // the other width.
  const char* Narrow() const { return IsWide() ? nullptr : narrow.c_str(); }
  const char16_t* Wide() const { return IsWide() ? wide.c_str() : nullptr; }
  // True when the text is held in the given width and equals the given text
  // (exact, case-sensitive, up to the first zero of each).
  bool Equals(const char* text) const;
  bool Equals(const char16_t* text) const;

  std::u16string wide;
  std::string narrow;
  uint8_t flags;
};

// 16-bit character count, a flags byte (bit 0: 16-bit characters; bit 3:
// a rich-text run count follows; bit 2: a phonetic size follows), the
// optional run count and phonetic size, the characters, then 4 bytes per
// run and the phonetic data. Runs and phonetic data are skipped on reading
// and never written. Used for shared strings and style names.
class LongUnicodeString {
 public:
  static constexpr uint8_t kUnknownFlags = 0xFF;
  // The count field is 16 bits: characters past this many are not written.
  static constexpr uint64_t kMaxCharacters = 0xFFFF;

  LongUnicodeString();

  // The characters of the text, without its terminator.
  LongUnicodeString& operator=(const char* text);      // flags 0
  LongUnicodeString& operator=(const char16_t* text);  // flags 1

  uint64_t Read(const char* bytes, uint64_t size);
  // Appends n characters from a part that begins with its own flags byte
  // (bit 0 gives the part's width) and holds nothing but characters after
  // it: the continuation of a string split across records. A string whose
  // flags are still unknown takes the part's. Returns 1 + the character
  // bytes, or 0 when they do not fit in size bytes.
  uint64_t ReadCharacters(const char* part, uint64_t size, uint64_t n);
  uint64_t Write(char* out);
  // Bytes of the characters written: narrow count, or twice the wide count.
  uint64_t CharacterBytes() const;
  uint64_t DataSize() const { return 3 + CharacterBytes(); }
  uint64_t RecordSize() const { return DataSize(); }

  bool IsWide() const { return (flags & 1) != 0; }
  // Characters that Write writes (at most kMaxCharacters).
  uint64_t WrittenCharacters() const;

  // Appends n characters of the given width from bytes that hold nothing
  // else; false when they do not fit. An 8-bit string that meets 16-bit
  // characters above 255 turns 16-bit as a whole, so that none is lost.
  bool AppendCharacters(const char* bytes, uint64_t size, uint64_t n, bool part_wide);
  // By the flags and fields of the last Read: bytes of the run count and
  // phonetic size between the flags byte and the characters, and of the
  // runs and phonetic data after the characters.
  uint64_t ExtraHeaderBytes() const;
  uint64_t TrailerBytes() const;

  std::u16string wide;
  std::string narrow;
  uint8_t flags;
  uint16_t run_count;
  uint32_t phonetic_size;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
