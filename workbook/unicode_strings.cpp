#include "unicode_strings.h"

#include <algorithm>

#include "byte_view.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

uint64_t length16(const char16_t* text) {
  uint64_t n = 0;
  while (text[n]) ++n;
  return n;
}

// Text up to its first zero, whatever the string holds after it.
std::string up_to_zero(const std::string& s) {
  return std::string(s.c_str());
}
std::u16string up_to_zero(const std::u16string& s) {
  return std::u16string(s.c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// ShortUnicodeString

ShortUnicodeString::ShortUnicodeString() : flags(0) {}

ShortUnicodeString& ShortUnicodeString::operator=(const char* text) {
  Reset();
  flags = 0;
  if (text)
    narrow.assign(text, std::min<uint64_t>(std::char_traits<char>::length(text), kMaxCharacters));
  return *this;
}

ShortUnicodeString& ShortUnicodeString::operator=(const char16_t* text) {
  Reset();
  flags = 1;
  if (text) wide.assign(text, std::min<uint64_t>(length16(text), kMaxCharacters));
  return *this;
}

void ShortUnicodeString::Reset() {
  wide.clear();
  narrow.clear();
}

bool ShortUnicodeString::Equals(const char* text) const {
  return text && !IsWide() && up_to_zero(narrow) == text;
}

bool ShortUnicodeString::Equals(const char16_t* text) const {
  return text && IsWide() && up_to_zero(wide) == text;
}

uint64_t ShortUnicodeString::Read(const char* bytes, uint64_t size) {
  const ByteView view(bytes, size);
  uint8_t count = 0;
  uint8_t read_flags = 0;
  if (!view.Get(count, 0) || !view.Get(read_flags, 1)) return 0;
  const uint64_t width = read_flags ? 2 : 1;
  if (!view.Has(2, count * width)) return 0;
  Reset();
  flags = read_flags;
  if (flags) {
    wide.resize(count);
    for (uint64_t i = 0; i < count; ++i) {
      uint16_t unit = 0;
      view.Get(unit, 2 + 2 * i);
      wide[i] = static_cast<char16_t>(unit);
    }
  } else {
    narrow.assign(view.data() + 2, count);
  }
  return 2 + count * width;
}

uint64_t ShortUnicodeString::DataSize() const {
  return IsWide() ? 2 + 2 * std::min<uint64_t>(wide.size(), kMaxCharacters)
                  : 2 + std::min<uint64_t>(narrow.size(), kMaxCharacters);
}

uint64_t ShortUnicodeString::Write(char* out) const {
  const uint64_t count = std::min<uint64_t>(IsWide() ? wide.size() : narrow.size(), kMaxCharacters);
  ByteCodec::Put(out, static_cast<uint8_t>(count), 0);
  ByteCodec::Put(out, flags, 1);
  for (uint64_t i = 0; i < count; ++i) {
    if (IsWide())
      ByteCodec::Put(out, static_cast<uint16_t>(wide[i]), 2 + 2 * i);
    else
      ByteCodec::Put(out, static_cast<uint8_t>(narrow[i]), 2 + i);
  }
  return DataSize();
}

// ---------------------------------------------------------------------------
// LongUnicodeString

LongUnicodeString::LongUnicodeString() : flags(kUnknownFlags), run_count(0), phonetic_size(0) {}

LongUnicodeString& LongUnicodeString::operator=(const char* text) {
  flags = 0;
  run_count = 0;
  phonetic_size = 0;
  wide.clear();
  narrow.assign(text ? text : "");
  return *this;
}

LongUnicodeString& LongUnicodeString::operator=(const char16_t* text) {
  flags = 1;
  run_count = 0;
  phonetic_size = 0;
  narrow.clear();
  if (text)
    wide.assign(text, length16(text));
  else
    wide.clear();
  return *this;
}

uint64_t LongUnicodeString::WrittenCharacters() const {
  return std::min<uint64_t>(IsWide() ? wide.size() : narrow.size(), kMaxCharacters);
}

uint64_t LongUnicodeString::CharacterBytes() const {
  return WrittenCharacters() * (IsWide() ? 2 : 1);
}

uint64_t LongUnicodeString::ExtraHeaderBytes() const {
  return ((flags & 0x08) ? 2 : 0) + ((flags & 0x04) ? 4 : 0);
}

uint64_t LongUnicodeString::TrailerBytes() const {
  return ((flags & 0x08) ? 4ull * run_count : 0) + ((flags & 0x04) ? uint64_t{phonetic_size} : 0);
}

bool LongUnicodeString::AppendCharacters(const char* bytes, uint64_t size, uint64_t n,
                                         bool part_wide) {
  const ByteView view(bytes, size);
  if (!view.Has(0, n * (part_wide ? 2 : 1))) return false;
  std::u16string units(n, u'\0');
  for (uint64_t i = 0; i < n; ++i) {
    if (part_wide) {
      uint16_t unit = 0;
      view.Get(unit, 2 * i);
      units[i] = static_cast<char16_t>(unit);
    } else {
      units[i] = static_cast<unsigned char>(view.data()[i]);
    }
  }
  if (!IsWide()) {
    // An 8-bit string meets 16-bit characters: they are kept as bytes when
    // each fits in one, else the whole string turns 16-bit so that nothing
    // is lost.
    const bool fits = std::all_of(units.begin(), units.end(), [](char16_t u) { return u <= 0xFF; });
    if (fits) {
      for (char16_t u : units) narrow.push_back(static_cast<char>(static_cast<unsigned char>(u)));
      return true;
    }
    for (unsigned char c : narrow) wide.push_back(c);
    narrow.clear();
    flags |= 1;
  }
  wide += units;
  return true;
}

uint64_t LongUnicodeString::ReadCharacters(const char* part, uint64_t size, uint64_t n) {
  if (n == 0) return 0;
  const ByteView view(part, size);
  uint8_t part_flags = 0;
  if (!view.Get(part_flags, 0)) return 0;
  if (flags == kUnknownFlags) flags = part_flags;
  const bool part_wide = (part_flags & 1) != 0;
  const ByteView rest = view.From(1);
  if (!AppendCharacters(rest.data(), rest.size(), n, part_wide)) return 0;
  return 1 + n * (part_wide ? 2 : 1);
}

uint64_t LongUnicodeString::Read(const char* bytes, uint64_t size) {
  const ByteView view(bytes, size);
  uint16_t count = 0;
  uint8_t read_flags = 0;
  if (!view.Get(count, 0) || !view.Get(read_flags, 2)) return 0;
  uint16_t runs = 0;
  uint32_t phonetic = 0;
  uint64_t offset = 3;
  if (read_flags & 0x08) {
    if (!view.Get(runs, offset)) return 0;
    offset += 2;
  }
  if (read_flags & 0x04) {
    if (!view.Get(phonetic, offset)) return 0;
    offset += 4;
  }
  flags = read_flags;
  run_count = runs;
  phonetic_size = phonetic;
  wide.clear();
  narrow.clear();
  const ByteView characters = view.From(offset);
  if (!AppendCharacters(characters.data(), characters.size(), count, (read_flags & 1) != 0))
    return 0;
  offset += uint64_t{count} * ((read_flags & 1) ? 2 : 1);
  if (!view.Has(offset, TrailerBytes())) return 0;
  return offset + TrailerBytes();
}

uint64_t LongUnicodeString::Write(char* out) {
  flags = IsWide() ? 1 : 0;
  const uint64_t count = WrittenCharacters();
  ByteCodec::Put(out, static_cast<uint16_t>(count), 0);
  ByteCodec::Put(out, flags, 2);
  for (uint64_t i = 0; i < count; ++i) {
    if (flags)
      ByteCodec::Put(out, static_cast<uint16_t>(wide[i]), 3 + 2 * i);
    else
      ByteCodec::Put(out, static_cast<uint8_t>(narrow[i]), 3 + i);
  }
  return DataSize();
}

}  // namespace YExcel
}  // namespace YCompoundFiles
