#include "windows1252.h"

namespace {

// Characters of the bytes 0x80 to 0x9F; the rest of the code page is
// Latin-1.
const char16_t kUpperHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t unicode_of(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kUpperHalf[byte - 0x80] : char16_t(byte);
}

char16_t folded(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7)) return c + 0x20;
  // Latin Extended-A pairs capitals and small letters by even and odd
  // code points, with the small run 0x0139-0x0148 and 0x0179-0x017E
  // shifted by one.
  if ((c >= 0x0100 && c <= 0x0137) || (c >= 0x014A && c <= 0x0177)) return c | 1;
  if ((c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E)) return (c & 1) ? c + 1 : c;
  if (c == 0x0178) return 0x00FF;
  if (c >= 0x0391 && c <= 0x03AB && c != 0x03A2) return c + 0x20;  // Greek
  if (c >= 0x0410 && c <= 0x042F) return c + 0x20;                 // Cyrillic
  if (c >= 0x0400 && c <= 0x040F) return c + 0x50;
  return c;
}

}  // namespace

std::u16string unicode_of_windows1252(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (char b : bytes) text.push_back(unicode_of(static_cast<unsigned char>(b)));
  return text;
}

std::string windows1252_of_unicode(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      bytes.push_back(static_cast<char>(c));
      continue;
    }
    char byte = '?';
    for (int k = 0; k < 32; ++k)
      if (kUpperHalf[k] == c) byte = static_cast<char>(0x80 + k);
    bytes.push_back(byte);
  }
  return bytes;
}

bool is_latin1(const std::u16string& text) {
  for (char16_t c : text)
    if (c > 0xFF) return false;
  return true;
}

std::string latin1_of(const std::u16string& text) {
  return std::string(text.begin(), text.end());
}

std::u16string folded_case(const std::u16string& text) {
  std::u16string out(text);
  for (char16_t& c : out) c = folded(c);
  return out;
}
